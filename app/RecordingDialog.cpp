#include "RecordingDialog.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <commdlg.h>

#include "DeckDisplay.h"
#include "DialogPlacement.h"
#include "LiveEngine.h"
#include "MessageBoxes.h"
#include "RecordingIds.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "StringIds.h"
#include "VuMeter.h"
#include "WaveDeck.h"

namespace {

char (&g_recordingPath)[ShellValues::kPathSize] = g_shell.recordFile;
HWND g_dialog = nullptr;
// Set by a binding's Record: the dialog it opens starts the take at once.
bool g_startOnOpen = false;

void enable(int id, bool enabled) { EnableWindow(GetDlgItem(g_dialog, id), enabled ? TRUE : FALSE); }

// A take in memory reaches the disk only when it is stored: RAM recording is there for
// disks too slow or busy to take a take as it is played, so it is not also written out
// in the background. The player is told while choosing it.
void showRamNote(bool shown) { ShowWindow(GetDlgItem(g_dialog, IDC_RECORD_RAM_NOTE), shown ? SW_SHOWNA : SW_HIDE); }

void showPath() { SetDlgItemTextA(g_dialog, IDC_RECORD_PATH, g_recordingPath[0] ? g_recordingPath : "<no file>"); }

void showMaximumTime() {
    char text[32];
    std::snprintf(text, sizeof text, "%d sec", int(g_waveDeck->maximumRecordingTime));
    SetDlgItemTextA(g_dialog, IDC_RECORD_MAX_TIME, text);
}

void resetCounters() {
    SetDlgItemTextA(g_dialog, IDC_RECORD_TIME, "0 min, 0 sec");
    SetDlgItemTextA(g_dialog, IDC_RECORD_SPACE, "0 Mb");
}

// The save-file dialog on a path buffer of kPathSize bytes; true when a name was chosen.
bool chooseTakeFile(HWND owner, char* path, size_t pathSize) {
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "Microsoft Wave (*.wav)\0*.wav\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = path;
    dialog.nMaxFile = DWORD(pathSize);
    dialog.lpstrTitle = "Record to File";
    dialog.lpstrDefExt = "wav";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    return GetSaveFileNameA(&dialog) != 0;
}

bool chooseFile() {
    if (!chooseTakeFile(g_dialog, g_recordingPath, sizeof g_recordingPath))
        return false;
    showPath();
    return true;
}

// A RAM take that could not be stored is offered to another file: the same
// save-file dialog, owned by the recording dialog when it is open.
class RetryWithAnotherFile : public RamStoreRetry {
public:
    bool anotherName(char* path, size_t pathSize) override {
        if (!chooseTakeFile(g_dialog ? g_dialog : errorBoxOwner(), path, pathSize))
            return false;
        std::snprintf(g_recordingPath, sizeof g_recordingPath, "%s", path);
        if (g_dialog)
            showPath();
        return true;
    }
};
RetryWithAnotherFile g_retry;

void stopLiveInputAndMeters() {
    g_liveEngine->stopLiveInput();
    hideMeters();
}

void showIdleControls() {
    SetDlgItemTextA(g_dialog, IDC_RECORD_START, "Start Recording");
    const bool accompaniment = g_waveDeck->isAccompanimentOpen();
    enable(IDC_RECORD_PATH, true);
    enable(IDC_RECORD_BROWSE, true);
    enable(IDC_RECORD_PLAYING_ONLY, accompaniment);
    enable(IDC_RECORD_START_ACCOMPANIMENT, accompaniment);
    enable(IDC_RECORD_FORMAT, true);
    enable(IDC_RECORD_TO_RAM, true);
    enable(IDC_RECORD_MAX_TIME, g_waveDeck->ramMode);
    enable(IDC_RECORD_MAX_TIME_LABEL, g_waveDeck->ramMode);
    showRamNote(g_waveDeck->ramMode);
}

void stopRoutine() {
    stopLiveInputAndMeters();
    g_waveDeck->stopRecording();
    showIdleControls();
    resetCounters();
}

void startRoutine() {
    if (!g_recordingPath[0] && !chooseFile())
        return;
    if (g_liveEngine->currentDriver() < 0)
        return;
    stopLiveInputAndMeters();
    g_waveDeck->ramStoreRetry = &g_retry;
    if (!g_waveDeck->startRecording(g_recordingPath)) {
        showError(kStrErrorOccured);
        return;
    }
    SetDlgItemTextA(g_dialog, IDC_RECORD_START, "Stop Recording");
    for (int id : {IDC_RECORD_PATH, IDC_RECORD_BROWSE, IDC_RECORD_PLAYING_ONLY, IDC_RECORD_START_ACCOMPANIMENT,
                   IDC_RECORD_FORMAT, IDC_RECORD_MAX_TIME, IDC_RECORD_MAX_TIME_LABEL, IDC_RECORD_TO_RAM})
        enable(id, false);
    if (g_liveEngine->startLiveInput()) {
        showMeters();
        return;
    }
    showError(kStrStartLiveInputFailed);
    // Nothing was recorded: the recorder leaves no file, and the dialog goes idle.
    stopRoutine();
}

void fillFormats() {
    HWND list = GetDlgItem(g_dialog, IDC_RECORD_FORMAT);
    const RecordingFormatTable& table = g_waveDeck->formats;
    for (int32_t i = 0; i < table.count; ++i) {
        const FormatRecord& entry = table.entries[i];
        char text[64];
        std::snprintf(text, sizeof text, "%u smp/sec, %u Bits, %s", unsigned(entry.samplesPerSec),
                      unsigned(entry.bitsPerSample), entry.channels == 1 ? "Mono" : "Stereo");
        const LRESULT item = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        if (item >= 0)
            SendMessageA(list, CB_SETITEMDATA, WPARAM(item), LPARAM(i));
    }
    SendMessageA(list, CB_SETCURSEL, WPARAM(g_waveDeck->formatIndex), 0);
}

bool initialise(HWND dialog) {
    g_dialog = dialog;
    centreOnOwner(dialog);
    if (g_liveEngine->currentDriver() < 0) {
        showError(-kStrOpenDeviceBeforeRecording);
        return false;
    }
    stopLiveInputAndMeters();
    showPath();
    if (g_waveDeck->isAccompanimentOpen()) {
        enable(IDC_RECORD_START_ACCOMPANIMENT, true);
        enable(IDC_RECORD_PLAYING_ONLY, true);
        CheckDlgButton(dialog, IDC_RECORD_START_ACCOMPANIMENT, g_waveDeck->startAccompaniment ? BST_CHECKED : 0);
        CheckDlgButton(dialog, IDC_RECORD_PLAYING_ONLY, g_waveDeck->playingOnly ? BST_CHECKED : 0);
    }
    if (g_waveDeck->ramMode) {
        enable(IDC_RECORD_MAX_TIME, true);
        enable(IDC_RECORD_MAX_TIME_LABEL, true);
        showRamNote(true);
        CheckDlgButton(dialog, IDC_RECORD_TO_RAM, BST_CHECKED);
        showMaximumTime();
    }
    fillFormats();
    return true;
}

void endDialog(INT_PTR result) {
    HWND dialog = g_dialog;
    g_dialog = nullptr;
    EndDialog(dialog, result);
}

void command(int id, int notification) {
    const bool checked = id >= IDC_RECORD_START_ACCOMPANIMENT && id <= IDC_RECORD_TO_RAM &&
                         IsDlgButtonChecked(g_dialog, id) == BST_CHECKED;
    switch (id) {
    case IDC_RECORD_BROWSE:
        chooseFile();
        break;
    case IDC_RECORD_START:
        if (g_waveDeck->isRecording())
            stopRoutine();
        else
            startRoutine();
        break;
    case IDC_RECORD_START_ACCOMPANIMENT:
        g_waveDeck->startAccompaniment = checked;
        break;
    case IDC_RECORD_PLAYING_ONLY:
        g_waveDeck->playingOnly = checked;
        break;
    case IDC_RECORD_TO_RAM:
        g_waveDeck->ramMode = checked;
        enable(IDC_RECORD_MAX_TIME, checked);
        enable(IDC_RECORD_MAX_TIME_LABEL, checked);
        showRamNote(checked);
        if (checked)
            showMaximumTime();
        break;
    case IDC_RECORD_FORMAT:
        if (notification == CBN_SELCHANGE) {
            LRESULT selection = SendDlgItemMessageA(g_dialog, IDC_RECORD_FORMAT, CB_GETCURSEL, 0, 0);
            if (selection < 0)
                selection = 0;
            if (selection > g_waveDeck->formats.count - 1)
                selection = g_waveDeck->formats.count - 1;
            g_waveDeck->formatIndex = int8_t(selection);
        }
        break;
    case IDC_RECORD_MAX_TIME:
        if (notification == EN_KILLFOCUS) {
            char text[32] = "";
            GetDlgItemTextA(g_dialog, IDC_RECORD_MAX_TIME, text, sizeof text);
            g_waveDeck->maximumRecordingTime = parseMaximumRecordingTime(text);
            showMaximumTime();
        }
        break;
    case IDC_RECORD_DONE:
    case IDCANCEL:
        stopRoutine();
        endDialog(id);
        break;
    default:
        break;
    }
}

INT_PTR CALLBACK recordingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        if (!initialise(dialog)) {
            endDialog(IDCANCEL);
        } else if (g_startOnOpen) {
            // Asked for by a binding: the take starts as if Start were pressed.
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD_START, BN_CLICKED), 0);
        }
        g_startOnOpen = false;
        return TRUE;
    case WM_COMMAND:
        if (g_dialog == dialog)
            command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        if (g_dialog == dialog)
            command(IDCANCEL, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// Free bytes under the take's folder; -1 when the system cannot tell.
int64_t freeDiskBytes(const char* path) {
    char folder[ShellValues::kPathSize];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '\\');
    if (slash)
        slash[1] = '\0';
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(slash ? folder : nullptr, &available, nullptr, nullptr))
        return -1;
    return available.QuadPart > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(available.QuadPart);
}

}  // namespace

