// The built-in driver's settings dialog, driven in-process: what it shows when
// opened from the driver's values, what OK writes under the driver's key and when it
// asks the host for a reset, Cancel, a key that cannot be opened, and the driver
// going away while the dialog is open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "WinInclude.h"
#include <commctrl.h>

#include "ControlIds.h"
#include "DriverTestSupport.h"
#include "MessageBoxRecorder.h"
#include "RegistryKeys.h"
#include "UiTestSupport.h"

namespace {

const char kInput[] = "Monitor of instrument";
const char kOutput[] = "speakers";
const char kCaption[] = "Talvenor ZerevaZ-2-UDID";

struct StoredValue {
    bool present = false;
    DWORD type = 0;
    std::vector<uint8_t> data;
};

StoredValue readStored(const char* name) {
    StoredValue value;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.present = RegQueryValueExA(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return value;
}

DWORD storedDword(const char* name) {
    const StoredValue value = readStored(name);
    DWORD result = 0xFFFFFFFF;
    if (value.present && value.type == REG_DWORD && value.data.size() == sizeof result)
        std::memcpy(&result, value.data.data(), sizeof result);
    return result;
}

// A device name: the text, and whether it was stored as 256 bytes.
std::string storedName(const char* name, bool* fullSize = nullptr) {
    const StoredValue value = readStored(name);
    if (!value.present || value.type != REG_SZ) return "(missing)";
    if (fullSize) *fullSize = value.data.size() == 256;
    return std::string(reinterpret_cast<const char*>(value.data.data()),
                       strnlen(reinterpret_cast<const char*>(value.data.data()), value.data.size()));
}

WAVEFORMATEX storedFormat() {
    const StoredValue value = readStored("dxSoundFormat");
    WAVEFORMATEX format{};
    if (value.present && value.type == REG_BINARY && value.data.size() == sizeof format)
        std::memcpy(&format, value.data.data(), sizeof format);
    return format;
}

std::vector<std::string> listTexts(HWND dialog, int id) {
    std::vector<std::string> texts;
    const int count = int(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[300] = {};
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

int listSelection(HWND dialog, int id) { return int(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0)); }

std::string itemText(HWND dialog, int id) {
    char text[100] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void select(HWND dialog, int id, int index) { SendDlgItemMessageA(dialog, id, CB_SETCURSEL, index, 0); }

void moveTrackbar(HWND dialog, int position) {
    HWND trackbar = GetDlgItem(dialog, IDC_DRIVER_BLOCK_SIZE);
    SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(trackbar));
}

void press(HWND dialog, int button) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }

class DriverSettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        values_.setDevices(kInput, kOutput);
        values_.setDword("dxBufferSize", 800);
        values_.setDword("dxNumBuffers", 4);
        values_.setDword("dxSyncByInput", 1);
        values_.setFormat(2, 44100, 16);
    }

    // Opens the dialog of an initialised driver; null (test failed) when it cannot.
    HWND open(DriverUnderTest& driver) {
        if (driver->controlPanel() != ASE_OK) return nullptr;
        HWND dialog = driver.object().settingsDialog();
        pumpMessages(20);
        return dialog;
    }

    StoredDriverValues values_;
    MessageBoxRecorder boxes_;
    RecordingParent owner_{120, 80, RGB(20, 20, 30)};
};

}  // namespace

