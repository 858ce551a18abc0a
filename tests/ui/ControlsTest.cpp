// The program's own controls driven through their messages on the bench's display:
// knob steps and set-value, switch and static, the toolbar's press states, the VU
// meters' segments and the CPU display, painted pixels included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "WinInclude.h"
#include <commctrl.h>

#include "Controls.h"
#include "CpuDisplay.h"
#include "SharedResources.h"
#include "Toolbar.h"
#include "UiTestSupport.h"
#include "VuMeter.h"

namespace {

const COLORREF kPanel = RGB(20, 20, 30);
const COLORREF kLit = RGB(0x0F, 0xEA, 0x4E);
const COLORREF kHot = RGB(0xFF, 0x4E, 0x2B);
const COLORREF kUnlit = RGB(0x2E, 0x30, 0x33);

class UiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        ASSERT_TRUE(registerControlClasses(instance));
        ASSERT_TRUE(registerToolbarClass(instance));
        ASSERT_TRUE(registerVuMeterClass(instance));
        createSharedResources(instance);
    }
    void TearDown() override { deleteSharedResources(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

POINT cursor() {
    POINT p;
    GetCursorPos(&p);
    return p;
}

SIZE windowSize(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// Moves the cursor by dy from the anchor and lets the dragged knob see it.
void dragBy(HWND knob, POINT anchor, int dx, int dy, WPARAM keys) {
    SetCursorPos(anchor.x + dx, anchor.y + dy);
    SendMessageA(knob, WM_MOUSEMOVE, keys | MK_LBUTTON, MAKELPARAM(13, 13));
}

}  // namespace

TEST(KnobTest, StepsBySizeOfMoveAndKeysNotifiesParentAndTakesItsValueQuietly) {
    RecordingParent parent(200, 120, kPanel);
    HWND knob = parent.createChild(kKnobClassName, 1009, 20, 20, 60, 60);
    ASSERT_NE(knob, nullptr);
    EXPECT_EQ(windowSize(knob).cx, 27);
    EXPECT_EQ(windowSize(knob).cy, 27);
    EXPECT_EQ(knobValue(knob), 0.0f);

    // The parent's value: taken without a word back; within 0.0001 of the value it is no change.
    SendMessageA(knob, kSetControlValue, 0, 500);
    EXPECT_FLOAT_EQ(knobValue(knob), 0.5f);
    SendMessageA(knob, kSetControlValue, 0, 501);
    EXPECT_NEAR(knobValue(knob), 0.501f, 1e-6);
    SendMessageA(knob, kSetControlValue, 0, 5000);
    EXPECT_EQ(knobValue(knob), 1.0f);
    SendMessageA(knob, kSetControlValue, 0, -20);
    EXPECT_EQ(knobValue(knob), 0.0f);
    SendMessageA(knob, kSetControlValue, 0, 500);
    EXPECT_TRUE(parent.messages().empty());

    // A drag: the cursor is hidden on the knob's anchor and returned there after every move.
    SetCursorPos(300, 300);
    const POINT anchor = cursor();
    SendMessageA(knob, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(13, 13));
    EXPECT_EQ(GetCapture(), knob);

    struct Step {
        int dx, dy;
        WPARAM keys;
        float value;  // after the step
        LPARAM notified;
    };
    const Step steps[] = {
        {0, -25, 0, 0.6f, 600},                         // 0.004 per pixel, up raises
        {0, 5, MK_SHIFT, 0.5f, 500},                    // 0.02 per pixel with Shift
        {0, -100, MK_CONTROL, 0.51f, 510},              // 0.0001 per pixel with Ctrl
        {0, -100, MK_CONTROL | MK_SHIFT, 0.52f, 520},   // Ctrl wins over Shift
        {40, 0, 0, 0.52f, -1},                          // sideways: nothing
        {0, 200, 0, 0.0f, 0},                           // down past the end stops at 0
    };
    for (const Step& step : steps) {
        parent.clear();
        dragBy(knob, anchor, step.dx, step.dy, step.keys);
        EXPECT_NEAR(knobValue(knob), step.value, 1e-6) << step.dy;
        // Wine hands a warped cursor's position to the X server and back on its own
        // time; on a busy machine the read can lag the knob's warp a little.
        POINT back = cursor();
        for (int i = 0; i < 100 && (back.x != anchor.x || back.y != anchor.y); ++i) {
            Sleep(10);
            back = cursor();
        }
        EXPECT_EQ(back.x, anchor.x);
        EXPECT_EQ(back.y, anchor.y);
        if (step.notified < 0) {
            EXPECT_TRUE(parent.messages().empty());
            continue;
        }
        ASSERT_EQ(parent.messages().size(), 2u) << step.dy;
        const RecordingParent::Message& command = parent.messages()[0];
        EXPECT_EQ(command.message, UINT(WM_COMMAND));
        EXPECT_EQ(command.wParam, WPARAM(1009));
        EXPECT_EQ(command.lParam, step.notified);
        const RecordingParent::Message& value = parent.messages()[1];
        EXPECT_EQ(value.message, kKnobValueChanged);
        EXPECT_EQ(value.wParam, reinterpret_cast<WPARAM>(knob));
        EXPECT_EQ(value.lParam, step.notified);
    }

    // At the top it stays at 1.0 and still tells the parent on every move.
    SendMessageA(knob, kSetControlValue, 0, 1000);
    parent.clear();
    dragBy(knob, anchor, 0, -10, 0);
    dragBy(knob, anchor, 0, -10, 0);
    EXPECT_EQ(knobValue(knob), 1.0f);
    ASSERT_EQ(parent.messages().size(), 4u);
    EXPECT_EQ(parent.messages()[2].lParam, 1000);

    SendMessageA(knob, WM_LBUTTONUP, 0, MAKELPARAM(13, 13));
    EXPECT_EQ(GetCapture(), nullptr);
    // Not dragging any more: moves change nothing.
    parent.clear();
    dragBy(knob, anchor, 0, -30, 0);
    EXPECT_EQ(knobValue(knob), 1.0f);
    EXPECT_TRUE(parent.messages().empty());

    // The picture follows the value: fully left and fully right differ.
    SendMessageA(knob, kSetControlValue, 0, 0);
    const ScreenPixels left = clientPixels(knob);
    SendMessageA(knob, kSetControlValue, 0, 1000);
    const ScreenPixels right = clientPixels(knob);
    int differing = 0;
    for (int y = 0; y < 27; ++y)
        for (int x = 0; x < 27; ++x) differing += left.at(x, y) != right.at(x, y);
    EXPECT_GT(differing, 40);
}

TEST(SwitchAndStaticTest, ClicksToggleAndNotifySetValuesAreLimitedAndQuiet) {
    RecordingParent parent(200, 120, kPanel);
    HWND toggle = parent.createChild(kSwitchClassName, 1013, 10, 10, 80, 80);
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(windowSize(toggle).cx, 32);
    EXPECT_EQ(windowSize(toggle).cy, 16);
    EXPECT_EQ(switchValue(toggle), 0);

    SendMessageA(toggle, kSetControlValue, 0, 5);
    EXPECT_EQ(switchValue(toggle), 1);
    SendMessageA(toggle, kSetControlValue, 0, -3);
    EXPECT_EQ(switchValue(toggle), 0);
    EXPECT_TRUE(parent.messages().empty());

    const UINT clicks[] = {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK};
    int expected = 0;
    for (UINT click : clicks) {
        parent.clear();
        SendMessageA(toggle, click, 0, MAKELPARAM(4, 4));
        expected = 1 - expected;
        EXPECT_EQ(switchValue(toggle), expected);
        ASSERT_EQ(parent.messages().size(), 1u);
        EXPECT_EQ(parent.messages()[0].wParam, WPARAM(1013));
        EXPECT_EQ(parent.messages()[0].lParam, expected);
    }
    // The picture shows the state.
    SendMessageA(toggle, kSetControlValue, 0, 0);
    const ScreenPixels off = clientPixels(toggle);
    SendMessageA(toggle, kSetControlValue, 0, 1);
    const ScreenPixels on = clientPixels(toggle);
    int differing = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) differing += off.at(x, y) != on.at(x, y);
    EXPECT_GT(differing, 50);

    HWND text = parent.createChild(kStaticClassName, 1021, 10, 40, 80, 80);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(windowSize(text).cx, 32);
    EXPECT_EQ(windowSize(text).cy, 16);
    EXPECT_STREQ(staticText(text), "");
    MoveWindow(text, 10, 40, 185, 17, TRUE);
    SendMessageA(text, kSetControlValue, 0, reinterpret_cast<LPARAM>("<no effect>"));
    EXPECT_STREQ(staticText(text), "<no effect>");
    EXPECT_EQ(staticTextColour(text), RGB(200, 200, 255));
    SendMessageA(text, kSetControlValue, 0, reinterpret_cast<LPARAM>("Overdrive"));
    EXPECT_STREQ(staticText(text), "Overdrive");
    EXPECT_EQ(staticTextColour(text), RGB(230, 230, 255));
    // Its background is the panel colour; text is drawn in the middle.
    const ScreenPixels field = clientPixels(text);
    EXPECT_TRUE(nearColour(field.at(1, 1), kPanel));
    int bright = 0;
    for (int y = 0; y < 17; ++y)
        for (int x = 60; x < 125; ++x) bright += GetRValue(field.at(x, y)) > 120;
    EXPECT_GT(bright, 10);

    // A text longer than the field holds is cut at 99 characters.
    const std::string longText(150, 'x');
    SendMessageA(text, kSetControlValue, 0, reinterpret_cast<LPARAM>(longText.c_str()));
    EXPECT_EQ(std::strlen(staticText(text)), 99u);
    SendMessageA(text, kSetControlValue, 0, 0);  // a null text is ignored
    EXPECT_EQ(std::strlen(staticText(text)), 99u);

    parent.clear();
    SendMessageA(text, WM_LBUTTONDBLCLK, 0, 0);
    SendMessageA(text, WM_RBUTTONDOWN, 0, 0);
    SendMessageA(text, WM_LBUTTONDOWN, 0, 0);  // a single left click says nothing
    ASSERT_EQ(parent.messages().size(), 2u);
    EXPECT_EQ(parent.messages()[0].wParam, WPARAM(1021));
    EXPECT_EQ(parent.messages()[0].lParam, 1);
    EXPECT_EQ(parent.messages()[1].lParam, 0);

    // Messages for another class's window are not taken as a control's.
    EXPECT_EQ(knobValue(text), -1.0f);
    EXPECT_EQ(switchValue(text), -1);
}

TEST(ToolbarTest, PressReleasedOnTheButtonSendsItsCommandDraggedOffSendsNothing) {
    RecordingParent parent(600, 80, GetSysColor(COLOR_BTNFACE));
    HWND toolbar = createToolbar(parent.hwnd(), GetModuleHandleA(nullptr));
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(windowSize(toolbar).cx, 590);
    EXPECT_EQ(windowSize(toolbar).cy, 54);

    // The group gaps: after the fourth, the seventh and the eighth button.
    EXPECT_EQ(toolbarButtonRect(0).left, 10);
    EXPECT_EQ(toolbarButtonRect(3).left, 169);
    EXPECT_EQ(toolbarButtonRect(4).left, 237);
    EXPECT_EQ(toolbarButtonRect(7).left, 411);
    EXPECT_EQ(toolbarButtonRect(8).left, 479);
    EXPECT_EQ(toolbarButtonRect(9).right, 582);
    EXPECT_EQ(toolbarButtonCommand(8), 32808);
    EXPECT_EQ(toolbarButtonCommand(9), 32809);

    const RECT save = toolbarButtonRect(2);
    const LPARAM onSave = MAKELPARAM(save.left + 25, 25);
    SendMessageA(toolbar, WM_MOUSEMOVE, 0, onSave);
    EXPECT_EQ(toolbarButtonState(toolbar, 2), ToolbarButtonState::hot);
    const RECT open = toolbarButtonRect(1);
    SendMessageA(toolbar, WM_MOUSEMOVE, 0, MAKELPARAM(open.left + 25, 25));
    EXPECT_EQ(toolbarButtonState(toolbar, 1), ToolbarButtonState::hot);
    EXPECT_EQ(toolbarButtonState(toolbar, 2), ToolbarButtonState::normal);

    // Pressed and released on the button: its command, and it stays lit under the cursor.
    // The screen's cursor is elsewhere meanwhile: the hover check, which puts out lit
    // buttons once the cursor has left, must leave a held one to its release.
    SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, onSave);
    EXPECT_EQ(toolbarButtonState(toolbar, 2), ToolbarButtonState::pressed);
    EXPECT_EQ(toolbarButtonState(toolbar, 1), ToolbarButtonState::normal);
    SetCursorPos(700, 500);
    pumpMessages(200);
    EXPECT_EQ(toolbarButtonState(toolbar, 2), ToolbarButtonState::pressed);
    const ScreenPixels pressed = clientPixels(toolbar);
    POINT onSaveOnScreen = {save.left + 25, 25};
    ClientToScreen(toolbar, &onSaveOnScreen);
    SetCursorPos(onSaveOnScreen.x, onSaveOnScreen.y);
    SendMessageA(toolbar, WM_LBUTTONUP, 0, onSave);
    ASSERT_EQ(parent.messages().size(), 1u);
    EXPECT_EQ(parent.messages()[0].message, UINT(WM_COMMAND));
    EXPECT_EQ(parent.messages()[0].wParam, WPARAM(32772));
    EXPECT_EQ(toolbarButtonState(toolbar, 2), ToolbarButtonState::hot);
    const ScreenPixels hot = clientPixels(toolbar);
    // The pressed picture sits one pixel lower and further right than the hot one.
    int shifted = 0;
    for (int y = 8; y < 46; ++y)
        for (int x = save.left + 2; x < save.left + 49; ++x) shifted += pressed.at(x, y) != hot.at(x, y);
    EXPECT_GT(shifted, 100);

    // Pressed, dragged off and released elsewhere: the press is cancelled.
    parent.clear();
    const RECT record = toolbarButtonRect(6);
    SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(record.left + 20, 20));
    EXPECT_EQ(toolbarButtonState(toolbar, 6), ToolbarButtonState::pressed);
    EXPECT_EQ(GetCapture(), toolbar);
    SendMessageA(toolbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(record.left + 20, 52));
    EXPECT_EQ(toolbarButtonState(toolbar, 6), ToolbarButtonState::pressed);
    SendMessageA(toolbar, WM_LBUTTONUP, 0, MAKELPARAM(record.right + 8, 20));
    EXPECT_TRUE(parent.messages().empty());
    EXPECT_EQ(toolbarButtonState(toolbar, 6), ToolbarButtonState::normal);
    EXPECT_EQ(GetCapture(), nullptr);

    // A held button whose capture is taken lets go without its command.
    SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(record.left + 20, 20));
    EXPECT_EQ(toolbarButtonState(toolbar, 6), ToolbarButtonState::pressed);
    SetCapture(parent.hwnd());
    EXPECT_EQ(toolbarButtonState(toolbar, 6), ToolbarButtonState::normal);
    ReleaseCapture();
    SendMessageA(toolbar, WM_LBUTTONUP, 0, MAKELPARAM(record.left + 20, 20));
    EXPECT_TRUE(parent.messages().empty());

    // Clicks between buttons or below them do nothing.
    SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(toolbarButtonRect(3).right + 7, 20));
    SendMessageA(toolbar, WM_LBUTTONUP, 0, MAKELPARAM(toolbarButtonRect(3).right + 7, 20));
    for (int i = 0; i < kToolbarButtonCount; ++i) EXPECT_NE(toolbarButtonState(toolbar, i), ToolbarButtonState::pressed);
    EXPECT_TRUE(parent.messages().empty());

    // Tooltips: ten tools on the toolbar, four more on the navigation bar.
    RecordingParent navigation(293, 130, RGB(20, 20, 30));
    HWND tips = createToolbarTips(toolbar, navigation.hwnd(), GetModuleHandleA(nullptr));
    ASSERT_NE(tips, nullptr);
    EXPECT_EQ(SendMessageA(tips, TTM_GETTOOLCOUNT, 0, 0), 14);
    char text[80] = {};
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = toolbar;
    tool.uId = 3;
    tool.lpszText = text;
    SendMessageA(tips, TTM_GETTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, "Open Accompaniment");
    tool.uId = 9;
    SendMessageA(tips, TTM_GETTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, "Tap Tempo (T)");
    tool.hwnd = navigation.hwnd();
    tool.uId = 13;
    SendMessageA(tips, TTM_GETTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, "Position");
    DestroyWindow(tips);
}

