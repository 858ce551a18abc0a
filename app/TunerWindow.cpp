#include "TunerWindow.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <commctrl.h>

#include "MessageBoxes.h"
#include "NoteNames.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "StringIds.h"
#include "TunerTap.h"
#include "TunerWorker.h"
#include "Window.h"

namespace {

const int kClientWidth = 340;
const int kClientHeight = 210;
const RECT kReferenceLabel = {196, 156, 330, 172};
const RECT kHzLabel = {262, 176, 300, 198};

const COLORREF kPanel = RGB(30, 30, 44);
const COLORREF kLabel = RGB(200, 200, 226);
const COLORREF kWell = RGB(7, 7, 12);
const COLORREF kAmber = RGB(255, 168, 40);

HWND g_tunerWindow = nullptr;

void stringText(int id, char* text, int size) {
    if (!loadStringText(id, text, size)) text[0] = '\0';
}

class TunerWindow : public Window {
public:
    TunerDisplay shown;
    uint64_t shownSerial = UINT64_MAX;

    void showReading(const TunerTap::Reading& reading) {
        if (reading.serial == shownSerial) return;
        shownSerial = reading.serial;
        shown = reading.display;
        InvalidateRect(hwnd(), &kTunerFaceRect, FALSE);
        UpdateWindow(hwnd());
    }

    // The controls from the shell's choices, which the settings fill after the
    // window was made.
    void syncControls() {
        CheckDlgButton(hwnd(), IDC_TUNER_MUTE_OUTPUT, g_shell.tunerMuteOutput ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(hwnd(), IDC_TUNER_MUTE_TAKE, g_shell.tunerMuteTake ? BST_CHECKED : BST_UNCHECKED);
        EnableWindow(GetDlgItem(hwnd(), IDC_TUNER_MUTE_TAKE), g_shell.tunerMuteOutput);
        SendDlgItemMessageA(hwnd(), IDC_TUNER_REFERENCE_SPIN, UDM_SETPOS32, 0, g_shell.tunerReferenceA);
        showReferenceText();
    }

    // Listening ends, which also lets the output and the take sound again.
    static void stopListening() {
        if (g_tuner) g_tuner->setListening(false);
        if (g_tunerWorker) g_tunerWorker->stop();
    }

    void forgetReading() {
        shown = TunerDisplay{};
        shownSerial = UINT64_MAX;
        InvalidateRect(hwnd(), &kTunerFaceRect, FALSE);
    }

protected:
    LRESULT onCreate(CREATESTRUCTA* create) override {
        fonts_.create();
        labelFont_ = CreateFontA(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS, "Tahoma");
        panelBrush_ = CreateSolidBrush(kPanel);
        wellBrush_ = CreateSolidBrush(kWell);
        HINSTANCE instance = create->hInstance;
        char text[64];
        stringText(kStrTunerMuteOutput, text, sizeof text);
        makeControl("BUTTON", text, BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 14, 156, 160, 18, IDC_TUNER_MUTE_OUTPUT,
                    instance);
        stringText(kStrTunerMuteTake, text, sizeof text);
        makeControl("BUTTON", text, BS_AUTOCHECKBOX | WS_TABSTOP, 30, 180, 150, 18, IDC_TUNER_MUTE_TAKE, instance);
        HWND edit = makeControl("EDIT", "440", ES_NUMBER | ES_CENTER | WS_BORDER | WS_TABSTOP, 196, 176, 62, 22,
                                IDC_TUNER_REFERENCE, instance);
        SendMessageA(edit, EM_LIMITTEXT, 3, 0);
        HWND spin = makeControl(UPDOWN_CLASSA, "",
                                UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | UDS_AUTOBUDDY, 0,
                                0, 0, 0, IDC_TUNER_REFERENCE_SPIN, instance);
        SendMessageA(spin, UDM_SETRANGE32, WPARAM(kLowestReferenceA), LPARAM(kHighestReferenceA));
        syncControls();
        return 0;
    }

    void onDestroy() override {
        if (hwnd() == g_tunerWindow) {
            stopListening();
            g_tunerWindow = nullptr;
        }
        fonts_.release();
        for (HGDIOBJ* object : {reinterpret_cast<HGDIOBJ*>(&labelFont_), reinterpret_cast<HGDIOBJ*>(&panelBrush_),
                                reinterpret_cast<HGDIOBJ*>(&wellBrush_)}) {
            if (*object) DeleteObject(*object);
            *object = nullptr;
        }
    }

    LRESULT onEraseBackground(HDC) override { return 1; }  // the paint covers everything

    // Painted whole into a bitmap first: the needle and the figures change every
    // reading, and drawing them straight onto the screen would flicker.
    LRESULT onPaint() override {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd(), &paint);
        RECT client;
        GetClientRect(hwnd(), &client);
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, client.right, client.bottom) : nullptr;
        if (bitmap) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            paintPanel(memory, client);
            BitBlt(dc, paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right - paint.rcPaint.left,
                   paint.rcPaint.bottom - paint.rcPaint.top, memory, paint.rcPaint.left, paint.rcPaint.top, SRCCOPY);
            SelectObject(memory, old);
            DeleteObject(bitmap);
        } else {
            paintPanel(dc, client);
        }
        if (memory) DeleteDC(memory);
        EndPaint(hwnd(), &paint);
        return 0;
    }

    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_CLOSE:
                closeTuner();
                return 0;
            case WM_COMMAND:
                command(LOWORD(wParam), HIWORD(wParam));
                return 0;
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLORBTN: {
                HDC dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, kLabel);
                SetBkColor(dc, kPanel);
                return reinterpret_cast<LRESULT>(panelBrush_);
            }
            case WM_CTLCOLOREDIT: {
                HDC dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, kAmber);
                SetBkColor(dc, kWell);
                return reinterpret_cast<LRESULT>(wellBrush_);
            }
            default:
                return Window::onMessage(message, wParam, lParam);
        }
    }

