#pragma once
// A bell of the bridge as Windows rings it: an auto-reset event, waited for together
// with the other side's process, so that a side that is gone is seen at once.
#include <algorithm>

#include "BridgeCall.h"
#include "LookingSlots.h"
#include "WinInclude.h"

namespace bridge {

class WindowsBell final : public Doorbell {
public:
    WindowsBell() = default;
    ~WindowsBell() override {
        if (event_)
            CloseHandle(event_);
    }
    WindowsBell(const WindowsBell&) = delete;
    WindowsBell& operator=(const WindowsBell&) = delete;

    // Takes the event; peer is the other side's process (not owned).
    void attach(HANDLE event, HANDLE peer) {
        event_ = event;
        peer_ = peer;
    }
    bool ready() const { return event_ != nullptr; }
    void ring() override { SetEvent(event_); }
    Wake wait(uint32_t microseconds) override {
        const HANDLE handles[2] = {event_, peer_};
        // Windows waits in milliseconds: rounded up, a deadline is never cut short.
        const DWORD ms = DWORD((uint64_t(microseconds) + 999) / 1000);
        const DWORD result = WaitForMultipleObjects(peer_ ? 2 : 1, handles, FALSE, ms);
        if (result == WAIT_OBJECT_0)
            return Wake::Rung;
        if (result == WAIT_TIMEOUT)
            return Wake::TimedOut;
        return Wake::PeerGone;  // the process ended, or the handles are no more
    }

private:
    HANDLE event_ = nullptr;
    HANDLE peer_ = nullptr;
};

// How a bridge's audio thread passes the time while it looks for a block: naps of
// ntdll's relative delay where one is short (under Wine it is a plain sleep of about a
// tenth of a millisecond, no trip through the server), measured once at start. The
// looking slots are shared by the program's bridges in a mapping named after it.
class WindowsIdler final : public Idler {
public:
    explicit WindowsIdler(DWORD programId) : slots_(nullptr, 1, GetCurrentProcessId()) {
        wchar_t name[64];
        _snwprintf(name, 64, L"Local\\talvenor-bridge-looking-%lu", static_cast<unsigned long>(programId));
        name[63] = L'\0';
        // Made zeroed by whichever bridge comes first, opened by the others.
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LookingSlotTable), name);
        void* table = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LookingSlotTable)) : nullptr;
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        // The program's audio thread has a core; the rest may look.
        const int spare = int(system.dwNumberOfProcessors) - 1;
        slots_ = LookingSlots(static_cast<LookingSlotTable*>(table), spare, GetCurrentProcessId());
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll)
            delay_ = reinterpret_cast<DelayFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDelayExecution")));
        if (!delay_)
            return;
        LARGE_INTEGER frequency, before, after;
        QueryPerformanceFrequency(&frequency);
        uint32_t took[7];
        for (uint32_t& t : took) {
            QueryPerformanceCounter(&before);
            nap();
            QueryPerformanceCounter(&after);
            t = uint32_t((after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart);
        }
        std::sort(took, took + 7);
        // Coarser than this (a Windows clock tick), a nap would oversleep the block.
        napMicroseconds_ = took[3] > 0 && took[3] <= 300 ? took[3] : 0;
    }
    uint32_t napMicroseconds() const override { return napMicroseconds_; }
    void nap() override {
        LARGE_INTEGER relative;
        relative.QuadPart = -200;  // 20 us, in hundreds of nanoseconds; what it takes is measured
        delay_(FALSE, &relative);
    }
    // Not SwitchToThread: with other work on the machine a yield can hand the core away
    // for a whole time slice, milliseconds; a looker holds a core that is spare.
    void relax() override { YieldProcessor(); }
    bool startLooking() override { return slots_.take(GetTickCount()); }
    bool mayKeepLooking() override { return slots_.mayKeep(GetTickCount()); }
    bool spareCore() override { return slots_.spare(GetTickCount()); }
    void stopLooking() override { slots_.give(); }
    void startWorking() override { slots_.startWork(GetTickCount()); }
    void stopWorking() override { slots_.stopWork(); }
    ~WindowsIdler() override {
        slots_.give();
        slots_.stopWork();
        if (mapping_)
            CloseHandle(mapping_);  // the view goes with the process
    }
    WindowsIdler(const WindowsIdler&) = delete;
    WindowsIdler& operator=(const WindowsIdler&) = delete;

private:
    using DelayFunction = LONG(WINAPI*)(BOOLEAN, PLARGE_INTEGER);
    DelayFunction delay_ = nullptr;
    uint32_t napMicroseconds_ = 0;
    HANDLE mapping_ = nullptr;
    LookingSlots slots_;
};

// The names a bridge's region and bells go by: base, then what each is.
inline void bridgeObjectName(wchar_t* out, size_t size, const wchar_t* base, const wchar_t* what) {
    _snwprintf(out, size, L"%ls-%ls", base, what);
    out[size - 1] = L'\0';
}

constexpr const wchar_t* kBellNames[4] = {L"ui-to", L"ui-from", L"audio-to", L"audio-from"};

}  // namespace bridge