TEST_F(DriverSettingsDialogTest, ShowsTheDriversValuesAndOkWithoutChangeWritesAllSevenWithoutReset) {
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(owner_.hwnd()), 1);
    const Dx2AsioDriver& object = driver.object();
    ASSERT_GE(object.selectedInputDevice(), 0) << "the bench's capture device";
    ASSERT_GE(object.selectedOutputDevice(), 0) << "the bench's playback device";

    HWND dialog = open(driver);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner_.hwnd());
    char title[64];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "ZerevaZ-2-UDID Settings");
    // Asked again while open: the same dialog.
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(object.settingsDialog(), dialog);

    EXPECT_EQ(listTexts(dialog, IDC_DRIVER_SAMPLE_RATE),
              (std::vector<std::string>{"22050", "32000", "44100", "48000", "96000"}));
    EXPECT_EQ(listSelection(dialog, IDC_DRIVER_SAMPLE_RATE), 2);
    EXPECT_TRUE(IsDlgButtonChecked(dialog, IDC_DRIVER_16_BITS));
    EXPECT_FALSE(IsDlgButtonChecked(dialog, IDC_DRIVER_24_BITS));
    EXPECT_FALSE(IsDlgButtonChecked(dialog, IDC_DRIVER_32_BITS));
    EXPECT_TRUE(IsDlgButtonChecked(dialog, IDC_DRIVER_STEREO));
    HWND trackbar = GetDlgItem(dialog, IDC_DRIVER_BLOCK_SIZE);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETRANGEMAX, 0, 0), 1000);
    EXPECT_EQ(SendMessageA(trackbar, TBM_GETPOS, 0, 0), 100);
    // The round trip the driver reports: a block in, the ring of 4 blocks out.
    EXPECT_EQ(itemText(dialog, IDC_DRIVER_LATENCY), "90.7 ms");
    EXPECT_EQ(listTexts(dialog, IDC_DRIVER_MODE),
              (std::vector<std::string>{"WASAPI exclusive", "WASAPI shared", "DirectSound"}));
    EXPECT_EQ(listSelection(dialog, IDC_DRIVER_MODE), 2) << "values without a mode: DirectSound";
    EXPECT_EQ(listTexts(dialog, IDC_DRIVER_NUM_BUFFERS), (std::vector<std::string>{"2", "4", "8", "16", "32", "64"}));
    EXPECT_EQ(listSelection(dialog, IDC_DRIVER_NUM_BUFFERS), 1);
    EXPECT_TRUE(IsDlgButtonChecked(dialog, IDC_DRIVER_SYNC_BY_INPUT));

    const std::vector<std::string> inputs = listTexts(dialog, IDC_DRIVER_INPUT_DEVICE);
    ASSERT_EQ(int(inputs.size()), object.inputDevices().count() + 1);
    EXPECT_EQ(inputs[0], "<no device>");
    for (int i = 0; i < object.inputDevices().count(); ++i)
        EXPECT_EQ(inputs[i + 1], std::string(object.inputDevices().entry(i).description) +
                                     (i == object.inputDevices().defaultDevice() ? " (system default)" : ""));
    EXPECT_EQ(listSelection(dialog, IDC_DRIVER_INPUT_DEVICE), object.selectedInputDevice() + 1);
    EXPECT_EQ(inputs[object.selectedInputDevice() + 1], kInput);
    const std::vector<std::string> outputs = listTexts(dialog, IDC_DRIVER_OUTPUT_DEVICE);
    EXPECT_EQ(outputs[0], "<no device>");
    EXPECT_EQ(outputs[object.selectedOutputDevice() + 1], kOutput);
    EXPECT_EQ(listSelection(dialog, IDC_DRIVER_OUTPUT_DEVICE), object.selectedOutputDevice() + 1);

    // The latency follows the trackbar: the same frames that OK would save.
    moveTrackbar(dialog, 50);
    EXPECT_EQ(itemText(dialog, IDC_DRIVER_LATENCY), "45.4 ms");
    moveTrackbar(dialog, 100);
    EXPECT_EQ(itemText(dialog, IDC_DRIVER_LATENCY), "90.7 ms");

    // Saved for people to look at.
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE);
    RedrawWindow(dialog, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    pumpMessages(200);
    RECT area;
    GetWindowRect(dialog, &area);
    const ScreenPixels shot(area.left, area.top, area.right - area.left, area.bottom - area.top);
    EXPECT_TRUE(shot.savePng(screenshotFolder() + "\\driver-settings.png"));

    values_.clear();
    press(dialog, IDOK);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(object.settingsDialog(), nullptr);
    EXPECT_EQ(boxes_.count(), 0u);
    bool fullSize = false;
    EXPECT_EQ(storedName("dxInputDevice", &fullSize), kInput);
    EXPECT_TRUE(fullSize);
    EXPECT_EQ(storedName("dxOutputDevice"), kOutput);
    EXPECT_EQ(storedDword("dxBufferSize"), 800u);
    EXPECT_EQ(storedDword("dxNumBuffers"), 4u);
    EXPECT_EQ(storedDword("dxSyncByInput"), 1u);
    EXPECT_EQ(storedDword("dxMode"), 0u) << "DirectSound, kept";
    const WAVEFORMATEX format = storedFormat();
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 44100u);
    EXPECT_EQ(format.wBitsPerSample, 16);
}

