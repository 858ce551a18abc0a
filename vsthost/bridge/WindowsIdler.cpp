#include "WindowsIdler.h"

#include <algorithm>
#include <cwchar>

namespace bridge {

namespace {

ULONGLONG ticks(const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace

WindowsIdler::WindowsIdler(DWORD programId) : slots_(nullptr, 1, GetCurrentProcessId()) {
    wchar_t name[64];
    _snwprintf(name, 64, L"Local\\talvenor-bridge-looking-%lu", static_cast<unsigned long>(programId));
    name[63] = L'\0';
    // Made zeroed by whichever bridge comes first, opened by the others.
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LookingSlotTable), name);
    void* table = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(LookingSlotTable)) : nullptr;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    cores_ = system.dwNumberOfProcessors ? int(system.dwNumberOfProcessors) : 1;
    // The program's audio thread has a core; the rest may look.
    slots_ = LookingSlots(static_cast<LookingSlotTable*>(table), cores_ - 1, GetCurrentProcessId());

    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll)
        delay_ = reinterpret_cast<DelayFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtDelayExecution")));
    if (delay_) {
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
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop_)
        measuring_ = std::thread([this] { measureSpareCores(); });
}

WindowsIdler::~WindowsIdler() {
    if (stop_) {
        SetEvent(stop_);
        if (measuring_.joinable())
            measuring_.join();
        CloseHandle(stop_);
    }
    slots_.give();
    slots_.stopWork();
    if (mapping_)
        CloseHandle(mapping_);  // the view goes with the process
}

void WindowsIdler::nap() {
    LARGE_INTEGER relative;
    relative.QuadPart = -200;  // 20 us, in hundreds of nanoseconds; what it takes is measured
    delay_(FALSE, &relative);
}

bool WindowsIdler::startLooking(bool wholeGap) { return machineHasACore() && slots_.take(GetTickCount(), wholeGap); }

bool WindowsIdler::mayKeepLooking() { return machineHasACore() && slots_.mayKeep(GetTickCount()); }

bool WindowsIdler::spareCore() { return machineHasACore() && slots_.spare(GetTickCount()); }

void WindowsIdler::measureSpareCores() {
    const double cores = double(cores_);
    FILETIME idle, kernel, user, created, ended, ownKernel, ownUser;
    ULONGLONG lastIdle = 0, lastAll = 0, lastOwn = 0;
    bool first = true;
    do {
        if (!GetSystemTimes(&idle, &kernel, &user) ||
            !GetProcessTimes(GetCurrentProcess(), &created, &ended, &ownKernel, &ownUser))
            continue;
        const ULONGLONG i = ticks(idle), all = ticks(kernel) + ticks(user);  // kernel time includes idle
        const ULONGLONG own = ticks(ownKernel) + ticks(ownUser);
        if (!first && all > lastAll) {
            // This bridge's own looking counts as spare: it would be idle without it.
            const double perCore = double(all - lastAll) / cores;
            const double spare = (double(i - lastIdle) + double(own - lastOwn)) / perCore;
            spareTenths_.store(int(spare * 10.0), std::memory_order_relaxed);
        }
        first = false;
        lastIdle = i;
        lastAll = all;
        lastOwn = own;
    } while (WaitForSingleObject(stop_, 250) == WAIT_TIMEOUT);
}

}  // namespace bridge
