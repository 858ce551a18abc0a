#pragma once
#include <cstddef>
#include <cstdint>

#include "MidiMessage.h"

// What a binding listens to.
enum class MidiSourceKind : uint8_t { Controller, Note, Program };

struct MidiSource {
    MidiSourceKind kind;
    uint8_t number;  // controller, note or program, 0 to 127
    int8_t channel;  // 0 to 15, or kAnyChannel
};
constexpr int8_t kAnyChannel = -1;

enum class BindingBehaviour : uint8_t {
    Continuous,  // a controller's value as 0..1, taken up only once it meets the target's value
    Toggle,      // each press flips the target between 0 and 1
    Momentary,   // 1 while held, 0 on release
};

struct MidiBinding {
    MidiSource source;
    uint32_t target;  // the host's id of the control; opaque here
    BindingBehaviour behaviour;
};

// A value for a target, as the lookup produces it.
struct TargetChange {
    uint32_t target;
    float value;  // 0 to 1
};

// Why a binding cannot be added.
enum class BindingRefusal : uint8_t {
    None,
    TableFull,
    NumberOutOfRange,     // the source's number above 127
    ChannelOutOfRange,    // neither 0 to 15 nor any
    ContinuousNeedsController,  // notes and programs have no value to follow
    MomentaryNeedsRelease,      // a program change is never released
    Duplicate,            // the same source and target are bound already
};

// The bindings of the running performance with what each knows of its target. Edited
// on the UI thread while the audio thread does not look (under the pause of
// processing, or on a copy that is then exchanged); looked up on the audio thread.
class MidiBindingTable {
public:
    static constexpr size_t kCapacity = 128;

    // UI thread.
    BindingRefusal add(const MidiBinding& binding);
    // UI thread: removes every binding of target; returns how many.
    size_t removeTarget(uint32_t target);
    void clear() { count_ = 0; }
    size_t size() const { return count_; }
    const MidiBinding& at(size_t index) const { return slots_[index].binding; }

    // Audio thread (or the UI thread under the pause): the target has this value now,
    // set by something else than its bindings (the mouse, a performance switch). A
    // continuous binding waits again until its controller meets the value; a switch
    // takes it as its state.
    void targetChanged(uint32_t target, float value);

    // Audio thread: the target changes the message makes, in binding order, at most
    // capacity of them; returns how many were written. No allocation, no lock.
    size_t process(const MidiMessage& message, TargetChange* out, size_t capacity);

private:
    struct Slot {
        MidiBinding binding;
        float value;      // the target's value as last set or sent
        int16_t last;     // continuous: the controller's last value, -1 before any
        bool following;   // continuous: picked up, the target follows the controller
        bool held;        // switches: pressed and not yet released
    };
    bool matches(const Slot& slot, const MidiMessage& message) const;
    bool step(Slot& slot, const MidiMessage& message, float& value);

    Slot slots_[kCapacity] = {};
    size_t count_ = 0;
};

// --- the bindings as text (a registry value, a performance record) ---
// "talvenor-bindings 1", then one binding a line:  SOURCE NUMBER CHANNEL TARGET BEHAVIOUR
//   SOURCE cc | note | program; NUMBER 0-127; CHANNEL 1-16 or any; TARGET a decimal
//   id; BEHAVIOUR continuous | toggle | momentary.    e.g. "cc 7 any 12 continuous"
enum class BindingsTextProblem : uint8_t {
    None,
    NoHeader,          // the first line is not "talvenor-bindings 1"
    WrongFieldCount,
    UnknownSource,
    BadNumber,
    BadChannel,
    BadTarget,
    UnknownBehaviour,
    Refused,           // well formed, but the table refused it (see refusal)
    TooLong,           // more text than any table can fill
};

struct BindingsTextError {
    BindingsTextProblem problem = BindingsTextProblem::None;
    BindingRefusal refusal = BindingRefusal::None;
    int line = 0;  // 1-based
};

// UI thread. Fills table (cleared first) from text; on any problem the table is left
// empty and error says where and why. Never reads past size.
bool readBindingsText(const char* text, size_t size, MidiBindingTable& table, BindingsTextError& error);
// UI thread. Writes the table as text (NUL-terminated); false (and out empty) when out
// is too small.
bool writeBindingsText(const MidiBindingTable& table, char* out, size_t size);
// A sentence for the user, from the string table: "line 3: ...".
void describeBindingsTextError(const BindingsTextError& error, char* out, size_t size);
