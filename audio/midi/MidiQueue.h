#pragma once
#include <atomic>
#include <cstdint>

#include "MidiMessage.h"

// A message with the time it arrived, in the MIDI input's milliseconds (winmm's
// dwParam2) or whatever clock the producer names.
struct TimedMidiMessage {
    uint32_t time;
    MidiMessage message;
};

// From the MIDI input thread to the audio thread: one producer, one consumer, no
// lock and no allocation. When the audio thread falls behind and the ring is full,
// the newest message is dropped and counted: the ones already waiting are older and
// were promised first.
class MidiQueue {
public:
    static constexpr uint32_t kCapacity = 1024;  // a power of two

    MidiQueue() = default;
    MidiQueue(const MidiQueue&) = delete;
    MidiQueue& operator=(const MidiQueue&) = delete;

    // MIDI input thread. False (and counted) when full.
    bool push(const TimedMidiMessage& message) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= kCapacity) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        ring_[head & (kCapacity - 1)] = message;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // Audio thread. False when nothing waits.
    bool pop(TimedMidiMessage& message) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return false;
        message = ring_[tail & (kCapacity - 1)];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Any thread: messages lost to a full ring since the start.
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
    // Any thread: an estimate (exact when neither side is busy).
    uint32_t waiting() const {
        const uint32_t tail = tail_.load(std::memory_order_acquire);  // first: head never falls behind it
        return head_.load(std::memory_order_acquire) - tail;
    }

private:
    TimedMidiMessage ring_[kCapacity] = {};
    // The counters run on and wrap; their difference is what waits.
    alignas(64) std::atomic<uint32_t> head_{0};  // written by the producer only
    alignas(64) std::atomic<uint32_t> tail_{0};  // written by the consumer only
    std::atomic<uint64_t> dropped_{0};
};
