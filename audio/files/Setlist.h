#pragma once
#include <cstddef>
#include <string>
#include <vector>

// A setlist (docs/setlist-file.md): the performances of a gig in their order, one
// file. UTF-8 text; the first line is exactly "talvenor-setlist 1", then one entry a
// line: a performance path, relative to the setlist's folder or absolute, then
// optionally a TAB and options separated by spaces ("autoplay"). Blank lines and
// lines beginning with '#' are skipped. UI thread.

struct SetlistEntry {
    std::string path;      // the performance as the file names it, for showing
    std::string resolved;  // the performance to open (the setlist's folder joined on); what is written
    bool autoplay = false; // the backing track starts at the switch
    bool missing = false;  // no file at resolved when the setlist was read
    int line = 0;          // where the entry was read, 0 for an entry made in the program
};

struct Setlist {
    std::vector<SetlistEntry> entries;
};

enum class SetlistProblem {
    None,
    CannotRead,      // the file could not be opened or read (detail: the system's reason)
    TooLarge,        // beyond kMaxSetlistBytes
    WrongFirstLine,  // detail: what the first line holds
    NotText,         // a line that is not UTF-8 text, or holds a NUL or control byte
    UnknownOption,   // detail: the option
    EmptyPath,       // options without a performance before them
    PathTooLong,     // beyond kMaxSetlistPathBytes
    TooManyEntries,  // beyond kMaxSetlistEntries
    PathUnwritable,  // writing: detail is a path a line cannot hold (a tab or line break, a leading '#')
    CannotWrite,     // writing: detail says why
};

constexpr size_t kMaxSetlistBytes = 1u << 20;
constexpr size_t kMaxSetlistEntries = 1000;
constexpr size_t kMaxSetlistPathBytes = 1024;

struct SetlistReport {
    SetlistProblem problem = SetlistProblem::None;
    int line = 0;        // 1-based; 0 when the problem is not one line's
    std::string detail;  // see SetlistProblem
};

// The folder a setlist's relative paths start from: its path up to the last separator
// ('/' or '\'), or "" for a bare file name.
std::string setlistFolder(const std::string& setlistPath);

// Reads the text of a setlist whose folder is folder. On a problem, setlist is left
// empty and report says what and where. Entries are not checked against the disk.
bool parseSetlist(const char* text, size_t size, const std::string& folder, Setlist& setlist, SetlistReport& report);

// Reads the setlist file at path and marks the entries whose performance is not there
// (missing); they stay in the setlist so that saving it loses nothing.
bool readSetlistFile(const std::string& path, Setlist& setlist, SetlistReport& report);

// The file's text; each entry's resolved path is written relative to folder when it
// lies inside it. False (report set) for a path no line can hold.
bool formatSetlist(const Setlist& setlist, const std::string& folder, std::string& text, SetlistReport& report);

// Writes the setlist to path atomically (replaceFileContents): the previous file
// survives any failure.
bool writeSetlistFile(const std::string& path, const Setlist& setlist, SetlistReport& report);

// The entries marked missing, one path a line, as they were written.
std::string missingSetlistEntries(const Setlist& setlist);
// The message that lists them for the user (string table), or "" when none is missing.
std::string describeMissingSetlistEntries(const Setlist& setlist);

// A sentence for the user, from the string table: "<path>, line 3: ...".
std::string describeSetlistProblem(const SetlistReport& report, const std::string& setlistPath);

// The name a switch shows: the performance's file name without its folder and its
// extension ("Song Two" for "sets/Song Two.tlp").
std::string setlistEntryName(const SetlistEntry& entry);
