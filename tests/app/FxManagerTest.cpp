// The FX Manager panel of the hosted program, driven through its controls as a user
// drives it: the value texts at the knobs' ends and defaults, clicks on the names of
// empty positions, the position menu's grayed items, our three effects loaded with
// one bypassed, Move Up with the switches following, and Unload. A screenshot of the
// panel goes to the build folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>
#include <string>

#include "WinInclude.h"
#include <commctrl.h>

#include "Controls.h"
#include "EffectHost.h"
#include "EffectIds.h"
#include "ErrorFlags.h"
#include "FailedPlugins.h"
#include "FxManagerPanel.h"
#include "FxManagerWindow.h"
#include "HostedProgram.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "PerformanceFiles.h"
#include "PerformanceFormat.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "ThreadCheckedPlugin.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const std::string kOurPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

std::string text(HWND panel, int id) {
    const char* shown = staticText(GetDlgItem(panel, id));
    return shown ? shown : "(not a static)";
}

std::string name(HWND panel, int position) {
    return text(panel, IDC_FX_FIRST_NAME + position);
}

int switchOf(HWND panel, int position) {
    return switchValue(GetDlgItem(panel, IDC_FX_FIRST_BYPASS_SWITCH + position));
}

// A knob turned to value x 1000, as the knob reports it to the panel.
void turn(HWND panel, int knob, int value) {
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(knob, 0), value);
}

// Opens the FX Manager with Ctrl+F and returns its panel.
HWND openPanel(HWND frame) {
    pressKeys(frame, {VK_CONTROL, 'F'});
    HWND panel = nullptr;
    waitUntil([&] { return g_windows.fxManager && (panel = fxManagerPanel()) != nullptr && IsWindowVisible(panel); }, kTimeout);
    return panel;
}

void closePanel(HWND frame) {
    postCommand(frame, IDC_CMD_CLOSE_ALL);
    waitUntil([] { return g_windows.fxManager == nullptr; }, kTimeout);
}

