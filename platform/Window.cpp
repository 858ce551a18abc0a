#include "Window.h"

#include <cstring>

#include <windowsx.h>

Window::Window() : hwnd_(nullptr), message_(0), wParam_(0), lParam_(0) {}

Window::~Window() {}

Window* Window::fromHandle(HWND hwnd) {
    return hwnd ? reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)) : nullptr;
}

bool Window::hasClassName(HWND hwnd, const char* className) {
    char name[64];
    return hwnd && className && GetClassNameA(hwnd, name, sizeof(name)) && std::strcmp(name, className) == 0;
}

bool Window::registerFilledClass(WNDCLASSEXA& windowClass) {
    windowClass.cbSize = sizeof(windowClass);
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    return RegisterClassExA(&windowClass) != 0;
}

void Window::attach(HWND hwnd, Window* window) {
    window->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
}

LRESULT Window::dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = fromHandle(hwnd);
    if (!window) return DefWindowProcA(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The user data goes first, so a message arriving during the object's
        // destruction finds no object.
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        delete window;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return window->handle(message, wParam, lParam);
}

LRESULT Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    // Handlers may send messages to their own window; keep the outer message.
    const UINT outerMessage = message_;
    const WPARAM outerWParam = wParam_;
    const LPARAM outerLParam = lParam_;
    message_ = message;
    wParam_ = wParam;
    lParam_ = lParam;
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    LRESULT result;
    switch (message) {
        case WM_CREATE: result = onCreate(reinterpret_cast<CREATESTRUCTA*>(lParam)); break;
        case WM_DESTROY:
            onDestroy();
            result = 0;
            break;
        case WM_PAINT: result = onPaint(); break;
        case WM_ERASEBKGND: result = onEraseBackground(reinterpret_cast<HDC>(wParam)); break;
        case WM_MOUSEMOVE: result = onMouseMove(x, y, wParam); break;
        case WM_LBUTTONDOWN: result = onLeftButtonDown(x, y, wParam); break;
        case WM_LBUTTONUP: result = onLeftButtonUp(x, y, wParam); break;
        case WM_LBUTTONDBLCLK: result = onLeftDoubleClick(x, y, wParam); break;
        case WM_RBUTTONDOWN: result = onRightButtonDown(x, y, wParam); break;
        case WM_RBUTTONDBLCLK: result = onRightDoubleClick(x, y, wParam); break;
        case WM_TIMER: result = onTimer(wParam); break;
        case WM_MOVE: result = onMove(x, y); break;
        case WM_USER: result = onUser(wParam, lParam); break;
        default: result = onMessage(message, wParam, lParam); break;
    }
    message_ = outerMessage;
    wParam_ = outerWParam;
    lParam_ = outerLParam;
    return result;
}

LRESULT Window::defaultProcessing(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

LRESULT Window::onCreate(CREATESTRUCTA*) { return defaultProcessing(message_, wParam_, lParam_); }
void Window::onDestroy() {}
LRESULT Window::onPaint() { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onEraseBackground(HDC) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onMouseMove(int, int, WPARAM) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onLeftButtonDown(int, int, WPARAM) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onLeftButtonUp(int, int, WPARAM) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onLeftDoubleClick(int, int, WPARAM) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onRightButtonDown(int, int, WPARAM) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onRightDoubleClick(int, int, WPARAM) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onTimer(UINT_PTR) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onMove(int, int) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onUser(WPARAM, LPARAM) { return defaultProcessing(message_, wParam_, lParam_); }
LRESULT Window::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return defaultProcessing(message, wParam, lParam);
}
