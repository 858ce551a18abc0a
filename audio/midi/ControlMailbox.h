#pragma once
#include <atomic>
#include <cstdint>

#include "MidiMessage.h"

// What the MIDI control point hands the UI thread: commands pressed, program changes
// nobody bound (a setlist's default), changes the audio thread made (for the
// display) or could not make (the UI thread makes them).
enum class ControlEventKind : uint8_t {
    Command,         // target a command id; value 1 pressed, 0 released (momentary)
    UnboundProgram,  // message: a program change no binding took
    Applied,         // target set to value at the block (the display follows)
    Deferred,        // target to be set to value by the UI thread (the audio thread cannot)
};

struct ControlEvent {
    ControlEventKind kind;
    uint32_t target;
    float value;
    MidiMessage message;  // the message that made the event
    uint64_t frame;       // the block's first frame, counted from the first block
};

// One producer (the driver thread), one consumer (the UI thread); no lock, no
// allocation. A full mailbox drops the newest event and counts it.
class ControlMailbox {
public:
    static constexpr uint32_t kCapacity = 2048;  // a power of two

    ControlMailbox() = default;
    ControlMailbox(const ControlMailbox&) = delete;
    ControlMailbox& operator=(const ControlMailbox&) = delete;

    // Driver thread.
    bool post(const ControlEvent& event) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= kCapacity) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        ring_[head & (kCapacity - 1)] = event;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    // UI thread. False when nothing waits.
    bool take(ControlEvent& event) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return false;
        event = ring_[tail & (kCapacity - 1)];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    ControlEvent ring_[kCapacity] = {};
    alignas(64) std::atomic<uint32_t> head_{0};
    alignas(64) std::atomic<uint32_t> tail_{0};
    std::atomic<uint64_t> dropped_{0};
};