HWND openMenuWindow() {
    HWND menu = nullptr;
    waitUntil([&] { return (menu = FindWindowA("#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, kTimeout);
    return menu;
}

struct Grayed {
    bool select, unload, edit, up, down;
};

// The menu of a position opened with a click on its button, its grayed items read
// while it is shown, then closed with Escape.
Grayed menuOfPosition(HWND panel, int position) {
    PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(258, 75 + 23 * position));
    HWND menu = openMenuWindow();
    EXPECT_NE(menu, nullptr) << "no menu for position " << position;
    const auto grayed = [](UINT command) {
        return (GetMenuState(g_windows.effectPopup, command, MF_BYCOMMAND) & MF_GRAYED) != 0;
    };
    const Grayed seen{grayed(IDC_CMD_SELECT_EFFECT), grayed(IDC_CMD_UNLOAD_EFFECT), grayed(IDC_CMD_EDIT_EFFECT),
                      grayed(IDC_CMD_MOVE_EFFECT_UP), grayed(IDC_CMD_MOVE_EFFECT_DOWN)};
    if (menu) {
        PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_TRUE(waitUntil([&] { return !IsWindowVisible(menu); }, kTimeout));
    }
    EXPECT_EQ(fxManagerCurrentPosition(panel), position);
    return seen;
}

// Runs call on the program's own thread (the one that owns frame) and waits for it:
// what the program does with its plug-ins must not race its timer's idle calls.
// A hook on that thread's messages runs it when it takes a marked WM_NULL.
std::function<void()>* g_onProgram = nullptr;
const WPARAM kOnProgramMark = 0x7A1E;

LRESULT CALLBACK runMarked(int code, WPARAM removed, LPARAM message) {
    const MSG* msg = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removed == PM_REMOVE && msg->message == WM_NULL && msg->wParam == kOnProgramMark &&
        g_onProgram) {
        (*g_onProgram)();
        g_onProgram = nullptr;
    }
    return CallNextHookEx(nullptr, code, removed, message);
}

void onProgramThread(HWND frame, std::function<void()> call) {
    const DWORD thread = GetWindowThreadProcessId(frame, nullptr);
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, runMarked, nullptr, thread);
    ASSERT_NE(hook, nullptr);
    g_onProgram = &call;
    PostMessageA(frame, WM_NULL, kOnProgramMark, 0);
    EXPECT_TRUE(waitUntil([] { return g_onProgram == nullptr; }, 60000)) << "the program's thread did not run it";
    UnhookWindowsHookEx(hook);
}

// Runs a command of the position menu for position, as chosen from the menu.
void chooseFromMenu(HWND panel, int position, int command) {
    menuOfPosition(panel, position);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

}  // namespace

TEST(FxManager, PanelShowsSetsAndArrangesTheEffects) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        // A frame that holds the whole FX Manager.
        RegistryKey settings("SOFTWARE\\Talvenor Software\\Talvenor Live\\2", true);
        settings.setPair("frameWndSize", 600, 440);
    }
    clearErrorFlag(~0u);
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    HWND panel = openPanel(frame);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(GetParent(panel), g_windows.fxManager);

    // The defaults: 0 dB gains, an opening time of 5 ms, a closing time of 100 ms
    // (its knob at 191), a threshold of -42 dB, the DC filter on, eight empty positions.
    EXPECT_EQ(text(panel, IDC_FX_INGAIN_TEXT), "0.00");
    EXPECT_EQ(text(panel, IDC_FX_OUTGAIN_TEXT), "0.00");
    EXPECT_EQ(text(panel, IDC_FX_GATE_ATTACK_TEXT), "5.0");
    EXPECT_EQ(text(panel, IDC_FX_GATE_RELEASE_TEXT), "100.0");
    EXPECT_EQ(text(panel, IDC_FX_GATE_THRESH_TEXT), "-42.00");
    EXPECT_NEAR(knobValue(GetDlgItem(panel, IDC_FX_GATE_RELEASE_KNOB)), 0.191f, 1e-6f);
    EXPECT_NEAR(knobValue(GetDlgItem(panel, IDC_FX_INGAIN_KNOB)), 0.75f, 1e-6f);
    EXPECT_EQ(switchValue(GetDlgItem(panel, IDC_FX_DC_FILTER_SWITCH)), 1);
    for (int r = 0; r < LiveSettings::kPositions; ++r) {
        EXPECT_EQ(name(panel, r), "<no effect>") << r;
        EXPECT_EQ(switchOf(panel, r), 1) << r;
    }
    // Controls sit where the faceplate has room for them.
    const POINT origin = clientOrigin(panel);
    const RECT nameRect = windowRect(GetDlgItem(panel, IDC_FX_FIRST_NAME + 3));
    EXPECT_EQ(nameRect.left - origin.x, 282);
    EXPECT_EQ(nameRect.top - origin.y, 71 + 66);
    EXPECT_EQ(nameRect.right - nameRect.left, 185);
    const RECT knobRect = windowRect(GetDlgItem(panel, IDC_FX_GATE_THRESH_KNOB));
    EXPECT_EQ(knobRect.left - origin.x, 20);
    EXPECT_EQ(knobRect.top - origin.y, 197);
    EXPECT_EQ(knobRect.right - knobRect.left, 27);

    // The knobs' ends: the settings move in steps of 0.001 and the texts follow.
    turn(panel, IDC_FX_GATE_THRESH_KNOB, 0);
    EXPECT_EQ(float(g_liveSettings->gateThresh), 0.0f);
    EXPECT_EQ(text(panel, IDC_FX_GATE_THRESH_TEXT), "off");
    turn(panel, IDC_FX_GATE_THRESH_KNOB, 1);
    EXPECT_EQ(text(panel, IDC_FX_GATE_THRESH_TEXT), "-59.95");
    turn(panel, IDC_FX_GATE_THRESH_KNOB, 1000);
    EXPECT_EQ(text(panel, IDC_FX_GATE_THRESH_TEXT), "-6.00");
    turn(panel, IDC_FX_INGAIN_KNOB, 0);
    EXPECT_EQ(text(panel, IDC_FX_INGAIN_TEXT), "-60.00");
    turn(panel, IDC_FX_OUTGAIN_KNOB, 1000);
    EXPECT_EQ(text(panel, IDC_FX_OUTGAIN_TEXT), "20.00");
    EXPECT_EQ(float(g_liveSettings->outgain), 1.0f);
    turn(panel, IDC_FX_GATE_ATTACK_KNOB, 1000);
    EXPECT_EQ(text(panel, IDC_FX_GATE_ATTACK_TEXT), "500.0");
    turn(panel, IDC_FX_GATE_RELEASE_KNOB, 0);
    EXPECT_EQ(text(panel, IDC_FX_GATE_RELEASE_TEXT), "5.0");
    EXPECT_EQ(text(panel, IDC_FX_INGAIN_TEXT), "-60.00") << "another knob's text stays";
    // The DC filter switch clicked off.
    SendDlgItemMessageA(panel, IDC_FX_DC_FILTER_SWITCH, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(g_liveSettings->centerAmp, 0);

    // An empty position: a right-click on its name does nothing and says nothing; a
    // double-click makes it the current position and opens the selection, which with
    // no plug-ins found shows its two branches only, and OK loads nothing.
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 5, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    Sleep(200);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "a box for an empty position: " << describeDialogs(kPid);
    PostMessageA(GetDlgItem(panel, IDC_FX_FIRST_NAME + 4), WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
    HWND select = waitForMessageBox(kPid, "Select a Plugin", kTimeout).window;
    ASSERT_NE(select, nullptr);
    EXPECT_EQ(fxManagerCurrentPosition(panel), 4);
    HWND tree = GetDlgItem(select, IDC_SELECT_TREE);
    EXPECT_EQ(SendMessageA(tree, TVM_GETCOUNT, 0, 0), 2);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(select, IDC_SELECT_FAVOURITE)));
    ASSERT_TRUE(pressButton(select, IDOK));
    Sleep(200);
    EXPECT_EQ(g_liveSettings->slots[4], nullptr);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "a box after loading nothing: " << describeDialogs(kPid);

    // The menu of an empty position offers Select only.
    const Grayed empty = menuOfPosition(panel, 6);
    EXPECT_FALSE(empty.select);
    EXPECT_TRUE(empty.unload && empty.edit && empty.up && empty.down);

    // Our three effects loaded while the panel is closed: a new panel shows them.
    closePanel(frame);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(panel); }, kTimeout));
    const char* const effects[] = {"Overdrive.dll", "Filtrace.dll", "Modulane.dll"};
    for (int r = 0; r < 3; ++r)
        ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(r, (kOurPlugins + effects[r]).c_str())) << effects[r];
    g_liveSettings->gateThresh = 1.0f / 3.0f;
    g_liveSettings->ingain = 0.75f;
    g_liveSettings->gateRelease = 0.5f;
    panel = openPanel(frame);
    ASSERT_NE(panel, nullptr);
    const std::string overdrive = name(panel, 0), filtrace = name(panel, 1), modulane = name(panel, 2);
    EXPECT_NE(overdrive, "<no effect>");
    EXPECT_NE(filtrace, "<no effect>");
    EXPECT_NE(modulane, "<no effect>");
    EXPECT_NE(overdrive, filtrace);
    EXPECT_EQ(name(panel, 3), "<no effect>");
    // Each name carries its format; the line below the chain tells of the position under
    // the mouse, an empty one too.
    for (int r = 0; r < 4; ++r)
        EXPECT_STREQ(staticTag(GetDlgItem(panel, IDC_FX_FIRST_NAME + r)), r < 3 ? "VST 2" : "") << r;
    EXPECT_EQ(text(panel, IDC_FX_POSITION_INFO), "1  " + overdrive + ", VST 2");
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 1, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(text(panel, IDC_FX_POSITION_INFO), "2  " + filtrace + ", VST 2");
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 3, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(text(panel, IDC_FX_POSITION_INFO), "4  <no effect>");
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 2, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(switchValue(GetDlgItem(panel, IDC_FX_DC_FILTER_SWITCH)), 0);
    EXPECT_EQ(text(panel, IDC_FX_GATE_THRESH_TEXT), "-42.00");
    // Filtrace bypassed with its switch.
    SendDlgItemMessageA(panel, IDC_FX_FIRST_BYPASS_SWITCH + 1, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(g_liveSettings->bypass[1], 1);
    EXPECT_EQ(switchOf(panel, 1), 0);
    SendDlgItemMessageA(panel, IDC_FX_DC_FILTER_SWITCH, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    UpdateWindow(panel);
    takeScreenshot(kScreenshots, "30-fx-manager-three-effects");

    // The menus of the first, a middle and an occupied last position.
    const Grayed first = menuOfPosition(panel, 0);
    EXPECT_FALSE(first.select || first.unload || first.edit || first.down);
    EXPECT_TRUE(first.up);
    const Grayed middle = menuOfPosition(panel, 2);
    EXPECT_FALSE(middle.select || middle.unload || middle.edit || middle.up || middle.down);

    // Move Up on position 2: Modulane plays second, Filtrace third, still bypassed;
    // the current position stays 2.
    chooseFromMenu(panel, 2, IDC_CMD_MOVE_EFFECT_UP);
    EXPECT_EQ(name(panel, 1), modulane);
    EXPECT_EQ(name(panel, 2), filtrace);
    EXPECT_EQ(switchOf(panel, 1), 1);
    EXPECT_EQ(switchOf(panel, 2), 0);
    EXPECT_EQ(g_liveSettings->bypass[2], 1);
    EXPECT_EQ(fxManagerCurrentPosition(panel), 2);
    // Move Down on position 2 into the empty position 3, then on to the last position.
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_CMD_MOVE_EFFECT_DOWN, 0), 0);
    EXPECT_EQ(name(panel, 3), filtrace);
    EXPECT_EQ(name(panel, 2), "<no effect>");
    EXPECT_EQ(switchOf(panel, 3), 0);
    for (int r = 3; r < 7; ++r)
        chooseFromMenu(panel, r, IDC_CMD_MOVE_EFFECT_DOWN);
    EXPECT_EQ(name(panel, 7), filtrace);
    const Grayed last = menuOfPosition(panel, 7);
    EXPECT_FALSE(last.select || last.unload || last.edit || last.up);
    EXPECT_TRUE(last.down);

    // Unload empties the position.
    chooseFromMenu(panel, 0, IDC_CMD_UNLOAD_EFFECT);
    EXPECT_EQ(name(panel, 0), "<no effect>");
    EXPECT_EQ(g_liveSettings->slots[0], nullptr);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
}

