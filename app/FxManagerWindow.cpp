#include "FxManagerWindow.h"

#include "EditorWindow.h"
#include "FxManagerPanel.h"
#include "MidiLearn.h"
#include "PluginSelectDialog.h"
#include "ShellState.h"

namespace {

int32_t selectPlugin(HWND owner) {
    return runPluginSelectDialog(g_windows.instance, owner, *g_effectHost);
}

bool openEditorOfPosition(int32_t position) {
    return openPositionEditor(*g_liveSettings, position);
}

FxManagerContext g_panelContext;
HWND g_panel = nullptr;

}  // namespace

LRESULT CALLBACK fxManagerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        g_panelContext = FxManagerContext{g_liveSettings, g_effectHost, g_windows.effectPopup, selectPlugin,
                                          openEditorOfPosition, showFxControlMidiMenu};
        g_panel = createFxManagerPanel(g_windows.instance, window, &g_panelContext);
        break;
    case WM_SIZE:
        if (g_panel && GetParent(g_panel) == window)
            SetWindowPos(g_panel, nullptr, 0, 0, LOWORD(lParam), HIWORD(lParam), SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    case WM_DESTROY:
        if (g_windows.fxManager == window)
            g_windows.fxManager = nullptr;
        g_panel = nullptr;
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

HWND fxManagerPanel() {
    return g_panel;
}