TEST(VuMeterTest, PeaksLightSegmentsInTheirColours) {
    EXPECT_EQ(litSegments(1.0f), 43);
    EXPECT_EQ(litSegments(0.5f), 39);
    EXPECT_EQ(litSegments(0.0001f), 0);
    EXPECT_EQ(litSegments(2.0f), 43);
    EXPECT_EQ(litSegments(0.0f), 0);
    EXPECT_EQ(litSegments(-1.0f), 0);
    EXPECT_EQ(litSegments(INFINITY), 43);
    EXPECT_EQ(litSegments(NAN), 0);

    RecordingParent frame(100, 100, kPanel);
    ASSERT_TRUE(createVuMeters(frame.hwnd(), GetModuleHandleA(nullptr)));
    HWND input = inputMeterWindow();
    HWND output = outputMeterWindow();
    char title[64];
    GetWindowTextA(input, title, sizeof title);
    EXPECT_STREQ(title, "Input VU Meter");
    GetWindowTextA(output, title, sizeof title);
    EXPECT_STREQ(title, "Output VU Meter");
    RECT client;
    GetClientRect(input, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 56);
    EXPECT_FALSE(IsWindowVisible(input));

    SetWindowPos(input, HWND_TOPMOST, 120, 150, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(output, HWND_TOPMOST, 120, 260, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    POINT moved;
    ASSERT_TRUE(meterPosition(input, moved));
    EXPECT_EQ(moved.x, 120);
    EXPECT_EQ(moved.y, 150);

    showMeters();
    EXPECT_TRUE(IsWindowVisible(input));
    updateMeters(1.0f, 0.5f, 0.0001f, 0.0f);
    EXPECT_EQ(meterLitSegments(input, 0), 43);
    EXPECT_EQ(meterLitSegments(input, 1), 39);
    EXPECT_EQ(meterLitSegments(output, 0), 0);

    const ScreenPixels shown = clientPixels(input);
    auto segment = [&](int row, int k) { return shown.at(65 + 5 * k + 1, row == 0 ? 16 : 39); };
    // Full scale: green up to segment 37, the last five in the hot colour.
    EXPECT_TRUE(nearColour(segment(0, 0), kLit));
    EXPECT_TRUE(nearColour(segment(0, 37), kLit));
    EXPECT_TRUE(nearColour(segment(0, 38), kHot));
    EXPECT_TRUE(nearColour(segment(0, 42), kHot));
    // Half scale (-6 dB): 39 segments, the 39th already hot.
    EXPECT_TRUE(nearColour(segment(1, 38), kHot));
    EXPECT_TRUE(nearColour(segment(1, 39), kUnlit));
    const ScreenPixels silent = clientPixels(output);
    EXPECT_TRUE(nearColour(silent.at(66, 16), kUnlit));
    EXPECT_TRUE(nearColour(silent.at(66 + 5 * 42, 39), kUnlit));

    // The next tick's peaks repaint what changed.
    updateMeters(0.0f, 0.0f, 0.5f, 0.5f);
    EXPECT_TRUE(nearColour(clientPixels(input).at(66, 16), kUnlit));
    EXPECT_TRUE(nearColour(clientPixels(output).at(66 + 5 * 38, 39), kHot));
    hideMeters();
    EXPECT_FALSE(IsWindowVisible(input));
    EXPECT_FALSE(IsWindowVisible(output));
}

TEST(CpuDisplayTest, LoadInTenthsShowsBarPixelsAndPercentText) {
    char text[32];
    formatCpuLoad(523, text, sizeof text);
    EXPECT_STREQ(text, "52.3 %");
    EXPECT_EQ(cpuBarWidth(523), 52);
    formatCpuLoad(-100, text, sizeof text);  // no performance counter
    EXPECT_STREQ(text, "0.0 %");
    EXPECT_EQ(cpuBarWidth(-100), 0);
    formatCpuLoad(1500, text, sizeof text);
    EXPECT_STREQ(text, "100.0 %");
    EXPECT_EQ(cpuBarWidth(1500), 100);

    // Painted: the bar's first 52 pixels from the picture, the rest of the inner area black.
    MemoryCanvas canvas(400, 40, GetSysColor(COLOR_BTNFACE));
    const int y = 10;
    paintCpuUsage(canvas.dc(), y, 523);
    HGDIOBJ old = SelectObject(canvas.dc(), sharedResources().textFont);
    SIZE label;
    GetTextExtentPoint32A(canvas.dc(), "CPU Usage:", 10, &label);
    SelectObject(canvas.dc(), old);
    const int barLeft = label.cx + 16;
    for (int x = barLeft; x < barLeft + 52; ++x)
        EXPECT_FALSE(nearColour(canvas.at(x, y + 7), RGB(0, 0, 0), 10)) << x;
    for (int x = barLeft + 52; x < label.cx + 116; ++x) EXPECT_EQ(canvas.at(x, y + 7), RGB(0, 0, 0)) << x;
    // The label was written in black left of the bar.
    int ink = 0;
    for (int x = 10; x < 10 + label.cx; ++x)
        for (int row = y; row < y + 8; ++row) ink += canvas.at(x, row) == RGB(0, 0, 0);
    EXPECT_GT(ink, 10);

    // The frame's timer draws into the bottom strip only when the shown load changes.
    RecordingParent frame(400, 100, GetSysColor(COLOR_BTNFACE));
    EXPECT_TRUE(updateCpuUsage(frame.hwnd(), 523));
    EXPECT_FALSE(updateCpuUsage(frame.hwnd(), 523));
    const ScreenPixels strip = clientPixels(frame.hwnd());
    EXPECT_FALSE(nearColour(strip.at(barLeft + 30, 100 - 25 + 7), RGB(0, 0, 0), 10));
    EXPECT_TRUE(updateCpuUsage(frame.hwnd(), 100));
    EXPECT_EQ(clientPixels(frame.hwnd()).at(barLeft + 30, 100 - 25 + 7), RGB(0, 0, 0));

    // An empty bar leaves the whole inner area black.
    MemoryCanvas idle(400, 40, GetSysColor(COLOR_BTNFACE));
    paintCpuUsage(idle.dc(), y, 0);
    EXPECT_EQ(idle.at(barLeft, y + 7), RGB(0, 0, 0));
}

// The program's pieces as a musician sees them, saved for people to look at: the
// toolbar with one button lit, the controls on the effects panel's faceplate, both
// meters and the CPU display.
TEST(ScreenshotTest, ControlsToolbarAndMetersAsShown) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const int width = 548;
    RecordingParent top(0, 0, width, 54, GetSysColorBrush(COLOR_BTNFACE));
    HWND toolbar = createToolbar(top.hwnd(), instance);
    MoveWindow(toolbar, 0, 0, width, 54, TRUE);
    SendMessageA(toolbar, WM_MOUSEMOVE, 0, MAKELPARAM(toolbarButtonRect(4).left + 20, 20));

    ASSERT_NE(sharedResources().panelBrush, nullptr);
    RecordingParent panel(0, 54, width, 262, sharedResources().panelBrush);
    struct Knob {
        int id, x, y, value;
        int staticId, staticX, staticY;
        const char* text;
    };
    const Knob knobs[] = {{1009, 20, 35, 750, 1030, 53, 45, "0.00"},    {1008, 20, 67, 820, 1032, 53, 74, "5.60"},
                          {1010, 20, 134, 0, 1029, 54, 145, "5.0"},     {1011, 20, 166, 191, 1031, 54, 174, "100.0"},
                          {1012, 20, 197, 333, 1033, 54, 203, "-42.00"}};
    for (const Knob& k : knobs) {
        HWND knob = panel.createChild(kKnobClassName, k.id, k.x, k.y);
        SendMessageA(knob, kSetControlValue, 0, k.value);
        HWND text = panel.createChild(kStaticClassName, k.staticId, k.staticX, k.staticY);
        MoveWindow(text, k.staticX, k.staticY, 41, 14, TRUE);
        SendMessageA(text, kSetControlValue, 0, reinterpret_cast<LPARAM>(k.text));
    }
    HWND dcFilter = panel.createChild(kSwitchClassName, 1007, 345, 8);
    SendMessageA(dcFilter, kSetControlValue, 0, 1);
    const char* const effects[8] = {"Overdrive", "Filtrace", "Modulane", "<no effect>",
                                    "<no effect>", "<no effect>", "<no effect>", "<no effect>"};
    for (int r = 0; r < 8; ++r) {
        HWND name = panel.createChild(kStaticClassName, 1021 + r, 282, 71 + 22 * r);
        MoveWindow(name, 282, 71 + 22 * r, 185, 17, TRUE);
        SendMessageA(name, kSetControlValue, 0, reinterpret_cast<LPARAM>(effects[r]));
        HWND on = panel.createChild(kSwitchClassName, 1013 + r, 490, 73 + 22 * r);
        SendMessageA(on, kSetControlValue, 0, r == 0 || r == 2);
    }

    ASSERT_TRUE(createVuMeters(top.hwnd(), instance));
    RECT meter;
    GetWindowRect(inputMeterWindow(), &meter);
    const int meterWidth = meter.right - meter.left, meterHeight = meter.bottom - meter.top;
    SetWindowPos(inputMeterWindow(), HWND_TOPMOST, 0, 320, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(outputMeterWindow(), HWND_TOPMOST, meterWidth + 4, 320, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    showMeters();
    updateMeters(0.5f, 0.2f, 0.95f, 0.03f);

    RecordingParent bottom(0, 320 + meterHeight + 4, width, 25, GetSysColorBrush(COLOR_BTNFACE));
    for (HWND window : {top.hwnd(), panel.hwnd(), bottom.hwnd()})
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pumpMessages(300);
    HDC dc = GetDC(bottom.hwnd());
    paintCpuUsage(dc, 4, 523);
    ReleaseDC(bottom.hwnd(), dc);
    pumpMessages(100);

    // The navigation bar's artwork beside the panel: name display, transport buttons
    // (play lit), the position thumb and the level knob.
    HBITMAP navigationBitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(150));
    ASSERT_NE(navigationBitmap, nullptr);
    HBRUSH navigationBrush = CreatePatternBrush(navigationBitmap);
    RecordingParent navigation(2 * meterWidth + 12, 54, 293, 130, navigationBrush);
    HWND level = navigation.createChild(kKnobClassName, 1, 217, 35);
    SendMessageA(level, kSetControlValue, 0, 500);
    RedrawWindow(navigation.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pumpMessages(100);
    dc = GetDC(navigation.hwnd());
    const SharedResources& shared = sharedResources();
    ImageList_Draw(shared.transportButtons, 1, dc, 10, 80, ILD_NORMAL);
    ImageList_Draw(shared.transportButtons, 2, dc, 46, 80, ILD_NORMAL);
    ImageList_Draw(shared.transportButtons, 4, dc, 82, 80, ILD_NORMAL);
    ImageList_Draw(shared.positionThumb, 0, dc, 128 + 35, 80, ILD_NORMAL);
    HGDIOBJ oldFont = SelectObject(dc, shared.textFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(230, 230, 255));
    TextOutA(dc, 30, 28, "backing.take1", 13);
    SelectObject(dc, oldFont);
    ReleaseDC(navigation.hwnd(), dc);
    pumpMessages(50);

    const ScreenPixels shot(0, 0, 2 * meterWidth + 12 + 293, 320 + meterHeight + 4 + 25);
    const std::string path = screenshotFolder() + "\\controls.png";
    ASSERT_TRUE(shot.savePng(path)) << path;
    // The knobs were drawn over the faceplate: the input gain's pointer is white-ish.
    int bright = 0;
    for (int y = 54 + 35; y < 54 + 62; ++y)
        for (int x = 20; x < 47; ++x) bright += GetRValue(shot.at(x, y)) > 200 && GetBValue(shot.at(x, y)) > 200;
    EXPECT_GT(bright, 3);
    hideMeters();
    DestroyWindow(inputMeterWindow());
    DestroyWindow(outputMeterWindow());
    DestroyWindow(navigation.hwnd());
    DeleteObject(navigationBrush);
    DeleteObject(navigationBitmap);
}
