#include "Controls.h"

#include <cstring>

#include "ControlIds.h"
#include "SharedResources.h"
#include "Window.h"

namespace {

// The drag of whichever knob holds the mouse: only one can capture it at a time.
struct KnobDrag {
    bool dragging;
    POINT anchor;  // screen position where the drag began; the cursor is kept there
};
KnobDrag knobDrag;

const int kKnobSize = 27;
const int kKnobLastFrame = 88;
const int kSwitchWidth = 32;
const int kSwitchHeight = 16;
const int kStaticTextBytes = 100;
const int kStaticTagBytes = 16;
const char kEmptyPositionText[] = "<no effect>";

void resizeTo(HWND hwnd, int width, int height) {
    SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void repaintNow(HWND hwnd) {
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
}

void notifyParent(HWND control, LPARAM value) {
    SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), 0), value);
}

float clampUnit(double value) {
    if (value > 1.0) value = 1.0;
    if (value < 0.0) value = 0.0;
    return static_cast<float>(value);
}

// Paints one image of a shared strip (a knob frame, a switch state) as the window.
void paintImage(HWND window, HIMAGELIST images, int index) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (images)
        ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL);
    EndPaint(window, &paint);
}

class KnobControl : public Window {
public:
    float value = 0.0f;

protected:
    LRESULT onCreate(CREATESTRUCTA*) override {
        resizeTo(hwnd(), kKnobSize, kKnobSize);
        return 0;
    }

    LRESULT onPaint() override {
        int frame = static_cast<int>(value * kKnobLastFrame);
        if (frame < 0) frame = 0;
        if (frame > kKnobLastFrame) frame = kKnobLastFrame;
        paintImage(hwnd(), sharedResources().knobFrames, frame);
        return 0;
    }

    LRESULT onEraseBackground(HDC) override { return 1; }

    LRESULT onLeftButtonDown(int, int, WPARAM) override {
        SetCapture(hwnd());
        // The cursor's display count must come back to where it was: hide it once per drag.
        if (!knobDrag.dragging) ShowCursor(FALSE);
        knobDrag.dragging = true;
        GetCursorPos(&knobDrag.anchor);
        return 0;
    }

    LRESULT onMouseMove(int, int, WPARAM keys) override {
        if (!knobDrag.dragging || GetCapture() != hwnd()) return 0;
        POINT cursor;
        GetCursorPos(&cursor);
        SetCursorPos(knobDrag.anchor.x, knobDrag.anchor.y);
        const int d = cursor.y - knobDrag.anchor.y;
        double perPixel = 0.004;
        if (keys & MK_CONTROL)
            perPixel = 0.0001;
        else if (keys & MK_SHIFT)
            perPixel = 0.02;
        // Moving up (d < 0) turns the knob to the right.
        value = clampUnit(value - d * perPixel);
        if (d == 0) return 0;
        repaintNow(hwnd());
        const LPARAM scaled = static_cast<LPARAM>(value * 1000);
        notifyParent(hwnd(), scaled);
        SendMessageA(GetParent(hwnd()), kKnobValueChanged, reinterpret_cast<WPARAM>(hwnd()), scaled);
        return 0;
    }

    LRESULT onLeftButtonUp(int, int, WPARAM) override {
        ReleaseCapture();
        endDrag();
        return 0;
    }

    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        // A capture taken away mid-drag (another window, a box) ends the drag, so the
        // cursor never stays hidden.
        if (message == WM_CAPTURECHANGED) {
            endDrag();
            return 0;
        }
        return defaultProcessing(message, wParam, lParam);
    }

    LRESULT onUser(WPARAM, LPARAM lParam) override {
        const double wanted = static_cast<int>(lParam) * 0.001;
        const double difference = value - wanted;
        if (difference > -0.0001 && difference < 0.0001) return 0;
        value = clampUnit(wanted);
        repaintNow(hwnd());
        return 0;
    }

private:
    void endDrag() {
        if (!knobDrag.dragging) return;
        SetCursorPos(knobDrag.anchor.x, knobDrag.anchor.y);
        knobDrag.dragging = false;
        ShowCursor(TRUE);
    }
};

class SwitchControl : public Window {
public:
    unsigned char value = 0;

protected:
    LRESULT onCreate(CREATESTRUCTA*) override {
        resizeTo(hwnd(), kSwitchWidth, kSwitchHeight);
        return 0;
    }

    LRESULT onPaint() override {
        paintImage(hwnd(), sharedResources().switchStates, value);
        return 0;
    }

    LRESULT onEraseBackground(HDC) override { return 1; }
    LRESULT onLeftButtonDown(int, int, WPARAM) override { return toggle(); }
    LRESULT onLeftDoubleClick(int, int, WPARAM) override { return toggle(); }
    // The right button flips the switch too, unless the switch has a menu: then it is
    // left to the default processing, which asks the parent for it (WM_CONTEXTMENU).
    LRESULT onRightButtonDown(int x, int y, WPARAM keys) override {
        return hasMenu() ? Window::onRightButtonDown(x, y, keys) : toggle();
    }
    LRESULT onRightDoubleClick(int x, int y, WPARAM keys) override {
        return hasMenu() ? Window::onRightDoubleClick(x, y, keys) : toggle();
    }
    bool hasMenu() const { return (GetWindowLongA(hwnd(), GWL_STYLE) & SWITCH_HAS_MENU) != 0; }

    LRESULT onUser(WPARAM, LPARAM lParam) override {
        if (lParam == static_cast<LPARAM>(value)) return 0;
        const signed char wanted = static_cast<signed char>(lParam);
        value = wanted < 0 ? 0 : (wanted > 1 ? 1 : static_cast<unsigned char>(wanted));
        repaintNow(hwnd());
        return 0;
    }

private:
    LRESULT toggle() {
        value = static_cast<unsigned char>(1 - value);
        repaintNow(hwnd());
        notifyParent(hwnd(), value);
        return 0;
    }
};

