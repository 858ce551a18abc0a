#pragma once
// Helpers for the window tests: a parent window that records what its children tell
// it, message pumping, reading pixels back from the display and saving them as PNG.
#include <string>
#include <vector>

#include "WinInclude.h"

// A visible top-level window on the display whose procedure records every
// WM_COMMAND and every knob value message (WM_USER + 100) it receives.
class RecordingParent {
public:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    RecordingParent(int width, int height, COLORREF background);
    // At a screen position, its client filled with a brush the caller keeps.
    RecordingParent(int x, int y, int width, int height, HBRUSH background);
    ~RecordingParent();
    RecordingParent(const RecordingParent&) = delete;
    RecordingParent& operator=(const RecordingParent&) = delete;

    HWND hwnd() const { return hwnd_; }
    const std::vector<Message>& messages() const { return messages_; }
    void clear() { messages_.clear(); }
    // A child window of a class at a position and size, with an identifier.
    HWND createChild(const char* className, int id, int x, int y, int width = 10, int height = 10);

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void create(int x, int y, int width, int height);
    HWND hwnd_;
    HBRUSH background_;
    bool ownsBackground_;
    std::vector<Message> messages_;
};

// Dispatches the thread's pending messages, for a while.
void pumpMessages(int milliseconds = 0);

// Pixels of a rectangle of the screen, top row first.
class ScreenPixels {
public:
    ScreenPixels(int left, int top, int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    COLORREF at(int x, int y) const;
    bool savePng(const std::string& path) const;

private:
    int width_;
    int height_;
    std::vector<COLORREF> pixels_;
};

// A window's client area on the screen, after it has painted.
ScreenPixels clientPixels(HWND window);

// Pixels a DC-drawing routine leaves in a memory bitmap filled with a colour first.
class MemoryCanvas {
public:
    MemoryCanvas(int width, int height, COLORREF fill);
    ~MemoryCanvas();
    MemoryCanvas(const MemoryCanvas&) = delete;
    MemoryCanvas& operator=(const MemoryCanvas&) = delete;
    HDC dc() const { return dc_; }
    COLORREF at(int x, int y) const;

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    void* bits_;
    int width_;
    int height_;
};

// Whether two colours differ by at most tolerance in every channel.
bool nearColour(COLORREF a, COLORREF b, int tolerance = 2);

// The folder the build keeps screenshots in, created when missing (Windows path).
std::string screenshotFolder();
