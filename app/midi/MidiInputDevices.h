#pragma once
// The MIDI input devices the user chose in MIDI Settings, by name: the ones present
// are open, the others are remembered (they open when they come back). The choice
// is kept in the registry value "szMidiInputs". A device that goes away while open
// is told once, from the UI thread, and the rest go on. Each open device feeds one
// input of the engine's MIDI control point. UI thread.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "MidiControl.h"
#include "MidiInputPort.h"
#include "WinInclude.h"

class MidiInputDevices {
public:
    static constexpr size_t kMaxChosen = MidiControl::kDeviceInputs;  // one port and input each
    static constexpr size_t kNameSize = MidiInputPort::kNameSize;

    // The state of one chosen device.
    enum class State : uint8_t { Open, NotConnected, OpenFailed };

    // control must outlive this object.
    explicit MidiInputDevices(MidiControl& control);
    virtual ~MidiInputDevices();  // closes every port
    MidiInputDevices(const MidiInputDevices&) = delete;
    MidiInputDevices& operator=(const MidiInputDevices&) = delete;

    // --- the devices present now ---
    // Lists them again; returns how many (at most capacity names written).
    size_t listPresent(char (*names)[kNameSize], size_t capacity);

    // --- the choice ---
    // Replaces the choice with these names (duplicates and empty names dropped,
    // at most kMaxChosen), closes the ports no longer chosen and opens the chosen
    // devices that are present. Returns the names that could not be opened (each
    // followed by a line break) in failed, when given.
    void choose(const char* const* names, size_t count, char* failed = nullptr, size_t failedSize = 0);
    size_t chosenCount() const { return chosenCount_; }
    const char* chosenName(size_t index) const { return chosen_[index].name; }
    State chosenState(size_t index) const { return chosen_[index].state; }
    bool isChosen(const char* name) const;
    // The open port of a chosen device, or null.
    const MidiInputPort* port(size_t index) const;

    // Reads "szMidiInputs" (REG_MULTI_SZ; any other type, or a damaged value, is
    // ignored) and opens what it names. The names of chosen devices not connected go
    // to missing, and of those that failed to open to failed (one a line).
    void loadChoice(char* missing, size_t missingSize, char* failed, size_t failedSize);
    // Writes the choice to "szMidiInputs"; false when the settings key is missing.
    bool saveChoice() const;

    // Every tick: SysEx buffers given back, devices that went away closed (their
    // names, one a line, go to vanished; true when there is one), and every second
    // or so, when the system's device list changed, chosen devices that came back
    // are opened again and open ones no longer listed are taken as gone.
    bool tick(char* vanished, size_t vanishedSize);

    // Any thread: calls of UI-thread members from another thread so far.
    static int threadViolations();

private:
    struct Chosen {
        char name[kNameSize];
        State state;
        int port;  // the index in ports_ while open, else -1
    };
    bool onUiThread() const;
    void openChosen(Chosen& chosen, const char* const* present, size_t presentCount, bool* taken, char* failed,
                    size_t failedSize);
    void closeChosen(Chosen& chosen);
    void reconcileWithSystem(char* vanished, size_t vanishedSize, bool& any);

    Chosen chosen_[kMaxChosen] = {};
    size_t chosenCount_ = 0;
    MidiControl& control_;
    MidiInputPort ports_[kMaxChosen];  // port i feeds the control point's device input i
    DWORD uiThread_;
    UINT lastDeviceCount_ = 0;
    uint32_t ticks_ = 0;
};

// The program's devices: created at start-up, deleted at exit once the audio has
// stopped. Null before and after.
extern MidiInputDevices* g_midiInputs;