class StaticControl : public Window {
public:
    char text[kStaticTextBytes] = {};
    char tag[kStaticTagBytes] = {};

    COLORREF textColour() const {
        return std::strcmp(text, kEmptyPositionText) == 0 ? RGB(200, 200, 255) : RGB(230, 230, 255);
    }

protected:
    LRESULT onCreate(CREATESTRUCTA*) override {
        resizeTo(hwnd(), kSwitchWidth, kSwitchHeight);
        return 0;
    }

    LRESULT onPaint() override {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd(), &paint);
        if (sharedResources().textFont) {
            RECT client;
            GetClientRect(hwnd(), &client);
            HGDIOBJ oldFont = SelectObject(dc, sharedResources().textFont);
            SetBkMode(dc, TRANSPARENT);
            // The tag keeps the right end; the text is centred in what is left, and
            // cut with an ellipsis rather than run under the tag.
            RECT textArea = client;
            if (tag[0] && sharedResources().tagFont) {
                SelectObject(dc, sharedResources().tagFont);
                SetTextColor(dc, RGB(235, 160, 40));
                RECT tagArea = client;
                tagArea.right -= 4;
                DrawTextA(dc, tag, -1, &tagArea, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
                SIZE extent = {0, 0};
                GetTextExtentPoint32A(dc, tag, int(std::strlen(tag)), &extent);
                textArea.right = tagArea.right - extent.cx - 4;
                SelectObject(dc, sharedResources().textFont);
            }
            SetTextColor(dc, textColour());
            const int length = static_cast<int>(std::strlen(text));
            SIZE extent = {0, 0};
            GetTextExtentPoint32A(dc, text, length, &extent);
            if (tag[0] || extent.cx > textArea.right + 8) {
                DrawTextA(dc, text, length, &textArea,
                          DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
            } else {
                // Centred on the field even where a value is a few pixels wider.
                TextOutA(dc, (client.right - extent.cx) / 2, (client.bottom - extent.cy) / 2, text, length);
            }
            SelectObject(dc, oldFont);
        }
        EndPaint(hwnd(), &paint);
        return 0;
    }

    LRESULT onLeftDoubleClick(int, int, WPARAM) override {
        notifyParent(hwnd(), 1);
        return 0;
    }

    LRESULT onRightButtonDown(int, int, WPARAM) override {
        notifyParent(hwnd(), 0);
        return 0;
    }

    // Only a static made with SS_NOTIFY tells of the mouse: others' parents take any
    // notification for a click.
    LRESULT onMouseMove(int, int, WPARAM) override {
        if (GetWindowLongA(hwnd(), GWL_STYLE) & SS_NOTIFY)
            notifyParent(hwnd(), kStaticHovered);
        return 0;
    }

    LRESULT onUser(WPARAM which, LPARAM lParam) override {
        const char* wanted = reinterpret_cast<const char*>(lParam);
        if (!wanted) return 0;
        if (which == kStaticTag)
            return replaceText(tag, sizeof tag, wanted);
        return replaceText(text, sizeof text, wanted);
    }

private:
    // A longer text than the field holds is cut, never copied past its end.
    LRESULT replaceText(char* field, size_t size, const char* wanted) {
        char copy[kStaticTextBytes];
        size_t length = strnlen(wanted, size - 1);
        std::memcpy(copy, wanted, length);
        copy[length] = '\0';
        if (std::strcmp(copy, field) == 0) return 0;
        std::memcpy(field, copy, length + 1);
        InvalidateRect(hwnd(), nullptr, TRUE);
        UpdateWindow(hwnd());
        return 0;
    }
};

template <class T>
T* controlOf(HWND hwnd, const char* className) {
    return Window::ofClass<T>(hwnd, className);
}

WNDCLASSEXA controlClass(HINSTANCE instance, const char* name, UINT extraStyle) {
    WNDCLASSEXA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | extraStyle;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = name;
    return windowClass;
}

}  // namespace

bool registerKnobClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = controlClass(instance, kKnobClassName, 0);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_SIZENS);
    return Window::registerClass<KnobControl>(windowClass);
}

bool registerSwitchClass(HINSTANCE instance) {
    return Window::registerClass<SwitchControl>(controlClass(instance, kSwitchClassName, CS_DBLCLKS));
}

bool registerStaticClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = controlClass(instance, kStaticClassName, CS_DBLCLKS);
    windowClass.hbrBackground = CreateSolidBrush(RGB(0x14, 0x14, 0x1E));
    return Window::registerClass<StaticControl>(windowClass);
}

bool registerControlClasses(HINSTANCE instance) {
    return registerKnobClass(instance) && registerSwitchClass(instance) && registerStaticClass(instance);
}

float knobValue(HWND knob) {
    const KnobControl* control = controlOf<KnobControl>(knob, kKnobClassName);
    return control ? control->value : -1.0f;
}

int switchValue(HWND switchControl) {
    const SwitchControl* control = controlOf<SwitchControl>(switchControl, kSwitchClassName);
    return control ? control->value : -1;
}

const char* staticText(HWND staticControl) {
    const StaticControl* control = controlOf<StaticControl>(staticControl, kStaticClassName);
    return control ? control->text : nullptr;
}

const char* staticTag(HWND staticControl) {
    const StaticControl* control = controlOf<StaticControl>(staticControl, kStaticClassName);
    return control ? control->tag : nullptr;
}

COLORREF staticTextColour(HWND staticControl) {
    const StaticControl* control = controlOf<StaticControl>(staticControl, kStaticClassName);
    return control ? control->textColour() : CLR_INVALID;
}