TEST_F(DriverSettingsDialogTest, ChangedChoicesAreWrittenAndTheHostIsAskedForAReset) {
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(owner_.hwnd()), 1);
    RecordingHost host;
    ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0) << driver.errorMessage();

    HWND dialog = open(driver);
    ASSERT_NE(dialog, nullptr);
    select(dialog, IDC_DRIVER_INPUT_DEVICE, 0);  // "<no device>"
    select(dialog, IDC_DRIVER_SAMPLE_RATE, 3);
    CheckRadioButton(dialog, IDC_DRIVER_16_BITS, IDC_DRIVER_32_BITS, IDC_DRIVER_32_BITS);
    CheckDlgButton(dialog, IDC_DRIVER_STEREO, BST_UNCHECKED);
    moveTrackbar(dialog, 64);
    EXPECT_EQ(itemText(dialog, IDC_DRIVER_LATENCY), "58.0 ms");  // 512 frames in, 4 x 512 out, at 44100 Hz
    select(dialog, IDC_DRIVER_NUM_BUFFERS, 2);
    CheckDlgButton(dialog, IDC_DRIVER_SYNC_BY_INPUT, BST_UNCHECKED);
    select(dialog, IDC_DRIVER_MODE, 1);  // WASAPI shared
    values_.clear();
    press(dialog, IDOK);

    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(host.resetRequests.load(), 1);
    EXPECT_EQ(boxes_.count(), 0u);
    EXPECT_EQ(storedName("dxInputDevice"), "<no driver>");
    EXPECT_EQ(storedName("dxOutputDevice"), kOutput);
    EXPECT_EQ(storedDword("dxBufferSize"), 512u);
    EXPECT_EQ(storedDword("dxNumBuffers"), 8u);
    EXPECT_EQ(storedDword("dxSyncByInput"), 0u);
    EXPECT_EQ(storedDword("dxMode"), 1u);
    const WAVEFORMATEX format = storedFormat();
    EXPECT_EQ(format.nChannels, 1);
    EXPECT_EQ(format.nSamplesPerSec, 48000u);
    EXPECT_EQ(format.wBitsPerSample, 32);
    // The running driver keeps its format until the host re-creates it.
    EXPECT_EQ(driver.object().format().nSamplesPerSec, 44100u);
    EXPECT_EQ(driver.object().format().wBitsPerSample, 16);

    // The re-created driver loads what was saved: no input device now.
    driver->disposeBuffers();
    DriverUnderTest recreated;
    ASSERT_EQ(recreated->init(owner_.hwnd()), 1);
    EXPECT_EQ(recreated.object().selectedInputDevice(), -1);
    EXPECT_EQ(recreated.object().numBuffers(), 8);
    EXPECT_EQ(recreated.object().format().nSamplesPerSec, 48000u);
}

