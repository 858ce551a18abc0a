#pragma once
#include <cstddef>
#include <cstdint>

// The 32-bit ids of everything a MIDI binding can reach (MidiBinding::target), shared
// by the engine, the bindings window and the stored bindings text. Portable.
//
//   bit 31 clear: bits 30..24 the group, bits 23..16 the item, bits 15..0 an argument
//   bit 31 set:   a plug-in parameter: bits 30..28 the position (0 to 7), bits 27..0
//                 the parameter's index
// The numbers are stored in the registry and in performance files: never renumber.

enum class TargetGroup : uint8_t {
    None = 0,
    Control = 1,          // a knob of the program: continuous
    Bypass = 2,           // an effect position's bypass (argument 0 to 7): a switch
    Switch = 3,           // an on/off setting of the program: a switch
    Command = 4,          // something the UI thread does: a command
    PluginParameter = 0x80,
};

// The program's continuous controls (the FX Manager's knobs and the backing track's volume).
enum class ProgramControl : uint8_t {
    InputGain,
    OutputGain,
    GateThreshold,
    GateAttack,
    GateRelease,
    AccompanimentVolume,
    Count
};

// The program's on/off settings, applied at the block like the knobs.
enum class ProgramSwitch : uint8_t { DcFilter, Metronome, Count };

// What the UI thread does when a binding presses it (the program's window, the rig's loop).
enum class ProgramCommand : uint8_t {
    LiveInput,            // start or stop live input
    TapTempo,
    Record,               // start or stop a take
    Play,                 // the accompaniment
    Pause,
    Rewind,
    NextPerformance,      // of the setlist
    PreviousPerformance,
    SetlistEntry,         // argument: the entry's index from 0
    Count
};

// How a target takes a value: what the bindings window offers for it.
enum class TargetBehaviourKind : uint8_t {
    None,        // not a target of this program
    Continuous,  // follows a controller (0..1), with pick-up
    Switch,      // on or off: toggle or momentary
    Command,     // pressed: toggle (or momentary: pressed and released)
};

constexpr uint32_t kNoTarget = 0;
constexpr uint32_t kPluginParameterBit = 0x80000000u;
constexpr int32_t kMaxTargetParameterIndex = 0x0FFFFFFF;
constexpr int kTargetPositions = 8;

constexpr uint32_t makeTarget(TargetGroup group, uint8_t item, uint16_t argument = 0) {
    return (uint32_t(group) << 24) | (uint32_t(item) << 16) | argument;
}
constexpr uint32_t controlTarget(ProgramControl control) { return makeTarget(TargetGroup::Control, uint8_t(control)); }
constexpr uint32_t switchTarget(ProgramSwitch s) { return makeTarget(TargetGroup::Switch, uint8_t(s)); }
constexpr uint32_t bypassTarget(int position) {
    return makeTarget(TargetGroup::Bypass, 0, uint16_t(position & 7));
}
constexpr uint32_t commandTarget(ProgramCommand command, uint16_t argument = 0) {
    return makeTarget(TargetGroup::Command, uint8_t(command), argument);
}
constexpr uint32_t setlistEntryTarget(int index) {
    return commandTarget(ProgramCommand::SetlistEntry, uint16_t(index));
}
constexpr uint32_t pluginParameterTarget(int position, int32_t index) {
    return kPluginParameterBit | (uint32_t(position & 7) << 28) | (uint32_t(index) & uint32_t(kMaxTargetParameterIndex));
}

constexpr TargetGroup targetGroup(uint32_t target) {
    return (target & kPluginParameterBit) ? TargetGroup::PluginParameter : TargetGroup(uint8_t(target >> 24));
}
constexpr uint8_t targetItem(uint32_t target) { return uint8_t(target >> 16); }
constexpr uint16_t targetArgument(uint32_t target) { return uint16_t(target); }
constexpr int targetPosition(uint32_t target) {
    return (target & kPluginParameterBit) ? int((target >> 28) & 7) : int(target & 7);
}
constexpr int32_t targetParameterIndex(uint32_t target) { return int32_t(target & uint32_t(kMaxTargetParameterIndex)); }

// Continuous, switch, command, or None for an id no version of the program made (an
// item past the lists, a bypass of position 9, a stored id with stray bits).
TargetBehaviourKind targetBehaviourKind(uint32_t target);
inline bool isTarget(uint32_t target) { return targetBehaviourKind(target) != TargetBehaviourKind::None; }

// Every target of the program's own (not the plug-in parameters), in the order the
// bindings window lists them; the setlist entries are one item (entry 0) there.
size_t programTargetCount();
uint32_t programTargetAt(size_t index);

// The target's name for the bindings window, from the string table: "Input Gain",
// "Bypass 3", "Setlist Entry 2", "Position 1, Parameter 4" (the window may put the
// plug-in's and the parameter's own names there instead). False (and "Unknown
// target") for an id that is none.
bool targetName(uint32_t target, char* out, size_t size);
