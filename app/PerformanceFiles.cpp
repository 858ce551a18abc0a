#include "PerformanceFiles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "OwnedHandle.h"
#include "WinInclude.h"
#include <commdlg.h>

#include "EffectHost.h"
#include "FileReplace.h"
#include "FxManagerPanel.h"
#include "FxManagerWindow.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MidiLearn.h"
#include "MessageBoxes.h"
#include "ResourceIds.h"
#include "Performance.h"
#include "PerformanceFormat.h"
#include "PerformanceStage.h"
#include "ShellState.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"
#include "WaveDeck.h"

namespace {

const int kPositions = LiveSettings::kPositions;

// Releases what it holds at the end of its scope.
class FileBytes {
public:
    FileBytes() = default;
    ~FileBytes() { std::free(data); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    uint8_t* data = nullptr;
    size_t size = 0;
};

void say(char* detail, size_t size, const char* format, const char* text, unsigned long number = 0) {
    if (detail && size)
        std::snprintf(detail, size, format, text, number);
}

bool readWholeFile(const char* path, FileBytes& bytes, char* detail, size_t detailSize) {
    OwnedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file.valid()) {
        say(detail, detailSize, "%s could not be opened (system error %lu).", path, GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.handle, &size)) {
        say(detail, detailSize, "The size of %s could not be read (system error %lu).", path, GetLastError());
        return false;
    }
    // Refused before any of it is read: no performance is this large.
    if (size.QuadPart < 0 || uint64_t(size.QuadPart) > kMaxPerformanceFileBytes) {
        say(detail, detailSize, "%s", describePerformanceParse(PerformanceParse::TooLarge));
        return false;
    }
    bytes.size = size_t(size.QuadPart);
    bytes.data = static_cast<uint8_t*>(std::malloc(bytes.size + 1));
    if (!bytes.data) {
        say(detail, detailSize, "%s", "There is not enough memory to read the file.");
        return false;
    }
    size_t done = 0;
    while (done < bytes.size) {
        DWORD read = 0;
        const DWORD ask = DWORD(bytes.size - done > (1u << 20) ? (1u << 20) : bytes.size - done);
        if (!ReadFile(file.handle, bytes.data + done, ask, &read, nullptr) || read == 0) {
            say(detail, detailSize, "%s could not be read (system error %lu).", path, GetLastError());
            return false;
        }
        done += read;
    }
    return true;
}

// Only whether it is there: the deck may hold the same file open right now, and it
// closes it before opening it again.
bool fileExists(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void appendLine(char* list, size_t size, const char* line) {
    const size_t used = std::strlen(list);
    if (used + 1 < size)
        std::snprintf(list + used, size - used, "%s\n", line);
}

// Yes when the user wants the performance without the parts listed.
bool goOnWithout(HWND owner, const char* missing) {
    char format[512] = "";
    char text[4096];
    if (!loadStringText(kStrPerformancePartsMissing, format, sizeof format))
        return false;
    // The entry holds one %s; a '%' in a path must not be taken as a format.
    const char* mark = std::strstr(format, "%s");
    if (mark)
        std::snprintf(text, sizeof text, "%.*s%s%s", int(mark - format), format, missing, mark + 2);
    else
        std::snprintf(text, sizeof text, "%s", format);
    return showMessageBox(owner, text, "Talvenor Live", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void unloadEach(EffectSlot* const* slots) {
    for (int position = 0; position < kPositions; ++position)
        if (slots[position])
            g_effectHost->unloadSlot(slots[position]);
}

bool isOneOf(const EffectSlot* slot, EffectSlot* const* slots) {
    for (int position = 0; position < kPositions; ++position)
        if (slots[position] == slot)
            return true;
    return false;
}

}  // namespace

void unloadStrays(EffectSlot* const* kept) {
    // A plug-in that no position held belonged to the old performance as well, unless
    // the stage holds it: the next performance made ready, or a tail still ringing.
    for (EffectSlot* slot = g_effectHost->slotList(); slot;) {
        EffectSlot* const following = slot->next;
        if (!isOneOf(slot, kept) && !performanceStage().spares(slot))
            g_effectHost->unloadSlot(slot);
        slot = following;
    }
}

namespace {

// Within one pause the chain goes from the old positions to the new ones; the old
// plug-ins are closed after it, when no callback can reach them any more.
void exchangePerformance(const PerformanceImage& image, EffectSlot* const* incoming, bool openAccompaniment) {
    LiveSettings& settings = *g_liveSettings;
    EffectSlot* previous[kPositions];
    g_liveEngine->pauseProcessing();
    for (int position = 0; position < kPositions; ++position) {
        previous[position] = settings.slots[position];
        settings.slots[position] = incoming[position];
        settings.bypass[position] = incoming[position] ? image.positions[position].bypass : 0;
        if (previous[position])
            g_effectHost->detachSlot(previous[position]);
    }
    if (openAccompaniment)
        g_waveDeck->openAccompaniment(image.accompaniment);
    else
        g_waveDeck->closeAccompaniment();
    g_liveEngine->resumeProcessing();
    performanceStage().positionsReplaced(previous, kPositions);
    unloadEach(previous);
    unloadStrays(incoming);
}

void showAccompanimentWindows(HWND frame) {
    const bool open = g_waveDeck->isAccompanimentOpen();
    if (g_windows.navigationBar) {
        ShowWindow(g_windows.navigationBar, open ? SW_SHOWNA : SW_HIDE);
        InvalidateRect(g_windows.navigationBar, nullptr, TRUE);
    }
    if (HMENU menu = frame ? GetMenu(frame) : nullptr)
        EnableMenuItem(menu, IDC_CMD_CLOSE_ACCOMPANIMENT, MF_BYCOMMAND | (open ? MF_ENABLED : MF_GRAYED));
}

// The performance now belongs to path.
void nameThePerformance(HWND frame, const char* path) {
    std::snprintf(g_liveSettings->performanceName, sizeof g_liveSettings->performanceName, "%s", path);
    std::snprintf(g_shell.perfFile, sizeof g_shell.perfFile, "%s", path);
    setFrameTitle(frame, path);
    snapshotPerformance();
}

// The file dialog, starting from the performance's own file or the last one used.
bool choosePerformancePath(HWND owner, bool forSaving, char* path) {
    const char* start = g_liveSettings->performanceName[0] ? g_liveSettings->performanceName : g_shell.perfFile;
    std::snprintf(path, LiveSettings::kNameSize, "%s", start);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "Talvenor Live Performance (*.tlp)\0*.tlp\0All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = LiveSettings::kNameSize;
    dialog.lpstrDefExt = "tlp";
    dialog.lpstrTitle = forSaving ? "Save Performance As" : "Open Performance";
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                   (forSaving ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    return forSaving ? GetSaveFileNameA(&dialog) != 0 : GetOpenFileNameA(&dialog) != 0;
}

void releaseStates() {
    for (EffectSlot* slot = g_effectHost->slotList(); slot; slot = slot->next)
        g_effectHost->releaseState(slot);
}

// Each position's plug-in and state as the file will hold them.
bool captureImage(PerformanceImage& image, char* detail, size_t detailSize) {
    std::memset(&image, 0, sizeof image);
    std::snprintf(image.accompaniment, sizeof image.accompaniment, "%s", g_waveDeck->accompaniment().path);
    const LiveSettings& settings = *g_liveSettings;
    for (int position = 0; position < kPositions; ++position) {
        EffectSlot* slot = settings.slots[position];
        if (!slot)
            continue;
        char reason[300] = "";
        if (!g_effectHost->captureState(slot, reason, sizeof reason)) {
            char name[32] = "";
            g_effectHost->effectName(slot, name);
            char text[400];
            if (slot->state.size() == 0 || !reason[0])
                std::snprintf(text, sizeof text, "There is not enough memory for the state of %s.", name);
            else
                std::snprintf(text, sizeof text, "%s %s", name, reason);
            say(detail, detailSize, "%s", text);
            return false;
        }
        PerformancePosition& p = image.positions[position];
        p.occupied = true;
        p.bypass = settings.bypass[position] ? 1 : 0;
        std::snprintf(p.path, sizeof p.path, "%s", slot->path);
        const PluginIdentity& identity = slot->plugin->identity();
        std::snprintf(p.format, sizeof p.format, "%s", identity.format);
        std::snprintf(p.classId, sizeof p.classId, "%s", identity.classId);
        p.state = slot->state.data();
        p.stateSize = uint32_t(slot->state.size());
        p.ownProcess = slot->ownProcess;
    }
    return true;
}

bool formatsLoadable(const PerformanceImage& image, char* detail, size_t detailSize) {
    for (int position = 0; position < kPositions; ++position) {
        const PerformancePosition& p = image.positions[position];
        if (!p.occupied || g_effectHost->backendLabelled(p.format))
            continue;
        char format[512] = "";
        if (!loadStringText(kStrPerformanceFormatMissing, format, sizeof format) || !detail || !detailSize)
            return false;
        // The entry's own conversions take the position and the label; the label was
        // read from the file and is passed as an argument, never as a format.
        std::snprintf(detail, detailSize, format, position + 1, p.format, p.format);
        return false;
    }
    return true;
}

void showFailure(int stringId, const char* detail) { showErrorWithDetail(stringId, detail); }

// One line per position whose plug-in had failed and was saved with its kept state.
void sayWhichStatesWereKept(char* detail, size_t detailSize) {
    if (!detail || !detailSize)
        return;
    const uint32_t now = uint32_t(GetTickCount());
    for (int position = 0; position < kPositions; ++position) {
        const EffectSlot* slot = g_liveSettings->slots[position];
        if (!slot || !slot->stateFromKept)
            continue;
        char how[160] = "";
        slot->plugin->failed(how, sizeof how);
        char line[400];
        std::snprintf(line, sizeof line, "Position %d, %s %s Its state as kept %lu s before was saved.", position + 1,
                      slot->plugin->identity().name, how, static_cast<unsigned long>((now - slot->keptAtTick) / 1000));
        appendLine(detail, detailSize, line);
    }
}

}  // namespace

FileOutcome openPerformanceFile(HWND owner, const char* path, char* detail, size_t detailSize) {
    FileBytes bytes;
    if (!readWholeFile(path, bytes, detail, detailSize))
        return FileOutcome::Failed;
    PerformanceImage image;
    const PerformanceParse parsed = parsePerformance(bytes.data, bytes.size, image);
    if (parsed != PerformanceParse::Ok) {
        say(detail, detailSize, "%s", describePerformanceParse(parsed));
        return FileOutcome::Failed;
    }
    // A position of a format this build cannot load refuses the whole file: loading
    // the rest would lose that position when the performance is saved again.
    if (!formatsLoadable(image, detail, detailSize))
        return FileOutcome::Failed;
    // Loaded and given their states while the running performance goes on.
    EffectSlot* incoming[kPositions] = {};
    char missing[2048] = "";
    for (int position = 0; position < kPositions; ++position) {
        const PerformancePosition& p = image.positions[position];
        if (!p.occupied)
            continue;
        // Not kept in its own process, the host still gives one to a plug-in that failed before.
        EffectSlot* slot = g_effectHost->loadPluginClass(p.path, p.format, p.classId,
                                                         p.ownProcess ? ProcessChoice::OwnProcess
                                                                      : ProcessChoice::Default);
        if (!slot) {
            appendLine(missing, sizeof missing, p.path);
            continue;
        }
        g_effectHost->restoreState(slot, p.state, p.stateSize);
        g_effectHost->setSlotActive(slot, p.bypass == 0);
        incoming[position] = slot;
    }
    bool openAccompaniment = image.accompaniment[0] != '\0';
    if (openAccompaniment && !fileExists(image.accompaniment)) {
        appendLine(missing, sizeof missing, image.accompaniment);
        openAccompaniment = false;
    }
    if (missing[0] && !goOnWithout(owner, missing)) {
        unloadEach(incoming);
        return FileOutcome::Cancelled;
    }
    exchangePerformance(image, incoming, openAccompaniment);
    takePerformanceBindings(image.bindings, image.bindingsSize);
    if (g_waveDeck->isAccompanimentOpen())
        std::snprintf(g_shell.accompFile, sizeof g_shell.accompFile, "%s", image.accompaniment);
    return FileOutcome::Done;
}

FileOutcome savePerformanceFile(const char* path, char* detail, size_t detailSize) {
    PerformanceImage image;
    if (!captureImage(image, detail, detailSize)) {
        releaseStates();
        return FileOutcome::Failed;
    }
    if (detail && detailSize)
        detail[0] = '\0';
    std::vector<char> bindings;
    if (performanceBindingsText(bindings) && !bindings.empty()) {
        image.bindings = bindings.data();
        image.bindingsSize = uint32_t(bindings.size());
    }
    FileBytes bytes;
    bytes.size = performanceFileSize(image);
    bytes.data = bytes.size ? static_cast<uint8_t*>(std::malloc(bytes.size)) : nullptr;
    const bool made = bytes.data && writePerformance(image, bytes.data, bytes.size);
    releaseStates();
    if (!made) {
        say(detail, detailSize, "%s", "The performance could not be put together (not enough memory).");
        return FileOutcome::Failed;
    }
    if (!replaceFileContents(path, bytes.data, bytes.size, detail, detailSize))
        return FileOutcome::Failed;
    sayWhichStatesWereKept(detail, detailSize);
    return FileOutcome::Done;
}

void openPerformanceCommand(HWND frame) {
    char path[LiveSettings::kNameSize];
    if (!choosePerformancePath(frame, false, path))
        return;
    char detail[600] = "";
    const FileOutcome outcome = openPerformanceFile(frame, path, detail, sizeof detail);
    if (outcome == FileOutcome::Failed) {
        showFailure(kStrLoadPerformanceFailed, detail);
        return;
    }
    if (outcome == FileOutcome::Cancelled)
        return;
    nameThePerformance(frame, path);
    showAccompanimentWindows(frame);
    if (HWND panel = fxManagerPanel())
        refreshFxManagerPanel(panel);
}

bool savePerformanceCommand(HWND frame, bool askName) {
    char path[LiveSettings::kNameSize];
    if (askName || !g_liveSettings->performanceName[0]) {
        if (!choosePerformancePath(frame, true, path))
            return false;
    } else {
        std::snprintf(path, sizeof path, "%s", g_liveSettings->performanceName);
    }
    char detail[600] = "";
    if (savePerformanceFile(path, detail, sizeof detail) != FileOutcome::Done) {
        showFailure(kStrSavePerformanceFailed, detail);
        return false;
    }
    nameThePerformance(frame, path);
    if (detail[0])
        showErrorWithDetail(-kStrSavedWithKeptState, detail);
    return true;
}

void showPerformanceOnStage(HWND frame, const char* name) {
    if (g_waveDeck->isAccompanimentOpen())
        std::snprintf(g_shell.accompFile, sizeof g_shell.accompFile, "%s", g_waveDeck->accompaniment().path);
    nameThePerformance(frame, name);
    showAccompanimentWindows(frame);
    if (HWND panel = fxManagerPanel())
        refreshFxManagerPanel(panel);
}

FileOutcome openPerformanceNamed(HWND frame, const char* loadPath, const char* name, char* detail, size_t detailSize) {
    const FileOutcome outcome = openPerformanceFile(frame, loadPath, detail, detailSize);
    if (outcome != FileOutcome::Done)
        return outcome;
    nameThePerformance(frame, name);
    showAccompanimentWindows(frame);
    if (HWND panel = fxManagerPanel())
        refreshFxManagerPanel(panel);
    return outcome;
}

bool performanceFileUsable(const char* path, char* detail, size_t detailSize) {
    FileBytes bytes;
    if (!readWholeFile(path, bytes, detail, detailSize))
        return false;
    PerformanceImage image;
    const PerformanceParse parsed = parsePerformance(bytes.data, bytes.size, image);
    if (parsed != PerformanceParse::Ok) {
        say(detail, detailSize, "%s", describePerformanceParse(parsed));
        return false;
    }
    return formatsLoadable(image, detail, detailSize);
}

void openCommandLinePerformance(HWND frame, const char* path) {
    char detail[600] = "";
    const FileOutcome outcome = openPerformanceFile(errorBoxOwner(), path, detail, sizeof detail);
    if (outcome == FileOutcome::Failed)
        showFailure(kStrLoadPerformanceFailed, detail);
    if (outcome != FileOutcome::Done)
        return;
    std::snprintf(g_liveSettings->performanceName, sizeof g_liveSettings->performanceName, "%s", path);
    std::snprintf(g_shell.perfFile, sizeof g_shell.perfFile, "%s", path);
    showAccompanimentWindows(frame);
}
