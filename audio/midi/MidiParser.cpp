#include "MidiParser.h"

namespace {

// Data bytes of the system common messages F1 to F7 (F0, SysEx, is handled apart).
int commonDataBytes(uint8_t status) {
    switch (status) {
    case 0xF1:  // MTC quarter frame
    case 0xF3:  // song select
        return 1;
    case 0xF2:  // song position
        return 2;
    default:  // F4, F5 undefined; F6 tune request; F7 a lone end of SysEx
        return 0;
    }
}

}  // namespace

void MidiParser::reset() {
    state_ = State::Idle;
    status_ = 0;
    have_ = 0;
    commonLeft_ = 0;
}

bool MidiParser::push(uint8_t byte, MidiMessage& message) {
    if (byte >= 0xF8)  // real time: no effect on anything around it
        return false;
    if (byte & 0x80) {
        have_ = 0;
        if (byte < 0xF0) {
            state_ = State::Channel;
            status_ = byte;
        } else if (byte == 0xF0) {
            state_ = State::SysEx;
            status_ = 0;  // running status ends with any system message
        } else {
            // F7 ends a SysEx and any other system common message cancels one.
            status_ = 0;
            commonLeft_ = uint8_t(commonDataBytes(byte));
            state_ = commonLeft_ ? State::SystemCommon : State::Idle;
        }
        return false;
    }
    switch (state_) {
    case State::Idle:
    case State::SysEx:
        return false;  // a stray data byte, or SysEx content
    case State::SystemCommon:
        if (--commonLeft_ == 0)
            state_ = State::Idle;
        return false;
    case State::Channel:
        data_[have_++] = byte;
        if (have_ < midiDataBytes(status_))
            return false;
        have_ = 0;  // the status runs on for the next message
        message = midiMessageOf(status_, data_[0], data_[1]);
        return true;
    }
    return false;
}

bool decodeShortMidiMessage(uint32_t packed, MidiMessage& message) {
    const uint8_t status = uint8_t(packed & 0xFF);
    const uint8_t data1 = uint8_t((packed >> 8) & 0xFF);
    const uint8_t data2 = uint8_t((packed >> 16) & 0xFF);
    if (status < 0x80 || status >= 0xF0 || data1 >= 0x80)
        return false;
    if (midiDataBytes(status) == 2 && data2 >= 0x80)
        return false;
    message = midiMessageOf(status, data1, data2);
    return true;
}
