// The editor windows of the hosted program with our three effects, which have no
// editor of their own: the parameter view's size and rows, a drag of a value bar
// with the bar drawn to the value, reopening an open editor, the program menu and a
// program chosen from it, idle calls, and the windows closing with unloading and
// Close All; and the test plug-in's own editor, sized as it asks when opened and
// when it asks again. Screenshots of the three parameter views and of the resized
// editor go to the build folder.
#include <gtest/gtest.h>

#include <cstring>
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
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

// The VST 2 effect behind a slot, as the backend holds it.
AEffect* effectOf(const EffectSlot* slot) { return vst2PluginOf(slot->plugin)->effect(); }

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
    EXPECT_EQ(effectOf(overdrive)->getParameter(effectOf(overdrive), 0), 1.0f) << "the plug-in was not told";
    EXPECT_EQ(litWidth(view, 0), 78);
    dragBy(view, anchor, 40, [] { return true; });
    EXPECT_EQ(overdrive->parameters[0], 1.0f);
    SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(300, 38));
    EXPECT_EQ(GetCapture(), nullptr);
    // Half way draws half the bar: 39 pixels.
    effectOf(overdrive)->setParameter(effectOf(overdrive), 0, 0.5f);
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
            EXPECT_EQ(modulane->parameters[i], effectOf(modulane)->getParameter(effectOf(modulane), i)) << i;
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

// A function the test plug-in exports for the test (the test reaches the module the
// host loaded by its name).
template <class Function>
Function pluginFunction(const char* library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(library), name)));
}

// The test plug-in's log of dispatcher calls and of what it asked the host.
std::string pluginLog(const char* library) {
    auto logOf = pluginFunction<int (*)(char*, int)>(library, "testPluginLog");
    if (!logOf)
        return std::string();
    std::string log(1 << 20, '\0');
    logOf(&log[0], int(log.size()));
    log.resize(std::strlen(log.c_str()));
    return log;
}

// How many lines of the log start with "op <opcode> ".
int callsLogged(const char* library, int opcode) {
    if (!pluginFunction<int (*)(char*, int)>(library, "testPluginLog"))
        return -1;
    const std::string log = pluginLog(library);
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
    EXPECT_EQ(effectOf(slot)->dispatcher(effectOf(slot), effGetProgram, 0, 0, nullptr, 0.0f), 7);
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

namespace {

SIZE outerSize(HWND window) {
    const RECT r = windowRect(window);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// The editor frame holds exactly the plug-in's editor, width x height, 20 pixels in
// beside the programs button.
void expectEditorOfSize(EffectSlot* slot, int width, int height) {
    HWND editor = static_cast<HWND>(slot->editorFrame);
    ASSERT_NE(editor, nullptr);
    const RECT client = clientRect(editor);
    EXPECT_EQ(client.right, width + 20) << "asked for " << width << " x " << height;
    EXPECT_EQ(client.bottom, height) << "asked for " << width << " x " << height;
    const RECT view = windowRect(static_cast<HWND>(slot->editorView));
    EXPECT_EQ(view.right - view.left, width);
    EXPECT_EQ(view.bottom - view.top, height);
    EXPECT_EQ(view.left - clientOrigin(editor).x, 20);
    EXPECT_EQ(view.top, clientOrigin(editor).y);
}

}  // namespace

// A plug-in's editor asks for a larger size from the UI thread (in its idle call),
// then a smaller one from another thread (as from its processing): each time the
// client area holds exactly the asked size, the frame stays where it was, and the
// frame is the one that opening an editor of that size gives.
TEST(EditorWindows, OwnEditorGetsEachSizeThePluginAsksFor) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        settings.setPair("frameWndSize", 1000, 700);  // room for the larger editor
    }
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    const std::string path = std::string(TALVENOR_BIN_DIR) + "test-plugins\\TestEditor.dll";
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(3, path.c_str()));
    EffectSlot* slot = g_liveSettings->slots[3];
    const char library[] = "TestEditor.dll";
    const auto ask = pluginFunction<VstIntPtr (*)(AEffect*, int, int)>(library, "testPluginAskForEditorSize");
    const auto askOnIdle = pluginFunction<void (*)(int, int)>(library, "testPluginAskForEditorSizeOnIdle");
    ASSERT_NE(ask, nullptr);
    ASSERT_NE(askOnIdle, nullptr);
    // Asked while no editor is open: answered, nothing to resize; it opens at that size.
    EXPECT_EQ(ask(effectOf(slot), 200, 120), 1);
    pressKeys(frame, {VK_CONTROL, 'F'});
    HWND panel = nullptr;
    ASSERT_TRUE(waitUntil([&] { return g_windows.fxManager && (panel = fxManagerPanel()) != nullptr; }, kTimeout));
    const auto openFromPanel = [&] {
        SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 3, WM_RBUTTONDOWN, MK_RBUTTON, 0);
        return static_cast<HWND>(slot->editorFrame);
    };
    HWND editor = openFromPanel();
    ASSERT_NE(editor, nullptr);
    expectEditorOfSize(slot, 200, 120);
    const RECT opened = windowRect(editor);

    struct Request {
        int width, height;
        bool onUiThread;
        SIZE frame;
    } requests[] = {{480, 360, true, {}}, {160, 90, false, {}}};
    for (Request& r : requests) {
        const auto clientIsAsked = [&] {
            const RECT client = clientRect(editor);
            return client.right == r.width + 20 && client.bottom == r.height;
        };
        if (r.onUiThread) {
            const std::string answered =
                "asked for " + std::to_string(r.width) + " x " + std::to_string(r.height) + ": 1";
            askOnIdle(r.width, r.height);
            ASSERT_TRUE(waitUntil([&] { return pluginLog(library).find(answered) != std::string::npos; }, kTimeout));
            EXPECT_TRUE(clientIsAsked()) << "resized within the request";
        } else {
            // Not the UI thread: the size is posted to the frame, which applies it.
            EXPECT_EQ(ask(effectOf(slot), r.width, r.height), 1);
            ASSERT_TRUE(waitUntil(clientIsAsked, kTimeout));
        }
        expectEditorOfSize(slot, r.width, r.height);
        const RECT now = windowRect(editor);
        EXPECT_EQ(now.left, opened.left);
        EXPECT_EQ(now.top, opened.top);
        r.frame = outerSize(editor);
        if (r.onUiThread) {
            ASSERT_TRUE(waitForTicks(2));
            takeScreenshot(kScreenshots, "33-editor-resized-by-its-plugin");
        }
    }
    EXPECT_LT(requests[1].frame.cx, requests[0].frame.cx);

    // Each size once more, now by opening the editor at it: the same frame.
    for (const Request& r : requests) {
        closeEditor(slot);
        EXPECT_EQ(ask(effectOf(slot), r.width, r.height), 1);
        editor = openFromPanel();
        ASSERT_NE(editor, nullptr);
        expectEditorOfSize(slot, r.width, r.height);
        const SIZE reopened = outerSize(editor);
        EXPECT_EQ(reopened.cx, r.frame.cx) << r.width << " x " << r.height;
        EXPECT_EQ(reopened.cy, r.frame.cy) << r.width << " x " << r.height;
    }

    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
}
