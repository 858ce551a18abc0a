#include <cstdio>
#include <cstring>

#include "WinInclude.h"
#include <shlobj.h>

#include "AudioSettingsDialog.h"
#include "MidiIds.h"
#include "MidiBindingsDialog.h"
#include "MidiSettingsDialog.h"
#include "DialogPlacement.h"
#include "FrameWindow.h"
#include "FxManagerWindow.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "NavigationBar.h"
#include "RecordingDialog.h"
#include "Performance.h"
#include "PerformanceFiles.h"
#include "PluginCommands.h"
#include "ResourceIds.h"
#include "SettingsStore.h"
#include "SetlistSession.h"
#include "SetlistWindow.h"
#include "ShellState.h"
#include "StringIds.h"
#include "TapTempoKey.h"
#include "TunerWindow.h"
#include "VuMeter.h"
#include "WaveDeck.h"

namespace {

void liveInputCommand(HWND frame) {
    LiveEngine& engine = *g_liveEngine;
    if (engine.running()) {
        engine.stopLiveInput();
    } else if (engine.currentDriver() < 0) {
        showError(-kStrOpenDeviceFirst);
        runAudioSettingsDialog(frame);
    } else if (!engine.startLiveInput()) {
        showError(kStrStartLiveInputFailed);
    }
    if (engine.running())
        showMeters();
    else
        hideMeters();
}

void repaintNavigationBar() {
    if (g_windows.navigationBar)
        InvalidateRect(g_windows.navigationBar, nullptr, TRUE);
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        centreOnOwner(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// "Set VST Directory": a folder the program can list becomes the VST directory,
// saved with the other settings at exit.
void chooseVstDirectory(HWND frame) {
    BROWSEINFOA browse{};
    browse.hwndOwner = frame;
    browse.lpszTitle = "Change VST Directory";
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (!chosen)
        return;
    char path[MAX_PATH + 2] = "";
    const bool named = SHGetPathFromIDListA(chosen, path) && path[0];
    CoTaskMemFree(chosen);
    if (!named)
        return;
    const size_t length = std::strlen(path);
    if (path[length - 1] != '\\') {
        if (length + 1 >= sizeof g_shell.vstDir) {
            showError(kStrBadDirectory);
            return;
        }
        path[length] = '\\';
        path[length + 1] = '\0';
    }
    char pattern[MAX_PATH + 4];
    std::snprintf(pattern, sizeof pattern, "%s*", path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        showError(kStrBadDirectory);
        return;
    }
    FindClose(search);
    std::snprintf(g_shell.vstDir, sizeof g_shell.vstDir, "%s", path);
    if (showMessageBox(frame,
                       "Do you wish to update the plugins list right now?\nIf no, you should do it later if you're "
                       "going to use new plugins",
                       "Update Plugins List", MB_YESNO | MB_ICONQUESTION) == IDYES)
        refreshPluginList(frame);
}

void closeAllChildren() {
    HWND client = g_windows.mdiClient;
    for (;;) {
        HWND active = reinterpret_cast<HWND>(SendMessageA(client, WM_MDIGETACTIVE, 0, 0));
        if (!active)
            return;
        SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(active), 0);
    }
}

}  // namespace

bool runFrameCommand(HWND frame, int command) {
    HWND client = g_windows.mdiClient;
    switch (command) {
    case IDC_CMD_NEW_PERFORMANCE:
        newPerformance(frame);
        return false;
    case IDC_CMD_OPEN_PERFORMANCE:
        openPerformanceCommand(frame);
        return false;
    case IDC_CMD_SAVE_PERFORMANCE:
        savePerformanceCommand(frame, false);
        return false;
    case IDC_CMD_SAVE_PERFORMANCE_AS:
        savePerformanceCommand(frame, true);
        return false;
    case IDC_CMD_OPEN_ACCOMPANIMENT:
        openAccompanimentCommand(frame);
        return true;
    case IDC_CMD_CLOSE_ACCOMPANIMENT:
        closeAccompanimentCommand(frame);
        return true;
    case IDC_CMD_EXIT:
        recordToolWindowPlaces();
        DestroyWindow(frame);
        return true;
    case IDC_CMD_LIVE_INPUT:
        liveInputCommand(frame);
        return true;
    case IDC_CMD_METRONOME:
        g_liveSettings->metronome = g_liveSettings->metronome ? 0 : 1;
        return false;
    case IDC_CMD_PLAY:
        g_waveDeck->play();
        repaintNavigationBar();
        return true;
    case IDC_CMD_PAUSE:
        g_waveDeck->pause();
        repaintNavigationBar();
        return true;
    case IDC_CMD_PLAY_OR_PAUSE:
        if (g_waveDeck->isPlaying())
            g_waveDeck->pause();
        else
            g_waveDeck->play();
        repaintNavigationBar();
        return true;
    case IDC_CMD_REWIND:
        g_waveDeck->rewind();
        repaintNavigationBar();
        return true;
    case IDC_CMD_RECORD:
        runRecordingDialog(frame);
        return true;
    case IDC_CMD_FX_MANAGER:
        showFxManager();
        return true;
    case IDC_CMD_TUNER:
        toggleTuner();
        return true;
    case IDC_CMD_SHOW_SETLIST:
        showSetlistWindow();
        return true;
    case IDC_CMD_NEXT_IN_SETLIST:
    case IDC_CMD_PREVIOUS_IN_SETLIST:
        stepSetlist(frame, command == IDC_CMD_NEXT_IN_SETLIST ? 1 : -1);
        return true;
    case IDC_CMD_NEW_SETLIST:
        newSetlist(frame);
        return true;
    case IDC_CMD_OPEN_SETLIST:
        if (openSetlistCommand(frame))
            showSetlistWindow();
        return true;
    case IDC_CMD_SAVE_SETLIST:
    case IDC_CMD_SAVE_SETLIST_AS:
        saveSetlistCommand(frame, command == IDC_CMD_SAVE_SETLIST_AS);
        return true;
    case IDC_CMD_TAP_TEMPO:
        tapTempoAt(DWORD(GetMessageTime()));
        return true;
    case IDC_CMD_AUDIO_SETTINGS:
        runAudioSettingsDialog(frame);
        return true;
    case IDC_CMD_MIDI_SETTINGS:
        runMidiSettingsDialog(frame);
        return true;
    case IDC_CMD_MIDI_BINDINGS:
        runMidiBindingsDialog(frame);
        return true;
    case IDC_CMD_CONTROL_PANEL:
        if (!g_liveEngine->openControlPanel())
            showError(kStrControlPanelFailed);
        return true;
    case IDC_CMD_SET_VST_DIRECTORY:
        chooseVstDirectory(frame);
        return true;
    case IDC_CMD_REFRESH_PLUGINS:
        refreshPluginList(frame);
        return true;
    case IDC_CMD_CLOSE_CHILD: {
        HWND active = reinterpret_cast<HWND>(SendMessageA(client, WM_MDIGETACTIVE, 0, 0));
        if (active)
            SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(active), 0);
        return true;
    }
    case IDC_CMD_CLOSE_ALL:
        closeAllChildren();
        return true;
    case IDC_CMD_NEXT_CHILD:
        SendMessageA(client, WM_MDINEXT, 0, FALSE);
        return true;
    case IDC_CMD_PREVIOUS_CHILD:
        SendMessageA(client, WM_MDINEXT, 0, TRUE);
        return true;
    case IDC_CMD_CASCADE:
        SendMessageA(client, WM_MDICASCADE, 0, 0);
        return true;
    case IDC_CMD_TILE_HORIZONTALLY:
        SendMessageA(client, WM_MDITILE, MDITILE_HORIZONTAL, 0);
        return true;
    case IDC_CMD_TILE_VERTICALLY:
        SendMessageA(client, WM_MDITILE, MDITILE_VERTICAL, 0);
        return true;
    case IDC_CMD_ABOUT:
        DialogBoxParamA(g_windows.instance, MAKEINTRESOURCEA(IDD_ABOUT), frame, aboutDialogProc, 0);
        return true;
    default:
        return false;
    }
}
