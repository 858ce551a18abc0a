// The program hosted on a thread of this test, driven through its windows as a user
// drives it: Live Input without a driver, the Audio Settings dialog, live input
// started and stopped with its check mark and meters, "<no device>" while running,
// two error flags in one tick, the sizing limit, the window commands and the
// commands whose windows come later. Closing with live input running stops it before
// any window goes. Screenshots of the states go to the build folder.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "WinInclude.h"
#include <commctrl.h>

#include "DriverSettings.h"
#include "ErrorFlags.h"
#include "FrameWindow.h"
#include "HostedProgram.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "Metronome.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "UnixPrograms.h"
#include "VuMeter.h"
#include "WaveDeck.h"
#include "WavFiles.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const char kBuiltInDriver[] = "ZerevaZ-2-UDID wrapper";
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

// Live input state as the shell's objects and windows show it after a tick.
void expectLiveInput(HWND frame, bool running) {
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(g_liveEngine->running(), running);
    EXPECT_EQ(menuItemState(frame, IDC_CMD_LIVE_INPUT).checked, running);
    EXPECT_EQ(IsWindowVisible(inputMeterWindow()) != 0, running);
    EXPECT_EQ(IsWindowVisible(outputMeterWindow()) != 0, running);
}

HWND waitForDialog(const char* caption) {
    const MessageBoxSeen seen = waitForMessageBox(kPid, caption, kTimeout);
    return seen.window;
}

void chooseDevice(HWND dialog, int index) {
    HWND list = GetDlgItem(dialog, IDC_AUDIO_DEVICE_LIST);
    SendMessageA(list, CB_SETCURSEL, WPARAM(index), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_AUDIO_DEVICE_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

std::string listItem(HWND list, int index) {
    char text[300] = "";
    if (SendMessageA(list, CB_GETLBTEXTLEN, WPARAM(index), 0) < LRESULT(sizeof text))
        SendMessageA(list, CB_GETLBTEXT, WPARAM(index), reinterpret_cast<LPARAM>(text));
    return text;
}

// Records whether live input still ran when the frame's windows began to go.
HHOOK g_destroyHook = nullptr;
int g_runningAtFirstDestroy = -1;

LRESULT CALLBACK watchDestroy(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_DESTROY && g_runningAtFirstDestroy < 0 && g_liveEngine)
        g_runningAtFirstDestroy = g_liveEngine->running() ? 1 : 0;
    return CallNextHookEx(g_destroyHook, code, wParam, lParam);
}

class LiveFrame : public ::testing::Test {
protected:
    void SetUp() override {
        forgetProgramSettings();
        ASSERT_TRUE(createSettingsKeys());
        // The bench's devices, in blocks that Wine's DirectSound keeps steady.
        ASSERT_TRUE(saveDriverChoices("Monitor of instrument", "speakers", 1024, 4));
        clearErrorFlag(~0u);
    }
};

}  // namespace

