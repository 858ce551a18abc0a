#pragma once
#include <cstdint>

#include "MidiMessage.h"

// Turns MIDI bytes, as a device delivers them, into channel messages. Keeps running
// status; skips SysEx (F0 ... F7, in as many pieces as it comes), system common
// messages with their data bytes, and data bytes that belong to nothing. Real-time
// bytes (F8 to FF) may come anywhere, even between a message's bytes: they are
// dropped and the message around them goes on. Allocates nothing; the MIDI input
// thread owns one parser per device.
class MidiParser {
public:
    // True when byte completes a channel message, which is then in message.
    bool push(uint8_t byte, MidiMessage& message);
    // Forgets any message begun and the running status (the device was reopened).
    void reset();

private:
    enum class State : uint8_t { Idle, Channel, SystemCommon, SysEx };
    State state_ = State::Idle;
    uint8_t status_ = 0;     // running status (a channel status) while state_ is Channel
    uint8_t data_[2] = {};
    uint8_t have_ = 0;       // data bytes of the message begun
    uint8_t commonLeft_ = 0; // data bytes of a system common message still to skip
};

// winmm's MIM_DATA packs one whole message into a doubleword: the status in the low
// byte, then the data bytes (running status is expanded by the system). True when
// it is a well-formed channel message; real-time, system common and malformed words
// give false.
bool decodeShortMidiMessage(uint32_t packed, MidiMessage& message);
