#pragma once
#include <atomic>

// A value written by one thread and read by another without any ordering between
// them: the user's knob values, the sample rate, playing flags. Every load and store
// is a single relaxed atomic access, so a reader sees either the old or the new value.
template <typename T>
class Relaxed {
public:
    constexpr Relaxed(T initial = T()) : value_(initial) {}
    Relaxed(const Relaxed& other) : value_(other.load()) {}
    Relaxed& operator=(const Relaxed& other) { store(other.load()); return *this; }
    Relaxed& operator=(T v) { store(v); return *this; }
    operator T() const { return load(); }
    T load() const { return value_.load(std::memory_order_relaxed); }
    void store(T v) { value_.store(v, std::memory_order_relaxed); }

private:
    std::atomic<T> value_;
};
