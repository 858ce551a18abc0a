// The editor windows of the hosted program with our three effects, which have no
// editor of their own: the parameter view's size and rows, a drag of a value bar
// with the bar drawn to the value, reopening an open editor, the program menu and a
// program chosen from it, idle calls, and the windows closing with unloading and
// Close All. A screenshot of the three parameter views goes to the build folder.
#include <gtest/gtest.h>

#include <string>

#include "WinInclude.h"

#include "EditorWindow.h"
#include "EffectHost.h"
#include "EffectIds.h"
#include "EffectSlot.h"
#include "FrameWindow.h"
#include "FxManagerWindow.h"
#include "HostedProgram.h"
#include "LiveSettings.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const std::string kOurPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

HWND activeChild() {
    return reinterpret_cast<HWND>(SendMessageA(g_windows.mdiClient, WM_MDIGETACTIVE, 0, 0));
}

int countEditors() {
    int count = 0;
    for (HWND child = GetWindow(g_windows.mdiClient, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        count += className(child) == kEditorFrameClassName ? 1 : 0;
    return count;
}

// The value bar's lit width in row `row` of a parameter view, read from the screen.
// A pixel that cannot be read (another top-level window, a tooltip or a menu's
// shadow, lies over it for a moment) is read again after the view has repainted.
int litWidth(HWND view, int row) {
    const int y = 30 + 17 * row + 8;
    int width = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        HDC dc = GetDC(view);
        bool hidden = false;
        width = 0;
        for (COLORREF pixel; width < 82; ++width) {
            pixel = GetPixel(dc, 259 + width, y);
            hidden = pixel == CLR_INVALID;
            if (hidden || pixel == RGB(0, 0, 0))
                break;
        }
        ReleaseDC(view, dc);
        if (!hidden)
            break;
        Sleep(100);
        InvalidateRect(view, nullptr, TRUE);
        UpdateWindow(view);
    }
    return width;
}

// Moves the cursor dx pixels from where the drag holds it and lets the view see it
// (the view puts it back on the anchor), until reached() holds. Wine also reports a
// warp as a mouse move of its own, and one arriving late from an earlier warp can
// put the cursor back on the anchor before the view reads it; so a move the view
// did not take is made again. Each step ends at a limit, where repeating it
// changes nothing.
template <class Condition>
bool dragBy(HWND view, POINT anchor, int dx, Condition reached) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        SetCursorPos(anchor.x + dx, anchor.y);
        SendMessageA(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 38));
        if (reached())
            return true;
        Sleep(100);
    }
    return false;
}

}  // namespace

