#include "EditorSize.h"

namespace {

// An editor rectangle's sides are 16-bit: no plug-in can mean more.
int editorExtent(int pixels) {
    return pixels < 0 ? 0 : (pixels > 32767 ? 32767 : pixels);
}

}  // namespace

SIZE frameSizeForClient(HWND frame, int clientWidth, int clientHeight) {
    const DWORD style = DWORD(GetWindowLongPtrA(frame, GWL_STYLE));
    const DWORD exStyle = DWORD(GetWindowLongPtrA(frame, GWL_EXSTYLE));
    const BOOL hasMenu = !(style & WS_CHILD) && GetMenu(frame) != nullptr;
    RECT rect{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, style, hasMenu, exStyle);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void resizeEditor(void* frame, void* view, int width, int height) {
    if (!frame)
        return;
    width = editorExtent(width);
    height = editorExtent(height);
    if (view)
        SetWindowPos(static_cast<HWND>(view), nullptr, kEditorViewLeft, 0, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    const SIZE outer = frameSizeForClient(static_cast<HWND>(frame), kEditorViewLeft + width, height);
    SetWindowPos(static_cast<HWND>(frame), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
