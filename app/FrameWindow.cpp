#include "FrameWindow.h"

#include "CpuDisplay.h"
#include "EditorWindow.h"
#include "LiveEngine.h"
#include "MessageBoxes.h"
#include "Performance.h"
#include "SettingsStore.h"
#include "SetlistSession.h"
#include "ShellState.h"

namespace {

// Keeps the MDI client just below the toolbar strip (the default frame processing
// may put it at the top of the client area).
void keepClientBelowToolbar() {
    HWND client = g_windows.mdiClient;
    if (!client)
        return;
    RECT rect;
    GetWindowRect(client, &rect);
    POINT corner{rect.left, rect.top};
    ScreenToClient(GetParent(client), &corner);
    if (corner.x != 0 || corner.y != kToolbarStripHeight)
        SetWindowPos(client, nullptr, 0, kToolbarStripHeight, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT defaultFrameProcessing(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    keepClientBelowToolbar();
    return DefFrameProcA(frame, g_windows.mdiClient, message, wParam, lParam);
}

void layOut(int width, int height) {
    if (g_windows.toolbar)
        MoveWindow(g_windows.toolbar, 0, 0, width, kToolbarStripHeight, TRUE);
    if (g_windows.mdiClient) {
        const int clientHeight = height > kMdiClientHeightLoss ? height - kMdiClientHeightLoss : 0;
        MoveWindow(g_windows.mdiClient, 0, kToolbarStripHeight, width, clientHeight, TRUE);
    }
}

void paintFrame(HWND frame) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(frame, &paint);
    RECT client;
    GetClientRect(frame, &client);
    paintCpuUsage(dc, client.bottom - kCpuStripHeight, g_liveEngine ? g_liveEngine->cpuLoad() : 0);
    EndPaint(frame, &paint);
}

// Live input must be stopped before any window or object goes, so that no driver
// callback runs into something being destroyed.
void stopLiveInputForExit() {
    if (g_liveEngine)
        g_liveEngine->stopLiveInput();
}

}  // namespace

void limitSizingRect(WPARAM edge, RECT* rect) {
    if (rect->right - rect->left < kMinimumFrameSize) {
        if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT)
            rect->left = rect->right - kMinimumFrameSize;
        else
            rect->right = rect->left + kMinimumFrameSize;
    }
    if (rect->bottom - rect->top < kMinimumFrameSize) {
        if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT)
            rect->top = rect->bottom - kMinimumFrameSize;
        else
            rect->bottom = rect->top + kMinimumFrameSize;
    }
}

LRESULT CALLBACK frameWindowProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == postedMessageBoxMessage() && message != 0) {
        showPostedMessageBox(lParam);
        return 0;
    }
    switch (message) {
    case WM_MOVE:
        if (g_shell.recordPlaces && !IsIconic(frame)) {
            g_shell.framePosition.x = short(LOWORD(lParam));
            g_shell.framePosition.y = short(HIWORD(lParam));
        }
        return 0;
    case WM_SIZE:
        // A minimised frame reports a size of nothing; the size it had stays saved.
        if (wParam != SIZE_MINIMIZED) {
            if (g_shell.recordPlaces) {
                g_shell.frameSize.x = LOWORD(lParam);
                g_shell.frameSize.y = HIWORD(lParam);
            }
            layOut(LOWORD(lParam), HIWORD(lParam));
        }
        return 0;
    case WM_SIZING:
        limitSizingRect(wParam, reinterpret_cast<RECT*>(lParam));
        return TRUE;
    case WM_PAINT:
        paintFrame(frame);
        return 0;
    case WM_TIMER:
        if (wParam == kFrameTimerId) {
            timerTick(frame);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (!askToSaveChangedSetlist(frame) || !newPerformance(frame))
            return 0;
        stopLiveInputForExit();
        recordToolWindowPlaces();
        KillTimer(frame, kFrameTimerId);
        Sleep(100);
        break;
    case WM_DESTROY:
        stopLiveInputForExit();
        saveSettings(frame);
        KillTimer(frame, kFrameTimerId);
        Sleep(100);
        PostQuitMessage(0);
        return 0;
    case WM_NCACTIVATE:
        // Another program's window coming up leaves ours grey, unless it is the editor
        // of a plug-in in a process of its own, which the user works in as in ours.
        if (!wParam && pluginEditorInFront())
            wParam = TRUE;
        break;
    case WM_COMMAND:
        if (runFrameCommand(frame, LOWORD(wParam)))
            return 0;
        break;
    default:
        break;
    }
    return defaultFrameProcessing(frame, message, wParam, lParam);
}