TEST(EditorWindows, ParameterViewsProgramsAndClosing) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        settings.setPair("frameWndSize", 1000, 700);
    }
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    const char* const effects[] = {"Overdrive.dll", "Filtrace.dll", "Modulane.dll"};
    for (int r = 0; r < 3; ++r)
        ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(r, (kOurPlugins + effects[r]).c_str())) << effects[r];
    pressKeys(frame, {VK_CONTROL, 'F'});
    HWND panel = nullptr;
    ASSERT_TRUE(waitUntil([&] { return g_windows.fxManager && (panel = fxManagerPanel()) != nullptr; }, kTimeout));

    // A right-click on a name opens that effect's editor, titled with its name, the
    // view 360 wide and 17 pixels a parameter plus 40 high, 20 pixels in.
    EffectSlot* overdrive = g_liveSettings->slots[0];
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    HWND editor = static_cast<HWND>(overdrive->editorFrame);
    ASSERT_NE(editor, nullptr);
    HWND view = static_cast<HWND>(overdrive->editorView);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(className(editor), kEditorFrameClassName);
    char name[64] = "";
    g_effectHost->effectName(overdrive, name);
    EXPECT_EQ(windowText(editor), name);
    const int height = overdrive->parameterCount * 17 + 40;
    const RECT viewRect = windowRect(view);
    EXPECT_EQ(viewRect.right - viewRect.left, 360);
    EXPECT_EQ(viewRect.bottom - viewRect.top, height);
    EXPECT_EQ(viewRect.left - clientOrigin(editor).x, 20);
    EXPECT_EQ(clientRect(editor).right, 380);
    EXPECT_EQ(clientRect(editor).bottom, height);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    // The first parameter dragged: far left to 0.0, 250 pixels right to 1.0 (the
    // plug-in told, a bar of 78 pixels), and further right it stays.
    POINT anchor{300, 38};
    ClientToScreen(view, &anchor);
    EXPECT_TRUE(placeCursor(anchor.x, anchor.y)) << "the cursor would not stay put";
    SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 38));
    const auto valueIs = [&](float value) { return [=] { return overdrive->parameters[0] == value; }; };
    EXPECT_TRUE(dragBy(view, anchor, -250, valueIs(0.0f)));
    EXPECT_EQ(overdrive->parameters[0], 0.0f);
    EXPECT_EQ(litWidth(view, 0), 0);
    EXPECT_TRUE(dragBy(view, anchor, 250, valueIs(1.0f)));
    EXPECT_EQ(overdrive->parameters[0], 1.0f);
    EXPECT_EQ(overdrive->effect->getParameter(overdrive->effect, 0), 1.0f) << "the plug-in was not told";
    EXPECT_EQ(litWidth(view, 0), 78);
    dragBy(view, anchor, 40, [] { return true; });
    EXPECT_EQ(overdrive->parameters[0], 1.0f);
    SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(300, 38));
    EXPECT_EQ(GetCapture(), nullptr);
    // Half way draws half the bar: 39 pixels.
    overdrive->effect->setParameter(overdrive->effect, 0, 0.5f);
    overdrive->parameters[0] = 0.5f;
    InvalidateRect(view, nullptr, TRUE);
    UpdateWindow(view);
    EXPECT_EQ(litWidth(view, 0), 39);

    // Opened again: the same window comes to the front, nothing new is created.
    PostMessageA(GetDlgItem(panel, IDC_FX_FIRST_NAME + 1), WM_RBUTTONDOWN, MK_RBUTTON, 0);
    ASSERT_TRUE(waitUntil([] { return g_liveSettings->slots[1]->editorFrame != nullptr; }, kTimeout));
    EXPECT_EQ(countEditors(), 2);
    PostMessageA(GetDlgItem(panel, IDC_FX_FIRST_NAME), WM_RBUTTONDOWN, MK_RBUTTON, 0);
    ASSERT_TRUE(waitUntil([&] { return activeChild() == editor; }, kTimeout));
    EXPECT_EQ(countEditors(), 2);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_CMD_EDIT_EFFECT, 0), 0);  // Edit on position 0, current
    EXPECT_EQ(countEditors(), 2);

    // The program menu lists each program name once, the current one checked; a
    // program chosen refreshes the parameter copy from the plug-in.
    EffectSlot* modulane = g_liveSettings->slots[2];
    HMENU programs = buildProgramMenu(modulane);
    ASSERT_NE(programs, nullptr);
    const int items = GetMenuItemCount(programs);
    EXPECT_GE(items, 1);
    EXPECT_LE(items, modulane->programCount);
    EXPECT_TRUE(GetMenuState(programs, 0, MF_BYCOMMAND) & MF_CHECKED);
    DestroyMenu(programs);
    PostMessageA(GetDlgItem(panel, IDC_FX_FIRST_NAME + 2), WM_RBUTTONDOWN, MK_RBUTTON, 0);
    ASSERT_TRUE(waitUntil([&] { return modulane->editorFrame != nullptr; }, kTimeout));
    if (modulane->programCount > 1) {
        SendMessageA(static_cast<HWND>(modulane->editorFrame), WM_COMMAND, MAKEWPARAM(1, 0), 0);
        EXPECT_EQ(modulane->currentProgram, 1);
        for (int32_t i = 0; i < modulane->parameterCount; ++i)
            EXPECT_EQ(modulane->parameters[i], modulane->effect->getParameter(modulane->effect, i)) << i;
    }
    // The three views side by side with the FX Manager for the screenshot.
    int top = 0;
    for (int r = 0; r < 3; ++r) {
        HWND window = static_cast<HWND>(g_liveSettings->slots[r]->editorFrame);
        const RECT place = windowRect(window);
        SetWindowPos(window, nullptr, 560, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        top += place.bottom - place.top + 4;
    }
    SetWindowPos(g_windows.fxManager, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(waitForTicks(2));
    takeScreenshot(kScreenshots, "32-parameter-views");

    // Unloading a position closes its editor; Close All closes the rest.
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_CMD_UNLOAD_EFFECT, 0), 0);  // position 0
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(countEditors(), 2);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_CLOSE_ALL));
    ASSERT_TRUE(waitUntil([] { return countEditors() == 0; }, kTimeout));
    EXPECT_EQ(g_liveSettings->slots[1]->editorFrame, nullptr);
    EXPECT_EQ(g_liveSettings->slots[2]->editorView, nullptr);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
}