void runRecordingDialog(HWND frame) {
    const HINSTANCE instance = g_windows.instance;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_RECORDING), frame, recordingDialogProc, 0);
    g_dialog = nullptr;
}

bool recordingDialogIsOpen() { return g_dialog != nullptr; }

void toggleTakeFromBinding(HWND frame) {
    if (g_dialog) {
        PostMessageA(g_dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD_START, BN_CLICKED), 0);
        return;
    }
    // The dialog is modal: it is opened from the frame's queue, not inside the caller.
    g_startOnOpen = true;
    if (!PostMessageA(frame, WM_COMMAND, IDC_CMD_RECORD, 0))
        g_startOnOpen = false;
}
HWND recordingDialogWindow() { return g_dialog; }
const char* recordingPath() { return g_recordingPath; }
void setRecordingPath(const char* path) { std::snprintf(g_recordingPath, sizeof g_recordingPath, "%s", path); }

void stopTakeFromDialog() {
    if (g_dialog && g_waveDeck->isRecording())
        stopRoutine();
}

void updateRecordingCounters() {
    if (!g_dialog || !g_waveDeck->isRecording())
        return;
    if (g_waveDeck->isRamTakeFull()) {
        stopRoutine();
        return;
    }
    const WaveFileState& take = g_waveDeck->recording();
    const uint32_t bytesPerSecond = uint32_t(take.format.blockAlign) * take.format.samplesPerSec;
    const bool ram = g_waveDeck->isTakeInRam();
    const TakeCounters left = takeCountersLeft(ram, take.readPosition, ram ? take.dataBytes : 0,
                                               ram ? 0 : freeDiskBytes(take.path), bytesPerSecond);
    char text[64];
    std::snprintf(text, sizeof text, "%u min, %u sec ", unsigned(left.seconds / 60), unsigned(left.seconds % 60));
    SetDlgItemTextA(g_dialog, IDC_RECORD_TIME, text);
    std::snprintf(text, sizeof text, "%.1f Mbytes", left.megabytes);
    SetDlgItemTextA(g_dialog, IDC_RECORD_SPACE, text);
}
