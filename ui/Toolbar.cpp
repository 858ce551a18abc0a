#include "Toolbar.h"

#include <cstdio>
#include <cstring>

#include <commctrl.h>

#include "SharedResources.h"
#include "Window.h"

namespace {

struct ToolbarButton {
    int command;
    const char* tip;
};

const ToolbarButton kButtons[kToolbarButtonCount] = {
    {32773, "New Performance"},   {32771, "Open Performance"}, {32772, "Save Performance"},
    {32775, "Open Accompaniment"}, {32777, "Start Live Input"}, {32778, "Enable Metronome"},
    {32779, "Record"},            {32780, "FX Manager"},       {32808, "Tuner"},
    {32809, "Tap Tempo (T)"},
};

const UINT_PTR kHoverTimer = 1;
const UINT kHoverPeriodMs = 50;
const int kButtonTop = 6;
const int kButtonBottom = 47;
const int kHitBottom = 46;

int buttonLeft(int index) {
    // Group gaps after "Open Accompaniment", "Record" and "FX Manager".
    return 10 + 53 * index + (index > 3 ? 15 : 0) + (index > 6 ? 15 : 0) + (index > 7 ? 15 : 0);
}

const int kTapButton = 9;

void tempoText(int32_t tempo, char* text, int size) {
    std::snprintf(text, size_t(size), "%.1f", tempo * 0.01);
}

class ToolbarWindow : public Window {
public:
    ToolbarButtonState states[kToolbarButtonCount] = {};
    int32_t tempo = -1;  // none shown yet
    bool tempoLit = false;

    void showTempo(int32_t value, bool lit) {
        if (value == tempo && lit == tempoLit) return;
        const bool seen = lit || tempoLit;
        tempo = value;
        tempoLit = lit;
        if (!seen) return;
        RECT area = toolbarButtonRect(kTapButton);
        InvalidateRect(hwnd(), &area, TRUE);
        UpdateWindow(hwnd());
    }

protected:
    LRESULT onCreate(CREATESTRUCTA*) override {
        digitsFont_ = CreateFontA(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS, "Tahoma");
        unitFont_ = CreateFontA(-8, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS, "Tahoma");
        return 0;
    }

    LRESULT onPaint() override {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd(), &paint);
        RECT client;
        GetClientRect(hwnd(), &client);
        RECT topEdge = {client.left, 1, client.right, 1};
        DrawEdge(dc, &topEdge, BDR_SUNKENOUTER, BF_TOP);
        for (int i = 0; i < kToolbarButtonCount; ++i) paintButton(dc, i);
        EndPaint(hwnd(), &paint);
        return 0;
    }

    LRESULT onMouseMove(int x, int y, WPARAM) override {
        if (!hoverTimer_) hoverTimer_ = SetTimer(hwnd(), kHoverTimer, kHoverPeriodMs, nullptr) != 0;
        // While a button is held down the others do not light up under the cursor.
        if (pressedButton() >= 0) return 0;
        const int under = buttonAt(x, y);
        if (under >= 0 && states[under] == ToolbarButtonState::normal) {
            setState(under, ToolbarButtonState::hot);
            for (int i = 0; i < kToolbarButtonCount; ++i)
                if (i != under) setState(i, ToolbarButtonState::normal);
        }
        return 0;
    }

    LRESULT onTimer(UINT_PTR id) override {
        if (id != kHoverTimer) return 0;
        // A held button is the release's to settle (it has the capture): the cursor
        // leaving the toolbar meanwhile must not cancel it behind the user's back.
        if (pressedButton() >= 0) return 0;
        POINT cursor;
        GetCursorPos(&cursor);
        RECT window;
        GetWindowRect(hwnd(), &window);
        if (!PtInRect(&window, cursor)) {
            for (int i = 0; i < kToolbarButtonCount; ++i) setState(i, ToolbarButtonState::normal);
            KillTimer(hwnd(), kHoverTimer);
            hoverTimer_ = false;
        }
        return 0;
    }

    LRESULT onLeftButtonDown(int x, int y, WPARAM) override {
        const int under = buttonAt(x, y);
        if (under < 0 || states[under] == ToolbarButtonState::pressed) return 0;
        setState(under, ToolbarButtonState::pressed);
        for (int i = 0; i < kToolbarButtonCount; ++i)
            if (i != under) setState(i, ToolbarButtonState::normal);
        // Keep the release even when it happens outside the toolbar.
        SetCapture(hwnd());
        return 0;
    }

