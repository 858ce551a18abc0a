#include "MidiInputFeed.h"

void MidiInputFeed::shortMessage(uint32_t packed, uint32_t time) {
    MidiMessage message{};
    if (!decodeShortMidiMessage(packed, message)) {
        skipped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    queue_.push(TimedMidiMessage{time, message});  // a full queue counts its own drops
}

void MidiInputFeed::bytes(const uint8_t* data, size_t count, uint32_t time) {
    MidiMessage message{};
    for (size_t i = 0; i < count; ++i)
        if (parser_.push(data[i], message))
            queue_.push(TimedMidiMessage{time, message});
}
