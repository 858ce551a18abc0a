// The editor of a plug-in in its own process, in the hosted program: it opens from
// the FX Manager inside our editor frame (a window of the bridge's, at the place the
// frame keeps for it, with nothing of ours as its parent), a click and keys reach it
// and the program takes the edits, the plug-in's own size change resizes our frame,
// the window follows the frame as it moves and hides with it, and closing the frame
// closes it. A plug-in that hangs at a click in its editor never holds the program's
// window (each message to it answered within a fraction of a second) and is named
// once; one that crashes as its editor opens is named once without another box; and
// Restart brings both back, their editors opening again. Screenshots go to the build
// folder.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "WinInclude.h"

#include "BridgeEditorMessages.h"
#include "Controls.h"
#include "EffectHost.h"
#include "EffectIds.h"
#include "EffectSlot.h"
#include "FxManagerPanel.h"
#include "FxManagerWindow.h"
#include "HostedProgram.h"
#include "LiveSettings.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "ThreadCheckedPlugin.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

// What the user does reaches the program as posted input, handled in its message
// loop, never inside a call to a bridge (which answers only messages sent to it from
// other threads meanwhile): so the test posts, and waits for what follows.

// Opens a position's menu with a click on its button, closes it with Escape (the
// position is then the panel's current one) and runs command as chosen from it.
void chooseFromMenu(HWND panel, int position, int command) {
    PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(258, 75 + 23 * position));
    HWND menu = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (menu = FindWindowA("#32768", nullptr)) != nullptr && IsWindowVisible(menu); },
                          kTimeout));
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(waitUntil([&] { return !IsWindowVisible(menu); }, kTimeout));
    ASSERT_EQ(fxManagerCurrentPosition(panel), position);
    PostMessageA(panel, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

// The bridge's visible editor window, of whichever bridge process (null while none).
HWND shownBridgeEditor() {
    for (HWND w = FindWindowExA(nullptr, nullptr, bridge::kBridgeEditorClassName, nullptr); w;
         w = FindWindowExA(nullptr, w, bridge::kBridgeEditorClassName, nullptr))
        if (IsWindowVisible(w))
            return w;
    return nullptr;
}

// True when the window sits exactly over the view that keeps its place.
bool overView(HWND window, HWND view) {
    const RECT r = windowRect(window), v = windowRect(view);
    return EqualRect(&r, &v) != FALSE;
}

// The program's window answers a message within a fraction of a second.
bool answers(HWND frame) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 400, &result) != 0;
}

// Nothing of the window can be seen: hidden, or clipped to nothing.
bool showsNothing(HWND window) {
    if (!IsWindowVisible(window))
        return true;
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    const int kind = GetWindowRgn(window, region);
    RECT box{};
    GetRgnBox(region, &box);
    DeleteObject(region);
    return kind == NULLREGION || (kind != ERROR && IsRectEmpty(&box));
}

// A left click through the system's input at a screen point.
bool clickAt(int x, int y) {
    if (!placeCursor(x, y))
        return false;
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

// Whether a window's title bar is drawn lit, as the screen shows it: a point of it
// halfway along, nearer the active title's colours there than the inactive one's.
bool titleLit(HWND window) {
    const RECT r = windowRect(window);
    const int x = (r.left + r.right) / 2, y = r.top + GetSystemMetrics(SM_CYFRAME) + 3;
    HDC screen = GetDC(nullptr);
    const COLORREF seen = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    auto distance = [&](int from, int to) {
        const COLORREF a = GetSysColor(from), b = GetSysColor(to);
        int sum = 0;
        for (int shift : {0, 8, 16}) {
            const int expected = (int((a >> shift) & 255) + int((b >> shift) & 255)) / 2;
            const int d = int((seen >> shift) & 255) - expected;
            sum += d * d;
        }
        return sum;
    };
    return seen != CLR_INVALID && distance(COLOR_ACTIVECAPTION, COLOR_GRADIENTACTIVECAPTION) <
                                      distance(COLOR_INACTIVECAPTION, COLOR_GRADIENTINACTIVECAPTION);
}

// A right-click on a position's name opens its editor, as the user does.
void openEditorOf(HWND panel, int position) {
    PostMessageA(GetDlgItem(panel, IDC_FX_FIRST_NAME + position), WM_RBUTTONDOWN, MK_RBUTTON, 0);
}

}  // namespace

