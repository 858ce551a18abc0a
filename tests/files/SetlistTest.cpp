#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Setlist.h"
#include "SetlistSwitch.h"

namespace fs = std::filesystem;

namespace {

// A folder of its own for each test, removed at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* name) {
        path_ = fs::temp_directory_path() / (std::string("talvenor-") + name + "-" +
                                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::string path() const { return path_.string(); }

private:
    fs::path path_;
};

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

SetlistEntry entry(const std::string& resolved, bool autoplay) {
    SetlistEntry e;
    e.resolved = resolved;
    e.autoplay = autoplay;
    return e;
}

}  // namespace

// A setlist saved and read back: the performances inside its folder written relative
// to it, one elsewhere kept absolute, the options kept, one performance missing named
// and kept; comments, blank lines, CR LF and a byte-order mark read past; the save
// puts the new file in the old one's place and leaves no temporary file.
TEST(Setlist, RoundTripsWithRelativePathsOptionsCommentsAndMissingEntries) {
    ScratchFolder gig("gig"), elsewhere("elsewhere");
    fs::create_directories(gig / "songs");
    writeText(gig / "Opener.tlp", "x");
    writeText(gig / "songs/Ballad Two.tlp", "x");
    writeText(elsewhere / "Encore.tlp", "x");
    const std::string path = gig / "friday.tlset";
    writeText(path, "an older setlist");

    Setlist set;
    set.entries = {entry(gig / "Opener.tlp", false), entry(gig / "songs/Ballad Two.tlp", true),
                   entry(elsewhere / "Encore.tlp", true), entry(gig / "Gone.tlp", false)};
    SetlistReport report;
    ASSERT_TRUE(writeSetlistFile(path, set, report)) << describeSetlistProblem(report, path);
    EXPECT_FALSE(fs::exists(path + ".saving"));
    EXPECT_EQ(readText(path), "talvenor-setlist 1\nOpener.tlp\nsongs/Ballad Two.tlp\tautoplay\n" +
                                  elsewhere / "Encore.tlp" + "\tautoplay\nGone.tlp\n");

    Setlist back;
    ASSERT_TRUE(readSetlistFile(path, back, report)) << describeSetlistProblem(report, path);
    ASSERT_EQ(back.entries.size(), 4u);
    EXPECT_EQ(back.entries[0].path, "Opener.tlp");
    EXPECT_TRUE(fs::equivalent(back.entries[0].resolved, gig / "Opener.tlp"));
    EXPECT_TRUE(fs::equivalent(back.entries[1].resolved, gig / "songs/Ballad Two.tlp"));
    EXPECT_EQ(back.entries[2].resolved, elsewhere / "Encore.tlp");
    EXPECT_FALSE(back.entries[0].autoplay);
    EXPECT_TRUE(back.entries[1].autoplay);
    EXPECT_TRUE(back.entries[2].autoplay);
    EXPECT_EQ(back.entries[1].line, 3);
    EXPECT_FALSE(back.entries[0].missing);
    EXPECT_FALSE(back.entries[2].missing);
    EXPECT_TRUE(back.entries[3].missing);
    EXPECT_EQ(missingSetlistEntries(back), "Gone.tlp\n");
    const std::string missing = describeMissingSetlistEntries(back);
    EXPECT_NE(missing.find("cannot be found"), std::string::npos) << missing;
    EXPECT_NE(missing.find("\n\nGone.tlp\n"), std::string::npos) << missing;
    EXPECT_EQ(missing.find("%s"), std::string::npos) << missing;
    EXPECT_EQ(describeMissingSetlistEntries(Setlist{}), "") << "nothing to say when nothing is missing";
    EXPECT_EQ(setlistEntryName(back.entries[1]), "Ballad Two");
    EXPECT_EQ(setlistEntryName(back.entries[2]), "Encore");

    // Saved again as read, the file is the same: nothing of it is lost, the missing
    // entry included.
    const std::string first = readText(path);
    ASSERT_TRUE(writeSetlistFile(path, back, report));
    EXPECT_EQ(readText(path), first);

    // As an editor may leave it: a mark before the first line, CR LF, comments, blank
    // lines, a folder with '\' separators, options after tabs and spaces.
    const std::string edited =
        "\xEF\xBB\xBFtalvenor-setlist 1\r\n"
        "# Friday at the Anchor\r\n"
        "\r\n"
        "   \t \r\n"
        "Opener.tlp\r\n"
        "#songs/Skipped.tlp\r\n"
        "songs\\Ballad Two.tlp\t autoplay  autoplay\r\n"
        "C:\\sets\\Caf\xC3\xA9.tlp\r\n";
    ASSERT_TRUE(parseSetlist(edited.data(), edited.size(), "D:\\gigs", back, report))
        << describeSetlistProblem(report, "edited");
    ASSERT_EQ(back.entries.size(), 3u);
    EXPECT_EQ(back.entries[0].resolved, "D:\\gigs\\Opener.tlp");
    EXPECT_EQ(back.entries[1].resolved, "D:\\gigs\\songs\\Ballad Two.tlp");
    EXPECT_TRUE(back.entries[1].autoplay);
    EXPECT_EQ(back.entries[2].resolved, "C:\\sets\\Caf\xC3\xA9.tlp") << "an absolute path stays";
    EXPECT_EQ(back.entries[2].line, 8);
    std::string text;
    ASSERT_TRUE(formatSetlist(back, "D:\\gigs\\", text, report));
    EXPECT_EQ(text, "talvenor-setlist 1\nOpener.tlp\nsongs\\Ballad Two.tlp\tautoplay\nC:\\sets\\Caf\xC3\xA9.tlp\n");
    EXPECT_EQ(setlistFolder("D:\\gigs\\friday.tlset"), "D:\\gigs");
    EXPECT_EQ(setlistFolder("/friday.tlset"), "/");
    EXPECT_EQ(setlistFolder("friday.tlset"), "");
}

