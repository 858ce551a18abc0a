// The program's MIDI input devices, hosted in the test process. Wine's midiIn has no
// device here (it reaches ALSA, which this bench lacks), so the devices are played by
// a stand-in directly beneath the winmm calls: it answers midiInOpen and the rest as
// a driver does and calls the very callback the program gave midiInOpen, from its own
// thread, with MIM_DATA words, SysEx buffers and MIM_CLOSE. What the callback feeds is
// read where the engine reads it, in the MIDI control point's block.
//
// At start a chosen device that is gone is told once and skipped; messages reach the
// control point; SysEx buffers come back to the device; the MIDI Settings dialog lists
// the devices with their state and keeps the choice in the registry; a device
// unplugged while open is told once and the others go on; every device is closed in
// winmm's order (stop, reset, unprepare, close).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WinInclude.h"
#include <commctrl.h>

#include "Controls.h"
#include "EffectIds.h"
#include "FxManagerPanel.h"
#include "FxManagerWindow.h"
#include "EffectSlot.h"
#include "HostedProgram.h"
#include "ThreadCheckedPlugin.h"
#include "LiveSettings.h"
#include "MidiLearn.h"
#include "Performance.h"
#include "MidiControl.h"
#include "MidiIds.h"
#include "ResourceIds.h"
#include "MidiInSystem.h"
#include "MidiInputDevices.h"
#include "ProgramMidi.h"
#include "ProgramMidiInputs.h"
#include "RegistryKeys.h"
#include "ShellState.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const std::string kOurPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

// Devices as a driver keeps them: a list that can change, handles with the callback
// they were opened with, the SysEx buffers queued on each, and every call in order.
class StandInMidiIn final : public MidiInSystem {
public:
    struct Open {
        std::string name;
        DWORD_PTR callback;
        DWORD_PTR instance;
        std::vector<MIDIHDR*> queued;
        bool prepared = false, started = false, closed = false;
    };

    std::vector<std::string> present{"Pedal Board", "Keys 49"};

    UINT deviceCount() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return UINT(present.size());
    }
    bool deviceName(UINT device, char* name, size_t size) override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (device >= present.size())
            return false;
        std::snprintf(name, size, "%s", present[device].c_str());
        return true;
    }
    MMRESULT open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance) override {
        std::string name;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (device >= present.size())
                return MMSYSERR_BADDEVICEID;
            name = present[device];
            opens_.push_back(Open{name, callback, instance, {}});
            *handle = handleOf(opens_.size() - 1);
        }
        log("open " + name);
        call(*handle, MIM_OPEN, 0, 0);
        return MMSYSERR_NOERROR;
    }
    MMRESULT start(HMIDIIN handle) override { return note(handle, "start"); }
    MMRESULT stop(HMIDIIN handle) override { return note(handle, "stop"); }
    MMRESULT reset(HMIDIIN handle) override {
        note(handle, "reset");
        // Every queued buffer comes back, done and empty.
        std::vector<MIDIHDR*> back;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            back.swap(at(handle).queued);
        }
        for (MIDIHDR* header : back) {
            header->dwBytesRecorded = 0;
            header->dwFlags |= MHDR_DONE;
            call(handle, MIM_LONGDATA, DWORD_PTR(header), 0);
        }
        return MMSYSERR_NOERROR;
    }
    MMRESULT prepareHeader(HMIDIIN handle, MIDIHDR* header) override {
        header->dwFlags |= MHDR_PREPARED;
        return note(handle, "prepare");
    }
    MMRESULT unprepareHeader(HMIDIIN handle, MIDIHDR* header) override {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            for (MIDIHDR* queued : at(handle).queued)
                if (queued == header)
                    return MIDIERR_STILLPLAYING;
        }
        header->dwFlags &= ~MHDR_PREPARED;
        return note(handle, "unprepare");
    }
    MMRESULT addBuffer(HMIDIIN handle, MIDIHDR* header) override {
        if (!(header->dwFlags & MHDR_PREPARED))
            return MIDIERR_UNPREPARED;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            header->dwFlags &= ~MHDR_DONE;
            at(handle).queued.push_back(header);
        }
        return note(handle, "add");
    }
    MMRESULT close(HMIDIIN handle) override {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!at(handle).queued.empty())
                return MIDIERR_STILLPLAYING;
            at(handle).closed = true;
        }
        note(handle, "close");
        call(handle, MIM_CLOSE, 0, 0);
        return MMSYSERR_NOERROR;
    }

    // --- the devices' side, from a thread of their own as winmm's ---
    HMIDIIN openHandle(const std::string& name) {
        std::lock_guard<std::mutex> hold(mutex_);
        for (size_t i = opens_.size(); i-- > 0;)
            if (opens_[i].name == name && !opens_[i].closed)
                return handleOf(i);
        return nullptr;
    }
    void sendFromDevice(HMIDIIN handle, std::vector<uint32_t> words) {
        std::thread device([=] {
            for (uint32_t word : words)
                call(handle, MIM_DATA, word, 1234);
        });
        device.join();
    }
    // A SysEx message filling the first queued buffer, which goes back to the program.
    bool sysExFromDevice(HMIDIIN handle, size_t bytes) {
        MIDIHDR* header = nullptr;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            std::vector<MIDIHDR*>& queued = at(handle).queued;
            if (queued.empty())
                return false;
            header = queued.front();
            queued.erase(queued.begin());
        }
        std::thread device([=] {
            std::memset(header->lpData, 0x7E, bytes < header->dwBufferLength ? bytes : header->dwBufferLength);
            header->lpData[0] = char(0xF0);
            header->dwBytesRecorded = DWORD(bytes);
            header->dwFlags |= MHDR_DONE;
            call(handle, MIM_LONGDATA, DWORD_PTR(header), 0);
        });
        device.join();
        return true;
    }
    size_t queuedBuffers(HMIDIIN handle) {
        std::lock_guard<std::mutex> hold(mutex_);
        return at(handle).queued.size();
    }
    // The cable pulled: the driver drops the device from the list and closes it.
    void unplug(const std::string& name) {
        HMIDIIN handle = openHandle(name);
        {
            std::lock_guard<std::mutex> hold(mutex_);
            for (size_t i = 0; i < present.size(); ++i)
                if (present[i] == name) {
                    present.erase(present.begin() + long(i));
                    break;
                }
        }
        std::thread device([=] { call(handle, MIM_CLOSE, 0, 0); });
        device.join();
    }
    void plugIn(const std::string& name) {
        std::lock_guard<std::mutex> hold(mutex_);
        present.push_back(name);
    }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> hold(mutex_);
        return calls_;
    }
    size_t openCount() {
        std::lock_guard<std::mutex> hold(mutex_);
        size_t open = 0;
        for (const Open& o : opens_)
            open += o.closed ? 0 : 1;
        return open;
    }