private:
    HWND makeControl(const char* cls, const char* text, DWORD style, int x, int y, int w, int h, int id,
                     HINSTANCE instance) {
        HWND control = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd(),
                                       reinterpret_cast<HMENU>(INT_PTR(id)), instance, nullptr);
        if (control && labelFont_) SendMessageA(control, WM_SETFONT, WPARAM(labelFont_), FALSE);
        return control;
    }

    void paintPanel(HDC dc, const RECT& client) {
        FillRect(dc, &client, panelBrush_ ? panelBrush_ : static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        paintTunerFace(dc, shown, fonts_);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, kLabel);
        HGDIOBJ old = SelectObject(dc, labelFont_ ? static_cast<HGDIOBJ>(labelFont_) : GetStockObject(DEFAULT_GUI_FONT));
        char text[64];
        stringText(kStrTunerReference, text, sizeof text);
        RECT area = kReferenceLabel;
        DrawTextA(dc, text, -1, &area, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        stringText(kStrTunerHz, text, sizeof text);
        area = kHzLabel;
        DrawTextA(dc, text, -1, &area, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
    }

    void command(int id, int code) {
        if (id == IDC_TUNER_MUTE_OUTPUT && code == BN_CLICKED) {
            g_shell.tunerMuteOutput = IsDlgButtonChecked(hwnd(), id) == BST_CHECKED;
            if (g_tuner) g_tuner->setMuteOutput(g_shell.tunerMuteOutput);
            // The take is muted only with the output (the chain's rule).
            EnableWindow(GetDlgItem(hwnd(), IDC_TUNER_MUTE_TAKE), g_shell.tunerMuteOutput);
        } else if (id == IDC_TUNER_MUTE_TAKE && code == BN_CLICKED) {
            g_shell.tunerMuteTake = IsDlgButtonChecked(hwnd(), id) == BST_CHECKED;
            if (g_tuner) g_tuner->setMuteRecording(g_shell.tunerMuteTake);
        } else if (id == IDC_TUNER_REFERENCE && code == EN_CHANGE) {
            // Taken as soon as it is a reference the tuner accepts; half-typed
            // numbers wait.
            char text[8] = "";
            GetDlgItemTextA(hwnd(), id, text, sizeof text);
            const long hz = std::strtol(text, nullptr, 10);
            if (hz >= long(kLowestReferenceA) && hz <= long(kHighestReferenceA) && hz != g_shell.tunerReferenceA) {
                g_shell.tunerReferenceA = int32_t(hz);
                if (g_tuner) g_tuner->setReferenceA(double(hz));
            }
        } else if (id == IDC_TUNER_REFERENCE && code == EN_KILLFOCUS) {
            showReferenceText();  // an unusable entry goes back to the reference in use
        }
    }

    void showReferenceText() {
        char text[8];
        std::snprintf(text, sizeof text, "%d", int(g_shell.tunerReferenceA));
        char current[8] = "";
        GetDlgItemTextA(hwnd(), IDC_TUNER_REFERENCE, current, sizeof current);
        if (std::strcmp(text, current) != 0) SetDlgItemTextA(hwnd(), IDC_TUNER_REFERENCE, text);
    }

    TunerFaceFonts fonts_;
    HFONT labelFont_ = nullptr;
    HBRUSH panelBrush_ = nullptr;
    HBRUSH wellBrush_ = nullptr;

};

TunerWindow* tunerOf(HWND window) { return Window::ofClass<TunerWindow>(window, kTunerClassName); }

}  // namespace

