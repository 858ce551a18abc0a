#pragma once
// How a bridge's audio thread passes the time while it looks for a block (Windows).
// Naps are ntdll's relative delay where one is short: under Wine a plain sleep of about
// a tenth of a millisecond, with no trip through its server; measured once at start.
// Looking is allowed only while the machine has a core to spare for it, as measured
// every quarter second (its idle time, and this bridge's own), and while the program's
// other bridges leave one (LookingSlots, in a mapping named after the program).
#include <atomic>
#include <thread>

#include "BridgeCall.h"
#include "LookingSlots.h"
#include "WinInclude.h"

namespace bridge {

class WindowsIdler final : public Idler {
public:
    explicit WindowsIdler(DWORD programId);
    ~WindowsIdler() override;
    WindowsIdler(const WindowsIdler&) = delete;
    WindowsIdler& operator=(const WindowsIdler&) = delete;

    uint32_t napMicroseconds() const override { return napMicroseconds_; }
    void nap() override;
    // Not SwitchToThread: with other work on the machine a yield can hand the core away
    // for a whole time slice, milliseconds.
    void relax() override { YieldProcessor(); }
    bool startLooking(bool wholeGap) override;
    bool mayKeepLooking() override;
    bool spareCore() override;
    void stopLooking() override { slots_.give(); }
    void startWorking() override { slots_.startWork(GetTickCount()); }
    void stopWorking() override { slots_.stopWork(); }

private:
    using DelayFunction = LONG(WINAPI*)(BOOLEAN, PLARGE_INTEGER);
    void measureSpareCores();
    bool machineHasACore() const { return spareTenths_.load(std::memory_order_relaxed) >= 10; }

    DelayFunction delay_ = nullptr;
    uint32_t napMicroseconds_ = 0;
    HANDLE mapping_ = nullptr;
    int cores_ = 1;
    LookingSlots slots_;
    std::atomic<int> spareTenths_{0};  // cores idle or ours, in tenths
    HANDLE stop_ = nullptr;
    std::thread measuring_;
};

}  // namespace bridge
