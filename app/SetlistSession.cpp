#include "SetlistSession.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "WinInclude.h"
#include <commdlg.h>

#include "FileReplace.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "NavigationBar.h"
#include "Performance.h"
#include "PerformanceFiles.h"
#include "PerformanceStage.h"
#include "SetlistWindow.h"
#include "ShellState.h"
#include "StringIds.h"
#include "WaveDeck.h"

namespace {

// What the program knows of an entry beyond the file's text, kept beside it.
struct EntryRun {
    bool unusable = false;
    std::string kept;  // a copy of the performance with the changes kept for the show
};

struct Session {
    Setlist setlist;
    std::vector<EntryRun> runs;  // one per entry, in the same order
    std::string path;            // ANSI; "" when never saved
    int current = -1;
    bool changed = false;
    bool keepChanges = false;
};

Session g_session;
unsigned g_keptSerial = 0;

std::string convert(const std::string& text, UINT from, UINT to) {
    if (text.empty())
        return text;
    const int wide = MultiByteToWideChar(from, 0, text.data(), int(text.size()), nullptr, 0);
    if (wide <= 0)
        return text;
    std::vector<wchar_t> buffer(static_cast<size_t>(wide));
    MultiByteToWideChar(from, 0, text.data(), int(text.size()), buffer.data(), wide);
    const int narrow = WideCharToMultiByte(to, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0)
        return text;
    std::string out(size_t(narrow), '\0');
    WideCharToMultiByte(to, 0, buffer.data(), wide, &out[0], narrow, nullptr, nullptr);
    return out;
}

bool fileThere(const std::string& ansiPath) {
    const DWORD attributes = GetFileAttributesA(ansiPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string entryFile(int index) { return utf8ToAnsi(g_session.setlist.entries[size_t(index)].resolved); }

bool validIndex(int index) { return index >= 0 && index < setlistEntryCount(); }

void forgetKeptCopies() {
    for (EntryRun& run : g_session.runs)
        if (!run.kept.empty()) {
            DeleteFileA(run.kept.c_str());
            run.kept.clear();
        }
}

// Sets the session to a setlist of its own; the previous one's copies go.
void replaceSession(const Setlist& setlist, const std::string& path) {
    forgetKeptCopies();
    g_session.setlist = setlist;
    g_session.runs.assign(setlist.entries.size(), EntryRun{});
    g_session.path = path;
    g_session.current = -1;
    g_session.changed = false;
    g_session.keepChanges = false;
    std::snprintf(g_shell.setlistFile, sizeof g_shell.setlistFile, "%s", path.c_str());
}

void changed() {
    g_session.changed = true;
    refreshSetlistWindow();
}

std::string stringEntry(int id) {
    char text[512] = "";
    if (!loadStringText(id, text, sizeof text))
        text[0] = '\0';
    return text;
}

bool readSetlistBytes(const std::string& path, std::string& bytes, std::string& why) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        why = std::strerror(errno);
        return false;
    }
    char block[8192];
    for (;;) {
        const size_t n = std::fread(block, 1, sizeof block, file);
        bytes.append(block, n);
        if (n < sizeof block)
            break;
    }
    const bool failed = std::ferror(file) != 0;  // (parseSetlist refuses an oversized setlist)
    std::fclose(file);
    if (failed)
        why = "read error";
    return !failed;
}

// The entries that cannot be opened, named in one box; each is marked unusable.
void reportUnusableEntries() {
    std::string list;
    for (int i = 0; i < setlistEntryCount(); ++i) {
        const SetlistEntry& entry = g_session.setlist.entries[size_t(i)];
        char why[600] = "";
        const std::string file = entryFile(i);
        bool usable = fileThere(file);
        if (!usable)
            std::snprintf(why, sizeof why, "%s", stringEntry(kStrSetlistNotFound).c_str());
        else
            usable = performanceFileUsable(file.c_str(), why, sizeof why);
        g_session.setlist.entries[size_t(i)].missing = !fileThere(file);
        g_session.runs[size_t(i)].unusable = !usable;
        if (!usable)
            list += utf8ToAnsi(entry.path) + " (" + why + ")\n";
    }
    if (!list.empty())
        showErrorWithDetail(-kStrSetlistEntriesUnusable, list.c_str());
}

bool chooseSetlistPath(HWND owner, bool forSaving, char* path, size_t size) {
    std::snprintf(path, size, "%s", g_session.path.empty() ? g_shell.setlistFile : g_session.path.c_str());
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "Talvenor Live Setlist (*.tlset)\0*.tlset\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = DWORD(size);
    dialog.lpstrDefExt = "tlset";
    dialog.lpstrTitle = forSaving ? "Save Setlist As" : "Open Setlist";
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                   (forSaving ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    return forSaving ? GetSaveFileNameA(&dialog) != 0 : GetOpenFileNameA(&dialog) != 0;
}

// The running performance belongs to entry index when it is that entry's file.
bool onStage(int index) {
    return validIndex(index) && _stricmp(g_liveSettings->performanceName, entryFile(index).c_str()) == 0;
}

std::string newKeptCopyPath() {
    char folder[MAX_PATH] = "";
    GetTempPathA(sizeof folder, folder);
    char path[MAX_PATH + 64];
    std::snprintf(path, sizeof path, "%stalvenor-show-%lu-%u.tlp", folder, GetCurrentProcessId(), ++g_keptSerial);
    return path;
}

// Before the running performance goes: keep, save or drop its changes, as the user
// chose. False when the switch must not happen.
bool settleRunningPerformance(HWND frame) {
    if (!performanceChanged())
        return true;
    const int current = currentSetlistEntry();
    if (g_session.keepChanges && current >= 0) {
        EntryRun& run = g_session.runs[size_t(current)];
        const std::string copy = run.kept.empty() ? newKeptCopyPath() : run.kept;
        char detail[600] = "";
        if (savePerformanceFile(copy.c_str(), detail, sizeof detail) == FileOutcome::Done) {
            run.kept = copy;
            return true;
        }
        showErrorWithDetail(kStrSavePerformanceFailed, detail);  // and asked below, so nothing is lost
    }
    const int answer = showMessageBox(frame, "Performance was changed. Do you want to save it?", "Confirm",
                                      MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL)
        return false;
    if (answer == IDYES) {
        if (!savePerformanceCommand(frame, false))
            return false;
        // The file holds the changes now; a copy kept earlier is older than it.
        if (current >= 0 && !g_session.runs[size_t(current)].kept.empty()) {
            DeleteFileA(g_session.runs[size_t(current)].kept.c_str());
            g_session.runs[size_t(current)].kept.clear();
        }
    }
    return true;
}

int usableFrom(int index, int step) {
    for (int i = index; validIndex(i); i += step) {
        EntryRun& run = g_session.runs[size_t(i)];
        // A performance that was missing may have come back since.
        if (run.unusable && g_session.setlist.entries[size_t(i)].missing && fileThere(entryFile(i))) {
            run.unusable = false;
            g_session.setlist.entries[size_t(i)].missing = false;
        }
        if (!run.unusable)
            return i;
    }
    return -1;
}

void tellStageWhatComes() {
    const int current = currentSetlistEntry();
    const int next = current >= 0 ? usableFrom(current + 1, 1) : usableFrom(0, 1);
    const int previous = current >= 0 ? usableFrom(current - 1, -1) : -1;
    auto fileOf = [](int index) {
        if (index < 0)
            return std::string();
        const EntryRun& run = g_session.runs[size_t(index)];
        return run.kept.empty() ? entryFile(index) : run.kept;
    };
    const std::string nextPath = fileOf(next), previousPath = fileOf(previous);
    performanceStage().expect(next, next >= 0 ? nextPath.c_str() : nullptr, previous,
                              previous >= 0 ? previousPath.c_str() : nullptr);
}

}  // namespace

std::string ansiToUtf8(const std::string& text) { return convert(text, CP_ACP, CP_UTF8); }
std::string utf8ToAnsi(const std::string& text) { return convert(text, CP_UTF8, CP_ACP); }

bool isSetlistPath(const char* path) {
    const size_t length = path ? std::strlen(path) : 0;
    return length > 6 && _stricmp(path + length - 6, ".tlset") == 0;
}

int setlistEntryCount() { return int(g_session.setlist.entries.size()); }

SetlistEntryView setlistEntryView(int index) {
    SetlistEntryView view;
    if (!validIndex(index))
        return view;
    const SetlistEntry& entry = g_session.setlist.entries[size_t(index)];
    view.name = utf8ToAnsi(setlistEntryName(entry));
    view.path = entryFile(index);
    view.autoplay = entry.autoplay;
    view.unusable = g_session.runs[size_t(index)].unusable;
    view.missing = view.unusable && entry.missing;
    view.kept = !g_session.runs[size_t(index)].kept.empty();
    return view;
}

int currentSetlistEntry() {
    // The performance may have been opened, emptied or saved elsewhere since.
    if (onStage(g_session.current))
        return g_session.current;
    for (int i = 0; i < setlistEntryCount(); ++i)
        if (onStage(i))
            return g_session.current = i;
    return g_session.current = -1;
}

const char* setlistFilePath() { return g_session.path.c_str(); }
bool setlistChanged() { return g_session.changed; }
bool keepChangesForShow() { return g_session.keepChanges; }
void setKeepChangesForShow(bool keep) {
    g_session.keepChanges = keep;
    refreshSetlistWindow();
}

// The copies kept for the show go with the setlist: asked first whether they should
// go into the performances' own files.
bool askToSaveKeptChanges(HWND frame) {
    std::string list;
    for (int i = 0; i < setlistEntryCount(); ++i)
        if (!g_session.runs[size_t(i)].kept.empty())
            list += entryFile(i) + "\n";
    if (list.empty())
        return true;
    const std::string question = stringEntry(kStrSetlistKeptQuestion) + "\n\n" + list;
    const int answer = showMessageBox(frame, question.c_str(), "Confirm", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL)
        return false;
    if (answer == IDNO)
        return true;
    for (int i = 0; i < setlistEntryCount(); ++i) {
        EntryRun& run = g_session.runs[size_t(i)];
        if (run.kept.empty())
            continue;
        std::string bytes, why;
        char detail[600] = "";
        const std::string file = entryFile(i);
        const bool saved = readSetlistBytes(run.kept, bytes, why) &&
                           replaceFileContents(file.c_str(), reinterpret_cast<const uint8_t*>(bytes.data()),
                                               bytes.size(), detail, sizeof detail);
        if (!saved) {
            const std::string text = file + "\n" + (why.empty() ? std::string(detail) : why);
            showErrorWithDetail(kStrSavePerformanceFailed, text.c_str());
            return false;  // the copies stay, and so does the program
        }
        DeleteFileA(run.kept.c_str());
        run.kept.clear();
    }
    refreshSetlistWindow();
    return true;
}

bool askToSaveChangedSetlist(HWND frame) {
    if (!askToSaveKeptChanges(frame))
        return false;
    if (!g_session.changed || g_session.setlist.entries.empty())
        return true;
    const std::string question = stringEntry(kStrSetlistChangedQuestion);
    const int answer = showMessageBox(frame, question.c_str(), "Confirm", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL)
        return false;
    return answer == IDNO || saveSetlistCommand(frame, false);
}

bool newSetlist(HWND frame) {
    if (!askToSaveChangedSetlist(frame))
        return false;
    replaceSession(Setlist{}, std::string());
    refreshSetlistWindow();
    return true;
}

bool openSetlistCommand(HWND frame) {
    if (!askToSaveChangedSetlist(frame))
        return false;
    char path[MAX_PATH * 2];
    if (!chooseSetlistPath(frame, false, path, sizeof path))
        return false;
    return openSetlistFile(frame, path, true);
}

bool openSetlistFile(HWND frame, const char* path, bool bringOnFirst) {
    std::string bytes, why;
    Setlist setlist;
    SetlistReport report;
    if (!readSetlistBytes(path, bytes, why)) {
        report.problem = SetlistProblem::CannotRead;
        report.detail = why;
    } else {
        parseSetlist(bytes.data(), bytes.size(), ansiToUtf8(setlistFolder(path)), setlist, report);
    }
    if (report.problem != SetlistProblem::None) {
        const std::string text = utf8ToAnsi(describeSetlistProblem(report, ansiToUtf8(path)));
        showErrorWithDetail(kStrSetlistOpenFailed, text.c_str());
        return false;
    }
    replaceSession(setlist, path);
    reportUnusableEntries();
    refreshSetlistWindow();
    if (bringOnFirst) {
        const int first = usableFrom(0, 1);
        if (first >= 0)
            switchToSetlistEntry(frame, first);
    }
    return true;
}

bool saveSetlistCommand(HWND frame, bool askName) {
    char path[MAX_PATH * 2];
    if (askName || g_session.path.empty()) {
        if (!chooseSetlistPath(frame, true, path, sizeof path))
            return false;
    } else {
        std::snprintf(path, sizeof path, "%s", g_session.path.c_str());
    }
    std::string text;
    SetlistReport report;
    char detail[600] = "";
    bool saved = formatSetlist(g_session.setlist, ansiToUtf8(setlistFolder(path)), text, report);
    if (saved) {
        saved = replaceFileContents(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(), detail,
                                    sizeof detail);
        if (!saved) {
            report.problem = SetlistProblem::CannotWrite;
            report.detail = ansiToUtf8(detail);
        }
    }
    if (!saved) {
        const std::string why = utf8ToAnsi(describeSetlistProblem(report, ansiToUtf8(path)));
        showErrorWithDetail(kStrSetlistSaveFailed, why.c_str());
        return false;
    }
    g_session.path = path;
    g_session.changed = false;
    std::snprintf(g_shell.setlistFile, sizeof g_shell.setlistFile, "%s", path);
    refreshSetlistWindow();
    return true;
}

void closeSetlistSession() {
    forgetKeptCopies();
    g_session = Session{};
}

int addSetlistEntriesCommand(HWND owner, int at) {
    std::vector<char> buffer(32768, '\0');
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "Talvenor Live Performance (*.tlp)\0*.tlp\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = DWORD(buffer.size());
    dialog.lpstrDefExt = "tlp";
    dialog.lpstrTitle = "Add Performances";
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_EXPLORER;
    if (!GetOpenFileNameA(&dialog))
        return -1;
    // One file: its whole path. Several: the folder, then each name, each ended by NUL.
    std::vector<std::string> paths;
    const char* first = buffer.data();
    const char* next = first + std::strlen(first) + 1;
    if (!*next) {
        paths.push_back(first);
    } else {
        std::string folder = first;
        if (!folder.empty() && folder.back() != '\\')
            folder += '\\';
        for (; *next; next += std::strlen(next) + 1)
            paths.push_back(folder + next);
    }
    int firstAdded = -1;
    for (const std::string& path : paths) {
        const int added = addSetlistEntry(path.c_str(), at);
        if (added < 0)
            break;
        if (firstAdded < 0)
            firstAdded = added;
        at = added;
    }
    return firstAdded;
}

int addSetlistEntry(const char* path, int at) {
    if (!path || !path[0] || setlistEntryCount() >= int(kMaxSetlistEntries))
        return -1;
    SetlistEntry entry;
    entry.resolved = ansiToUtf8(path);
    entry.path = entry.resolved;
    EntryRun run;
    char why[600] = "";
    run.unusable = !performanceFileUsable(path, why, sizeof why);
    entry.missing = !fileThere(path);
    const int index = at < 0 || at >= setlistEntryCount() ? setlistEntryCount() : at + 1;
    g_session.setlist.entries.insert(g_session.setlist.entries.begin() + index, entry);
    g_session.runs.insert(g_session.runs.begin() + index, run);
    if (g_session.current >= index)
        ++g_session.current;
    changed();
    return index;
}

bool removeSetlistEntry(int index) {
    if (!validIndex(index))
        return false;
    if (!g_session.runs[size_t(index)].kept.empty())
        DeleteFileA(g_session.runs[size_t(index)].kept.c_str());
    g_session.setlist.entries.erase(g_session.setlist.entries.begin() + index);
    g_session.runs.erase(g_session.runs.begin() + index);
    if (g_session.current == index)
        g_session.current = -1;
    else if (g_session.current > index)
        --g_session.current;
    changed();
    return true;
}

int moveSetlistEntry(int index, int step) {
    const int to = index + step;
    if (!validIndex(index) || !validIndex(to) || (step != 1 && step != -1))
        return -1;
    std::swap(g_session.setlist.entries[size_t(index)], g_session.setlist.entries[size_t(to)]);
    std::swap(g_session.runs[size_t(index)], g_session.runs[size_t(to)]);
    if (g_session.current == index)
        g_session.current = to;
    else if (g_session.current == to)
        g_session.current = index;
    changed();
    return to;
}

bool setSetlistEntryAutoplay(int index, bool autoplay) {
    if (!validIndex(index))
        return false;
    if (g_session.setlist.entries[size_t(index)].autoplay != autoplay) {
        g_session.setlist.entries[size_t(index)].autoplay = autoplay;
        changed();
    }
    return true;
}

bool switchToSetlistEntry(HWND frame, int index) {
    if (!validIndex(index))
        return false;
    if (index == currentSetlistEntry())
        return true;
    if (!settleRunningPerformance(frame))
        return false;
    EntryRun& run = g_session.runs[size_t(index)];
    const std::string file = entryFile(index);
    const std::string load = run.kept.empty() ? file : run.kept;
    char detail[600] = "";
    const FileOutcome outcome = performanceStage().bringOn(frame, index, load.c_str(), file.c_str(), detail, sizeof detail);
    if (outcome != FileOutcome::Done) {
        if (outcome == FileOutcome::Failed) {
            run.unusable = true;
            g_session.setlist.entries[size_t(index)].missing = !fileThere(file);
            // Which entry, then why: the reason alone may not name the file.
            char text[1200];
            std::snprintf(text, sizeof text, "%d: %s\n%s", index + 1, file.c_str(), detail);
            showErrorWithDetail(kStrLoadPerformanceFailed, text);
        }
        refreshSetlistWindow();
        return false;
    }
    run.unusable = false;
    g_session.current = index;
    // The backing track waits for Play unless the entry starts it at the switch.
    if (g_session.setlist.entries[size_t(index)].autoplay && g_waveDeck->isAccompanimentOpen()) {
        g_waveDeck->play();
        if (g_windows.navigationBar)
            InvalidateRect(g_windows.navigationBar, nullptr, TRUE);
    }
    refreshSetlistWindow();
    tellStageWhatComes();
    return true;
}

bool stepSetlist(HWND frame, int step) {
    if (setlistEntryCount() == 0 || (step != 1 && step != -1))
        return false;
    const int current = currentSetlistEntry();
    const int target = current < 0 ? usableFrom(0, 1) : usableFrom(current + step, step);
    return target >= 0 && switchToSetlistEntry(frame, target);
}

int limitTailSeconds(int seconds) { return seconds < 0 ? 0 : (seconds > 10 ? 10 : seconds); }
int setlistTailSeconds() { return g_shell.setlistTailSeconds; }
void setSetlistTailSeconds(int seconds) {
    g_shell.setlistTailSeconds = limitTailSeconds(seconds);
    performanceStage().setTailSeconds(g_shell.setlistTailSeconds);
}