    LRESULT onLeftButtonUp(int x, int y, WPARAM) override {
        const int under = buttonAt(x, y);
        int command = 0;
        for (int i = 0; i < kToolbarButtonCount; ++i) {
            if (states[i] != ToolbarButtonState::pressed) continue;
            // A press dragged off its button is cancelled, as with any push button:
            // only a release on the button sends its command.
            if (i == under) {
                setState(i, ToolbarButtonState::hot);
                command = kButtons[i].command;
            } else {
                setState(i, ToolbarButtonState::normal);
            }
        }
        // The mouse is let go before the command, which may open a dialog of its own.
        if (GetCapture() == hwnd()) ReleaseCapture();
        if (command) SendMessageA(GetParent(hwnd()), WM_COMMAND, MAKEWPARAM(command, 0), 0);
        return 0;
    }

    // The capture taken away (another window or the system took the mouse): no
    // release will come, so a held button lets go without its command.
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CAPTURECHANGED && reinterpret_cast<HWND>(lParam) != hwnd()) {
            for (int i = 0; i < kToolbarButtonCount; ++i)
                if (states[i] == ToolbarButtonState::pressed) setState(i, ToolbarButtonState::normal);
            return 0;
        }
        return Window::onMessage(message, wParam, lParam);
    }

    void onDestroy() override {
        if (hoverTimer_) KillTimer(hwnd(), kHoverTimer);
        hoverTimer_ = false;
        if (digitsFont_) DeleteObject(digitsFont_);
        if (unitFont_) DeleteObject(unitFont_);
        digitsFont_ = unitFont_ = nullptr;
    }

private:
    int buttonAt(int x, int y) const {
        if (y < kButtonTop || y > kHitBottom) return -1;
        for (int i = 0; i < kToolbarButtonCount; ++i)
            if (x >= buttonLeft(i) && x <= buttonLeft(i) + 50) return i;
        return -1;
    }

    int pressedButton() const {
        for (int i = 0; i < kToolbarButtonCount; ++i)
            if (states[i] == ToolbarButtonState::pressed) return i;
        return -1;
    }

    void setState(int index, ToolbarButtonState state) {
        if (states[index] == state) return;
        states[index] = state;
        RECT area = toolbarButtonRect(index);
        InvalidateRect(hwnd(), &area, TRUE);
        UpdateWindow(hwnd());
    }

    void paintButton(HDC dc, int index) {
        const SharedResources& shared = sharedResources();
        RECT area = toolbarButtonRect(index);
        const int left = buttonLeft(index);
        switch (states[index]) {
            case ToolbarButtonState::normal: {
                HGDIOBJ oldPen = SelectObject(dc, shared.facePen ? static_cast<HGDIOBJ>(shared.facePen)
                                                                 : GetStockObject(NULL_PEN));
                HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
                Rectangle(dc, area.left, area.top, area.right, area.bottom);
                SelectObject(dc, oldBrush);
                SelectObject(dc, oldPen);
                if (shared.toolbarNormal) ImageList_Draw(shared.toolbarNormal, index, dc, left + 1, 7, ILD_NORMAL);
                if (index == kTapButton && tempoLit) paintTempo(dc, left + 1, 7);
                break;
            }
            case ToolbarButtonState::pressed:
                if (shared.toolbarActive) ImageList_Draw(shared.toolbarActive, index, dc, left + 2, 8, ILD_NORMAL);
                if (index == kTapButton && tempoLit) paintTempo(dc, left + 2, 8);
                DrawEdge(dc, &area, BDR_SUNKENOUTER, BF_RECT);
                break;
            case ToolbarButtonState::hot:
                if (shared.toolbarActive) ImageList_Draw(shared.toolbarActive, index, dc, left + 1, 7, ILD_NORMAL);
                if (index == kTapButton && tempoLit) paintTempo(dc, left + 1, 7);
                DrawEdge(dc, &area, BDR_RAISEDINNER, BF_RECT);
                break;
        }
    }

    // The tapped tempo on the tap button's face: amber figures on a black well, as
    // on the gear's own displays, the beat lamp above kept lit.
    void paintTempo(HDC dc, int left, int top) {
        RECT rim = {left + 3, top + 11, left + 45, top + 35};
        RECT well = {left + 4, top + 12, left + 44, top + 34};
        HBRUSH edge = CreateSolidBrush(RGB(0, 0, 0));
        HBRUSH black = CreateSolidBrush(RGB(7, 7, 12));
        FillRect(dc, &rim, edge);
        FillRect(dc, &well, black);
        DeleteObject(black);
        DeleteObject(edge);
        // The beat lamp above the figures lit (the glyph's lamp sits at 24, 8.5).
        HBRUSH green = CreateSolidBrush(RGB(15, 234, 78));
        HGDIOBJ oldBrush = SelectObject(dc, green);
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
        Ellipse(dc, left + 22, top + 7, left + 27, top + 12);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(green);
        char text[16];
        tempoText(tempo, text, sizeof text);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 168, 40));
        HGDIOBJ old = SelectObject(dc, digitsFont_ ? static_cast<HGDIOBJ>(digitsFont_) : GetStockObject(DEFAULT_GUI_FONT));
        RECT digits = {well.left, well.top + 1, well.right, well.top + 14};
        DrawTextA(dc, text, -1, &digits, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, unitFont_ ? static_cast<HGDIOBJ>(unitFont_) : GetStockObject(DEFAULT_GUI_FONT));
        SetTextColor(dc, RGB(150, 150, 185));
        RECT unit = {well.left, well.top + 13, well.right, well.bottom - 1};
        DrawTextA(dc, "BPM", -1, &unit, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
    }

    bool hoverTimer_ = false;
    HFONT digitsFont_ = nullptr;
    HFONT unitFont_ = nullptr;
};

