#include "MidiInputDevices.h"

#include <cstdio>
#include <cstring>

#include "RegistryKeys.h"

MidiInputDevices* g_midiInputs = nullptr;

namespace {

std::atomic<int> g_threadViolations{0};

const char kChoiceValue[] = "szMidiInputs";
constexpr UINT kMaxPresent = 64;  // more devices than any stage rig; the rest are not offered
constexpr uint32_t kTicksBetweenListings = 14;  // about a second of 70 ms ticks

void appendLine(char* out, size_t size, const char* line) {
    if (!out || size == 0)
        return;
    const size_t used = strnlen(out, size);
    if (used + 1 < size)
        std::snprintf(out + used, size - used, "%s\n", line);
}

void clearText(char* out, size_t size) {
    if (out && size > 0)
        out[0] = '\0';
}

}  // namespace

MidiInputDevices::MidiInputDevices(MidiControl& control) : control_(control), uiThread_(GetCurrentThreadId()) {}

MidiInputDevices::~MidiInputDevices() {
    for (MidiInputPort& port : ports_)
        port.close();
}

bool MidiInputDevices::onUiThread() const {
    if (GetCurrentThreadId() == uiThread_)
        return true;
    g_threadViolations.fetch_add(1);
    OutputDebugStringA("MidiInputDevices: a UI-thread member was called from another thread\n");
    return false;
}

int MidiInputDevices::threadViolations() { return g_threadViolations.load(); }

size_t MidiInputDevices::listPresent(char (*names)[kNameSize], size_t capacity) {
    onUiThread();
    MidiInSystem& system = midiInSystem();
    const UINT count = system.deviceCount();
    lastDeviceCount_ = count;
    size_t listed = 0;
    for (UINT device = 0; device < count && device < kMaxPresent && listed < capacity; ++device) {
        char name[kNameSize] = "";
        if (!system.deviceName(device, name, sizeof name))
            name[0] = '\0';  // keeps the index: the list's place is the device's winmm number
        std::memcpy(names[listed++], name, kNameSize);
    }
    return listed;
}

bool MidiInputDevices::isChosen(const char* name) const {
    for (size_t i = 0; i < chosenCount_; ++i)
        if (std::strcmp(chosen_[i].name, name) == 0)
            return true;
    return false;
}

const MidiInputPort* MidiInputDevices::port(size_t index) const {
    if (index >= chosenCount_ || chosen_[index].port < 0)
        return nullptr;
    return &ports_[chosen_[index].port];
}

void MidiInputDevices::closeChosen(Chosen& chosen) {
    if (chosen.port >= 0)
        ports_[chosen.port].close();
    chosen.port = -1;
    chosen.state = State::NotConnected;
}

// Opens the first device present under the chosen name that no other chosen entry
// has taken (two controllers of one model may share a name).
void MidiInputDevices::openChosen(Chosen& chosen, const char* const* present, size_t presentCount, bool* taken,
                                  char* failed, size_t failedSize) {
    if (chosen.port >= 0 && ports_[chosen.port].isOpen()) {
        chosen.state = State::Open;
        return;
    }
    chosen.port = -1;
    chosen.state = State::NotConnected;
    for (size_t device = 0; device < presentCount; ++device) {
        if (taken[device] || std::strcmp(present[device], chosen.name) != 0)
            continue;
        taken[device] = true;
        int free = -1;
        for (size_t p = 0; p < kMaxChosen && free < 0; ++p) {
            bool used = ports_[p].isOpen();
            for (size_t c = 0; c < chosenCount_ && !used; ++c)
                used = chosen_[c].port == int(p);
            if (!used)
                free = int(p);
        }
        if (free < 0)
            return;
        const MMRESULT result = ports_[free].open(UINT(device), chosen.name, control_.deviceFeed(free));
        if (result == MMSYSERR_NOERROR) {
            chosen.port = free;
            chosen.state = State::Open;
        } else {
            chosen.state = State::OpenFailed;
            char line[kNameSize + 48];
            std::snprintf(line, sizeof line, "%s (error %u)", chosen.name, unsigned(result));
            appendLine(failed, failedSize, line);
        }
        return;
    }
}