private:
    static HMIDIIN handleOf(size_t index) { return reinterpret_cast<HMIDIIN>(index + 0x100); }
    Open& at(HMIDIIN handle) { return opens_[reinterpret_cast<size_t>(handle) - 0x100]; }
    void call(HMIDIIN handle, UINT message, DWORD_PTR p1, DWORD_PTR p2) {
        DWORD_PTR callback, instance;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            callback = at(handle).callback;
            instance = at(handle).instance;
        }
        reinterpret_cast<MidiInCallback>(callback)(handle, message, instance, p1, p2);
    }
    MMRESULT note(HMIDIIN handle, const char* what) {
        std::string name;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            name = at(handle).name;
        }
        log(std::string(what) + " " + name);
        return MMSYSERR_NOERROR;
    }
    void log(const std::string& entry) {
        std::lock_guard<std::mutex> hold(mutex_);
        calls_.push_back(entry);
    }

    std::mutex mutex_;  // the test's own bookkeeping; the program's callback takes none
    std::vector<Open> opens_;
    std::vector<std::string> calls_;
};

uint32_t word(uint8_t status, uint8_t data1, uint8_t data2) {
    return uint32_t(status) | (uint32_t(data1) << 8) | (uint32_t(data2) << 16);
}

// Plays the driver thread for one block: what the devices sent reaches the control
// point, which keeps the newest source message for MIDI learn.
bool blockHears(uint32_t mark, const MidiMessage& expected) {
    g_midiControl->beforeBlock(256, 48000.0);
    MidiMessage newest{};
    return g_midiControl->newestSince(mark, newest) && newest == expected;
}

size_t countOf(const std::vector<std::string>& calls, const std::string& entry) {
    size_t n = 0;
    for (const std::string& c : calls)
        n += c == entry ? 1 : 0;
    return n;
}

std::string listText(HWND list, int row, int column) {
    char text[128] = "";
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int findRow(HWND list, const std::string& name) {
    const int rows = int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < rows; ++r)
        if (listText(list, r, 0) == name)
            return r;
    return -1;
}

bool checked(HWND list, int row) {
    return ((SendMessageA(list, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK) >> 12) - 1) == 1;
}

