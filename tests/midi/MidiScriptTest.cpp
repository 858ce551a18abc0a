#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "MidiScript.h"

namespace {

bool parse(const std::string& text, MidiScript& script, MidiScriptError& error) {
    std::vector<char> exact(text.begin(), text.end());  // no NUL after the text
    return parseMidiScript(exact.data(), exact.size(), script, error);
}

}  // namespace

// A script with comments, blank lines, CR LF endings and small hex digits, out of
// time order; then played at 48 kHz in blocks of two sizes: each message comes once,
// in the block its frame lies in, at the same frame whatever the block size.
TEST(MidiScript, ReadsAScriptAndPlaysItAtTheSameFramesInAnyBlockSize) {
    const std::string text =
        "# a set's switches\r\n"
        "5.000 C0 01   # the second song\r\n"
        "\r\n"
        "   2.5 b0 0b 40\r\n"
        "0 90 3C 00\n"
        "2.5 B0 07 7f\n"
        "0.0000104 C0 02\n"  // 0.4992 frames: frame 0
        "0.0000105 c0 03";   // 0.504 frames: frame 1; no line break at the end
    MidiScript script;
    MidiScriptError error;
    ASSERT_TRUE(parse(text, script, error)) << error.line << ": " << error.reason;
    ASSERT_EQ(script.messages.size(), 6u);
    EXPECT_EQ(script.messages[0].message, (MidiMessage{MidiKind::NoteOff, 0, 0x3C, 0})) << "velocity 0: note off";
    EXPECT_EQ(script.messages[0].line, 5);
    EXPECT_EQ(script.messages[1].message, (MidiMessage{MidiKind::ProgramChange, 0, 2, 0}));
    EXPECT_EQ(script.messages[2].message, (MidiMessage{MidiKind::ProgramChange, 0, 3, 0}));
    EXPECT_EQ(script.messages[3].message, (MidiMessage{MidiKind::Controller, 0, 0x0B, 0x40}))
        << "equal times keep the file's order";
    EXPECT_EQ(script.messages[4].message, (MidiMessage{MidiKind::Controller, 0, 0x07, 0x7F}));
    EXPECT_EQ(script.messages[5].message, (MidiMessage{MidiKind::ProgramChange, 0, 1, 0}));
    EXPECT_EQ(script.messages[5].line, 2);

    const double rate = 48000.0;
    for (uint32_t block : {1u, 256u, 1000u, 48000u * 6}) {
        MidiScriptPlayer player(script);
        std::vector<uint64_t> frames;
        uint64_t done = 0;
        while (!player.finished() && done < 48000u * 10) {
            const ScriptedMidi* first = nullptr;
            const size_t n = player.due(done, block, rate, first);
            for (size_t i = 0; i < n; ++i) {
                const uint32_t offset = MidiScriptPlayer::offsetInBlock(first[i], done, rate);
                ASSERT_LT(offset, block);
                frames.push_back(done + offset);
            }
            done += block;
        }
        ASSERT_EQ(frames, (std::vector<uint64_t>{0, 0, 1, 120000, 120000, 240000})) << "blocks of " << block;
    }

    // A player that starts late hands the past messages out at once, at offset 0.
    MidiScriptPlayer late(script);
    const ScriptedMidi* first = nullptr;
    ASSERT_EQ(late.due(150000, 512, rate, first), 5u);
    EXPECT_EQ(MidiScriptPlayer::offsetInBlock(first[4], 150000, rate), 0u);
    EXPECT_EQ(late.due(150512, 512, rate, first), 0u);
    late.rewind();
    EXPECT_FALSE(late.finished());
}

// Each bad line is refused with its number and a reason that names what is wrong;
// nothing of a refused script is kept.
TEST(MidiScript, RefusesBadLinesWithTheLineAndTheReason) {
    struct Bad {
        const char* text;
        int line;
        const char* says;
    };
    const Bad bad[] = {
        {"1 C0\n", 1, "not 2 words"},
        {"# fine\n1 B0 07 10 20\n", 2, "more than four"},
        {"x C0 01\n", 1, "not a number of seconds"},
        {"-1 C0 01\n", 1, "negative"},
        {"1e3 C0 01\n", 1, "not a number of seconds"},
        {"1.2.3 C0 01\n", 1, "not a number of seconds"},
        {"nan C0 01\n", 1, "not a number of seconds"},
        {"90000 C0 01\n", 1, "beyond a day"},
        {"1 C0 1G\n", 1, "\"1G\" is not a hexadecimal byte"},
        {"1 C0 100\n", 1, "not a hexadecimal byte"},
        {"1 40 01\n", 1, "status byte"},
        {"1 F8 00\n", 1, "only channel messages"},
        {"1 F0 7E 7F\n", 1, "only channel messages"},
        {"1 C0 01 02\n", 1, "takes 1 data byte, not 2"},
        {"\n\n1 B0 07\n", 3, "takes 2 data bytes, not 1"},
        {"1 B0 07 80\n", 1, "80 is above 7F"},
        {"1 B0 87 10\n", 1, "87 is above 7F"},
    };
    for (const Bad& b : bad) {
        MidiScript script;
        script.messages.push_back(ScriptedMidi{0.0, MidiMessage{}, 1});
        MidiScriptError error;
        const std::string text = b.text;
        EXPECT_FALSE(parse(text, script, error)) << text;
        EXPECT_TRUE(script.messages.empty()) << text;
        EXPECT_EQ(error.line, b.line) << text;
        EXPECT_NE(error.reason.find(b.says), std::string::npos) << text << " -> " << error.reason;
    }
    // The NUL inside a line, given with the exact length.
    const std::string withNul("1 C0 01\n2 C0\0 02\n", 17);
    MidiScript script;
    MidiScriptError error;
    EXPECT_FALSE(parse(withNul, script, error));
    EXPECT_EQ(error.line, 2);
    EXPECT_NE(error.reason.find("NUL"), std::string::npos) << error.reason;

    EXPECT_FALSE(readMidiScriptFile("/nonexistent/folder/script.txt", script, error));
    EXPECT_EQ(error.line, 0);
    EXPECT_NE(error.reason.find("could not be opened"), std::string::npos) << error.reason;
}