// Effects in processes of their own, in the program: Overdrive moved into its own
// process keeps its settings; a plug-in that crashes there is told once in a box, its
// position shows FAILED and passes the signal dry while live input goes on, and
// Restart brings it back in a new process.
TEST(FxManager, APositionInItsOwnProcessFailsAloneAndRestarts) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    clearErrorFlag(~0u);
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    const std::string crasher = std::string(TALVENOR_BIN_DIR) + "test-plugins\\TestCrashesInProcess.dll";
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(0, crasher.c_str()));
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(1, (kOurPlugins + "Overdrive.dll").c_str()));
    ASSERT_TRUE(g_effectHost->setParameter(g_liveSettings->slots[1], 0, 0.3f));
    HWND panel = openPanel(frame);
    ASSERT_NE(panel, nullptr);
    for (int position : {0, 1}) {
        chooseFromMenu(panel, position, IDC_CMD_OWN_PROCESS);
        ASSERT_NE(g_liveSettings->slots[position], nullptr);
        EXPECT_TRUE(g_liveSettings->slots[position]->ownProcess) << position;
    }
    // The host's copy, as the plug-in reported it after taking the state (the plug-in
    // itself is the program's thread's to ask).
    EXPECT_FLOAT_EQ(g_liveSettings->slots[1]->parameters[0], 0.3f) << "the setting came along";
    menuOfPosition(panel, 1);
    EXPECT_EQ(GetMenuState(g_windows.effectPopup, IDC_CMD_OWN_PROCESS, MF_BYCOMMAND) & MF_CHECKED, UINT(MF_CHECKED));
    EXPECT_TRUE(GetMenuState(g_windows.effectPopup, IDC_CMD_RESTART_EFFECT, MF_BYCOMMAND) & MF_GRAYED);

    // Live input on the built-in driver; the crasher faults after 200 blocks.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'L'}));
    const MessageBoxSeen notice = waitForMessageBox(kPid, "Talvenor Live", kTimeout);
    ASSERT_NE(notice.window, nullptr);
    ASSERT_TRUE(pressButton(notice.window, IDOK));
    HWND settings = waitForMessageBox(kPid, "Audio Settings", kTimeout).window;
    ASSERT_NE(settings, nullptr);
    HWND list = GetDlgItem(settings, IDC_AUDIO_DEVICE_LIST);
    SendMessageA(list, CB_SETCURSEL, WPARAM(SendMessageA(list, CB_GETCOUNT, 0, 0) - 1), 0);
    SendMessageA(settings, WM_COMMAND, MAKEWPARAM(IDC_AUDIO_DEVICE_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    ASSERT_TRUE(pressButton(settings, IDCANCEL));
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'L'}));
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->running(); }, kTimeout));
    const MessageBoxSeen told = waitForMessageBox(kPid, "Error #387", 30000);
    ASSERT_NE(told.window, nullptr) << describeDialogs(kPid);
    EXPECT_NE(told.text.find("Crasher crashed: its process ended."), std::string::npos) << told.text;
    EXPECT_TRUE(g_liveEngine->running()) << "live input went on";
    ASSERT_TRUE(pressButton(told.window, IDOK));
    ASSERT_TRUE(waitUntil([&] { return std::string(staticTag(GetDlgItem(panel, IDC_FX_FIRST_NAME))) == "FAILED"; },
                          kTimeout));
    EXPECT_STREQ(staticTag(GetDlgItem(panel, IDC_FX_FIRST_NAME + 1)), "VST 2") << "Overdrive plays on";
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(text(panel, IDC_FX_POSITION_INFO), "1  Crasher, VST 2, failed in its own process");
    Sleep(500);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "told once: " << describeDialogs(kPid);
    UpdateWindow(panel);
    takeScreenshot(kScreenshots, "32-fx-manager-failed-position");
    // Saved while it has failed: the state last kept for it goes into the file in place
    // of its own, and the save says so.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string show = std::string(temp) + "own process.tlp";
    {
        char detail[600] = "";
        FileOutcome saved = FileOutcome::Failed;
        std::vector<uint8_t> kept;
        onProgramThread(frame, [&] {
            saved = savePerformanceFile(show.c_str(), detail, sizeof detail);
            kept.assign(g_liveSettings->slots[0]->kept.data(),
                        g_liveSettings->slots[0]->kept.data() + g_liveSettings->slots[0]->kept.size());
        });
        ASSERT_EQ(saved, FileOutcome::Done) << detail;
        EXPECT_EQ(std::string(detail).rfind("Position 1, Crasher crashed: its process ended. Its state as kept ", 0), 0u)
            << detail;
        std::ifstream in(show, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        PerformanceImage image;
        ASSERT_EQ(parsePerformance(file.data(), file.size(), image), PerformanceParse::Ok);
        ASSERT_FALSE(kept.empty());
        ASSERT_EQ(image.positions[0].stateSize, kept.size());
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), image.positions[0].state));
        EXPECT_TRUE(image.positions[0].ownProcess);
    }
    menuOfPosition(panel, 0);
    EXPECT_FALSE(GetMenuState(g_windows.effectPopup, IDC_CMD_RESTART_EFFECT, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(g_windows.effectPopup, IDC_CMD_OWN_PROCESS, MF_BYCOMMAND) & MF_GRAYED);

    // Restart: a new process, the position plays again (until its 200th block there).
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_CMD_RESTART_EFFECT, 0), 0);
    EXPECT_STREQ(staticTag(GetDlgItem(panel, IDC_FX_FIRST_NAME)), "VST 2");
    ASSERT_NE(g_liveSettings->slots[0], nullptr);
    EXPECT_TRUE(g_liveSettings->slots[0]->ownProcess);
    EXPECT_FALSE(g_liveSettings->slots[0]->plugin->failed(nullptr, 0));
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'L'}));
    ASSERT_TRUE(waitUntil([] { return !g_liveEngine->running(); }, kTimeout));

    // The crash is remembered under the plug-in's path and shown; Overdrive, which
    // never failed, is not.
    char how[32] = "";
    EXPECT_TRUE(failedBefore(crasher.c_str(), how, sizeof how));
    EXPECT_STREQ(how, "crashed");
    EXPECT_FALSE(failedBefore((kOurPlugins + "Overdrive.dll").c_str()));
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(text(panel, IDC_FX_POSITION_INFO), "1  Crasher, VST 2, own process (crashed once)");

    // The choice goes into the performance file and comes back from it: both positions
    // in their own process, then Overdrive moved back into this one.
    for (const bool overdriveOwn : {true, false}) {
        if (!overdriveOwn) {
            chooseFromMenu(panel, 1, IDC_CMD_OWN_PROCESS);
            ASSERT_FALSE(g_liveSettings->slots[1]->ownProcess);
        }
        char detail[600] = "";
        FileOutcome saved = FileOutcome::Failed, opened = FileOutcome::Failed;
        onProgramThread(frame, [&] {
            saved = savePerformanceFile(show.c_str(), detail, sizeof detail);
            for (int position : {0, 1})
                g_liveSettings->unloadPosition(position);
            opened = openPerformanceFile(frame, show.c_str(), detail, sizeof detail);
        });
        ASSERT_EQ(saved, FileOutcome::Done) << detail;
        ASSERT_EQ(opened, FileOutcome::Done) << detail;
        ASSERT_NE(g_liveSettings->slots[0], nullptr);
        ASSERT_NE(g_liveSettings->slots[1], nullptr);
        EXPECT_TRUE(g_liveSettings->slots[0]->ownProcess) << overdriveOwn;
        EXPECT_EQ(g_liveSettings->slots[1]->ownProcess, overdriveOwn);
        EXPECT_FLOAT_EQ(g_liveSettings->slots[1]->parameters[0], 0.3f) << overdriveOwn;
        EXPECT_FALSE(g_liveSettings->slots[0]->plugin->failed(nullptr, 0));
    }
    // Loaded afresh, the plug-in that never failed goes into this process and the
    // crasher into its own; moved back into this process by the user, the crasher's
    // failure is forgotten, and the file saved before keeps the choice made then.
    char detail[600] = "";
    FileOutcome saved = FileOutcome::Failed, opened = FileOutcome::Failed;
    onProgramThread(frame, [&] {
        g_liveSettings->unloadPosition(1);
        g_liveSettings->loadPathIntoPosition(1, (kOurPlugins + "Overdrive.dll").c_str());
        g_liveSettings->unloadPosition(0);
        g_liveSettings->loadPathIntoPosition(0, crasher.c_str());
        saved = savePerformanceFile(show.c_str(), detail, sizeof detail);
    });
    ASSERT_NE(g_liveSettings->slots[0], nullptr);
    ASSERT_NE(g_liveSettings->slots[1], nullptr);
    EXPECT_FALSE(g_liveSettings->slots[1]->ownProcess);
    EXPECT_TRUE(g_liveSettings->slots[0]->ownProcess);
    ASSERT_EQ(saved, FileOutcome::Done) << detail;
    chooseFromMenu(panel, 0, IDC_CMD_OWN_PROCESS);
    ASSERT_NE(g_liveSettings->slots[0], nullptr);
    EXPECT_FALSE(g_liveSettings->slots[0]->ownProcess);
    EXPECT_FALSE(failedBefore(crasher.c_str()));
    bool wasOwn = true;
    onProgramThread(frame, [&] {
        g_liveSettings->unloadPosition(0);
        g_liveSettings->loadPathIntoPosition(0, crasher.c_str());
        wasOwn = g_liveSettings->slots[0] && g_liveSettings->slots[0]->ownProcess;
        opened = openPerformanceFile(frame, show.c_str(), detail, sizeof detail);
    });
    EXPECT_FALSE(wasOwn);
    ASSERT_EQ(opened, FileOutcome::Done) << detail;
    EXPECT_TRUE(g_liveSettings->slots[0]->ownProcess);
    EXPECT_FALSE(g_liveSettings->slots[1]->ownProcess);
    DeleteFileA(show.c_str());

    onProgramThread(frame, [] {
        for (int position : {0, 1})
            g_liveSettings->unloadPosition(position);
    });
    closePanel(frame);
    ASSERT_TRUE(program.close(kTimeout));
}
