#include "ParameterView.h"

#include <windows.h>

#include <cstdio>

namespace {

const char kClassName[] = "TalvenorEffectParameterView";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMilliseconds = 50;  // automation shows without a visible lag

// The window class is this module's own: registered while a view of it is open,
// so no class outlives the library that holds its procedure.
int gOpenViews = 0;

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

LRESULT CALLBACK viewProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    ParameterView* view = reinterpret_cast<ParameterView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (view && message != WM_NCCREATE && message != WM_NCDESTROY)
        return LRESULT(view->handle(window, message, wParam, lParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass() {
    if (gOpenViews++ > 0)
        return true;
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = viewProcedure;
    windowClass.hInstance = thisModule();
    windowClass.hCursor = LoadCursor(nullptr, IDC_SIZEWE);
    windowClass.lpszClassName = kClassName;
    if (RegisterClassA(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        return true;
    --gOpenViews;
    return false;
}

void unregisterClass() {
    if (gOpenViews > 0 && --gOpenViews == 0)
        UnregisterClassA(kClassName, thisModule());
}

const COLORREF kBackground = RGB(34, 36, 40);
const COLORREF kRowShade = RGB(44, 47, 52);
const COLORREF kBarTrack = RGB(62, 66, 73);
const COLORREF kBar = RGB(224, 148, 52);
const COLORREF kText = RGB(226, 228, 232);

}  // namespace

ParameterView::ParameterView(ParameterViewModel& model)
    : model_(model), width_(kDefaultWidth), height_(minimumHeight()) {}

ParameterView::~ParameterView() { close(); }

int32_t ParameterView::minimumHeight() const { return 2 * kMargin + model_.rowCount() * kRowHeight; }

bool ParameterView::open(void* parent) {
    if (window_ || !parent || !IsWindow(static_cast<HWND>(parent)) || !registerClass())
        return false;
    HWND window = CreateWindowExA(0, kClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, width_, height_,
                                  static_cast<HWND>(parent), nullptr, thisModule(), this);
    if (!window) {
        unregisterClass();
        return false;
    }
    window_ = window;
    for (int32_t r = 0; r < model_.rowCount() && r < 64; ++r)
        shown_[r] = model_.rowValue(r);
    SetTimer(window, kRefreshTimer, kRefreshMilliseconds, nullptr);
    return true;
}

void ParameterView::close() {
    if (!window_)
        return;
    finishDrag();
    HWND window = static_cast<HWND>(window_);
    KillTimer(window, kRefreshTimer);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    window_ = nullptr;
    unregisterClass();
}

void ParameterView::size(int32_t* width, int32_t* height) const {
    if (width)
        *width = width_;
    if (height)
        *height = height_;
}

void ParameterView::constrain(int32_t* width, int32_t* height) const {
    if (width)
        *width = *width < kMinWidth ? kMinWidth : *width > kMaxSide ? kMaxSide : *width;
    if (height) {
        const int32_t least = minimumHeight();
        *height = *height < least ? least : *height > kMaxSide ? kMaxSide : *height;
    }
}

bool ParameterView::resize(int32_t width, int32_t height) {
    constrain(&width, &height);
    width_ = width;
    height_ = height;
    if (window_)
        SetWindowPos(static_cast<HWND>(window_), nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

// The bar takes the middle of each row; name on its left, value text on its right.
void ParameterView::barSpan(int32_t* left, int32_t* right) const {
    const int32_t inner = width_ - 2 * kMargin;
    *left = kMargin + inner * 36 / 100;
    *right = kMargin + inner * 78 / 100;
}

int32_t ParameterView::rowAt(int32_t y) const {
    if (y < kMargin)
        return -1;
    const int32_t row = (y - kMargin) / kRowHeight;
    return row < model_.rowCount() ? row : -1;
}

float ParameterView::valueAt(int32_t x) const {
    int32_t left, right;
    barSpan(&left, &right);
    if (right <= left)
        return 0.0f;
    const float value = float(x - left) / float(right - left);
    return value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
}

void ParameterView::finishDrag() {
    if (dragging_ < 0)
        return;
    const int32_t row = dragging_;
    dragging_ = -1;
    model_.endEdit(row);
    if (window_ && GetCapture() == static_cast<HWND>(window_))
        ReleaseCapture();
}

void ParameterView::paint(void* handle) {
    HWND window = static_cast<HWND>(handle);
    PAINTSTRUCT ps;
    HDC screen = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    // Drawn off screen and copied in one go: no flicker while dragging.
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    HBRUSH background = CreateSolidBrush(kBackground);
    HBRUSH shade = CreateSolidBrush(kRowShade);
    HBRUSH track = CreateSolidBrush(kBarTrack);
    HBRUSH bar = CreateSolidBrush(kBar);
    FillRect(dc, &client, background);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kText);
    int32_t barLeft, barRight;
    barSpan(&barLeft, &barRight);
    for (int32_t r = 0; r < model_.rowCount(); ++r) {
        const int32_t top = kMargin + r * kRowHeight;
        RECT row = {kMargin, top + 2, width_ - kMargin, top + kRowHeight - 2};
        FillRect(dc, &row, shade);
        char name[128] = {}, text[128] = {};
        model_.rowName(r, name, sizeof name);
        model_.rowText(r, text, sizeof text);
        RECT nameBox = {kMargin + 6, row.top, barLeft - 6, row.bottom};
        DrawTextA(dc, name, -1, &nameBox, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        const float value = model_.rowValue(r);
        RECT trackBox = {barLeft, row.top + 7, barRight, row.bottom - 7};
        FillRect(dc, &trackBox, track);
        RECT valueBox = trackBox;
        valueBox.right = barLeft + LONG(float(barRight - barLeft) * value + 0.5f);
        FillRect(dc, &valueBox, bar);
        RECT textBox = {barRight + 6, row.top, width_ - kMargin - 6, row.bottom};
        DrawTextA(dc, text, -1, &textBox, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    }
    BitBlt(screen, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    DeleteObject(bar);
    DeleteObject(track);
    DeleteObject(shade);
    DeleteObject(background);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    EndPaint(window, &ps);
}

long long ParameterView::handle(void* handle, unsigned message, unsigned long long wParam, long long lParam) {
    HWND window = static_cast<HWND>(handle);
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_SIZE:
        width_ = LOWORD(lParam);
        height_ = HIWORD(lParam);
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN: {
        const int32_t row = rowAt(int16_t(HIWORD(lParam)));
        if (row < 0)
            return 0;
        dragging_ = row;
        SetCapture(window);
        model_.beginEdit(row);
        model_.edit(row, valueAt(int16_t(LOWORD(lParam))));
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (dragging_ >= 0) {
            model_.edit(dragging_, valueAt(int16_t(LOWORD(lParam))));
            InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        finishDrag();
        return 0;
    case WM_TIMER:
        // Values moved by automation or the host's own controls.
        if (wParam == kRefreshTimer) {
            bool changed = false;
            for (int32_t r = 0; r < model_.rowCount() && r < 64; ++r) {
                const float value = model_.rowValue(r);
                changed |= value != shown_[r];
                shown_[r] = value;
            }
            if (changed)
                InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
    default:
        return DefWindowProcA(window, message, WPARAM(wParam), LPARAM(lParam));
    }
}