bool registerTunerClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;  // painted whole by the window
    windowClass.lpszClassName = kTunerClassName;
    return Window::registerClass<TunerWindow>(windowClass);
}

HWND createTunerWindow(HWND frame, HINSTANCE instance) {
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD extended = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
    RECT outer = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, extended);
    char caption[32];
    stringText(kStrTunerCaption, caption, sizeof caption);
    g_tunerWindow = CreateWindowExA(extended, kTunerClassName, caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                                    outer.right - outer.left, outer.bottom - outer.top, frame, nullptr, instance,
                                    nullptr);
    return g_tunerWindow;
}

void toggleTuner() {
    if (tunerIsOpen())
        closeTuner();
    else
        openTuner();
}

void openTuner() {
    TunerWindow* window = tunerOf(g_tunerWindow);
    if (!window || !g_tuner || !g_tunerWorker || tunerIsOpen()) return;
    window->syncControls();
    window->forgetReading();
    g_tuner->setReferenceA(double(g_shell.tunerReferenceA));
    g_tuner->setMuteOutput(g_shell.tunerMuteOutput);
    g_tuner->setMuteRecording(g_shell.tunerMuteTake);
    g_tuner->setListening(true);
    if (!g_tunerWorker->start()) {
        g_tuner->setListening(false);
        showError(kStrTunerStartFailed);
        return;
    }
    // Not activated: the frame keeps the keyboard (its accelerators, tap tempo).
    ShowWindow(g_tunerWindow, SW_SHOWNOACTIVATE);
}

void closeTuner() {
    if (!g_tunerWindow) return;
    ShowWindow(g_tunerWindow, SW_HIDE);
    TunerWindow::stopListening();
}

bool tunerIsOpen() { return g_tunerWindow && IsWindowVisible(g_tunerWindow); }

void updateTunerWindow() {
    TunerWindow* window = tunerOf(g_tunerWindow);
    if (window && g_tuner && IsWindowVisible(g_tunerWindow)) window->showReading(g_tuner->latest());
}

bool tunerWindowShows(HWND tuner, TunerFaceText* text, uint64_t* serial) {
    const TunerWindow* window = tunerOf(tuner);
    if (!window) return false;
    describeTunerFace(window->shown, text);
    *serial = window->shownSerial;
    return true;
}