ToolbarWindow* toolbarOf(HWND toolbar) { return Window::ofClass<ToolbarWindow>(toolbar, kToolbarClassName); }

void addTool(HWND tips, HWND window, UINT id, RECT area, const char* text, HINSTANCE instance) {
    TOOLINFOA tool = {};
    // The size every common-controls version accepts.
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = 0;
    tool.hwnd = window;
    tool.uId = id;
    tool.rect = area;
    tool.hinst = instance;
    tool.lpszText = const_cast<char*>(text);
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace

int toolbarButtonCommand(int index) {
    return index >= 0 && index < kToolbarButtonCount ? kButtons[index].command : 0;
}

const char* toolbarButtonTip(int index) {
    return index >= 0 && index < kToolbarButtonCount ? kButtons[index].tip : "";
}

RECT toolbarButtonRect(int index) {
    const int left = buttonLeft(index);
    return RECT{left, kButtonTop, left + 50, kButtonBottom};
}

bool registerToolbarClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kToolbarClassName;
    return Window::registerClass<ToolbarWindow>(windowClass);
}

HWND createToolbar(HWND frame, HINSTANCE instance) {
    return CreateWindowExA(0, kToolbarClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, kToolbarWidth,
                           kToolbarHeight, frame, nullptr, instance, nullptr);
}

ToolbarButtonState toolbarButtonState(HWND toolbar, int index) {
    const ToolbarWindow* window = toolbarOf(toolbar);
    if (index < 0 || index >= kToolbarButtonCount || !window) return ToolbarButtonState::normal;
    return window->states[index];
}

void showToolbarTempo(HWND toolbar, int32_t tempo, bool lit) {
    if (ToolbarWindow* window = toolbarOf(toolbar)) window->showTempo(tempo, lit);
}

bool toolbarTempoShown(HWND toolbar, char* text, int size, bool* lit) {
    const ToolbarWindow* window = toolbarOf(toolbar);
    if (!window || window->tempo < 0) return false;
    tempoText(window->tempo, text, size);
    *lit = window->tempoLit;
    return true;
}

HWND createToolbarTips(HWND toolbar, HWND navigationBar, HINSTANCE instance) {
    HWND tips = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!tips) return nullptr;
    for (int i = 0; i < kToolbarButtonCount; ++i)
        addTool(tips, toolbar, i, toolbarButtonRect(i), kButtons[i].tip, instance);
    if (navigationBar) {
        const UINT first = kToolbarButtonCount;
        addTool(tips, navigationBar, first, RECT{10, 80, 45, 115}, "Play", instance);
        addTool(tips, navigationBar, first + 1, RECT{46, 80, 81, 115}, "Pause", instance);
        addTool(tips, navigationBar, first + 2, RECT{82, 80, 117, 115}, "Rewind", instance);
        addTool(tips, navigationBar, first + 3, RECT{118, 80, 268, 115}, "Position", instance);
    }
    return tips;
}
