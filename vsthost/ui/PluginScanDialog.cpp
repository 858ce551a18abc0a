#include "PluginScanDialog.h"

#include <atomic>
#include <cstdio>

#include "EffectIds.h"
#include "MessageBoxes.h"
#include "PluginScan.h"
#include "StringIds.h"

namespace {

struct ScanRun {
    PluginScan* scan;
    HWND dialog;
    HANDLE thread;
    // Asked for by the user: the dialog stays to show what was found. At start-up it
    // stays only long enough to be seen, so the program's window is not held back.
    bool showsResult;
    // At start-up the dialog is shown only when the scan is still going after
    // kStartUpQuietMs: a scan of a few folders ends long before, and a dialog that
    // flashes at every start tells the player nothing.
    std::atomic<bool> mayShow;
};

constexpr DWORD kStartUpQuietMs = 250;
constexpr UINT_PTR kShowTimer = 1;

// Waits up to ms milliseconds of real time, or until the user closes the dialog. Sleep
// is not counted: under Wine a Sleep(50) may last more than twice that.
void waitUnlessClosed(const PluginScan& scan, DWORD ms) {
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < ms && scan.scanContinue.load(); waited = GetTickCount() - start)
        Sleep(ms - waited < 50 ? ms - waited : 50);
}

DWORD WINAPI scanThread(void* argument) {
    ScanRun& run = *static_cast<ScanRun*>(argument);
    if (run.showsResult)
        waitUnlessClosed(*run.scan, 100);
    EnableWindow(GetDlgItem(run.dialog, IDCANCEL), TRUE);
    if (rescanPlugins(*run.scan)) {
        EnableWindow(GetDlgItem(run.dialog, IDCANCEL), FALSE);
        char finished[160];
        std::snprintf(finished, sizeof finished,
                      "Scanning plugins has been finished succesfully.\n%d plugins have been found",
                      int(run.scan->count));
        if (run.scan->scanContinue.load())
            SetWindowTextA(run.scan->statusText, finished);
        // Time to read the count, unless the user has already closed the dialog or
        // never saw it.
        if (IsWindowVisible(run.dialog))
            waitUnlessClosed(*run.scan, run.showsResult ? 1300 : 300);
    } else {
        showError(kStrScanFailed);
    }
    PostMessageA(run.dialog, WM_CLOSE, 0, 0);
    return 1;
}

INT_PTR CALLBACK scanDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* run = reinterpret_cast<ScanRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        run = reinterpret_cast<ScanRun*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        run->dialog = dialog;
        run->scan->statusText = GetDlgItem(dialog, IDC_SCAN_STATUS);
        if (!run->mayShow.load())
            SetTimer(dialog, kShowTimer, kStartUpQuietMs, nullptr);
        run->thread = CreateThread(nullptr, 0, scanThread, run, 0, nullptr);
        if (!run->thread) {
            showError(kStrScanFailed);
            EndDialog(dialog, 0);
        }
        return TRUE;
    case WM_TIMER:
        if (wParam != kShowTimer)
            return FALSE;
        KillTimer(dialog, kShowTimer);
        run->mayShow = true;
        ShowWindow(dialog, SW_SHOWNORMAL);
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        // The dialog box's own showing is held back until the quiet time is over.
        if (run && !run->mayShow.load())
            reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~UINT(SWP_SHOWWINDOW);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDCANCEL && LOWORD(wParam) != IDOK)
            return FALSE;
        [[fallthrough]];
    case WM_CLOSE:
        // The walk stops before its next entry; the thread is joined once the
        // dialog has gone.
        run->scan->scanContinue = 0;
        EndDialog(dialog, 1);
        return TRUE;
    default:
        return FALSE;
    }
}

// Waits for the thread while still answering messages sent to this thread, so a
// status update under way when the dialog closed cannot hold both threads.
void join(HANDLE thread) {
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

void runPluginScanDialog(HINSTANCE instance, HWND owner, int templateId, PluginScan& scan) {
    const bool atStartUp = templateId == IDD_SCAN_AT_START;
    ScanRun run{&scan, nullptr, nullptr, !atStartUp, !atStartUp};
    scan.scanContinue = 1;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, scanDialogProc, reinterpret_cast<LPARAM>(&run));
    scan.statusText = nullptr;
    if (run.thread) {
        join(run.thread);
        CloseHandle(run.thread);
    }
}