// Refused: a file whose first line is not the setlist's, with what it holds named;
// bad lines with their number and why; paths no line can hold; a save that cannot be
// made leaves the previous file as it was.
TEST(Setlist, RefusesWhatIsNotASetlistAndNamesTheLineAndTheReason) {
    struct Bad {
        std::string text;
        int line;
        const char* says;
    };
    const Bad bad[] = {
        {"talvenor-setlist 2\nOpener.tlp\n", 1, "the first line is \"talvenor-setlist 2\""},
        {"TLPERF\r\n\x01\x00", 1, "begins with the line \"talvenor-setlist 1\""},
        {"", 1, "the first line is \"\""},
        {" talvenor-setlist 1\n", 1, "\" talvenor-setlist 1\""},
        {"talvenor-setlist 1 \n", 1, "another kind of file"},
        {std::string("\xFF\xFEt\0a", 5), 1, "(not text)"},
        {"talvenor-setlist 1\nOpener.tlp\tloop\n", 2, "\"loop\" is not an option"},
        {"talvenor-setlist 1\n\n\tautoplay\n", 3, "no performance"},
        {"talvenor-setlist 1\nCaf\xE9.tlp\n", 2, "not UTF-8 text"},
        {"talvenor-setlist 1\nA\xC3\n", 2, "not UTF-8 text"},
        {"talvenor-setlist 1\nA\xC0\xAF.tlp\n", 2, "not UTF-8 text"},
        {std::string("talvenor-setlist 1\nA\0.tlp\n", 26), 2, "not UTF-8 text"},
        {"talvenor-setlist 1\n" + std::string(1025, 'a') + "\n", 2, "longer than 1024 bytes"},
    };
    for (const Bad& b : bad) {
        Setlist set;
        set.entries.push_back(SetlistEntry{});
        SetlistReport report;
        std::vector<char> exact(b.text.begin(), b.text.end());
        EXPECT_FALSE(parseSetlist(exact.data(), exact.size(), "/gigs", set, report)) << b.text;
        EXPECT_TRUE(set.entries.empty());
        EXPECT_EQ(report.line, b.line) << b.text;
        const std::string said = describeSetlistProblem(report, "/gigs/friday.tlset");
        EXPECT_NE(said.find(b.says), std::string::npos) << said;
        EXPECT_EQ(said.find("/gigs/friday.tlset, line " + std::to_string(b.line) + ": "), 0u) << said;
    }
    std::string many = "talvenor-setlist 1\n";
    for (size_t i = 0; i <= kMaxSetlistEntries; ++i)
        many += "song.tlp\n";
    Setlist set;
    SetlistReport report;
    EXPECT_FALSE(parseSetlist(many.data(), many.size(), "", set, report));
    EXPECT_EQ(report.problem, SetlistProblem::TooManyEntries);
    EXPECT_EQ(report.line, int(kMaxSetlistEntries) + 2);
    const std::string huge(kMaxSetlistBytes + 1, '#');
    EXPECT_FALSE(parseSetlist(huge.data(), huge.size(), "", set, report));
    EXPECT_NE(describeSetlistProblem(report, "big").find("larger than 1 MiB"), std::string::npos);

    ScratchFolder gig("refused");
    const std::string path = gig / "friday.tlset";
    writeText(path, "talvenor-setlist 1\nKept.tlp\n");
    set.entries = {entry(gig / "A\tB.tlp", false)};
    EXPECT_FALSE(writeSetlistFile(path, set, report));
    EXPECT_EQ(report.problem, SetlistProblem::PathUnwritable);
    set.entries = {entry("#1.tlp", false)};
    EXPECT_FALSE(writeSetlistFile(path, set, report)) << "a line beginning with # would be a comment";
    EXPECT_NE(describeSetlistProblem(report, path).find("\"#1.tlp\" cannot be kept"), std::string::npos)
        << describeSetlistProblem(report, path);
    EXPECT_EQ(readText(path), "talvenor-setlist 1\nKept.tlp\n") << "the previous file is untouched";

    std::string text;
    set.entries = {entry(gig / "#2.tlp", false)};
    ASSERT_TRUE(formatSetlist(set, gig.path(), text, report));
    EXPECT_EQ(text, "talvenor-setlist 1\n" + gig / "#2.tlp" + "\n") << "kept whole where relative it would be a comment";

    set.entries = {entry(gig / "Fine.tlp", false)};
    const std::string nowhere = gig / "no-such-folder/friday.tlset";
    EXPECT_FALSE(writeSetlistFile(nowhere, set, report));
    EXPECT_EQ(report.problem, SetlistProblem::CannotWrite);
    EXPECT_NE(describeSetlistProblem(report, nowhere).find("could not be created"), std::string::npos)
        << describeSetlistProblem(report, nowhere);
    EXPECT_FALSE(readSetlistFile(nowhere, set, report));
    EXPECT_EQ(report.problem, SetlistProblem::CannotRead);
    EXPECT_NE(describeSetlistProblem(report, nowhere).find("could not be read"), std::string::npos);
}

