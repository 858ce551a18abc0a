#include "SetlistKeys.h"

#include "ResourceIds.h"
#include "SetlistSession.h"
#include "ShellState.h"

namespace {

bool keyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

bool inSetlistWindow(HWND window) {
    HWND setlist = g_windows.setlist;
    return setlist && (window == setlist || IsChild(setlist, window));
}

}  // namespace

int setlistKeyStep(const MSG& message) {
    if (message.message != WM_KEYDOWN || (message.lParam & (1 << 30)) || setlistEntryCount() == 0)
        return 0;
    if (keyDown(VK_CONTROL) || keyDown(VK_MENU) || keyDown(VK_SHIFT))
        return 0;
    // A window of the program's own thread holds the keyboard (GetActiveWindow is null
    // while another program's window is active).
    if (!GetActiveWindow())
        return 0;
    switch (message.wParam) {
    case VK_NEXT:
        return 1;
    case VK_PRIOR:
        return -1;
    case VK_DOWN:
    case VK_RIGHT:
    case VK_UP:
    case VK_LEFT:
        if (GetActiveWindow() != g_windows.setlist || !inSetlistWindow(message.hwnd) ||
            GetDlgCtrlID(message.hwnd) == IDC_SETLIST_TAIL)
            return 0;
        return message.wParam == VK_DOWN || message.wParam == VK_RIGHT ? 1 : -1;
    default:
        return 0;
    }
}