TEST_F(DriverSettingsDialogTest, WithoutAHostARestartNoticeCancelAndAMissingKeyWriteNothing) {
    {
        DriverUnderTest driver;
        ASSERT_EQ(driver->init(owner_.hwnd()), 1);

        // No buffers created, so no host to ask: the user is told to restart.
        HWND dialog = open(driver);
        ASSERT_NE(dialog, nullptr);
        select(dialog, IDC_DRIVER_NUM_BUFFERS, 5);
        press(dialog, IDOK);
        ASSERT_EQ(boxes_.count(), 1u);
        const MessageBoxRecorder::Box box = boxes_.boxes()[0];
        EXPECT_EQ(box.text,
                  "The current driver configuration has been changed. \nThe driver must be restarted to make the "
                  "changes available.");
        EXPECT_EQ(box.caption, kCaption);
        EXPECT_EQ(box.flags & MB_ICONMASK, UINT(MB_ICONINFORMATION));
        EXPECT_EQ(box.owner, owner_.hwnd());
        EXPECT_EQ(storedDword("dxNumBuffers"), 64u);

        // Cancel and closing the window write nothing.
        values_.clear();
        boxes_.clear();
        for (UINT way : {UINT(IDCANCEL), UINT(WM_CLOSE)}) {
            dialog = open(driver);
            ASSERT_NE(dialog, nullptr);
            moveTrackbar(dialog, 10);
            if (way == WM_CLOSE)
                SendMessageA(dialog, WM_CLOSE, 0, 0);
            else
                press(dialog, IDCANCEL);
            EXPECT_FALSE(IsWindow(dialog));
            EXPECT_EQ(driver.object().settingsDialog(), nullptr);
        }
        EXPECT_FALSE(values_.has("dxBufferSize"));
        EXPECT_FALSE(values_.has("dxInputDevice"));
        EXPECT_EQ(boxes_.count(), 0u);

        // The key is never created: without it, one error and nothing written.
        ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath), ERROR_SUCCESS);
        dialog = open(driver);
        ASSERT_NE(dialog, nullptr);
        press(dialog, IDOK);
        EXPECT_FALSE(IsWindow(dialog));
        ASSERT_EQ(boxes_.count(), 1u);
        EXPECT_EQ(boxes_.boxes()[0].text, "Unable to save the new configuration to the system registry");
        EXPECT_EQ(boxes_.boxes()[0].caption, kCaption);
        EXPECT_EQ(boxes_.boxes()[0].flags & MB_ICONMASK, UINT(MB_ICONERROR));
        EXPECT_EQ(driver.errorMessage(), "Unable to save the new configuration to the system registry");
        HKEY key = nullptr;
        EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
        ASSERT_TRUE(createSettingsKeys());

        // The owner going away takes the dialog with it; the driver forgets it.
        {
            RecordingParent owner(60, 40, RGB(0, 0, 0));
            DriverUnderTest owned;
            ASSERT_EQ(owned->init(owner.hwnd()), 1);
            HWND ownedDialog = open(owned);
            ASSERT_NE(ownedDialog, nullptr);
            DestroyWindow(owner.hwnd());
            EXPECT_FALSE(IsWindow(ownedDialog));
            EXPECT_EQ(owned.object().settingsDialog(), nullptr);
        }

        // The driver going away takes its open dialog with it.
        dialog = open(driver);
        ASSERT_NE(dialog, nullptr);
        values_.clear();
        driver.~DriverUnderTest();
        new (&driver) DriverUnderTest();
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_FALSE(values_.has("dxBufferSize"));
    }
}

// Nothing chosen yet: the lists show the system's default devices, which the driver
// opened, as chosen and say that they are the defaults. OK without a change keeps
// them without asking for a restart; the names stored from then on are a choice.
TEST_F(DriverSettingsDialogTest, WithNothingStoredTheListsShowTheSystemsDefaultDevices) {
    values_.clear();
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(owner_.hwnd()), 1);
    const Dx2AsioDriver& object = driver.object();
    const int input = object.inputDevices().defaultDevice();
    const int output = object.outputDevices().defaultDevice();
    ASSERT_GE(input, 0) << "DirectSound lists a default capture device";
    ASSERT_GE(output, 0) << "and a default playback device";
    EXPECT_EQ(object.selectedInputDevice(), input);
    EXPECT_EQ(object.selectedOutputDevice(), output);

    HWND dialog = open(driver);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(listSelection(dialog, IDC_DRIVER_INPUT_DEVICE), input + 1);
    EXPECT_EQ(itemText(dialog, IDC_DRIVER_INPUT_DEVICE),
              std::string(object.inputDevices().entry(input).description) + " (system default)");
    EXPECT_EQ(listSelection(dialog, IDC_DRIVER_OUTPUT_DEVICE), output + 1);
    EXPECT_EQ(itemText(dialog, IDC_DRIVER_OUTPUT_DEVICE),
              std::string(object.outputDevices().entry(output).description) + " (system default)");
    // Only the default says so.
    const std::vector<std::string> outputs = listTexts(dialog, IDC_DRIVER_OUTPUT_DEVICE);
    EXPECT_EQ(std::count_if(outputs.begin(), outputs.end(),
                            [](const std::string& text) { return text.find("(system default)") != std::string::npos; }),
              1);
    RECT area;
    GetWindowRect(dialog, &area);
    pumpMessages(100);
    const ScreenPixels shot(area.left, area.top, area.right - area.left, area.bottom - area.top);
    EXPECT_TRUE(shot.savePng(screenshotFolder() + "\\driver-settings-defaults.png"));

    press(dialog, IDOK);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(boxes_.count(), 0u) << "the devices did not change: no restart notice";
    EXPECT_EQ(storedName("dxInputDevice"), object.inputDevices().entry(input).description);
    EXPECT_EQ(storedName("dxOutputDevice"), object.outputDevices().entry(output).description);
}