TEST_F(LiveFrame, LiveInputFollowsTheDriverTheMenuAndTheMeters) {
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(waitForTicks(1));
    EXPECT_TRUE(menuItemState(frame, IDC_CMD_CONTROL_PANEL).grayed) << "no driver is open";
    EXPECT_FALSE(menuItemState(frame, IDC_CMD_LIVE_INPUT).checked);
    takeScreenshot(kScreenshots, "03-frame-at-start");

    // Ctrl+L with no driver: the notice, then the Audio Settings dialog.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'L'}));
    const MessageBoxSeen notice = waitForMessageBox(kPid, "Talvenor Live", kTimeout);
    ASSERT_NE(notice.window, nullptr);
    EXPECT_EQ(notice.text, "Before starting live input you should open an audio device.");
    ASSERT_TRUE(pressButton(notice.window, IDOK));
    HWND settings = waitForDialog("Audio Settings");
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(g_liveEngine->running());
    HWND list = GetDlgItem(settings, IDC_AUDIO_DEVICE_LIST);
    const int items = int(SendMessageA(list, CB_GETCOUNT, 0, 0));
    ASSERT_EQ(items, g_liveEngine->driverCount() + 1);
    EXPECT_EQ(listItem(list, 0), "<no device>");
    EXPECT_EQ(listItem(list, items - 1), kBuiltInDriver);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_DRIVER_INFO)), "No driver opened");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(settings, IDC_AUDIO_CONTROL_PANEL)));
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_TEMPO_TEXT)), "120.0");
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_DISK_BUFFER)), "1024");
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_AUTO_SYNC)), "Restart live input if requested by the driver");
    // The built-in driver; the tempo typed in and the disk buffer beyond its range.
    chooseDevice(settings, items - 1);
    EXPECT_EQ(g_liveEngine->currentDriver(), items - 2);
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_DRIVER_INFO)).rfind("Sample Rate: 44100", 0), 0u)
        << windowText(GetDlgItem(settings, IDC_AUDIO_DRIVER_INFO));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(settings, IDC_AUDIO_CONTROL_PANEL)));
    SetDlgItemTextA(settings, IDC_AUDIO_TEMPO_TEXT, "95.5");
    SendMessageA(settings, WM_COMMAND, MAKEWPARAM(IDC_AUDIO_TEMPO_TEXT, EN_KILLFOCUS), 0);
    EXPECT_EQ(int32_t(g_liveSettings->tempo), 9550);
    EXPECT_EQ(SendDlgItemMessageA(settings, IDC_AUDIO_TEMPO_TRACKBAR, TBM_GETPOS, 0, 0),
              LRESULT(trackbarFromTempo(9550)));
    SetDlgItemTextA(settings, IDC_AUDIO_DISK_BUFFER, "5000");
    SendMessageA(settings, WM_COMMAND, MAKEWPARAM(IDC_AUDIO_DISK_BUFFER, EN_KILLFOCUS), 0);
    EXPECT_EQ(g_waveDeck->diskBufferTime, 1024);
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_DISK_BUFFER)), "1024");
    SendMessageA(settings, WM_COMMAND, MAKEWPARAM(IDC_AUDIO_AUTO_SYNC, BN_CLICKED), 0);
    EXPECT_TRUE(g_liveEngine->autoSync());
    takeScreenshot(kScreenshots, "04-audio-settings");
    ASSERT_TRUE(pressButton(settings, IDCANCEL));
    EXPECT_FALSE(g_liveEngine->running()) << "the dialog does not start live input";
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_FALSE(menuItemState(frame, IDC_CMD_CONTROL_PANEL).grayed);

    // Twice: starts, then stops; the check mark and the meters follow.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'L'}));
    expectLiveInput(frame, true);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    // An instrument plays: its peaks reach both meters through the frame's timer,
    // the left channel at -6 dB, the right one 12 dB lower.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string riff = std::string(temp) + "talvenor-meter-tone.wav";
    std::vector<std::vector<float>> tone(2, std::vector<float>(44100 * 4));
    for (size_t i = 0; i < tone[0].size(); ++i) {
        const float s = float(std::sin(2.0 * 3.14159265358979 * 220.0 * double(i) / 44100.0));
        tone[0][i] = 0.5f * s;
        tone[1][i] = 0.125f * s;
    }
    ASSERT_TRUE(writeWav16(riff, 44100, tone));
    ASSERT_TRUE(playIntoSink("instrument", riff));
    EXPECT_TRUE(waitUntil([] { return meterLitSegments(inputMeterWindow(), 0) >= 36; }, kTimeout))
        << "input meter, left: " << meterLitSegments(inputMeterWindow(), 0);
    const int inputLeft = meterLitSegments(inputMeterWindow(), 0);
    const int inputRight = meterLitSegments(inputMeterWindow(), 1);
    EXPECT_GE(inputLeft - inputRight, 4) << inputLeft << " and " << inputRight << " segments";
    // The output follows once the noise gate has opened.
    EXPECT_TRUE(waitUntil([] { return meterLitSegments(outputMeterWindow(), 0) >= 36; }, kTimeout))
        << "output meter, left: " << meterLitSegments(outputMeterWindow(), 0);
    // What the meters hold is on the screen: they draw between paints, on each tick.
    {
        HDC screen = GetDC(nullptr);
        const POINT origin = clientOrigin(inputMeterWindow());
        const int lit = meterLitSegments(inputMeterWindow(), 0);
        const COLORREF litPixel = GetPixel(screen, origin.x + 65 + 5 * (lit - 3) + 2, origin.y + 11 + 6);
        const COLORREF unlitPixel = GetPixel(screen, origin.x + 65 + 5 * 42 + 2, origin.y + 34 + 6);
        ReleaseDC(nullptr, screen);
        EXPECT_EQ(litPixel, RGB(0x0F, 0xEA, 0x4E)) << "a lit segment of the input meter's left row";
        EXPECT_EQ(unlitPixel, RGB(0x2E, 0x30, 0x33)) << "the last segment of the input meter's right row";
    }
    takeScreenshot(kScreenshots, "05-live-input-running");
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    expectLiveInput(frame, false);

    // "<no device>" while live input runs: the driver closes and live input stops.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    expectLiveInput(frame, true);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_AUDIO_SETTINGS));
    settings = waitForDialog("Audio Settings");
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(SendDlgItemMessageA(settings, IDC_AUDIO_DEVICE_LIST, CB_GETCURSEL, 0, 0), LRESULT(items - 1));
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_TEMPO_TEXT)), "95.5");
    EXPECT_EQ(IsDlgButtonChecked(settings, IDC_AUDIO_AUTO_SYNC), UINT(BST_CHECKED));
    chooseDevice(settings, 0);
    EXPECT_EQ(g_liveEngine->currentDriver(), -1);
    EXPECT_FALSE(g_liveEngine->running());
    EXPECT_EQ(windowText(GetDlgItem(settings, IDC_AUDIO_DRIVER_INFO)), "No driver opened");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(settings, IDC_AUDIO_CONTROL_PANEL)));
    ASSERT_TRUE(pressButton(settings, IDOK));
    expectLiveInput(frame, false);
    EXPECT_TRUE(menuItemState(frame, IDC_CMD_CONTROL_PANEL).grayed);

    // The driver again, live input running, and the frame closed: live input stops
    // before the first window is destroyed, and the settings keep the driver.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_AUDIO_SETTINGS));
    settings = waitForDialog("Audio Settings");
    ASSERT_NE(settings, nullptr);
    chooseDevice(settings, items - 1);
    ASSERT_TRUE(pressButton(settings, IDOK));
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    expectLiveInput(frame, true);
    // A meter moved during the run keeps its new place.
    const RECT meter = windowRect(outputMeterWindow());
    const POINT meterOrigin = clientOrigin(outputMeterWindow());
    SetWindowPos(outputMeterWindow(), nullptr, 123 - (meterOrigin.x - meter.left), 234 - (meterOrigin.y - meter.top), 0,
                 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    g_destroyHook = SetWindowsHookExA(WH_CALLWNDPROC, watchDestroy, nullptr, program.threadId());
    ASSERT_NE(g_destroyHook, nullptr);
    ASSERT_TRUE(program.close(kTimeout));
    UnhookWindowsHookEx(g_destroyHook);
    EXPECT_EQ(g_runningAtFirstDestroy, 0) << "a window went while live input still ran";
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(g_liveEngine, nullptr);
    RegistryKey key(kSettingsKeyPath, false);
    std::string saved;
    ASSERT_TRUE(key.readText("asioDevice", &saved));
    EXPECT_EQ(saved, kBuiltInDriver);
    int32_t meterX = 0, meterY = 0;
    ASSERT_TRUE(key.readPair("outmeterWndPos", &meterX, &meterY));
    EXPECT_EQ(meterX, 123);
    EXPECT_EQ(meterY, 234);

    // Reopened by name at the next start: live input starts at once.
    HostedProgram again;
    ASSERT_TRUE(again.start(""));
    frame = again.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(g_liveEngine->currentDriver(), items - 2);
    EXPECT_EQ(int32_t(g_liveSettings->tempo), 9550);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    expectLiveInput(frame, true);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_EXIT));
    ASSERT_TRUE(again.waitForExit(kTimeout));
}

