// The built-in driver when the sound server's devices change: more devices than a list
// holds, and a stored device that vanished after the platform listed it. Devices are
// added and removed with pactl on the bench's PulseAudio server; Wine lists devices
// once per process, so each case runs in a child process started after the change.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DriverTestSupport.h"
#include "MessageBoxRecorder.h"

namespace {

const int kExtraSinks = 30;

std::string loadSinks(const char* prefix, int count) {
    char script[512];
    std::snprintf(script, sizeof script,
                  "i=0; while [ $i -lt %d ]; do pactl load-module module-null-sink sink_name=%s$i "
                  "sink_properties=device.description=%s$i >/dev/null; i=$((i+1)); done",
                  count, prefix, prefix);
    return script;
}

std::string unloadSinks(const char* prefix) {
    return std::string("for m in $(pactl list short modules | grep sink_name=") + prefix +
           " | cut -f1); do pactl unload-module $m; done";
}

// Runs one disabled test of this program in a child process; its exit code.
DWORD runChild(const char* test) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string line = std::string("\"") + self + "\" --gtest_also_run_disabled_tests --gtest_brief=1 --gtest_filter=" + test;
    std::vector<char> command(line.begin(), line.end());
    command.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return DWORD(-1);
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

const DWORD kTooFewDevices = 77;

BOOL CALLBACK collect(LPGUID, LPCSTR description, LPCSTR, LPVOID list) {
    static_cast<std::vector<std::string>*>(list)->push_back(description);
    return TRUE;
}

void expectListIsFirst31(const DeviceList& list, const std::vector<std::string>& all) {
    ASSERT_EQ(list.count(), 31);
    for (int i = 0; i < 31; ++i)
        EXPECT_EQ(list.entry(i).description, all[size_t(i)]) << i;
    EXPECT_EQ(list.entry(31).description[0], '\0');
    EXPECT_EQ(list.entry(32).description[0], '\0');
    for (size_t i = 31; i < all.size(); ++i)
        EXPECT_EQ(list.find(all[i].c_str()), -1) << all[i];
}

}  // namespace

// Child: the platform lists more than 31 devices of each kind.
TEST(DeviceChange, DISABLED_ListsOf33AreCutTo31) {
    std::vector<std::string> playback, capture;
    DirectSoundEnumerateA(collect, &playback);
    DirectSoundCaptureEnumerateA(collect, &capture);
    if (playback.size() <= 31 || capture.size() <= 31)
        ExitProcess(kTooFewDevices);

    // No device is opened, not even the defaults: Wine 8 itself crashes opening any
    // DirectSound device once more than about twenty are present.
    StoredDriverValues values;
    values.setDevices("<no driver>", "<no driver>");
    MessageBoxRecorder boxes;
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(nullptr), 1);
    expectListIsFirst31(driver.object().inputDevices(), capture);
    expectListIsFirst31(driver.object().outputDevices(), playback);
    EXPECT_EQ(driver.object().inputDevices().find(capture[30].c_str()), 30);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST(DeviceChange, MoreThan31DevicesAreListedAs31) {
    if (!soundServerReachable())
        GTEST_SKIP() << "no sound server to add devices to";
    ASSERT_TRUE(runOnHost(loadSinks("dx2asio_extra", kExtraSinks))) << "pactl did not finish";
    const DWORD result = runChild("DeviceChange.DISABLED_ListsOf33AreCutTo31");
    ASSERT_TRUE(runOnHost(unloadSinks("dx2asio_extra")));
    if (result == kTooFewDevices)
        GTEST_SKIP() << "could not create more than 31 DirectSound devices";
    EXPECT_EQ(result, 0u) << "the child's test failed";
}

// Child: the stored devices were listed, then removed before the driver opened them.
TEST(DeviceChange, DISABLED_VanishedDevices) {
    std::vector<std::string> playback;
    DirectSoundEnumerateA(collect, &playback);  // the process's list now holds the device
    ASSERT_TRUE(std::find(playback.begin(), playback.end(), "dx2asio_vanishing0") != playback.end());
    ASSERT_TRUE(runOnHost(unloadSinks("dx2asio_vanishing")));

    StoredDriverValues values;
    values.setDevices("Monitor of dx2asio_vanishing0", "dx2asio_vanishing0");
    MessageBoxRecorder boxes;
    DriverUnderTest driver;
    HWND owner = GetDesktopWindow();
    EXPECT_EQ(driver->init(owner), 1) << "init never fails";
    EXPECT_EQ(driver.object().selectedOutputDevice(), -1);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Failed to open the output DirectX driver");
    EXPECT_EQ(shown[0].caption, "Talvenor ZerevaZ-2-UDID");
    EXPECT_EQ(shown[0].flags & MB_ICONMASK, UINT(MB_ICONERROR));
    EXPECT_EQ(shown[0].owner, owner);
    EXPECT_EQ(driver.errorMessage(), "Failed to open the output DirectX driver");

    // Under Wine the capture object of a vanished monitor opens, but its buffer cannot
    // be made: createBuffers fails with its text and leaves nothing behind.
    ASSERT_GE(driver.object().selectedInputDevice(), 0);
    RecordingHost host;
    EXPECT_EQ(host.createBuffers(driver.asio(), 800), -1);
    EXPECT_EQ(driver.errorMessage(), "Failed to create the input buffer");
    EXPECT_EQ(driver.object().captureBuffer(), nullptr);
    EXPECT_EQ(driver->start(), ASE_InvalidParameter) << "no callbacks stored by a failed createBuffers";
}

TEST(DeviceChange, AStoredDeviceThatVanishedIsReportedByInit) {
    if (!soundServerReachable())
        GTEST_SKIP() << "no sound server to add devices to";
    ASSERT_TRUE(runOnHost(loadSinks("dx2asio_vanishing", 1)));
    const DWORD result = runChild("DeviceChange.DISABLED_VanishedDevices");
    runOnHost(unloadSinks("dx2asio_vanishing"));
    EXPECT_EQ(result, 0u) << "the child's test failed";
}
