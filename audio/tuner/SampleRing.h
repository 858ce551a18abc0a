#pragma once
#include <atomic>
#include <cstddef>

// Samples from one producer thread (the driver's) to one consumer thread, without a
// lock. A full ring drops what does not fit: the producer never waits.
template <size_t Capacity>
class SampleRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");

public:
    // Producer: the samples that fit; the count written.
    size_t push(const float* samples, size_t count) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail = tail_.load(std::memory_order_acquire);
        const size_t room = Capacity - (head - tail);
        const size_t n = count < room ? count : room;
        for (size_t i = 0; i < n; ++i)
            data_[(head + i) & (Capacity - 1)] = samples[i];
        head_.store(head + n, std::memory_order_release);
        if (n < count)
            dropped_.fetch_add(count - n, std::memory_order_relaxed);
        return n;
    }
    // Consumer: up to count samples; the count read.
    size_t pop(float* out, size_t count) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t head = head_.load(std::memory_order_acquire);
        const size_t have = head - tail;
        const size_t n = count < have ? count : have;
        for (size_t i = 0; i < n; ++i)
            out[i] = data_[(tail + i) & (Capacity - 1)];
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }
    // Consumer: lets go of what was written before position (a count of written()).
    void discardUntil(size_t position) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t head = head_.load(std::memory_order_acquire);
        const size_t wanted = position - tail;
        if (wanted == 0 || wanted > (size_t(-1) >> 1))
            return;  // already read past it
        tail_.store(tail + (wanted < head - tail ? wanted : head - tail), std::memory_order_release);
    }
    // Any thread: samples written since the ring was made.
    size_t written() const { return head_.load(std::memory_order_acquire); }
    // Any thread: samples written and not yet read.
    size_t size() const { return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_acquire); }
    size_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    float data_[Capacity] = {};
    std::atomic<size_t> head_{0};
    std::atomic<size_t> tail_{0};
    std::atomic<size_t> dropped_{0};
};
