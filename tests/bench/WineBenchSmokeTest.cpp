// Smoke tests of the Wine test bench itself: later tests rely on a display for
// windows and on the PulseAudio null sinks for DirectSound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinInclude.h"
#include <dsound.h>

namespace {

LRESULT CALLBACK paintRed(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
        FillRect(dc, &r, red);
        DeleteObject(red);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Writes the pixels as a 24-bit BMP next to the test, for a person to look at.
void saveBmp(const char* path, int width, int height, const std::vector<uint8_t>& bgrx) {
    const int rowBytes = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + rowBytes * height;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    FILE* f = fopen(path, "wb");
    if (!f)
        return;
    fwrite(&file, sizeof file, 1, f);
    fwrite(&info, sizeof info, 1, f);
    std::vector<uint8_t> row(rowBytes, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = bgrx[(y * width + x) * 4 + c];
        fwrite(row.data(), 1, rowBytes, f);
    }
    fclose(f);
}

BOOL CALLBACK collect(LPGUID, LPCSTR description, LPCSTR, LPVOID context) {
    static_cast<std::vector<std::string>*>(context)->push_back(description);
    return TRUE;
}

}  // namespace

TEST(WineBench, AWindowCanBeShownAndCaptured) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = paintRed;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TALVENOR_SMOKE";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND window = CreateWindowA("TALVENOR_SMOKE", "smoke", WS_POPUP | WS_VISIBLE, 20, 20, 120, 80, nullptr,
                                nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    UpdateWindow(window);
    for (int i = 0; i < 20; ++i) {
        pumpMessages();
        Sleep(10);
    }

    // Capture from the screen, as a screenshot would.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 120;
    bi.bmiHeader.biHeight = -80;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP shot = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(shot, nullptr);
    HGDIOBJ old = SelectObject(memory, shot);
    ASSERT_TRUE(BitBlt(memory, 0, 0, 120, 80, screen, 20, 20, SRCCOPY));
    GdiFlush();
    std::vector<uint8_t> pixels(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + 120 * 80 * 4);
    SelectObject(memory, old);
    DeleteObject(shot);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DestroyWindow(window);
    saveBmp("winebench-smoke.bmp", 120, 80, pixels);

    int red = 0;
    for (int i = 0; i < 120 * 80; ++i)
        red += pixels[i * 4 + 2] == 255 && pixels[i * 4 + 1] == 0 && pixels[i * 4] == 0;
    EXPECT_GT(red, 120 * 80 * 9 / 10);
}

TEST(WineBench, DirectSoundSeesTheNullSinksAndTheirMonitors) {
    std::vector<std::string> playback, capture;
    ASSERT_EQ(DirectSoundEnumerateA(collect, &playback), DS_OK);
    ASSERT_EQ(DirectSoundCaptureEnumerateA(collect, &capture), DS_OK);
    auto has = [](const std::vector<std::string>& list, const std::string& name) {
        for (const auto& d : list)
            if (d == name)
                return true;
        return false;
    };
    EXPECT_TRUE(has(playback, "instrument"));
    EXPECT_TRUE(has(playback, "speakers"));
    EXPECT_TRUE(has(capture, "Monitor of instrument"));
    EXPECT_TRUE(has(capture, "Monitor of speakers"));
}
