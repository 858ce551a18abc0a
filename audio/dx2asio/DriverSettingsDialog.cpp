#include "DriverSettingsDialog.h"

#include <cstdio>
#include <cstring>

#include <commctrl.h>

#include "ControlIds.h"
#include "Dx2AsioDriver.h"
#include "MessageBoxes.h"
#include "StreamLoop.h"

namespace {

const long kRates[] = {22050, 32000, 44100, 48000, 96000};
const long kRingCounts[] = {2, 4, 8, 16, 32, 64};
const int kRateCount = sizeof kRates / sizeof kRates[0];
// The mode list, in the order it shows.
const DriverMode kModes[] = {DriverMode::wasapiExclusive, DriverMode::wasapiShared, DriverMode::directSound};
const int kModeCount = sizeof kModes / sizeof kModes[0];
const int kRingCountCount = sizeof kRingCounts / sizeof kRingCounts[0];
const int kBlockStep = 8;  // frames per trackbar step
const int kNamedDevices = 32;
const char kNoDevice[] = "<no device>";
// Follows the description of the device DirectSound lists for the system's default.
const char kSystemDefault[] = " (system default)";

const char kKeyNotWritable[] = "Unable to save the new configuration to the system registry";
// Per value, in the order the values are written.
const struct {
    unsigned bit;
    const char* text;
} kWriteFailures[] = {
    {kInputDeviceValue, "Unable to save the input device name to the system registry"},
    {kOutputDeviceValue, "Unable to save the output device name to the system registry"},
    {kBufferSizeValue, "Unable to save the buffer size to the system registry"},
    {kNumBuffersValue, "Unable to save the number of buffers to the system registry"},
    {kSyncByInputValue, "Unable to save the sync. method to the system registry"},
    {kSoundFormatValue, "Unable to save the sound format data to the system registry"},
    {kModeValue, "Unable to save the driver mode to the system registry"},
};
const char kRestartNotice[] =
    "The current driver configuration has been changed. \nThe driver must be restarted to make the changes "
    "available.";

}  // namespace

// The dialog's procedure and its work; a friend of the driver, whose settings it shows.
class DriverSettingsDialog {
public:
    static INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static void fill(HWND dialog, Dx2AsioDriver& driver);
    static void fillDevices(HWND list, const DeviceList& devices, int selected);
    static void showLatency(HWND dialog, const Dx2AsioDriver& driver, long frames);
    static DriverMode chosenMode(HWND dialog, const Dx2AsioDriver& driver);
    static long chosenRings(HWND dialog);
    static void accept(HWND dialog, Dx2AsioDriver& driver);
    static void close(HWND dialog, Dx2AsioDriver* driver);
    static void reportError(Dx2AsioDriver& driver, const char* text);
};

namespace {

Dx2AsioDriver* driverOf(HWND dialog) {
    return reinterpret_cast<Dx2AsioDriver*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

void addItem(HWND list, const char* text) { SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }

int selection(HWND dialog, int id) { return int(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0)); }

bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// The list's "<no device>" entry (or no selection at all) chooses no device.
int chosenDevice(HWND dialog, int id) {
    const int chosen = selection(dialog, id);
    return chosen >= 1 ? chosen - 1 : -1;
}

}  // namespace

