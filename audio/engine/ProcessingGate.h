#pragma once
#include <atomic>
#include <cstdint>

// Signalled while no block is being processed. The driver host's is a manual-reset
// event of the system; natively the tests use their own.
class IdleSignal {
public:
    virtual ~IdleSignal() = default;
    virtual void reset() = 0;  // driver thread, before a block
    virtual void set() = 0;    // driver thread, after it
    virtual void wait() = 0;   // UI thread: returns once set
};

// The pause protocol between the UI thread and the driver thread. The driver thread
// brackets every callback with enter and leave and processes only when enter says
// so; after pause returns no block is in progress and none starts until resume.
// The callback side takes no lock: the flag is an atomic, the signal's reset and set
// are the only calls it makes.
class ProcessingGate {
public:
    explicit ProcessingGate(IdleSignal& idle) : idle_(idle) {}
    virtual ~ProcessingGate() = default;
    ProcessingGate(const ProcessingGate&) = delete;
    ProcessingGate& operator=(const ProcessingGate&) = delete;

    // --- driver thread ---
    // Resets the signal before it reads the flag: a pause that cleared the flag first
    // is seen here; one that clears it later waits for leave. The read is a
    // read-modify-write, which cannot move before the reset (and which the race
    // detector understands, unlike a fence).
    bool enter() {
        idle_.reset();
        return enabled_.fetch_or(0, std::memory_order_seq_cst) != 0;
    }
    void leave() { idle_.set(); }

    // --- UI thread ---
    void pause() {
        enabled_.store(0, std::memory_order_seq_cst);
        idle_.wait();
    }
    void resume() { enabled_.store(1, std::memory_order_seq_cst); }

private:
    IdleSignal& idle_;
    std::atomic<uint8_t> enabled_{1};
};
