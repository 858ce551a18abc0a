#pragma once
#include <cstdint>

// One complete MIDI channel message, with its status byte always present (running
// status already expanded). Note on with velocity 0 never appears: the parsers
// turn it into note off.
enum class MidiKind : uint8_t {
    NoteOff,            // data1 note, data2 release velocity
    NoteOn,             // data1 note, data2 velocity 1 to 127
    PolyAftertouch,     // data1 note, data2 pressure
    Controller,         // data1 controller number, data2 value
    ProgramChange,      // data1 program, data2 0
    ChannelAftertouch,  // data1 pressure, data2 0
    PitchBend,          // data1 low 7 bits, data2 high 7 bits (8192 is the centre)
};

struct MidiMessage {
    MidiKind kind;
    uint8_t channel;  // 0 to 15 (shown to users as 1 to 16)
    uint8_t data1;
    uint8_t data2;
};

inline bool operator==(const MidiMessage& a, const MidiMessage& b) {
    return a.kind == b.kind && a.channel == b.channel && a.data1 == b.data1 && a.data2 == b.data2;
}

// The data bytes a channel status byte (0x80 to 0xEF) takes: 1 or 2.
inline int midiDataBytes(uint8_t status) {
    const uint8_t high = status & 0xF0;
    return high == 0xC0 || high == 0xD0 ? 1 : 2;
}

// Makes the message of a channel status byte and its data bytes (data2 ignored for
// one-byte messages); velocity 0 on a note on is a note off.
inline MidiMessage midiMessageOf(uint8_t status, uint8_t data1, uint8_t data2) {
    static const MidiKind kKinds[7] = {MidiKind::NoteOff,       MidiKind::NoteOn,
                                       MidiKind::PolyAftertouch, MidiKind::Controller,
                                       MidiKind::ProgramChange,  MidiKind::ChannelAftertouch,
                                       MidiKind::PitchBend};
    MidiMessage m{kKinds[((status >> 4) & 0x7) % 7], uint8_t(status & 0x0F), data1,
                  midiDataBytes(status) == 2 ? data2 : uint8_t(0)};
    if (m.kind == MidiKind::NoteOn && m.data2 == 0)
        m.kind = MidiKind::NoteOff;
    return m;
}
