#include "Setlist.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "FileReplace.h"
#include "StringIds.h"
#include "StringTable.h"

namespace {

constexpr char kFirstLine[] = "talvenor-setlist 1";
static_assert(int(SetlistProblem::CannotWrite) == kStrSetlistEntriesMissing - kStrSetlistFirstProblem,
              "the string table holds one reason per problem, in the enum's order");
constexpr char kAutoplay[] = "autoplay";

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isAbsolute(const std::string& path) {
    if (!path.empty() && isSeparator(path[0]))
        return true;
    const char d = path.size() >= 2 ? char(path[0] | 0x20) : 0;
    return d >= 'a' && d <= 'z' && path[1] == ':';
}

std::string joinPath(const std::string& folder, const std::string& path) {
    if (folder.empty() || isAbsolute(path))
        return path;
    if (isSeparator(folder.back()))
        return folder + path;
    // The separator the folder itself uses.
    const char separator = folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos ? '\\' : '/';
    return folder + separator + path;
}

// path as relative to folder when it lies inside it ('/' and '\' taken as one), else
// unchanged.
std::string relativeTo(const std::string& folder, const std::string& path) {
    size_t length = folder.size();
    while (length > 0 && isSeparator(folder[length - 1]))
        --length;
    if (length == 0 || path.size() <= length + 1 || !isSeparator(path[length]))
        return path;
    for (size_t i = 0; i < length; ++i)
        if (path[i] != folder[i] && !(isSeparator(path[i]) && isSeparator(folder[i])))
            return path;
    // What remains must read back as relative ("/gigs//x" or "/gigs/C:x" stay whole).
    const std::string rest = path.substr(length + 1);
    return isAbsolute(rest) ? path : rest;
}

// Well-formed UTF-8 without NUL or other control bytes (a TAB is allowed).
bool isText(const char* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        const uint8_t c = uint8_t(s[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t') || c == 0x7F)
                return false;
            ++i;
            continue;
        }
        int follow = 0;
        uint32_t code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            follow = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            follow = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            follow = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= size_t(follow))
            return false;
        for (int k = 1; k <= follow; ++k) {
            const uint8_t f = uint8_t(s[i + k]);
            if ((f & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (f & 0x3F);
        }
        // Overlong forms, surrogates and beyond U+10FFFF are not text.
        if ((follow == 2 && code < 0x800) || (follow == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += size_t(follow) + 1;
    }
    return true;
}

bool blank(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (s[i] != ' ' && s[i] != '\t')
            return false;
    return true;
}

bool fail(SetlistReport& report, SetlistProblem problem, int line, const std::string& detail = std::string()) {
    report.problem = problem;
    report.line = line;
    report.detail = detail;
    return false;
}

// The options after the TAB: words separated by spaces (or further tabs).
bool readOptions(const char* s, size_t n, SetlistEntry& entry, SetlistReport& report, int line) {
    size_t i = 0;
    while (i < n) {
        while (i < n && (s[i] == ' ' || s[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < n && s[i] != ' ' && s[i] != '\t')
            ++i;
        if (i == start)
            break;
        const std::string word(s + start, i - start);
        if (word == kAutoplay)
            entry.autoplay = true;
        else
            return fail(report, SetlistProblem::UnknownOption, line, word.size() > 40 ? word.substr(0, 40) + "..." : word);
    }
    return true;
}

bool fileThere(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

}  // namespace

std::string setlistFolder(const std::string& setlistPath) {
    for (size_t i = setlistPath.size(); i > 0; --i)
        if (isSeparator(setlistPath[i - 1]))
            return setlistPath.substr(0, i == 1 ? 1 : i - 1);
    if (setlistPath.size() >= 2 && setlistPath[1] == ':')
        return setlistPath.substr(0, 2);  // "C:list.txt": the drive's current folder
    return std::string();
}

bool parseSetlist(const char* text, size_t size, const std::string& folder, Setlist& setlist, SetlistReport& report) {
    setlist.entries.clear();
    report = SetlistReport{};
    if (size > kMaxSetlistBytes)
        return fail(report, SetlistProblem::TooLarge, 0);
    if (!text)
        size = 0;
    size_t at = 0;
    // A byte-order mark, as some editors put before UTF-8 text, is not part of the line.
    if (size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        at = 3;
    int line = 0;
    Setlist read;
    while (at < size || line == 0) {
        const char* begin = text ? text + at : "";
        const void* nl = at < size ? std::memchr(begin, '\n', size - at) : nullptr;
        size_t length = nl ? size_t(static_cast<const char*>(nl) - begin) : size - at;
        at += length + 1;
        ++line;
        if (length && begin[length - 1] == '\r')
            --length;
        if (line == 1) {
            if (length != sizeof kFirstLine - 1 || std::memcmp(begin, kFirstLine, length) != 0) {
                // What the line holds, shown only as far as it is text.
                std::string found = isText(begin, length > 60 ? 60 : length) ? std::string(begin, length > 60 ? 60 : length)
                                                                             : std::string("(not text)");
                if (length > 60 && found != "(not text)")
                    found += "...";
                return fail(report, SetlistProblem::WrongFirstLine, 1, found);
            }
            continue;
        }
        if (!isText(begin, length))
            return fail(report, SetlistProblem::NotText, line);
        if (blank(begin, length) || begin[0] == '#')
            continue;
        const void* tab = std::memchr(begin, '\t', length);
        const size_t pathLength = tab ? size_t(static_cast<const char*>(tab) - begin) : length;
        if (pathLength == 0 || blank(begin, pathLength))
            return fail(report, SetlistProblem::EmptyPath, line);
        if (pathLength > kMaxSetlistPathBytes)
            return fail(report, SetlistProblem::PathTooLong, line);
        if (read.entries.size() == kMaxSetlistEntries)
            return fail(report, SetlistProblem::TooManyEntries, line);
        SetlistEntry entry;
        entry.path.assign(begin, pathLength);
        entry.resolved = joinPath(folder, entry.path);
        entry.line = line;
        if (tab && !readOptions(begin + pathLength + 1, length - pathLength - 1, entry, report, line))
            return false;
        read.entries.push_back(entry);
    }
    setlist = read;
    return true;
}

bool readSetlistFile(const std::string& path, Setlist& setlist, SetlistReport& report) {
    setlist.entries.clear();
    report = SetlistReport{};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return fail(report, SetlistProblem::CannotRead, 0, std::strerror(errno));
    std::string bytes;
    char block[8192];
    bool ok = true;
    for (;;) {
        const size_t n = std::fread(block, 1, sizeof block, file);
        bytes.append(block, n);
        if (bytes.size() > kMaxSetlistBytes)
            break;  // refused below, whatever follows
        if (n < sizeof block) {
            ok = !std::ferror(file);
            break;
        }
    }
    const int readError = errno;
    std::fclose(file);
    if (!ok)
        return fail(report, SetlistProblem::CannotRead, 0, std::strerror(readError));
    if (!parseSetlist(bytes.data(), bytes.size(), setlistFolder(path), setlist, report))
        return false;
    for (SetlistEntry& entry : setlist.entries)
        entry.missing = !fileThere(entry.resolved);
    return true;
}

bool formatSetlist(const Setlist& setlist, const std::string& folder, std::string& text, SetlistReport& report) {
    report = SetlistReport{};
    text = std::string(kFirstLine) + "\n";
    for (const SetlistEntry& entry : setlist.entries) {
        std::string path = relativeTo(folder, entry.resolved);
        if (!path.empty() && path[0] == '#')
            path = entry.resolved;  // relative, it would read as a comment
        if (path.empty() || path[0] == '#' || blank(path.data(), path.size()) ||
            path.find_first_of("\t\r\n") != std::string::npos || !isText(path.data(), path.size()))
            return fail(report, SetlistProblem::PathUnwritable, 0, path);
        if (path.size() > kMaxSetlistPathBytes)
            return fail(report, SetlistProblem::PathTooLong, 0, path);
        text += path;
        if (entry.autoplay)
            text += std::string("\t") + kAutoplay;
        text += "\n";
    }
    if (setlist.entries.size() > kMaxSetlistEntries)
        return fail(report, SetlistProblem::TooManyEntries, 0);
    return true;
}

bool writeSetlistFile(const std::string& path, const Setlist& setlist, SetlistReport& report) {
    std::string text;
    if (!formatSetlist(setlist, setlistFolder(path), text, report))
        return false;
    char detail[600] = "";
    if (!replaceFileContents(path.c_str(), reinterpret_cast<const uint8_t*>(text.data()), text.size(), detail,
                             sizeof detail))
        return fail(report, SetlistProblem::CannotWrite, 0, detail);
    return true;
}

std::string missingSetlistEntries(const Setlist& setlist) {
    std::string list;
    for (const SetlistEntry& entry : setlist.entries)
        if (entry.missing)
            list += entry.path + "\n";
    return list;
}

std::string describeMissingSetlistEntries(const Setlist& setlist) {
    const std::string list = missingSetlistEntries(setlist);
    if (list.empty())
        return list;
    char format[512];
    if (!stringTableText(kStrSetlistEntriesMissing, format, sizeof format))
        std::snprintf(format, sizeof format, "%s", "Missing performances:\n%s");
    // The list goes in where the entry's one %s stands; a '%' in a path stays as it is.
    const std::string text = format;
    const size_t mark = text.find("%s");
    return mark == std::string::npos ? text : text.substr(0, mark) + list + text.substr(mark + 2);
}

std::string describeSetlistProblem(const SetlistReport& report, const std::string& setlistPath) {
    if (report.problem == SetlistProblem::None)
        return std::string();
    char format[512];
    const int id = kStrSetlistFirstProblem + int(report.problem) - 1;
    if (!stringTableText(id, format, sizeof format))
        std::snprintf(format, sizeof format, "setlist problem %d (%%s)", int(report.problem));
    char reason[2048];
    // The entry has at most one %s, for the detail, which is passed as an argument.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(reason, sizeof reason, format, report.detail.c_str());
#pragma GCC diagnostic pop
    std::string text = setlistPath;
    if (report.line > 0)
        text += ", line " + std::to_string(report.line);
    return text + ": " + reason;
}

std::string setlistEntryName(const SetlistEntry& entry) {
    const std::string& path = entry.resolved.empty() ? entry.path : entry.resolved;
    size_t start = path.size();
    while (start > 0 && !isSeparator(path[start - 1]))
        --start;
    std::string name = path.substr(start);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}
