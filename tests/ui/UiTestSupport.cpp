#include "UiTestSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char kParentClass[] = "TALVENOR_TEST_PARENT";

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBig32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    putBig32(png, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    putBig32(png, crc32(body.data(), body.size()));
}

}  // namespace

RecordingParent::RecordingParent(int width, int height, COLORREF background)
    : hwnd_(nullptr), background_(CreateSolidBrush(background)), ownsBackground_(true) {
    create(0, 0, width, height);
}

RecordingParent::RecordingParent(int x, int y, int width, int height, HBRUSH background)
    : hwnd_(nullptr), background_(background), ownsBackground_(false) {
    create(x, y, width, height);
}

void RecordingParent::create(int x, int y, int width, int height) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &RecordingParent::procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kParentClass;
    RegisterClassExA(&windowClass);  // a second registration fails harmlessly
    RECT frame = {0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_POPUP, FALSE, 0);
    hwnd_ = CreateWindowExA(WS_EX_TOPMOST, kParentClass, "ui test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            GetModuleHandleA(nullptr), this);
    UpdateWindow(hwnd_);
    pumpMessages(50);
}

RecordingParent::~RecordingParent() {
    if (hwnd_) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (ownsBackground_) DeleteObject(background_);
}

HWND RecordingParent::createChild(const char* className, int id, int x, int y, int width, int height) {
    return CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE, x, y, width, height, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
}

LRESULT CALLBACK RecordingParent::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<RecordingParent*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self) {
        if (message == WM_COMMAND || message == WM_USER + 100) {
            self->messages_.push_back(Message{message, wParam, lParam});
            return 0;
        }
        if (message == WM_ERASEBKGND) {
            RECT client;
            GetClientRect(hwnd, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, self->background_);
            return 1;
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void pumpMessages(int milliseconds) {
    const DWORD end = GetTickCount() + DWORD(milliseconds);
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (milliseconds > 0) Sleep(5);
    } while (milliseconds > 0 && int(end - GetTickCount()) > 0);
}

ScreenPixels::ScreenPixels(int left, int top, int width, int height)
    : width_(width), height_(height), pixels_(size_t(width) * size_t(height), 0) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY);
    GdiFlush();
    const uint32_t* source = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < pixels_.size(); ++i) {
        const uint32_t p = source[i];
        pixels_[i] = RGB((p >> 16) & 255, (p >> 8) & 255, p & 255);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

COLORREF ScreenPixels::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    return pixels_[size_t(y) * size_t(width_) + size_t(x)];
}

// An uncompressed PNG: the image data in stored deflate blocks.
bool ScreenPixels::savePng(const std::string& path) const {
    std::vector<uint8_t> raw;
    for (int y = 0; y < height_; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < width_; ++x) {
            const COLORREF c = at(x, y);
            raw.push_back(GetRValue(c));
            raw.push_back(GetGValue(c));
            raw.push_back(GetBValue(c));
        }
    }
    std::vector<uint8_t> deflate = {0x78, 0x01};
    for (size_t offset = 0; offset < raw.size() || offset == 0; offset += 65535) {
        const size_t length = raw.size() - offset < 65535 ? raw.size() - offset : 65535;
        deflate.push_back(offset + length >= raw.size() ? 1 : 0);
        deflate.push_back(uint8_t(length));
        deflate.push_back(uint8_t(length >> 8));
        deflate.push_back(uint8_t(~length));
        deflate.push_back(uint8_t(~length >> 8));
        deflate.insert(deflate.end(), raw.begin() + long(offset), raw.begin() + long(offset + length));
        if (length == 0) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBig32(deflate, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBig32(header, uint32_t(width_));
    putBig32(header, uint32_t(height_));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", deflate);
    chunk(png, "IEND", {});
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

ScreenPixels clientPixels(HWND window) {
    UpdateWindow(window);
    pumpMessages(30);
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return ScreenPixels(origin.x, origin.y, client.right, client.bottom);
}

MemoryCanvas::MemoryCanvas(int width, int height, COLORREF fill) : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    dc_ = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    HBRUSH brush = CreateSolidBrush(fill);
    RECT all = {0, 0, width, height};
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
}

MemoryCanvas::~MemoryCanvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

COLORREF MemoryCanvas::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    GdiFlush();
    const uint32_t p = static_cast<const uint32_t*>(bits_)[size_t(y) * size_t(width_) + size_t(x)];
    return RGB((p >> 16) & 255, (p >> 8) & 255, p & 255);
}

bool nearColour(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(int(GetRValue(a)) - int(GetRValue(b))) <= tolerance &&
           std::abs(int(GetGValue(a)) - int(GetGValue(b))) <= tolerance &&
           std::abs(int(GetBValue(a)) - int(GetBValue(b))) <= tolerance;
}

std::string screenshotFolder() {
    std::string folder = TALVENOR_SCREENSHOT_DIR;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}