// Program change N selects entry N + 1, on the channel asked or any; everything else
// selects nothing; the switch's line names the time, the entry and its name.
TEST(Setlist, AProgramChangeSelectsTheEntryAfterItsNumber) {
    const MidiMessage program1{MidiKind::ProgramChange, 3, 1, 0};
    EXPECT_EQ(setlistEntryForMessage(program1, 3, kSetlistAnyChannel), 1);
    EXPECT_EQ(setlistEntryForMessage(program1, 3, 3), 1);
    EXPECT_EQ(setlistEntryForMessage(program1, 3, 0), -1) << "another channel";
    EXPECT_EQ(setlistEntryForMessage({MidiKind::ProgramChange, 0, 0, 0}, 3, 0), 0);
    EXPECT_EQ(setlistEntryForMessage({MidiKind::ProgramChange, 0, 3, 0}, 3, 0), -1) << "beyond the entries";
    EXPECT_EQ(setlistEntryForMessage({MidiKind::Controller, 0, 1, 1}, 3, kSetlistAnyChannel), -1);
    EXPECT_EQ(setlistEntryForMessage(program1, 0, kSetlistAnyChannel), -1) << "an empty setlist";

    SetlistEntry e;
    e.path = "songs/Ballad Two.tlp";
    e.resolved = "/gigs/songs/Ballad Two.tlp";
    e.autoplay = true;
    EXPECT_EQ(setlistSwitchLine(12.5, 1, e), "  12.500 s  setlist 2: Ballad Two (autoplay)");
    e.autoplay = false;
    e.missing = true;
    EXPECT_EQ(setlistSwitchLine(0.0, 0, e), "   0.000 s  setlist 1: Ballad Two (missing)");
}
