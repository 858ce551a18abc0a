#include "FxManagerWindow.h"

#include "SharedResources.h"
#include "ShellState.h"

namespace {

// The panel's place inside the child until the FX Manager panel itself arrives: the
// child's client area, painted with the panel's background.
void paintEmptyPanel(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH panel = sharedResources().panelBrush;
    if (panel) {
        FillRect(dc, &client, panel);
    } else {
        HBRUSH dark = CreateSolidBrush(RGB(20, 20, 30));
        FillRect(dc, &client, dark);
        DeleteObject(dark);
    }
    EndPaint(window, &paint);
}

}  // namespace

LRESULT CALLBACK fxManagerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paintEmptyPanel(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_DESTROY:
        if (g_windows.fxManager == window)
            g_windows.fxManager = nullptr;
        break;
    case WM_MOVE: {
        // The position within the MDI client, where the next child is created.
        RECT rect;
        GetWindowRect(window, &rect);
        POINT corner{rect.left, rect.top};
        ScreenToClient(GetParent(window), &corner);
        g_shell.fxManagerPosition.x = corner.x;
        g_shell.fxManagerPosition.y = corner.y;
        break;
    }
    default:
        break;
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

void showFxManager() {
    if (g_windows.fxManager) {
        SendMessageA(g_windows.mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(g_windows.fxManager), 0);
        return;
    }
    g_windows.fxManager = CreateMDIWindowA(kFxManagerClassName, "FX Manager", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                           g_shell.fxManagerPosition.x, g_shell.fxManagerPosition.y, kFxManagerWidth,
                                           kFxManagerHeight, g_windows.mdiClient, g_windows.instance, 1);
}
