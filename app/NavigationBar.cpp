#include "NavigationBar.h"

#include <cstring>

#include <commctrl.h>
#include <commdlg.h>

#include "AccompanimentCommands.h"
#include "Controls.h"
#include "DeckDisplay.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "ResourceIds.h"
#include "SharedResources.h"
#include "ShellState.h"
#include "WaveDeck.h"

namespace {

struct BarState {
    bool rewindPressed;
    bool dragging;
    POINT dragOrigin;  // screen cursor at the press in the slider
    float dragFraction;
    HWND knob;
    char name[kDisplayedNameLength + 1];
    int thumbX;
};
BarState g_bar{};

void repaint(HWND window, int left, int top, int right, int bottom, BOOL erase = TRUE) {
    RECT area{left, top, right, bottom};
    InvalidateRect(window, &area, erase);
}

double shownFraction() { return g_bar.dragging ? double(g_bar.dragFraction) : g_waveDeck->playbackPosition(); }

void paint(HWND window) {
    PAINTSTRUCT paintStruct;
    HDC dc = BeginPaint(window, &paintStruct);
    const SharedResources& resources = sharedResources();
    accompanimentDisplayName(g_shell.accompFile, g_bar.name, sizeof g_bar.name);
    HGDIOBJ previousFont = resources.textFont ? SelectObject(dc, resources.textFont) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(230, 230, 255));
    TextOutA(dc, 30, 28, g_bar.name, int(std::strlen(g_bar.name)));
    if (previousFont)
        SelectObject(dc, previousFont);

    const bool playing = g_waveDeck->isPlaying();
    if (resources.transportButtons) {
        ImageList_Draw(resources.transportButtons, playing ? 1 : 0, dc, 10, 80, ILD_NORMAL);
        ImageList_Draw(resources.transportButtons, playing ? 2 : 3, dc, 46, 80, ILD_NORMAL);
        ImageList_Draw(resources.transportButtons, g_bar.rewindPressed ? 5 : 4, dc, 82, 80, ILD_NORMAL);
    }
    g_bar.thumbX = thumbX(shownFraction());
    if (resources.positionThumb)
        ImageList_Draw(resources.positionThumb, g_bar.dragging ? 1 : 0, dc, g_bar.thumbX, 80, ILD_NORMAL);
    EndPaint(window, &paintStruct);
}

void buttonDown(HWND window, int x, int y) {
    switch (navigationAreaAt(x, y)) {
    case NavigationArea::Play:
        g_waveDeck->play();
        repaint(window, 10, 80, 80, 115, FALSE);
        break;
    case NavigationArea::Pause:
        g_waveDeck->pause();
        repaint(window, 10, 80, 82, 115);
        break;
    case NavigationArea::Rewind:
        g_bar.rewindPressed = true;
        SetCapture(window);
        repaint(window, 82, 80, 118, 115);
        break;
    case NavigationArea::Slider:
        GetCursorPos(&g_bar.dragOrigin);
        g_bar.dragging = true;
        g_waveDeck->seekPlayback(sliderFraction(x));
        g_bar.dragFraction = float(g_waveDeck->playbackPosition());  // the requested position
        SetCapture(window);
        repaint(window, 128, 80, 278, 110);
        break;
    case NavigationArea::None:
        break;
    }
}

void mouseMove(HWND window) {
    if (!g_bar.dragging)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    const float fraction = dragFraction(g_waveDeck->playbackPosition(), cursor.x, g_bar.dragOrigin.x);
    if (fraction != g_bar.dragFraction) {
        g_bar.dragFraction = fraction;
        repaint(window, 128, 80, 278, 110);
    }
}

void buttonUp(HWND window) {
    if (g_bar.rewindPressed) {
        g_bar.rewindPressed = false;
        ReleaseCapture();
        repaint(window, 82, 80, 117, 115);
        g_waveDeck->rewind();
    }
    if (g_bar.dragging) {
        g_waveDeck->seekPlayback(g_bar.dragFraction);
        g_bar.dragging = false;
        ReleaseCapture();
        repaint(window, 118, 80, 278, 110);
    }
}

void createKnob(HWND window) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    g_bar.knob = CreateWindowExA(0, kKnobClassName, nullptr, WS_CHILD | WS_VISIBLE, 217, 35, 27, 27, window, nullptr,
                                 instance, nullptr);
    if (g_bar.knob)
        SendMessageA(g_bar.knob, kSetControlValue, 0, 500);
}

// Opening and closing replace what the driver thread reads: they happen between
// pauseProcessing and resumeProcessing when a driver is loaded.
ProcessingControl* loadedChain() { return g_liveEngine->currentDriver() >= 0 ? g_liveEngine : nullptr; }

void setCloseItem(HWND frame, bool enabled) {
    if (HMENU menu = GetMenu(frame))
        EnableMenuItem(menu, IDC_CMD_CLOSE_ACCOMPANIMENT, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

}  // namespace

LRESULT CALLBACK navigationBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        g_bar = BarState{};
        createKnob(window);
        return 0;
    case WM_DESTROY:
        g_bar.knob = nullptr;
        return 0;
    case WM_MOVE:
        if (g_shell.recordPlaces) {
            g_shell.navigationBarPosition.x = short(LOWORD(lParam));
            g_shell.navigationBarPosition.y = short(HIWORD(lParam));
        }
        return 0;
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_LBUTTONDOWN:
        buttonDown(window, short(LOWORD(lParam)), short(HIWORD(lParam)));
        return 0;
    case WM_MOUSEMOVE:
        mouseMove(window);
        return 0;
    case WM_LBUTTONUP:
        buttonUp(window);
        return 0;
    case WM_CAPTURECHANGED:
        // Another window took the mouse: the press ends without acting.
        if (reinterpret_cast<HWND>(lParam) != window && (g_bar.dragging || g_bar.rewindPressed)) {
            g_bar.dragging = false;
            g_bar.rewindPressed = false;
            InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    case kKnobValueChanged:
        g_liveSettings->accompanimentGain = float(lParam) * 0.002f;
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND navigationBarKnob() { return g_bar.knob; }
const char* navigationBarName() { return g_bar.name; }
int navigationBarThumbX() { return g_bar.thumbX; }

void openAccompanimentCommand(HWND frame) {
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = frame;
    dialog.lpstrFilter = "Microsoft Wave (*.wav)\0*.wav\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = g_shell.accompFile;
    dialog.nMaxFile = sizeof g_shell.accompFile;
    dialog.lpstrTitle = "Open Accompaniment";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&dialog))
        return;
    if (!openAccompanimentPaused(*g_waveDeck, loadedChain(), g_shell.accompFile))
        return;
    ShowWindow(g_windows.navigationBar, SW_SHOWNA);
    InvalidateRect(g_windows.navigationBar, nullptr, TRUE);
    UpdateWindow(g_windows.navigationBar);
    setCloseItem(frame, true);
}

void closeAccompanimentCommand(HWND frame) {
    closeAccompanimentPaused(*g_waveDeck, loadedChain());
    ShowWindow(g_windows.navigationBar, SW_HIDE);
    setCloseItem(frame, false);
}
