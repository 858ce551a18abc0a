#include "BridgeEditorWindow.h"

#include "BridgeEditorMessages.h"
#include "Window.h"

using namespace bridge;

namespace {

void (*g_serveWaiting)() = nullptr;
constexpr UINT kServeEveryMs = 20;
// The window's own: the foreground taken back after a resize let it fall to the desktop.
constexpr UINT kTakeForegroundBackMessage = WM_APP + 0x642;
constexpr DWORD kResizeLosesForegroundMs = 500;

bool isDesktopOrNothing(HWND window) { return !window || window == GetDesktopWindow(); }

// A thread timer, not the window's: a call it answers may destroy the window.
void CALLBACK serveFromTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_serveWaiting)
        g_serveWaiting();
}

// The window itself: what the program posts, and the program's window kept just
// below it when the user brings it up.
class EditorHolder final : public Window {
protected:
    LRESULT onCreate(CREATESTRUCTA* create) override {
        programWindow_ = static_cast<HWND>(create->lpCreateParams);
        return 0;
    }

    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case kBridgeEditorSizeMessage:
            SetWindowPos(hwnd(), nullptr, 0, 0, int(wParam), int(lParam),
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        case kBridgeEditorClipMessage:
            clipTo(RECT{short(LOWORD(wParam)), short(HIWORD(wParam)), short(LOWORD(lParam)), short(HIWORD(lParam))});
            return 0;
        case WM_ACTIVATE:
            // Some window systems (Wine's without a window manager) let a window that is
            // resized lose the foreground to the desktop, and the keys the user types go
            // nowhere: taken back, as nobody chose the desktop at that moment.
            if (LOWORD(wParam) == WA_INACTIVE && isDesktopOrNothing(reinterpret_cast<HWND>(lParam)) &&
                GetTickCount() - resizedAt_ < kResizeLosesForegroundMs)
                PostMessageA(hwnd(), kTakeForegroundBackMessage, 0, 0);
            // Asynchronously: the program's thread may be busy, this one never waits for it.
            if (LOWORD(wParam) != WA_INACTIVE && IsWindow(programWindow_) && !IsIconic(programWindow_))
                SetWindowPos(programWindow_, hwnd(), 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_ASYNCWINDOWPOS);
            break;
        case WM_WINDOWPOSCHANGED:
            if (!(reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_NOSIZE))
                resizedAt_ = GetTickCount();
            break;
        case kTakeForegroundBackMessage:
            if (isDesktopOrNothing(GetForegroundWindow()))
                SetForegroundWindow(hwnd());
            return 0;
        case WM_SETFOCUS:
            // The keys go to the plug-in's editor, the window's one child.
            if (HWND editor = GetWindow(hwnd(), GW_CHILD)) {
                SetFocus(editor);
                return 0;
            }
            break;
        case WM_CLOSE:
            return 0;  // the program closes its editor frame, and this with it
        default:
            break;
        }
        return defaultProcessing(message, wParam, lParam);
    }

private:
    void clipTo(RECT shown) {
        RECT whole;
        GetClientRect(hwnd(), &whole);
        if (shown.left <= 0 && shown.top <= 0 && shown.right >= whole.right && shown.bottom >= whole.bottom) {
            if (clipped_)
                SetWindowRgn(hwnd(), nullptr, TRUE);
            clipped_ = false;
            return;
        }
        if (shown.right < shown.left || shown.bottom < shown.top)
            shown = RECT{0, 0, 0, 0};
        // The window owns the region from here on.
        if (HRGN region = CreateRectRgn(shown.left, shown.top, shown.right, shown.bottom)) {
            SetWindowRgn(hwnd(), region, TRUE);
            clipped_ = true;
        }
    }

    HWND programWindow_ = nullptr;
    bool clipped_ = false;
    DWORD resizedAt_ = 0;
};

}  // namespace

BridgeEditorWindow::BridgeEditorWindow(HINSTANCE instance, void (*serveWaiting)())
    : instance_(instance), uiThread_(GetCurrentThreadId()) {
    g_serveWaiting = serveWaiting;
    WNDCLASSEXA windowClass{};
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kBridgeEditorClassName;
    Window::registerClass<EditorHolder>(windowClass);
}

BridgeEditorWindow::~BridgeEditorWindow() {
    if (serveTimer_)
        KillTimer(nullptr, serveTimer_);
    if (HWND window = window_.exchange(nullptr))
        DestroyWindow(window);
    UnregisterClassA(kBridgeEditorClassName, instance_);
}

bool BridgeEditorWindow::open(PluginInstance& plugin, uint32_t programWindow, uint32_t* window, int32_t* width,
                              int32_t* height) {
    HWND program = windowFromWire(programWindow);
    // Hidden, and no taskbar button: it is part of the program's window.
    HWND made = CreateWindowExA(WS_EX_TOOLWINDOW, kBridgeEditorClassName, "", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 200,
                                100, nullptr, nullptr, instance_, IsWindow(program) ? program : nullptr);
    if (!made)
        return false;
    width_ = 0;
    height_ = 0;
    window_.store(made, std::memory_order_release);  // open from here: a size asked for now is taken
    int32_t w = 0, h = 0;
    if (!plugin.openEditor(made, &w, &h)) {
        window_.store(nullptr, std::memory_order_release);
        DestroyWindow(made);
        return false;
    }
    serveTimer_ = SetTimer(nullptr, 0, kServeEveryMs, serveFromTimer);
    if (width_.load() > 0 && height_.load() > 0) {
        w = width_.load();  // asked for while opening: the latest word
        h = height_.load();
    }
    w = boundedEditorSide(w);
    h = boundedEditorSide(h);
    takeSize(w, h);
    *window = windowToWire(made);
    *width = w;
    *height = h;
    return true;
}

void BridgeEditorWindow::close(PluginInstance& plugin) {
    HWND window = window_.exchange(nullptr, std::memory_order_acq_rel);
    if (!window)
        return;
    if (serveTimer_)
        KillTimer(nullptr, serveTimer_);
    serveTimer_ = 0;
    plugin.closeEditor();
    DestroyWindow(window);
}

void BridgeEditorWindow::takeSize(int32_t width, int32_t height) {
    HWND window = window_.load(std::memory_order_acquire);
    if (!window)
        return;
    width = boundedEditorSide(width);
    height = boundedEditorSide(height);
    width_ = width;
    height_ = height;
    if (GetCurrentThreadId() == uiThread_)
        SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    else
        PostMessageA(window, kBridgeEditorSizeMessage, WPARAM(width), LPARAM(height));
}