TEST_F(LiveFrame, FlagsBoxesSizingAndWindowCommands) {
    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(waitForTicks(1));

    // Two conditions raised at once: both boxes in the table's order, in one tick.
    raiseErrorFlag(kFlagDiskTooSlow | kFlagAccompReadError);
    const MessageBoxSeen first = waitForMessageBox(kPid, "Error #", kTimeout);
    ASSERT_NE(first.window, nullptr);
    const uint32_t tick = frameTimerTicks();
    EXPECT_EQ(first.caption, "Error #32");
    EXPECT_EQ(first.text, "An error occured during read the accompaniment");
    Sleep(300);  // more ticks arrive while the box is open; none shows the next box
    EXPECT_EQ(dialogsOf(kPid).size(), 1u);
    takeScreenshot(kScreenshots, "06-error-box");
    ASSERT_TRUE(pressButton(first.window, IDOK));
    const MessageBoxSeen second = waitForMessageBox(kPid, "Error #", kTimeout);
    ASSERT_NE(second.window, nullptr);
    EXPECT_EQ(second.caption, "Error #40");
    EXPECT_EQ(second.text, "The hard drive is too slow to read or write a data");
    EXPECT_EQ(frameTimerTicks(), tick) << "the second box came from a later tick";
    ASSERT_TRUE(pressButton(second.window, IDOK));
    EXPECT_EQ(errorFlags(), 0u);
    EXPECT_FALSE(g_waveDeck->isPlaying());

    // A box asked for on another thread with the frame as its owner (the built-in
    // driver's streaming thread when its loop fails): the caller goes on at once and
    // the UI thread shows the box, so that thread never waits for the UI thread.
    const char* loopFailed = "There was an error occured when trying to start the buffer's loop.\n The loop now will stop";
    const DWORD asked = GetTickCount();
    EXPECT_EQ(showMessageBox(frame, loopFailed, "Talvenor ZerevaZ-2-UDID", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_LT(GetTickCount() - asked, 1000u) << "the asking thread waited";
    const MessageBoxSeen streaming = waitForMessageBox(kPid, "Talvenor ZerevaZ-2-UDID", kTimeout);
    ASSERT_NE(streaming.window, nullptr);
    EXPECT_EQ(streaming.text, loopFailed);
    EXPECT_EQ(GetWindowThreadProcessId(streaming.window, nullptr), program.threadId());
    EXPECT_EQ(GetWindow(streaming.window, GW_OWNER), frame);
    ASSERT_TRUE(pressButton(streaming.window, IDOK));

    // Dragging the border to 150 x 150 keeps 200 x 200; from the left and top edge
    // the far corner stays where it is.
    RECT drag{300, 200, 450, 350};
    SendMessageA(frame, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&drag));
    EXPECT_EQ(drag.left, 300);
    EXPECT_EQ(drag.top, 200);
    EXPECT_EQ(drag.right, 500);
    EXPECT_EQ(drag.bottom, 400);
    RECT fromCorner{300, 200, 450, 350};
    SendMessageA(frame, WM_SIZING, WMSZ_TOPLEFT, reinterpret_cast<LPARAM>(&fromCorner));
    EXPECT_EQ(fromCorner.left, 250);
    EXPECT_EQ(fromCorner.top, 150);
    EXPECT_EQ(fromCorner.right, 450);
    EXPECT_EQ(fromCorner.bottom, 350);
    RECT large{0, 0, 640, 480};
    SendMessageA(frame, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&large));
    EXPECT_EQ(large.right, 640);
    EXPECT_EQ(large.bottom, 480);

    // The metronome's check mark follows Ctrl+M.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'M'}));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(g_liveSettings->metronome, 1);
    EXPECT_TRUE(menuItemState(frame, IDC_CMD_METRONOME).checked);

    // The FX Manager: an MDI child at 10, 10, 548 x 290, activated rather than
    // created twice; Close All takes it away.
    HWND mdiClient = g_windows.mdiClient;
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'F'}));
    HWND fxManager = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (fxManager = findChild(mdiClient, "TALVENORLIVE2_FXMAN")) != nullptr; }, kTimeout));
    EXPECT_EQ(windowText(fxManager), "FX Manager");
    RECT place = windowRect(fxManager);
    POINT corner{place.left, place.top};
    ScreenToClient(mdiClient, &corner);
    EXPECT_EQ(corner.x, 10);
    EXPECT_EQ(corner.y, 10);
    EXPECT_EQ(place.right - place.left, 548);
    EXPECT_EQ(place.bottom - place.top, 290);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_FX_MANAGER));
    ASSERT_TRUE(waitForTicks(1));
    int children = 0;
    for (HWND child = GetWindow(mdiClient, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++children;
    EXPECT_EQ(children, 1);
    takeScreenshot(kScreenshots, "07-fx-manager");
    ASSERT_TRUE(postCommand(frame, IDC_CMD_CLOSE_ALL));
    // The frame forgets the window in its WM_DESTROY, before the window has gone.
    ASSERT_TRUE(waitUntil([&] { return g_windows.fxManager == nullptr; }, kTimeout));
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(fxManager); }, kTimeout));

    // Open Performance asks for a file; Cancel there changes nothing.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_PERFORMANCE));
    HWND open = waitForDialogCaption(kPid, "Open Performance", kTimeout);
    ASSERT_NE(open, nullptr);
    ASSERT_TRUE(pressButton(open, IDCANCEL));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10");

    // Refresh Plugins List: the scan's dialog, which closes by itself with the count.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_REFRESH_PLUGINS));
    HWND scan = waitForDialog("Searching for plugins...");
    ASSERT_NE(scan, nullptr);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(scan); }, kTimeout));

    // About, closed with OK.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_ABOUT));
    HWND about = waitForDialog("About Talvenor Live");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(windowText(GetDlgItem(about, IDC_ABOUT_VERSION)), "Talvenor Live 2.1");
    takeScreenshot(kScreenshots, "08-about");
    ASSERT_TRUE(pressButton(about, IDOK));

    // New Performance asks nothing (nothing has changed) and keeps the frame.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_NEW_PERFORMANCE));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10");
    ASSERT_TRUE(program.close(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
}