TEST(BridgedEditors, OpenTakeInputResizeFollowCloseAndFailWithoutHoldingTheProgram) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        settings.setPair("frameWndSize", 1000, 700);
    }
    // One library, three copies failing differently.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string library = std::string(TALVENOR_BIN_DIR) + "test-plugins\\TestEditorOnCue.dll";
    const char* const names[3] = {"EditorPlays", "EditorHangsAtClick", "EditorCrashesOpening"};
    const char* const cues[3] = {nullptr, "click:hang", "editor:crash"};
    std::string paths[3];
    for (int p = 0; p < 3; ++p) {
        paths[p] = std::string(temp) + names[p] + ".dll";
        ASSERT_TRUE(CopyFileA(library.c_str(), paths[p].c_str(), FALSE)) << paths[p];
        std::string variable = "TP_CUE_" + std::string(names[p]);
        for (char& c : variable)
            c = char(toupper(static_cast<unsigned char>(c)));
        SetEnvironmentVariableA(variable.c_str(), cues[p]);  // the bridges inherit it
    }
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    for (int p = 0; p < 3; ++p)
        ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(p, paths[p].c_str())) << paths[p];
    pressKeys(frame, {VK_CONTROL, 'F'});
    HWND panel = nullptr;
    ASSERT_TRUE(waitUntil([&] { return g_windows.fxManager && (panel = fxManagerPanel()) != nullptr; }, kTimeout));
    for (int p = 0; p < 3; ++p) {
        chooseFromMenu(panel, p, IDC_CMD_OWN_PROCESS);
        ASSERT_TRUE(waitUntil([&] { return g_liveSettings->slots[p] && g_liveSettings->slots[p]->ownProcess; }, kTimeout))
            << p;
    }
    // The FX Manager floats over the editors' place: out of the way.
    SetWindowPos(g_windows.fxManager, nullptr, 560, 330, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    // Opened: our frame, titled with the effect, keeps a 200 x 120 place 20 pixels in,
    // and the bridge's window sits exactly there, shown, with no parent or owner.
    EffectSlot* plays = g_liveSettings->slots[0];
    openEditorOf(panel, 0);
    ASSERT_TRUE(waitUntil([&] { return plays->editorFrame != nullptr; }, kTimeout)) << describeDialogs(kPid);
    HWND editorFrame = static_cast<HWND>(plays->editorFrame);
    HWND view = static_cast<HWND>(plays->editorView);
    HWND editor = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (editor = shownBridgeEditor()) != nullptr && overView(editor, view); }, kTimeout))
        << "the bridge's window is not over our frame";
    DWORD editorProcess = 0;
    GetWindowThreadProcessId(editor, &editorProcess);
    EXPECT_NE(editorProcess, kPid);
    EXPECT_EQ(GetParent(editor), nullptr);
    EXPECT_EQ(GetWindow(editor, GW_OWNER), nullptr);
    EXPECT_EQ(clientRect(editorFrame).right, 220);
    EXPECT_EQ(clientRect(editorFrame).bottom, 120);
    EXPECT_EQ(windowRect(view).left - clientOrigin(editorFrame).x, 20);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    Sleep(300);
    takeScreenshot(kScreenshots, "40-bridged-editor");

    // A click three quarters along its first bar: the plug-in's parameter moves, and
    // the program takes the edit at its next idle call.
    const RECT at = windowRect(editor);
    ASSERT_TRUE(clickAt(at.left + 10 + (180 * 3) / 4, at.top + 48));
    EXPECT_TRUE(waitUntil([&] { return std::fabs(plays->parameters[0] - 0.75f) < 0.02f; }, kTimeout))
        << "the click did not reach the plug-in: " << plays->parameters[0];
    // Worked in, it is the foreground window, and the program looks as it does when
    // the user works in an editor of its own: its title and the editor's frame lit.
    EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == editor; }, kTimeout));
    EXPECT_TRUE(waitUntil([&] { return titleLit(frame) && titleLit(editorFrame); }, kTimeout))
        << "the program's title greyed while its plug-in's editor is worked in";
    // Keys: 'u' moves the second parameter an eighth up; 'w' makes the editor wider and
    // taller, which the plug-in asks the host for: our frame follows.
    ASSERT_TRUE(pressKeys(editor, {'U'}));
    EXPECT_TRUE(waitUntil([&] { return std::fabs(plays->parameters[1] - 0.875f) < 0.001f; }, kTimeout))
        << "the key did not reach the plug-in: " << plays->parameters[1];
    EXPECT_TRUE(titleLit(frame) && titleLit(editorFrame)) << "greyed as the user typed";
    ASSERT_TRUE(pressKeys(editor, {'W'}));
    EXPECT_TRUE(waitUntil([&] { return clientRect(editorFrame).right == 340 && clientRect(editorFrame).bottom == 150; },
                          kTimeout))
        << clientRect(editorFrame).right << " x " << clientRect(editorFrame).bottom;
    EXPECT_TRUE(waitUntil([&] { return overView(editor, view); }, kTimeout));
    EXPECT_EQ(windowRect(editor).right - windowRect(editor).left, 320);
    EXPECT_TRUE(waitUntil([&] { return GetForegroundWindow() == editor && titleLit(frame); }, kTimeout))
        << "resized, the editor lost the keys";
    UpdateWindow(frame);
    Sleep(300);
    takeScreenshot(kScreenshots, "41-bridged-editor-resized");

    // The frame moved: the window follows; minimised, it hides; restored, it is back.
    SetWindowPos(editorFrame, nullptr, 150, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_TRUE(waitUntil([&] { return overView(editor, view); }, kTimeout)) << "it stayed behind";
    SendMessageA(g_windows.mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(editorFrame), 0);
    ShowWindow(editorFrame, SW_MINIMIZE);
    EXPECT_TRUE(waitUntil([&] { return showsNothing(editor); }, kTimeout)) << "shown over a minimised frame";
    SendMessageA(g_windows.mdiClient, WM_MDIRESTORE, reinterpret_cast<WPARAM>(editorFrame), 0);
    EXPECT_TRUE(waitUntil([&] { return !showsNothing(editor) && overView(editor, view); }, kTimeout));
    // Closed by the user: the bridge's window goes with our frame.
    PostMessageA(editorFrame, WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return plays->editorFrame == nullptr; }, kTimeout));
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(editor); }, kTimeout)) << "the bridge's window stayed";
    char how[160] = "";
    EXPECT_FALSE(plays->plugin->failed(how, sizeof how)) << how;

    // Hung at a click in its editor: the program's window answers all along, the
    // plug-in is named once, its frame closes and its position passes dry.
    EffectSlot* hangs = g_liveSettings->slots[1];
    openEditorOf(panel, 1);
    ASSERT_TRUE(waitUntil([&] { return hangs->editorFrame != nullptr; }, kTimeout)) << describeDialogs(kPid);
    view = static_cast<HWND>(hangs->editorView);
    ASSERT_TRUE(waitUntil([&] { return (editor = shownBridgeEditor()) != nullptr && overView(editor, view); }, kTimeout));
    const RECT hungAt = windowRect(editor);
    ASSERT_TRUE(clickAt(hungAt.left + 40, hungAt.top + 48));
    int asked = 0, answered = 0;
    MessageBoxSeen told{};
    const DWORD hungFrom = GetTickCount();
    while (!told.window && GetTickCount() - hungFrom < 15000) {
        ++asked;
        answered += answers(frame) ? 1 : 0;
        told = waitForMessageBox(kPid, "Error #387", 100);
    }
    ASSERT_NE(told.window, nullptr) << "the hang was not told: " << describeDialogs(kPid);
    EXPECT_EQ(answered, asked) << "the program's window stopped answering while the plug-in hung";
    EXPECT_GT(asked, 5) << "the hang was told before it could be one";
    EXPECT_NE(told.text.find("Editor Fx stopped answering, and its process was ended."), std::string::npos)
        << told.text;
    EXPECT_EQ(hangs->editorFrame, nullptr) << "the frame of the hung editor stayed";
    EXPECT_TRUE(answers(frame));
    ASSERT_TRUE(pressButton(told.window, IDOK));
    EXPECT_TRUE(waitUntil([&] { return std::string(staticTag(GetDlgItem(panel, IDC_FX_FIRST_NAME + 1))) == "FAILED"; },
                          kTimeout));

    // Crashed as its editor opened: no frame, no box but the one that names it.
    openEditorOf(panel, 2);
    told = waitForMessageBox(kPid, "Error #387", kTimeout);
    ASSERT_NE(told.window, nullptr) << describeDialogs(kPid);
    EXPECT_EQ(g_liveSettings->slots[2]->editorFrame, nullptr);
    EXPECT_TRUE(answers(frame));
    EXPECT_NE(told.text.find("Editor Fx crashed: its process ended."), std::string::npos) << told.text;
    EXPECT_EQ(dialogsOf(kPid).size(), 1u) << describeDialogs(kPid);
    ASSERT_TRUE(pressButton(told.window, IDOK));
    Sleep(500);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "told once: " << describeDialogs(kPid);

    // Restart brings the hung one back: its editor opens over our frame again.
    chooseFromMenu(panel, 1, IDC_CMD_RESTART_EFFECT);
    ASSERT_TRUE(waitUntil([&] { return (hangs = g_liveSettings->slots[1]) && !hangs->plugin->failed(nullptr, 0); }, kTimeout));
    openEditorOf(panel, 1);
    ASSERT_TRUE(waitUntil([&] { return hangs->editorFrame != nullptr; }, kTimeout)) << describeDialogs(kPid);
    view = static_cast<HWND>(hangs->editorView);
    EXPECT_TRUE(waitUntil([&] { return (editor = shownBridgeEditor()) != nullptr && overView(editor, view); }, kTimeout));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
    for (int p = 0; p < 3; ++p) {
        std::string variable = "TP_CUE_" + std::string(names[p]);
        for (char& c : variable)
            c = char(toupper(static_cast<unsigned char>(c)));
        SetEnvironmentVariableA(variable.c_str(), nullptr);
        DeleteFileA(paths[p].c_str());
    }
}