void MidiInputDevices::choose(const char* const* names, size_t count, char* failed, size_t failedSize) {
    if (!onUiThread())
        return;
    clearText(failed, failedSize);
    Chosen next[kMaxChosen] = {};
    size_t nextCount = 0;
    for (size_t i = 0; i < count && nextCount < kMaxChosen; ++i) {
        const char* name = names[i];
        if (!name || !name[0] || strnlen(name, kNameSize) >= kNameSize)
            continue;  // no device has an empty name or one longer than winmm gives
        bool duplicate = false;
        for (size_t j = 0; j < nextCount && !duplicate; ++j)
            duplicate = std::strcmp(next[j].name, name) == 0;
        if (duplicate)
            continue;
        Chosen& entry = next[nextCount++];
        std::memcpy(entry.name, name, std::strlen(name) + 1);
        entry.state = State::NotConnected;
        entry.port = -1;
    }
    // Ports of devices still chosen stay open (no gap in what they send); the others close.
    for (size_t i = 0; i < chosenCount_; ++i) {
        bool kept = false;
        for (size_t j = 0; j < nextCount && !kept; ++j)
            if (next[j].port < 0 && std::strcmp(next[j].name, chosen_[i].name) == 0 && chosen_[i].port >= 0) {
                next[j].port = chosen_[i].port;
                kept = true;
            }
        if (!kept)
            closeChosen(chosen_[i]);
    }
    std::memcpy(chosen_, next, sizeof next);
    chosenCount_ = nextCount;

    char present[kMaxPresent][kNameSize];
    const char* presentNames[kMaxPresent];
    const size_t presentCount = listPresent(present, kMaxPresent);
    bool taken[kMaxPresent] = {};
    for (size_t d = 0; d < presentCount; ++d)
        presentNames[d] = present[d];
    // A kept port holds one device of its name already.
    for (size_t c = 0; c < chosenCount_; ++c) {
        if (chosen_[c].port < 0)
            continue;
        for (size_t d = 0; d < presentCount; ++d)
            if (!taken[d] && std::strcmp(present[d], chosen_[c].name) == 0) {
                taken[d] = true;
                break;
            }
    }
    for (size_t c = 0; c < chosenCount_; ++c)
        openChosen(chosen_[c], presentNames, presentCount, taken, failed, failedSize);
}

void MidiInputDevices::loadChoice(char* missing, size_t missingSize, char* failed, size_t failedSize) {
    if (!onUiThread())
        return;
    clearText(missing, missingSize);
    clearText(failed, failedSize);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    // A list of NUL-terminated names ending in an empty one. What the registry holds
    // is not trusted: a value of another type or larger than any choice is ignored,
    // and the buffer is ended with two NULs whatever it holds.
    char value[kMaxChosen * kNameSize + 2] = {};
    DWORD type = 0;
    DWORD size = sizeof value - 2;
    const LONG result = RegQueryValueExA(key, kChoiceValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return;
    const char* names[kMaxChosen];
    size_t count = 0;
    for (const char* at = value; *at && at < value + size && count < kMaxChosen; at += std::strlen(at) + 1)
        names[count++] = at;
    choose(names, count, failed, failedSize);
    for (size_t i = 0; i < chosenCount_; ++i)
        if (chosen_[i].state == State::NotConnected)
            appendLine(missing, missingSize, chosen_[i].name);
}

bool MidiInputDevices::saveChoice() const {
    if (!onUiThread())
        return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return false;
    char value[kMaxChosen * kNameSize + 2] = {};
    size_t used = 0;
    for (size_t i = 0; i < chosenCount_; ++i) {
        const size_t length = std::strlen(chosen_[i].name) + 1;
        std::memcpy(value + used, chosen_[i].name, length);
        used += length;
    }
    value[used++] = '\0';
    if (used == 1)
        value[used++] = '\0';  // an empty list is two NULs
    const bool written =
        RegSetValueExA(key, kChoiceValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(value), DWORD(used)) ==
        ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

bool MidiInputDevices::tick(char* vanished, size_t vanishedSize) {
    clearText(vanished, vanishedSize);
    if (!onUiThread())
        return false;
    bool any = false;
    for (size_t i = 0; i < chosenCount_; ++i) {
        Chosen& chosen = chosen_[i];
        if (chosen.port < 0)
            continue;
        MidiInputPort& port = ports_[chosen.port];
        if (port.takeVanished()) {
            closeChosen(chosen);  // stays chosen: it opens again when it comes back
            appendLine(vanished, vanishedSize, chosen.name);
            any = true;
        } else {
            port.requeueSysExBuffers();
        }
    }
    if (++ticks_ % kTicksBetweenListings == 0 && midiInSystem().deviceCount() != lastDeviceCount_)
        reconcileWithSystem(vanished, vanishedSize, any);
    return any;
}

// The system's list changed: an open device no longer in it has gone (a driver may
// stop without telling its callback), and a chosen device that is back is opened.
void MidiInputDevices::reconcileWithSystem(char* vanished, size_t vanishedSize, bool& any) {
    char present[kMaxPresent][kNameSize];
    const size_t presentCount = listPresent(present, kMaxPresent);
    for (size_t c = 0; c < chosenCount_; ++c) {
        if (chosen_[c].port < 0)
            continue;
        bool listed = false;
        for (size_t d = 0; d < presentCount && !listed; ++d)
            listed = std::strcmp(present[d], chosen_[c].name) == 0;
        if (!listed) {
            closeChosen(chosen_[c]);
            appendLine(vanished, vanishedSize, chosen_[c].name);
            any = true;
        }
    }
    // choose replaces the entries, so it is given copies of their names.
    char copy[kMaxChosen][kNameSize];
    const char* names[kMaxChosen];
    for (size_t c = 0; c < chosenCount_; ++c) {
        std::memcpy(copy[c], chosen_[c].name, kNameSize);
        names[c] = copy[c];
    }
    char failed[kMaxChosen * (kNameSize + 48)];
    choose(names, chosenCount_, failed, sizeof failed);  // keeps open ports, opens what came back
}

