#include "NavigationBar.h"

#include "ShellState.h"

LRESULT CALLBACK navigationBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_MOVE && g_shell.recordPlaces) {
        g_shell.navigationBarPosition.x = short(LOWORD(lParam));
        g_shell.navigationBarPosition.y = short(HIWORD(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
