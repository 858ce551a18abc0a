#include "BridgeEditorPlacement.h"

#include <cstring>

#include "BridgeEditorMessages.h"

using namespace bridge;

namespace {

long area(const RECT& r) { return r.right > r.left && r.bottom > r.top ? (r.right - r.left) * (r.bottom - r.top) : 0; }

bool isBridgeEditor(HWND window) {
    char name[64];
    return GetClassNameA(window, name, sizeof name) && std::strcmp(name, kBridgeEditorClassName) == 0;
}

// True when window is above top with nothing between them but other bridged editors.
bool justAbove(HWND window, HWND top) {
    int steps = 0;
    for (HWND above = GetWindow(top, GW_HWNDPREV); above && steps < 64; above = GetWindow(above, GW_HWNDPREV), ++steps) {
        if (above == window)
            return true;
        if (!isBridgeEditor(above) || !IsWindowVisible(above))
            return false;
    }
    return false;
}

RECT screenClient(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

}  // namespace

RECT largestUncovered(const RECT& shown, const RECT& cover) {
    RECT overlap;
    if (!IntersectRect(&overlap, &shown, &cover))
        return shown;
    const RECT strips[4] = {
        {shown.left, shown.top, overlap.left, shown.bottom},      // left of it
        {overlap.right, shown.top, shown.right, shown.bottom},    // right of it
        {shown.left, shown.top, shown.right, overlap.top},        // above it
        {shown.left, overlap.bottom, shown.right, shown.bottom},  // below it
    };
    RECT best{shown.left, shown.top, shown.left, shown.top};
    for (const RECT& strip : strips)
        if (area(strip) > area(best))
            best = strip;
    return best;
}

uint32_t BridgeEditorPlacement::topWindowOf(void* view) const {
    return windowToWire(GetAncestor(static_cast<HWND>(view), GA_ROOT));
}

bool BridgeEditorPlacement::attach(void* view, uint32_t bridgeWindow) {
    detach();
    HWND window = windowFromWire(bridgeWindow);
    DWORD owner = 0;
    // The answer is the bridge's word: believed only for a top-level window of its own.
    if (!IsWindow(window) || !GetWindowThreadProcessId(window, &owner) || owner != bridgeProcess_ ||
        GetAncestor(window, GA_ROOT) != window || !isBridgeEditor(window))
        return false;
    view_ = static_cast<HWND>(view);
    window_ = window;
    shown_ = false;
    clip_ = RECT{-1, -1, -1, -1};
    return true;
}

void BridgeEditorPlacement::showNothing() {
    const RECT none{0, 0, 0, 0};
    if (!EqualRect(&clip_, &none))
        PostMessageA(window_, kBridgeEditorClipMessage, 0, 0);
    clip_ = none;
}

void BridgeEditorPlacement::detach() {
    if (window_ && IsWindow(window_))
        showNothing();
    window_ = nullptr;
    view_ = nullptr;
    shown_ = false;
}

bool BridgeEditorPlacement::owns(void* window) const {
    HWND w = static_cast<HWND>(window);
    DWORD owner = 0;
    // The attached window is the bridge's own (attach made sure), as are its menus and dialogs.
    return window_ && w && GetWindowThreadProcessId(w, &owner) && owner == bridgeProcess_;
}

void BridgeEditorPlacement::follow() {
    if (!window_ || !IsWindow(view_) || !IsWindow(window_))
        return;
    HWND top = GetAncestor(view_, GA_ROOT);
    RECT visible = screenClient(view_);
    const POINT origin{visible.left, visible.top};
    bool seen = IsWindowVisible(view_) != FALSE;
    // Up the chain of frames: each clips to its parent's client area and loses what
    // its siblings above it cover.
    for (HWND w = view_; seen && w != top; w = GetParent(w)) {
        HWND parent = GetParent(w);
        if (!parent || IsIconic(parent)) {
            seen = false;
            break;
        }
        const RECT inside = screenClient(parent);
        IntersectRect(&visible, &visible, &inside);
        for (HWND above = GetWindow(w, GW_HWNDPREV); above; above = GetWindow(above, GW_HWNDPREV))
            if (IsWindowVisible(above)) {
                RECT cover;
                GetWindowRect(above, &cover);
                visible = largestUncovered(visible, cover);
            }
    }
    seen = seen && !IsIconic(top) && area(visible) > 0;
    if (!seen) {
        // Clipped to nothing rather than hidden: hiding the window the user last typed
        // into would make the bridge's side choose another window to activate, and
        // that goes through the program's thread.
        showNothing();
        return;
    }
    const RECT clip{visible.left - origin.x, visible.top - origin.y, visible.right - origin.x,
                    visible.bottom - origin.y};
    if (!EqualRect(&clip, &clip_)) {
        PostMessageA(window_, kBridgeEditorClipMessage, MAKEWPARAM(clip.left, clip.top),
                     MAKELPARAM(clip.right, clip.bottom));
        clip_ = clip;
    }
    UINT flags = SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_ASYNCWINDOWPOS;
    const bool moved = !shown_ || origin.x != at_.x || origin.y != at_.y;
    const bool raise = !justAbove(window_, top);
    if (!moved && !raise)
        return;
    if (!moved)
        flags |= SWP_NOMOVE;
    HWND after = HWND_TOP;
    if (raise) {
        // Just above the program's window: above another program's, it would cover it.
        HWND above = GetWindow(top, GW_HWNDPREV);
        after = above ? above : HWND_TOP;
    } else {
        flags |= SWP_NOZORDER;
    }
    SetWindowPos(window_, after, origin.x, origin.y, 0, 0, flags | SWP_SHOWWINDOW);
    shown_ = true;
    at_ = origin;
}