INT_PTR CALLBACK DriverSettingsDialog::procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Dx2AsioDriver* driver = driverOf(dialog);
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case kFillDriverSettings:
        if (driver)
            fill(dialog, *driver);
        return TRUE;
    case WM_HSCROLL:
        if (driver && reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, IDC_DRIVER_BLOCK_SIZE)) {
            const long position = long(SendMessageA(reinterpret_cast<HWND>(lParam), TBM_GETPOS, 0, 0));
            showLatency(dialog, *driver, position * kBlockStep);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && driver) {
            accept(dialog, *driver);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_DRIVER_MODE && HIWORD(wParam) == CBN_SELCHANGE && driver) {
            const long position = long(SendDlgItemMessageA(dialog, IDC_DRIVER_BLOCK_SIZE, TBM_GETPOS, 0, 0));
            showLatency(dialog, *driver, position * kBlockStep);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_DRIVER_NUM_BUFFERS && HIWORD(wParam) == CBN_SELCHANGE && driver) {
            const long position = long(SendDlgItemMessageA(dialog, IDC_DRIVER_BLOCK_SIZE, TBM_GETPOS, 0, 0));
            showLatency(dialog, *driver, position * kBlockStep);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            close(dialog, driver);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        close(dialog, driver);
        return TRUE;
    case WM_DESTROY:
        // Also when the owner goes first: the driver must not keep a dead handle.
        if (driver && driver->settingsDialog_ == dialog)
            driver->settingsDialog_ = nullptr;
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

void DriverSettingsDialog::fill(HWND dialog, Dx2AsioDriver& driver) {
    const WAVEFORMATEX& format = driver.format_.wave;
    char text[32];

    HWND rates = GetDlgItem(dialog, IDC_DRIVER_SAMPLE_RATE);
    SendMessageA(rates, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < kRateCount; ++i) {
        std::snprintf(text, sizeof text, "%ld", kRates[i]);
        addItem(rates, text);
        if (kRates[i] == long(format.nSamplesPerSec))
            SendMessageA(rates, CB_SETCURSEL, i, 0);
    }

    const int bitsButton = format.wBitsPerSample == 24   ? IDC_DRIVER_24_BITS
                           : format.wBitsPerSample == 32 ? IDC_DRIVER_32_BITS
                                                         : IDC_DRIVER_16_BITS;
    CheckRadioButton(dialog, IDC_DRIVER_16_BITS, IDC_DRIVER_32_BITS, bitsButton);
    CheckDlgButton(dialog, IDC_DRIVER_STEREO, format.nChannels > 1 ? BST_CHECKED : BST_UNCHECKED);

    HWND modes = GetDlgItem(dialog, IDC_DRIVER_MODE);
    SendMessageA(modes, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < kModeCount; ++i) {
        addItem(modes, driverModeName(kModes[i]));
        if (kModes[i] == driver.mode_)
            SendMessageA(modes, CB_SETCURSEL, i, 0);
    }

    HWND trackbar = GetDlgItem(dialog, IDC_DRIVER_BLOCK_SIZE);
    SendMessageA(trackbar, TBM_SETRANGE, TRUE, MAKELPARAM(0, 1000));
    SendMessageA(trackbar, TBM_SETPOS, TRUE, driver.bufferSize_ / kBlockStep);

    HWND rings = GetDlgItem(dialog, IDC_DRIVER_NUM_BUFFERS);
    SendMessageA(rings, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < kRingCountCount; ++i) {
        std::snprintf(text, sizeof text, "%ld", kRingCounts[i]);
        addItem(rings, text);
        if (kRingCounts[i] == driver.numBuffers_)
            SendMessageA(rings, CB_SETCURSEL, i, 0);
    }

    showLatency(dialog, driver, driver.bufferSize_);
    CheckDlgButton(dialog, IDC_DRIVER_SYNC_BY_INPUT, driver.syncByInput_ ? BST_CHECKED : BST_UNCHECKED);
    fillDevices(GetDlgItem(dialog, IDC_DRIVER_INPUT_DEVICE), driver.inputDevices_, driver.inputDevice_);
    fillDevices(GetDlgItem(dialog, IDC_DRIVER_OUTPUT_DEVICE), driver.outputDevices_, driver.outputDevice_);
}

void DriverSettingsDialog::fillDevices(HWND list, const DeviceList& devices, int selected) {
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    addItem(list, kNoDevice);
    SendMessageA(list, CB_SETCURSEL, 0, 0);
    for (int i = 0; i < DeviceList::kEntries && devices.entry(i).description[0]; ++i) {
        if (i != devices.defaultDevice()) {
            addItem(list, devices.entry(i).description);
            continue;
        }
        char text[sizeof devices.entry(i).description + sizeof kSystemDefault];
        std::snprintf(text, sizeof text, "%s%s", devices.entry(i).description, kSystemDefault);
        addItem(list, text);
    }
    if (selected >= 0)
        SendMessageA(list, CB_SETCURSEL, selected + 1, 0);
}

DriverMode DriverSettingsDialog::chosenMode(HWND dialog, const Dx2AsioDriver& driver) {
    const int choice = selection(dialog, IDC_DRIVER_MODE);
    return choice >= 0 && choice < kModeCount ? kModes[choice] : driver.mode_;
}

long DriverSettingsDialog::chosenRings(HWND dialog) {
    const int ringChoice = selection(dialog, IDC_DRIVER_NUM_BUFFERS);
    return ringChoice >= 0 && ringChoice < kRingCountCount ? kRingCounts[ringChoice] : 2;
}

// The round trip the driver would report (input and output latency) at the driver's
// current rate, for the chosen mode and ring and the same count of frames that OK
// saves, while dragging as when the dialog opens. In the running WASAPI mode it is
// the stream's own figures.
void DriverSettingsDialog::showLatency(HWND dialog, const Dx2AsioDriver& driver, long frames) {
    const double rate = driver.format_.wave.nSamplesPerSec ? double(driver.format_.wave.nSamplesPerSec) : 44100.0;
    const long roundTrip = driver.roundTripFrames(chosenMode(dialog, driver), frames, chosenRings(dialog));
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", roundTrip * 1000.0 / rate);
    SetDlgItemTextA(dialog, IDC_DRIVER_LATENCY, text);
}

void DriverSettingsDialog::accept(HWND dialog, Dx2AsioDriver& driver) {
    const int input = chosenDevice(dialog, IDC_DRIVER_INPUT_DEVICE);
    const int output = chosenDevice(dialog, IDC_DRIVER_OUTPUT_DEVICE);
    const WORD channels = checked(dialog, IDC_DRIVER_STEREO) ? 2 : 1;
    WORD bits = 16;
    if (checked(dialog, IDC_DRIVER_24_BITS))
        bits = 24;
    if (checked(dialog, IDC_DRIVER_32_BITS))
        bits = 32;
    const int rateChoice = selection(dialog, IDC_DRIVER_SAMPLE_RATE);
    const long rate = rateChoice >= 0 && rateChoice < kRateCount ? kRates[rateChoice] : 44100;
    const long position = long(SendDlgItemMessageA(dialog, IDC_DRIVER_BLOCK_SIZE, TBM_GETPOS, 0, 0));
    const long blockFrames = position * kBlockStep;
    const long rings = chosenRings(dialog);
    const DriverMode mode = chosenMode(dialog, driver);
    const bool sync = checked(dialog, IDC_DRIVER_SYNC_BY_INPUT);

    const WAVEFORMATEX& current = driver.format_.wave;
    const bool devicesChanged = input != driver.inputDevice_ || output != driver.outputDevice_;
    const bool formatChanged = channels != current.nChannels || rate != long(current.nSamplesPerSec) ||
                               bits != current.wBitsPerSample || blockFrames != driver.bufferSize_ ||
                               rings != driver.numBuffers_ || sync != driver.syncByInput_ || mode != driver.mode_;

    StoredDriverChoices choices;
    choices.inputDevice = input >= 0 && input < kNamedDevices ? driver.inputDevices_.entry(input).description
                                                              : kNoDeviceChosen;
    choices.outputDevice = output >= 0 && output < kNamedDevices ? driver.outputDevices_.entry(output).description
                                                                 : kNoDeviceChosen;
    choices.bufferSize = DWORD(blockFrames);
    choices.numBuffers = DWORD(rings);
    choices.syncByInput = sync;
    choices.format = makeDriverFormat(DWORD(rate), channels, bits / 8).wave;
    choices.mode = mode;

    unsigned failed = 0;
    if (!saveAllDriverChoices(choices, failed)) {
        reportError(driver, kKeyNotWritable);
        close(dialog, &driver);
        return;
    }
    for (const auto& failure : kWriteFailures)
        if (failed & failure.bit)
            reportError(driver, failure.text);

    // The dialog goes first: a host that re-creates the driver inside its reset
    // handler must find no dialog pointing at the old one.
    close(dialog, &driver);
    if (!devicesChanged && !formatChanged)
        return;
    if (driver.callbacks_) {
        if (driver.callbacks_->asioMessage)
            driver.callbacks_->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    } else {
        showMessageBox(driver.window_, kRestartNotice, kBuiltInDriverCaption, MB_OK | MB_ICONINFORMATION);
    }
}

void DriverSettingsDialog::close(HWND dialog, Dx2AsioDriver* driver) {
    SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
    if (driver && driver->settingsDialog_ == dialog)
        driver->settingsDialog_ = nullptr;
    DestroyWindow(dialog);
}

void DriverSettingsDialog::reportError(Dx2AsioDriver& driver, const char* text) {
    driver.setErrorText(text);
    showMessageBox(driver.window_, text, kBuiltInDriverCaption, MB_OK | MB_ICONERROR);
}

namespace {

// The module whose resources hold the dialog: the one this code is linked into, the
// program or ZerevaZ-2-UDID.dll (where the host's own module has no such dialog).
HMODULE driverModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&driverModule), &module))
        return GetModuleHandleA(nullptr);
    return module;
}

}  // namespace

HWND openDriverSettingsDialog(Dx2AsioDriver& driver, HWND owner) {
    // The trackbar's class must be registered before the template is created.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamA(driverModule(), MAKEINTRESOURCEA(IDD_DRIVER_SETTINGS), owner,
                                     &DriverSettingsDialog::procedure, 0);
    if (!dialog)
        return nullptr;
    SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&driver));
    SendMessageA(dialog, kFillDriverSettings, 0, 0);
    ShowWindow(dialog, SW_SHOW);
    return dialog;
}