namespace {

// The test plug-in's log of dispatcher calls: how many lines start with "op <opcode> ".
int callsLogged(const char* library, int opcode) {
    using LogFunction = int (*)(char*, int);
    auto logOf = reinterpret_cast<LogFunction>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(library), "testPluginLog")));
    if (!logOf)
        return -1;
    std::string log(1 << 20, '\0');
    logOf(&log[0], int(log.size()));
    const std::string wanted = "op " + std::to_string(opcode) + " ";
    int count = 0;
    for (size_t at = 0; (at = log.find(wanted, at)) != std::string::npos; at += wanted.size())
        count += (at == 0 || log[at - 1] == '\n') ? 1 : 0;
    return count;
}

void clearLog(const char* library) {
    using ClearFunction = void (*)();
    if (auto clear = reinterpret_cast<ClearFunction>(GetProcAddress(GetModuleHandleA(library), "testPluginClearLog")))
        clear();
}

}  // namespace

TEST(EditorWindows, OwnEditorSizedByThePluginClosedOnceAndItsProgramMenu) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    const std::string path = std::string(TALVENOR_BIN_DIR) + "test-plugins\\TestEditor.dll";
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(3, path.c_str()));
    EffectSlot* slot = g_liveSettings->slots[3];
    const char library[] = "TestEditor.dll";
    pressKeys(frame, {VK_CONTROL, 'F'});
    HWND panel = nullptr;
    ASSERT_TRUE(waitUntil([&] { return g_windows.fxManager && (panel = fxManagerPanel()) != nullptr; }, kTimeout));

    // The plug-in's editor in the view, at the size it asks for.
    clearLog(library);
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 3, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    HWND editor = static_cast<HWND>(slot->editorFrame);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(callsLogged(library, effEditOpen), 1);
    const RECT view = windowRect(static_cast<HWND>(slot->editorView));
    EXPECT_EQ(view.right - view.left, 200);
    EXPECT_EQ(view.bottom - view.top, 120);
    EXPECT_EQ(clientRect(editor).right, 220);
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_GE(callsLogged(library, effEditIdle), 2) << "the timer's idle calls";
    // Closed from the Window menu: effEditClose once.
    SendMessageA(g_windows.mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(editor), 0);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_CLOSE_CHILD));
    ASSERT_TRUE(waitUntil([&] { return !IsWindow(editor); }, kTimeout));
    EXPECT_EQ(callsLogged(library, effEditClose), 1);
    EXPECT_EQ(slot->editorFrame, nullptr);
    // Opened again and closed by closeEditor: once again.
    clearLog(library);
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 3, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    ASSERT_NE(slot->editorFrame, nullptr);
    closeEditor(slot);
    EXPECT_EQ(callsLogged(library, effEditClose), 1);
    EXPECT_EQ(countEditors(), 0);

    // 300 programs, program 2 named as program 0: the menu lists the first 256 less
    // the duplicate; a choice reaches the plug-in.
    HMENU programs = buildProgramMenu(slot);
    ASSERT_NE(programs, nullptr);
    EXPECT_EQ(GetMenuItemCount(programs), 255);
    EXPECT_EQ(GetMenuState(programs, 2, MF_BYCOMMAND), UINT(-1)) << "the duplicate is listed";
    EXPECT_NE(GetMenuState(programs, 255, MF_BYCOMMAND), UINT(-1));
    EXPECT_EQ(GetMenuState(programs, 256, MF_BYCOMMAND), UINT(-1));
    char first[32] = "";
    GetMenuStringA(programs, 0, first, sizeof first, MF_BYCOMMAND);
    EXPECT_STREQ(first, "program 0");
    DestroyMenu(programs);
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 3, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    ASSERT_NE(slot->editorFrame, nullptr);
    SendMessageA(static_cast<HWND>(slot->editorFrame), WM_COMMAND, MAKEWPARAM(7, 0), 0);
    EXPECT_EQ(slot->currentProgram, 7);
    EXPECT_EQ(slot->effect->dispatcher(slot->effect, effGetProgram, 0, 0, nullptr, 0.0f), 7);
    // Unload from the position's menu closes the editor with the effect.
    PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(258, 75 + 23 * 3));
    HWND menu = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (menu = FindWindowA("#32768", nullptr)) != nullptr && IsWindowVisible(menu); },
                          kTimeout));
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindowVisible(menu); }, kTimeout));
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_CMD_UNLOAD_EFFECT, 0), 0);
    EXPECT_EQ(g_liveSettings->slots[3], nullptr);
    EXPECT_EQ(countEditors(), 0);

    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
}
