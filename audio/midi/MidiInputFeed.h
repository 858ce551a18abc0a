#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "MidiParser.h"
#include "MidiQueue.h"

// What a MIDI input device delivers, put into the queue to the audio thread as
// channel messages. The device's callback thread calls it; allocates nothing and
// takes no lock (winmm forbids most system calls inside its callback anyway).
class MidiInputFeed {
public:
    explicit MidiInputFeed(MidiQueue& queue) : queue_(queue) {}
    MidiInputFeed(const MidiInputFeed&) = delete;
    MidiInputFeed& operator=(const MidiInputFeed&) = delete;

    // MIDI input thread: winmm's MIM_DATA (dwParam1 the packed message, dwParam2 its
    // milliseconds since midiInStart). Real-time and system common words are skipped.
    void shortMessage(uint32_t packed, uint32_t time);
    // MIDI input thread: bytes of a raw stream (a serial port, a test), in any pieces.
    void bytes(const uint8_t* data, size_t count, uint32_t time);
    // MIDI input thread: the device was closed and opened again.
    void restart() { parser_.reset(); }

    // Any thread: what a device sent that was no channel message (short words only).
    uint64_t skipped() const { return skipped_.load(std::memory_order_relaxed); }

private:
    MidiQueue& queue_;
    MidiParser parser_;
    std::atomic<uint64_t> skipped_{0};
};