void setChecked(HWND list, int row, bool on) {
    LVITEMA item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
    SendMessageA(list, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

TEST(MidiDevices, OpenFeedReportAndCloseThroughTheCallback) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        const char chosen[] = "Pedal Board\0Gone Box\0";
        ASSERT_TRUE(settings.setRaw("szMidiInputs", REG_MULTI_SZ, chosen, sizeof chosen));
    }
    StandInMidiIn devices;
    setMidiInSystem(&devices);

    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    // The gone device is told once, by name; the other is not named.
    const MessageBoxSeen missing = waitForMessageBox(kPid, "Error #430", kTimeout);
    ASSERT_NE(missing.window, nullptr) << describeDialogs(kPid);
    EXPECT_NE(missing.text.find("Gone Box"), std::string::npos) << missing.text;
    EXPECT_EQ(missing.text.find("Pedal Board"), std::string::npos) << missing.text;
    ASSERT_TRUE(pressButton(missing.window, IDOK));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(waitUntil([] { return g_midiControl != nullptr; }, kTimeout));
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "told more than once: " << describeDialogs(kPid);

    // Opened as winmm wants it: buffers prepared and queued before the start.
    const std::vector<std::string> opening = devices.calls();
    const std::vector<std::string> expectedOpening{"open Pedal Board", "prepare Pedal Board", "add Pedal Board",
                                                   "prepare Pedal Board", "add Pedal Board", "prepare Pedal Board",
                                                   "add Pedal Board", "prepare Pedal Board", "add Pedal Board",
                                                   "start Pedal Board"};
    EXPECT_EQ(opening, expectedOpening);
    HMIDIIN pedal = devices.openHandle("Pedal Board");
    ASSERT_NE(pedal, nullptr);
    EXPECT_EQ(devices.openHandle("Keys 49"), nullptr) << "a device nobody chose was opened";

    // An expression pedal's sweep, with real-time bytes and an active sense between:
    // the last controller arrives where the engine reads.
    uint32_t mark = g_midiControl->learnMark();
    devices.sendFromDevice(pedal, {word(0xF8, 0, 0), word(0xB0, 11, 0), word(0xFE, 0, 0), word(0xB0, 11, 64),
                                   word(0xB0, 11, 127)});
    EXPECT_TRUE(blockHears(mark, MidiMessage{MidiKind::Controller, 0, 11, 127}));

    // SysEx fills three buffers; they go back to the device at the next ticks, and short
    // messages keep coming meanwhile.
    ASSERT_TRUE(devices.sysExFromDevice(pedal, 300));
    ASSERT_TRUE(devices.sysExFromDevice(pedal, 1024));
    ASSERT_TRUE(devices.sysExFromDevice(pedal, 17));
    EXPECT_EQ(devices.queuedBuffers(pedal), 1u);
    mark = g_midiControl->learnMark();
    devices.sendFromDevice(pedal, {word(0xC0, 4, 0)});
    EXPECT_TRUE(blockHears(mark, MidiMessage{MidiKind::ProgramChange, 0, 4, 0}));
    EXPECT_TRUE(waitUntil([&] { return devices.queuedBuffers(pedal) == MidiInputPort::kSysExBuffers; }, kTimeout));
    const MidiInputPort* pedalPort = g_midiInputs->port(0);
    ASSERT_NE(pedalPort, nullptr);
    EXPECT_EQ(pedalPort->sysExBytesReceived(), 300u + 1024u + 17u);
    EXPECT_EQ(pedalPort->messagesReceived(), 6u);

    // MIDI Settings: both devices present with the chosen one ticked and listening,
    // and the gone one still chosen, not connected.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_MIDI_SETTINGS));
    HWND dialog = waitForDialogCaption(kPid, "MIDI Settings", kTimeout);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, IDC_MIDI_DEVICE_LIST);
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 3);
    const int pedalRow = findRow(list, "Pedal Board"), keysRow = findRow(list, "Keys 49"),
              goneRow = findRow(list, "Gone Box");
    ASSERT_TRUE(pedalRow >= 0 && keysRow >= 0 && goneRow >= 0);
    EXPECT_TRUE(checked(list, pedalRow));
    EXPECT_FALSE(checked(list, keysRow));
    EXPECT_TRUE(checked(list, goneRow));
    EXPECT_EQ(listText(list, pedalRow, 1), "listening");
    EXPECT_EQ(listText(list, keysRow, 1), "");
    EXPECT_EQ(listText(list, goneRow, 1), "not connected");
    EXPECT_NE(windowText(GetDlgItem(dialog, IDC_MIDI_DEVICE_NOTE)).find("stays chosen"), std::string::npos);
    takeScreenshot(kScreenshots, "midi-settings");
    // Keys ticked, the gone box unticked: OK opens the keys, keeps the pedal open
    // without a gap, and the registry keeps the new choice.
    setChecked(list, keysRow, true);
    setChecked(list, goneRow, false);
    ASSERT_TRUE(pressButton(dialog, IDOK));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_EQ(devices.openHandle("Pedal Board"), pedal) << "the pedal was reopened";
    HMIDIIN keys = devices.openHandle("Keys 49");
    ASSERT_NE(keys, nullptr);
    {
        RegistryKey settings(kSettingsKeyPath, false);
        std::vector<uint8_t> stored;
        EXPECT_EQ(settings.read("szMidiInputs", &stored), DWORD(REG_MULTI_SZ));
        const char expected[] = "Pedal Board\0Keys 49\0";
        EXPECT_EQ(std::string(stored.begin(), stored.end()), std::string(expected, sizeof expected));
    }

    // The pedal's cable pulled while open: told once, by name; the keys go on.
    devices.unplug("Pedal Board");
    const MessageBoxSeen gone = waitForMessageBox(kPid, "Error #431", kTimeout);
    ASSERT_NE(gone.window, nullptr) << describeDialogs(kPid);
    EXPECT_NE(gone.text.find("Pedal Board"), std::string::npos) << gone.text;
    takeScreenshot(kScreenshots, "midi-device-gone");
    ASSERT_TRUE(pressButton(gone.window, IDOK));
    ASSERT_TRUE(waitForTicks(20));  // past a listing of the system's devices too
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "told more than once: " << describeDialogs(kPid);
    const std::vector<std::string> afterUnplug = devices.calls();
    EXPECT_EQ(countOf(afterUnplug, "close Pedal Board"), 1u) << "the gone device's handle is let go";
    mark = g_midiControl->learnMark();
    devices.sendFromDevice(keys, {word(0x90, 60, 100)});
    EXPECT_TRUE(blockHears(mark, MidiMessage{MidiKind::NoteOn, 0, 60, 100}));

    // The pedal plugged in again: it opens by itself.
    devices.plugIn("Pedal Board");
    EXPECT_TRUE(waitUntil([&] { return devices.openHandle("Pedal Board") != nullptr; }, kTimeout));

    ASSERT_TRUE(program.close(kTimeout));
    EXPECT_EQ(devices.openCount(), 0u);
    // Each device closed in winmm's order: stop, reset (the buffers come back),
    // unprepare each, close.
    const std::vector<std::string> all = devices.calls();
    std::vector<std::string> keysClosing;
    bool closing = false;
    for (const std::string& c : all) {
        if (c == "stop Keys 49")
            closing = true;
        if (closing && c.find("Keys 49") != std::string::npos)
            keysClosing.push_back(c);
    }
    const std::vector<std::string> expectedClosing{"stop Keys 49",      "reset Keys 49",     "unprepare Keys 49",
                                                   "unprepare Keys 49", "unprepare Keys 49", "unprepare Keys 49",
                                                   "close Keys 49"};
    EXPECT_EQ(keysClosing, expectedClosing);
    EXPECT_EQ(MidiInputDevices::threadViolations(), 0);
    setMidiInSystem(nullptr);
}

