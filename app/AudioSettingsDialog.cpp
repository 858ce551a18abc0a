#include "AudioSettingsDialog.h"

#include <commctrl.h>
#include <cstdio>
#include <cstdlib>

#include "DialogPlacement.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "Metronome.h"
#include "MessageBoxes.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "StringIds.h"
#include "WaveDeck.h"

namespace {

const char kNoDevice[] = "<no device>";

void showTempo(HWND dialog) {
    char text[32];
    tempoToText(g_liveSettings->tempo, text, sizeof text);
    SetDlgItemTextA(dialog, IDC_AUDIO_TEMPO_TEXT, text);
}

void showTempoOnTrackbar(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_AUDIO_TEMPO_TRACKBAR, TBM_SETPOS, TRUE, trackbarFromTempo(g_liveSettings->tempo));
}

void showDiskBuffer(HWND dialog) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", int(g_waveDeck->diskBufferTime));
    SetDlgItemTextA(dialog, IDC_AUDIO_DISK_BUFFER, text);
}

void showDriverState(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDC_AUDIO_CONTROL_PANEL), g_liveEngine->currentDriver() >= 0);
    char info[512];
    g_liveEngine->describeDriver(info, sizeof info);
    SetDlgItemTextA(dialog, IDC_AUDIO_DRIVER_INFO, info);
}

void fillDeviceList(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_AUDIO_DEVICE_LIST);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNoDevice));
    for (int32_t index = 0; index < g_liveEngine->driverCount(); ++index) {
        const DriverEntry* entry = g_liveEngine->driverEntry(index);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry ? entry->description : ""));
    }
    SendMessageA(list, CB_SETCURSEL, WPARAM(g_liveEngine->currentDriver() + 1), 0);
}

void initialise(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_AUDIO_TEMPO_TRACKBAR, TBM_SETRANGE, TRUE, MAKELPARAM(0, 1000));
    showTempoOnTrackbar(dialog);
    showTempo(dialog);
    showDiskBuffer(dialog);
    fillDeviceList(dialog);
    showDriverState(dialog);
    CheckDlgButton(dialog, IDC_AUDIO_AUTO_SYNC, g_liveEngine->autoSync() ? BST_CHECKED : BST_UNCHECKED);
}

void readTempoField(HWND dialog) {
    char text[32] = "";
    GetDlgItemTextA(dialog, IDC_AUDIO_TEMPO_TEXT, text, sizeof text);
    g_liveSettings->tempo = tempoFromText(text);
    showTempo(dialog);
    showTempoOnTrackbar(dialog);
}

void readDiskBufferField(HWND dialog) {
    char text[32] = "";
    GetDlgItemTextA(dialog, IDC_AUDIO_DISK_BUFFER, text, sizeof text);
    g_waveDeck->diskBufferTime = limitDiskBufferField(std::strtol(text, nullptr, 10));
    showDiskBuffer(dialog);
}

// "<no device>" closes the driver (and so stops live input); any other entry opens
// that driver.
void deviceChosen(HWND dialog) {
    const LRESULT selected = SendDlgItemMessageA(dialog, IDC_AUDIO_DEVICE_LIST, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR)
        return;
    if (selected == 0) {
        g_liveEngine->closeDriver();
    } else if (!g_liveEngine->openDriver(int32_t(selected - 1))) {
        showError(kStrOpenDriverFailed);
    }
    showDriverState(dialog);
}

void trackbarMoved(HWND dialog) {
    const LRESULT position = SendDlgItemMessageA(dialog, IDC_AUDIO_TEMPO_TRACKBAR, TBM_GETPOS, 0, 0);
    g_liveSettings->tempo = tempoFromTrackbar(int32_t(position));
    showTempo(dialog);
}

bool command(HWND dialog, int id, int notification) {
    switch (id) {
    case IDC_AUDIO_AUTO_SYNC:
        if (notification == BN_CLICKED) {
            g_liveEngine->setAutoSync(!g_liveEngine->autoSync());
            CheckDlgButton(dialog, IDC_AUDIO_AUTO_SYNC, g_liveEngine->autoSync() ? BST_CHECKED : BST_UNCHECKED);
        }
        return true;
    case IDC_AUDIO_TEMPO_TEXT:
        if (notification == EN_KILLFOCUS)
            readTempoField(dialog);
        return true;
    case IDC_AUDIO_DISK_BUFFER:
        if (notification == EN_KILLFOCUS)
            readDiskBufferField(dialog);
        return true;
    case IDC_AUDIO_DEVICE_LIST:
        if (notification == CBN_SELCHANGE)
            deviceChosen(dialog);
        return true;
    case IDC_AUDIO_CONTROL_PANEL:
        if (notification == BN_CLICKED && !g_liveEngine->openControlPanel())
            showError(kStrControlPanelFailed);
        return true;
    case IDOK:
        // Enter ends the dialog without the field losing the focus first.
        readTempoField(dialog);
        readDiskBufferField(dialog);
        EndDialog(dialog, id);
        return true;
    case IDCANCEL:
        EndDialog(dialog, id);
        return true;
    default:
        return false;
    }
}

INT_PTR CALLBACK audioSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        centreOnOwner(dialog);
        initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        return command(dialog, LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_HSCROLL:
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IDC_AUDIO_TEMPO_TRACKBAR)) {
            trackbarMoved(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int limitDiskBufferField(long milliseconds) {
    return milliseconds > 1024 ? 1024 : (milliseconds < 1 ? 1 : int(milliseconds));
}

void runAudioSettingsDialog(HWND owner) {
    DialogBoxParamA(g_windows.instance, MAKEINTRESOURCEA(IDD_AUDIO_SETTINGS), owner, audioSettingsProc, 0);
}
