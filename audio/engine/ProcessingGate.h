#pragma once
#include <atomic>
#include <cstdint>

// Wakes the UI thread that waits in a pause for the block in progress to end. The
// driver host's is an auto-reset event of the system; natively the tests use their own.
class PauseWakeup {
public:
    virtual ~PauseWakeup() = default;
    virtual void wake() = 0;  // driver thread, after a block a pause waits for
    // UI thread: returns once woken, or sooner; the gate looks again either way, so a
    // wake left over from an earlier pause does no harm.
    virtual void wait() = 0;
};

// The pause protocol between the UI thread and the driver thread. The driver thread
// brackets every callback with enter and leave and processes only when enter says
// so; after pause returns no block is in progress and none starts until resume.
// The callback side takes no lock and, unless a pause is waiting, makes no system
// call: a block marks itself busy in an atomic, and only a leave that finds a pause
// waiting wakes it. (Under Wine every event call is a round trip to the server, two
// per block, which held a render back more than the blocks' own work.)
//
// All flags are sequentially consistent, so each side's store comes before its load
// of the other's flag in one order: either the block sees the pause's cleared flag,
// or the pause sees the block busy; and a pause that sees a block busy has announced
// itself before, so that block's leave sees it and wakes it.
class ProcessingGate {
public:
    explicit ProcessingGate(PauseWakeup& wakeup) : wakeup_(wakeup) {}
    virtual ~ProcessingGate() = default;
    ProcessingGate(const ProcessingGate&) = delete;
    ProcessingGate& operator=(const ProcessingGate&) = delete;

    // --- driver thread ---
    // Marks the block busy before it reads the flag (read-modify-writes, which the race
    // detector understands, unlike a fence).
    bool enter() {
        busy_.exchange(1, std::memory_order_seq_cst);
        return enabled_.fetch_or(0, std::memory_order_seq_cst) != 0;
    }
    void leave() {
        busy_.exchange(0, std::memory_order_seq_cst);
        if (waiting_.fetch_or(0, std::memory_order_seq_cst) != 0)
            wakeup_.wake();
    }

    // --- UI thread ---
    void pause() {
        enabled_.store(0, std::memory_order_seq_cst);
        waiting_.store(1, std::memory_order_seq_cst);
        while (busy_.load(std::memory_order_seq_cst) != 0)
            wakeup_.wait();
        waiting_.store(0, std::memory_order_seq_cst);
    }
    void resume() { enabled_.store(1, std::memory_order_seq_cst); }

private:
    PauseWakeup& wakeup_;
    std::atomic<uint8_t> enabled_{1};
    std::atomic<uint8_t> busy_{0};     // a block is between enter and leave
    std::atomic<uint8_t> waiting_{0};  // a pause waits for that block's leave
};