namespace {

HWND openMenuWindow() {
    HWND menu = nullptr;
    waitUntil([&] { return (menu = FindWindowA("#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, kTimeout);
    return menu;
}

// A right-click on an FX Manager control, as the mouse gives it; the menu's two items
// read while it is shown, then the first chosen with the keys (or the menu closed).
struct MenuSeen {
    std::string learn, forget;
    bool learnChecked, forgetGrayed;
};
MenuSeen rightClick(HWND control, bool chooseLearn, const char* screenshot = nullptr, int x = 5, int y = 5) {
    PostMessageA(control, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
    PostMessageA(control, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
    MenuSeen seen{};
    HWND window = openMenuWindow();
    EXPECT_NE(window, nullptr) << "no menu";
    if (!window)
        return seen;
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0));
    char text[64] = "";
    GetMenuStringA(menu, IDC_CMD_MIDI_LEARN, text, sizeof text, MF_BYCOMMAND);
    seen.learn = text;
    GetMenuStringA(menu, IDC_CMD_MIDI_FORGET, text, sizeof text, MF_BYCOMMAND);
    seen.forget = text;
    seen.learnChecked = (GetMenuState(menu, IDC_CMD_MIDI_LEARN, MF_BYCOMMAND) & MF_CHECKED) != 0;
    seen.forgetGrayed = (GetMenuState(menu, IDC_CMD_MIDI_FORGET, MF_BYCOMMAND) & MF_GRAYED) != 0;
    if (screenshot)
        takeScreenshot(kScreenshots, screenshot);
    // A key at a time, each waited for until the menu shows it taken: keys posted at
    // once, as the menu was just shown, were now and then not all taken.
    const UINT chosen = chooseLearn ? IDC_CMD_MIDI_LEARN : IDC_CMD_MIDI_FORGET;
    int target = -1;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        if (GetMenuItemID(menu, i) == chosen)
            target = i;
    EXPECT_GE(target, 0) << "no such item";
    for (int at = 0; at <= target; ++at) {
        const auto lit = [&] { return (GetMenuState(menu, UINT(at), MF_BYPOSITION) & MF_HILITE) != 0; };
        for (int tries = 0; tries < 5 && !lit(); ++tries) {
            PostMessageA(window, WM_KEYDOWN, VK_DOWN, 0);
            waitUntil(lit, 1000);
        }
        EXPECT_TRUE(lit()) << "the menu did not take the key to item " << at;
    }
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, kTimeout));
    return seen;
}

// The device sends, and one block of the driver thread takes it in.
void play(StandInMidiIn& devices, HMIDIIN device, std::vector<uint32_t> words) {
    devices.sendFromDevice(device, words);
    g_midiControl->beforeBlock(256, 48000.0);
}

bool hasBinding(uint32_t target, MidiSourceKind kind, uint8_t number, BindingBehaviour behaviour) {
    for (const MidiBinding& b : g_midiControl->programBindings())
        if (b.target == target && b.source.kind == kind && b.source.number == number && b.behaviour == behaviour)
            return true;
    return false;
}

}  // namespace

// MIDI learn from the FX Manager: a position's bypass switch learns a foot switch
// (controller 80) and toggles with it; the input gain knob learns an expression pedal
// (controller 11) whose sweep picks the knob up and moves it to the pedal's end;
// the bindings are kept in the registry and come back at the next start; Forget MIDI
// removes one. The MIDI Bindings window lists, learns, edits and removes.
TEST(MidiDevices, LearnABypassAndAKnobFromTheFxManager) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        settings.setPair("frameWndSize", 600, 440);
        const char chosen[] = "Pedal Board\0";
        ASSERT_TRUE(settings.setRaw("szMidiInputs", REG_MULTI_SZ, chosen, sizeof chosen));
    }
    StandInMidiIn devices;
    setMidiInSystem(&devices);
    {
        HostedProgram program;
        ASSERT_TRUE(program.start(""));
        HWND frame = program.waitForFrame(kTimeout);
        ASSERT_NE(frame, nullptr);
        HMIDIIN pedal = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (pedal = devices.openHandle("Pedal Board")) != nullptr; }, kTimeout));
        ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(2, (kOurPlugins + "Filtrace.dll").c_str()));
        pressKeys(frame, {VK_CONTROL, 'F'});
        HWND panel = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (panel = fxManagerPanel()) != nullptr && IsWindowVisible(panel); }, kTimeout));
        HWND bypass = GetDlgItem(panel, IDC_FX_FIRST_BYPASS_SWITCH + 2);
        HWND ingain = GetDlgItem(panel, IDC_FX_INGAIN_KNOB);

        // The switch's menu: nothing bound yet, so nothing to forget; the right-click
        // does not flip the switch.
        const MenuSeen first = rightClick(bypass, true, "midi-learn-menu");
        EXPECT_EQ(first.learn, "MIDI &Learn");
        EXPECT_EQ(first.forget, "&Forget MIDI");
        EXPECT_FALSE(first.learnChecked);
        EXPECT_TRUE(first.forgetGrayed);
        EXPECT_EQ(g_liveSettings->bypass[2], 0) << "the right-click switched the bypass";
        ASSERT_TRUE(waitUntil([] { return midiLearnTarget() == bypassTarget(2); }, kTimeout));
        // Learning shows in the menu; the foot switch pressed binds it.
        play(devices, pedal, {word(0xB0, 80, 127)});
        ASSERT_TRUE(waitUntil([] { return midiLearnTarget() == kNoTarget; }, kTimeout));
        EXPECT_TRUE(hasBinding(bypassTarget(2), MidiSourceKind::Controller, 80, BindingBehaviour::Toggle));
        // Released and pressed again: the effect is bypassed at that block, and the
        // panel's switch follows.
        play(devices, pedal, {word(0xB0, 80, 0)});
        ASSERT_TRUE(g_midiControl->bindingsTaken());
        play(devices, pedal, {word(0xB0, 80, 127), word(0xB0, 80, 0)});
        EXPECT_EQ(g_liveSettings->bypass[2], 1);
        EXPECT_TRUE(waitUntil([&] { return switchValue(bypass) == 0; }, kTimeout)) << "the switch shows it playing";
        play(devices, pedal, {word(0xB0, 80, 127), word(0xB0, 80, 0)});
        EXPECT_EQ(g_liveSettings->bypass[2], 0);

        // The input gain learns the expression pedal; a note meanwhile cannot move a
        // knob and is passed over.
        rightClick(ingain, true);
        ASSERT_TRUE(waitUntil([] { return midiLearnTarget() == controlTarget(ProgramControl::InputGain); }, kTimeout));
        play(devices, pedal, {word(0x90, 60, 100)});
        ASSERT_TRUE(waitForTicks(3));
        EXPECT_EQ(midiLearnTarget(), controlTarget(ProgramControl::InputGain));
        play(devices, pedal, {word(0xB0, 11, 10)});
        ASSERT_TRUE(waitUntil([] { return midiLearnTarget() == kNoTarget; }, kTimeout));
        EXPECT_TRUE(hasBinding(controlTarget(ProgramControl::InputGain), MidiSourceKind::Controller, 11,
                               BindingBehaviour::Continuous));
        play(devices, pedal, {});  // the new table taken
        // A sweep from the heel: below the knob's 0.75 nothing moves (pick-up); past it
        // the knob follows to the toe.
        g_liveSettings->ingain = 0.75f;
        play(devices, pedal, {word(0xB0, 11, 20), word(0xB0, 11, 60)});
        EXPECT_EQ(float(g_liveSettings->ingain), 0.75f) << "the pedal jumped the knob";
        for (int v = 64; v <= 127; v += 9)
            play(devices, pedal, {word(0xB0, 11, uint8_t(v))});
        play(devices, pedal, {word(0xB0, 11, 127)});
        EXPECT_NEAR(float(g_liveSettings->ingain), 1.0f, 1e-6f);
        EXPECT_TRUE(waitUntil([&] { return std::abs(knobValue(ingain) - 1.0f) < 1e-3f; }, kTimeout))
            << "the knob shows " << knobValue(ingain);
        takeScreenshot(kScreenshots, "midi-learnt");

        // A plug-in's parameter learnt from its parameter view (Overdrive's first row):
        // the performance's binding; the pedal's sweep moves the parameter to its end.
        ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(0, (kOurPlugins + "Overdrive.dll").c_str()));
        refreshFxManagerPanel(panel);
        EffectSlot* overdrive = g_liveSettings->slots[0];
        SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME, WM_RBUTTONDOWN, MK_RBUTTON, 0);
        HWND view = static_cast<HWND>(overdrive->editorView);
        ASSERT_NE(view, nullptr);
        const MenuSeen parameterMenu = rightClick(view, true, "midi-learn-parameter", 150, 30 + 17 / 2);
        EXPECT_EQ(parameterMenu.learn, "MIDI &Learn");
        ASSERT_TRUE(waitUntil([] { return midiLearnTarget() == pluginParameterTarget(0, 0); }, kTimeout));
        play(devices, pedal, {word(0xB1, 7, 0)});
        ASSERT_TRUE(waitUntil([] { return midiLearnTarget() == kNoTarget; }, kTimeout));
        ASSERT_EQ(g_midiControl->performanceBindings().size(), 1u);
        EXPECT_EQ(g_midiControl->performanceBindings()[0].target, pluginParameterTarget(0, 0));
        EXPECT_EQ(g_midiControl->performanceBindings()[0].source.channel, 1);
        EXPECT_EQ(g_midiControl->programBindings().size(), 2u) << "a parameter's binding went to the program's";
        play(devices, pedal, {});
        PluginInstance* drive = overdrive->plugin->inner();
        for (int v = 0; v <= 127; v += 4)
            play(devices, pedal, {word(0xB1, 7, uint8_t(v))});
        play(devices, pedal, {word(0xB1, 7, 127)});
        EXPECT_NEAR(drive->parameterValue(0), 1.0f, 1e-6f);
        play(devices, pedal, {word(0xB1, 7, 64)});
        EXPECT_NEAR(drive->parameterValue(0), 64.0f / 127.0f, 1e-3f);

        // The parameter's binding travels with the performance: saved in its file, gone
        // with New, back with Open (and the program's own bindings untouched).
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        const std::string show = std::string(temp) + "midi learnt.tlp";
        DeleteFileA(show.c_str());
        ASSERT_TRUE(postCommand(frame, IDC_CMD_SAVE_PERFORMANCE_AS));
        ASSERT_TRUE(answerFileDialog(kPid, "Save Performance As", show, kTimeout));
        ASSERT_TRUE(waitUntil([&] { return GetFileAttributesA(show.c_str()) != INVALID_FILE_ATTRIBUTES; }, kTimeout));
        ASSERT_TRUE(waitForTicks(2));
        ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'N'}));
        ASSERT_TRUE(waitUntil([] { return g_liveSettings->slots[0] == nullptr; }, kTimeout));
        EXPECT_TRUE(g_midiControl->performanceBindings().empty());
        EXPECT_EQ(g_midiControl->programBindings().size(), 2u);
        ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'O'}));
        ASSERT_TRUE(answerFileDialog(kPid, "Open Performance", show, kTimeout));
        ASSERT_TRUE(waitUntil([] { return g_midiControl->performanceBindings().size() == 1u; }, kTimeout))
            << describeDialogs(kPid);
        ASSERT_TRUE(waitForTicks(2));  // the opening done: the bindings come before its snapshot
        EXPECT_EQ(g_midiControl->performanceBindings()[0].target, pluginParameterTarget(0, 0));
        EXPECT_EQ(g_midiControl->performanceBindings()[0].behaviour, BindingBehaviour::Continuous);
        EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
        // Reopened, nothing is changed; a parameter's binding forgotten is a change
        // that New and closing ask to save.
        EXPECT_FALSE(performanceChanged());
        g_midiControl->setPerformanceBindings({});
        EXPECT_TRUE(performanceChanged()) << "a forgotten binding would be lost without a question";
        DeleteFileA(show.c_str());

        // Kept in the registry as bindings text.
        RegistryKey settings(kSettingsKeyPath, false);
        std::string stored;
        ASSERT_TRUE(settings.readText("szMidiBindings", &stored));
        EXPECT_NE(stored.find("talvenor-bindings 1"), std::string::npos) << stored;
        EXPECT_NE(stored.find("cc 80 1 33554434 toggle"), std::string::npos) << stored;
        EXPECT_NE(stored.find("cc 11 1 16777216 continuous"), std::string::npos) << stored;
        ASSERT_TRUE(program.closeDiscarding(kTimeout));
    }
    {
        // The next start has them; Forget MIDI on the switch leaves the knob's.
        HostedProgram program;
        ASSERT_TRUE(program.start(""));
        HWND frame = program.waitForFrame(kTimeout);
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(waitUntil([&] { return devices.openHandle("Pedal Board") != nullptr; }, kTimeout));
        EXPECT_EQ(g_midiControl->programBindings().size(), 2u);
        pressKeys(frame, {VK_CONTROL, 'F'});
        HWND panel = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (panel = fxManagerPanel()) != nullptr && IsWindowVisible(panel); }, kTimeout));
        const MenuSeen bound = rightClick(GetDlgItem(panel, IDC_FX_FIRST_BYPASS_SWITCH + 2), false);
        EXPECT_FALSE(bound.forgetGrayed);
        ASSERT_TRUE(waitUntil([] { return g_midiControl->programBindings().size() == 1u; }, kTimeout));
        EXPECT_TRUE(hasBinding(controlTarget(ProgramControl::InputGain), MidiSourceKind::Controller, 11,
                               BindingBehaviour::Continuous));

        // The MIDI Bindings window lists the one left; a foot switch is learnt for the
        // metronome there, set to any channel; a continuous metronome is refused;
        // the pedal's binding is removed.
        ASSERT_TRUE(postCommand(frame, IDC_CMD_MIDI_BINDINGS));
        HWND dialog = waitForDialogCaption(kPid, "MIDI Bindings", kTimeout);
        ASSERT_NE(dialog, nullptr);
        HWND list = GetDlgItem(dialog, IDC_MIDI_BINDINGS_LIST);
        ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 1);
        EXPECT_EQ(listText(list, 0, 0), "CC 11");
        EXPECT_EQ(listText(list, 0, 1), "1");
        EXPECT_EQ(listText(list, 0, 2), "Input Gain");
        EXPECT_EQ(listText(list, 0, 3), "continuous");
        HWND targets = GetDlgItem(dialog, IDC_MIDI_BINDINGS_TARGET);
        const LRESULT metronome = SendMessageA(targets, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>("Metronome"));
        ASSERT_NE(metronome, CB_ERR);
        SendMessageA(targets, CB_SETCURSEL, WPARAM(metronome), 0);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_MIDI_BINDINGS_LEARN, BN_CLICKED), 0);
        EXPECT_TRUE(waitUntil([&] { return windowText(GetDlgItem(dialog, IDC_MIDI_BINDINGS_STATUS)).find("Learning Metronome") == 0; }, kTimeout))
            << windowText(GetDlgItem(dialog, IDC_MIDI_BINDINGS_STATUS));
        HMIDIIN pedal = devices.openHandle("Pedal Board");
        play(devices, pedal, {word(0x93, 36, 90)});  // a drum pad's note on channel 4
        ASSERT_TRUE(waitUntil([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 2; }, kTimeout));
        const int row = listText(list, 0, 2) == "Metronome" ? 0 : 1;
        EXPECT_EQ(listText(list, row, 0), "Note 36");
        EXPECT_EQ(listText(list, row, 1), "4");
        EXPECT_EQ(listText(list, row, 3), "toggle");
        EXPECT_TRUE(waitUntil([&] { return windowText(GetDlgItem(dialog, IDC_MIDI_BINDINGS_STATUS)).empty(); }, kTimeout));
        const auto select = [&](int r) {
            LVITEMA item{};
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, WPARAM(r), reinterpret_cast<LPARAM>(&item));
        };
        const auto choose = [&](int combo, int index) {
            SendDlgItemMessageA(dialog, combo, CB_SETCURSEL, WPARAM(index), 0);
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(combo, CBN_SELCHANGE), LPARAM(GetDlgItem(dialog, combo)));
        };
        select(row);
        choose(IDC_MIDI_BINDINGS_CHANNEL, 0);  // any
        EXPECT_TRUE(waitUntil([&] { return listText(list, row, 1) == "any"; }, kTimeout));
        choose(IDC_MIDI_BINDINGS_BEHAVIOUR, 0);  // continuous: a switch cannot be
        const MessageBoxSeen refused = waitForMessageBox(kPid, "Error #458", kTimeout);
        ASSERT_NE(refused.window, nullptr) << describeDialogs(kPid);
        ASSERT_TRUE(pressButton(refused.window, IDOK));
        EXPECT_EQ(listText(list, row, 3), "toggle");
        takeScreenshot(kScreenshots, "midi-bindings");
        select(1 - row);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_MIDI_BINDINGS_REMOVE, BN_CLICKED), 0);
        EXPECT_TRUE(waitUntil([&] { return SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 1; }, kTimeout));
        EXPECT_EQ(listText(list, 0, 2), "Metronome");
        ASSERT_TRUE(pressButton(dialog, IDOK));
        ASSERT_EQ(g_midiControl->programBindings().size(), 1u);
        EXPECT_EQ(g_midiControl->programBindings()[0].source.channel, kAnyChannel);

        // Record start/stop on a foot switch opens the recording dialog (modal, so from
        // the frame's queue, not inside the timer) to start its take; with no audio
        // device open here, the dialog says so, once, as it does for the mouse.
        std::vector<MidiBinding> withRecord = g_midiControl->programBindings();
        withRecord.push_back({{MidiSourceKind::Controller, 81, kAnyChannel},
                              commandTarget(ProgramCommand::Record), BindingBehaviour::Toggle});
        ASSERT_EQ(g_midiControl->setProgramBindings(withRecord), 0u);
        play(devices, pedal, {});
        play(devices, pedal, {word(0xB0, 81, 127), word(0xB0, 81, 0)});
        const MessageBoxSeen noDevice = waitForMessageBox(kPid, "Talvenor Live", kTimeout);
        ASSERT_NE(noDevice.window, nullptr) << describeDialogs(kPid);
        EXPECT_NE(noDevice.text.find("open an audio device before recording"), std::string::npos) << noDevice.text;
        ASSERT_TRUE(pressButton(noDevice.window, IDOK));
        ASSERT_TRUE(waitForTicks(3));
        EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

        ASSERT_TRUE(program.closeDiscarding(kTimeout));
        RegistryKey settings(kSettingsKeyPath, false);
        std::string stored;
        ASSERT_TRUE(settings.readText("szMidiBindings", &stored));
        EXPECT_EQ(stored.find("cc 80"), std::string::npos) << stored;
        EXPECT_EQ(stored.find("cc 11"), std::string::npos) << stored;
        EXPECT_NE(stored.find("note 36 any 50397184 toggle"), std::string::npos) << stored;
    }
    EXPECT_EQ(MidiInputDevices::threadViolations(), 0);
    setMidiInSystem(nullptr);
}
