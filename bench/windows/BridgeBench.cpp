// What running a plug-in in a process of its own costs per block: Overdrive called in
// this process and through its bridge at 64, 256 and 1024 frames (median and 99.9th
// percentile of each call, and the bridge's median added), and a chain of eight
// Overdrives either way; beside them, this machine's bare round trip between two
// processes (an event each way, or a side that never sleeps), which no bridge beats. Each is measured twice: at a driver's pace (a block each
// period, as live input calls the chain) and back to back (as a render does). A plain
// program for Wine (no Google Benchmark for MinGW); scripts/bench-bridge runs it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "BridgePlugin.h"
#include "BridgeProcess.h"
#include "PluginInstance.h"
#include "Vst2Backend.h"
#include "WinInclude.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRate = 48000.0;

class Facts : public PluginHostInfo {
public:
    double sampleRate() const override { return kRate; }
    int32_t maxBlockFrames() const override { return 1024; }
    double tempo() const override { return 120.0; }
};

class Quiet : public PluginHostEvents {
public:
    void parameterEdited(int32_t, float) override {}
    bool editorResizeRequested(int32_t, int32_t) override { return false; }
    void latencyChanged() override {}
    void parametersChanged() override {}
    void restartRequested() override {}
    void uiCallRequested() override {}
    double tempo() const override { return 120.0; }
};

// Seconds of each measurement at a driver's pace: at 256 frames, 3750 blocks, so that
// the 99.9th percentile is a few blocks' word rather than the second slowest one's.
constexpr double kPacedSeconds = 20.0;

Facts g_facts;
Quiet g_events;

struct Figures {
    double median, p999;
};

Figures figures(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, size_t(double(us.size()) * 0.999))]};
}

// A driver's steady clock, which waits for its device rather than spin: asleep in
// short naps (ntdll's relative delay, finer than Sleep's milliseconds) until shortly
// before the period is up, then looking at the clock for the rest, so that each block
// begins one period after the last and the bench holds no core meanwhile.
void awaitPeriod(Clock::time_point& next, int32_t frames) {
    typedef LONG(WINAPI * Delay)(BOOLEAN, PLARGE_INTEGER);
    static const Delay delay =
        reinterpret_cast<Delay>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDelayExecution")));
    next += std::chrono::microseconds(int64_t(double(frames) / kRate * 1e6));
    for (;;) {
        const auto ahead = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
        if (ahead > 3000) {
            Sleep(DWORD(ahead / 1000 - 2));
            continue;
        }
        if (ahead <= 200 || !delay)
            break;
        LARGE_INTEGER relative;
        relative.QuadPart = -10 * (ahead - 200 > 1000 ? 1000 : ahead - 200);
        delay(FALSE, &relative);
    }
    while (Clock::now() < next) {
    }
}

// The machine's busy share of its cores since the last call (GetSystemTimes).
double busyShare() {
    static ULONGLONG lastIdle = 0, lastAll = 0;
    FILETIME idle, kernel, user;
    GetSystemTimes(&idle, &kernel, &user);
    auto value = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    const ULONGLONG i = value(idle), all = value(kernel) + value(user);  // kernel time includes idle
    const double share = all > lastAll ? 1.0 - double(i - lastIdle) / double(all - lastAll) : 0.0;
    lastIdle = i;
    lastAll = all;
    return share;
}

// Microseconds of each block through every plug-in of chain, in place; paced, a block
// each period as a driver asks, else back to back.
std::vector<double> timeBlocks(std::vector<PluginInstance*>& chain, int32_t frames, int blocks, bool paced) {
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    std::vector<double> us;
    us.reserve(size_t(blocks));
    Clock::time_point next = Clock::now();
    for (int b = 0; b < blocks + 50; ++b) {
        if (paced)
            awaitPeriod(next, frames);
        for (int32_t i = 0; i < frames; ++i)
            left[size_t(i)] = right[size_t(i)] = 0.3f * float(std::sin(0.05 * double(b * frames + i)));
        float* io[2] = {left.data(), right.data()};
        const Clock::time_point start = Clock::now();
        // As the live chain runs its positions: each told it comes next while the one
        // before it runs, the first as the block begins.
        chain[0]->blockComing();
        for (size_t k = 0; k < chain.size(); ++k) {
            if (k + 1 < chain.size())
                chain[k + 1]->blockComing();
            chain[k]->process(io, io, frames);
        }
        const double took = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (b >= 50)  // the first blocks warm caches and the bridge's pages
            us.push_back(took);
    }
    return us;
}

// The bare round trip: this program started again as the answering side, which takes
// each request and answers at once, asleep on an event between them or looking at a
// shared serial all the time. What a bridge's block costs beyond its plug-in is bounded
// below by the one it sleeps like.
struct Echo {
    HANDLE process = nullptr, ask = nullptr, told = nullptr, mapping = nullptr;
    volatile LONG* serials = nullptr;  // [0] asked, [1] answered, [2] the echo ends
};

const wchar_t* echoName(wchar_t* name, size_t size, const wchar_t* what, DWORD program) {
    _snwprintf(name, size, L"Local\\talvenor-bench-echo-%ls-%lu", what, static_cast<unsigned long>(program));
    name[size - 1] = L'\0';
    return name;
}

bool openEcho(Echo& e, DWORD program, bool create) {
    wchar_t name[96];
    e.ask = create ? CreateEventW(nullptr, FALSE, FALSE, echoName(name, 96, L"ask", program))
                   : OpenEventW(EVENT_ALL_ACCESS, FALSE, echoName(name, 96, L"ask", program));
    e.told = create ? CreateEventW(nullptr, FALSE, FALSE, echoName(name, 96, L"told", program))
                    : OpenEventW(EVENT_ALL_ACCESS, FALSE, echoName(name, 96, L"told", program));
    e.mapping = create ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                            echoName(name, 96, L"serials", program))
                       : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, echoName(name, 96, L"serials", program));
    if (e.mapping)
        e.serials = static_cast<volatile LONG*>(MapViewOfFile(e.mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4096));
    return e.ask && e.told && e.serials;
}

// The answering side (bridge_bench --echo PROGRAM-ID looking|sleeping).
int runEcho(DWORD program, bool looking) {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    Echo e;
    if (!openEcho(e, program, false))
        return 1;
    LONG answered = 0;
    while (!e.serials[2]) {
        if (looking) {
            const LONG asked = e.serials[0];
            if (asked != answered)
                e.serials[1] = answered = asked;
            else
                YieldProcessor();
        } else if (WaitForSingleObject(e.ask, 1000) == WAIT_OBJECT_0) {
            SetEvent(e.told);
        }
    }
    return 0;
}

// Microseconds of each bare round trip, a block's worth of work apart.
std::vector<double> timeEchoes(bool looking, int32_t frames, int count, bool paced) {
    std::vector<double> us;
    Echo e;
    const DWORD self = GetCurrentProcessId();
    if (!openEcho(e, self, true))
        return us;
    e.serials[0] = e.serials[1] = e.serials[2] = 0;
    wchar_t exe[MAX_PATH], line[MAX_PATH + 64];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    _snwprintf(line, MAX_PATH + 64, L"\"%ls\" --echo %lu %ls", exe, static_cast<unsigned long>(self),
               looking ? L"looking" : L"sleeping");
    line[MAX_PATH + 63] = L'\0';
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(exe, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &child))
        return us;
    CloseHandle(child.hThread);
    Sleep(300);  // started and waiting
    Clock::time_point next = Clock::now();
    for (int b = 0; b < count + 50; ++b) {
        if (paced)
            awaitPeriod(next, frames);
        const Clock::time_point t0 = Clock::now();
        if (looking) {
            e.serials[0] = b + 1;
            while (e.serials[1] != b + 1)
                YieldProcessor();
        } else {
            SetEvent(e.ask);
            WaitForSingleObject(e.told, 1000);
        }
        if (b >= 50)
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    e.serials[2] = 1;
    SetEvent(e.ask);
    WaitForSingleObject(child.hProcess, 5000);
    CloseHandle(child.hProcess);
    UnmapViewOfFile(const_cast<LONG*>(e.serials));
    CloseHandle(e.mapping);
    CloseHandle(e.ask);
    CloseHandle(e.told);
    return us;
}

PluginInstance* load(bool bridged, const std::string& path) {
    char failure[400] = "";
    PluginInstance* p = nullptr;
    if (bridged) {
        char bridge[1024];
        if (bridgeProgramPath(bridge, sizeof bridge))
            p = loadInBridge(bridge, path.c_str(), "VST 2", "", &g_events, failure, sizeof failure);
    } else {
        static Vst2Backend backend(&g_facts);
        p = backend.load(path.c_str(), "", &g_events, failure, sizeof failure);
    }
    if (!p || !p->configure(kRate, 1024) || !p->resume()) {
        std::fprintf(stderr, "bridge bench: %s did not load%s: %s\n", path.c_str(), bridged ? " in a bridge" : "",
                     failure);
        delete p;
        return nullptr;
    }
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--echo")
        return runEcho(DWORD(std::strtoul(argv[2], nullptr, 10)), std::string(argv[3]) == "looking");
    if (argc < 2) {
        std::fprintf(stderr, "usage: bridge_bench PATH-OF-Overdrive.dll [BLOCKS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int blocks = argc > 2 ? std::max(1000, std::atoi(argv[2])) : 20000;
    std::vector<PluginInstance*> inProcess, bridged;
    for (int i = 0; i < 8; ++i) {
        inProcess.push_back(load(false, path));
        bridged.push_back(load(true, path));
        if (!inProcess.back() || !bridged.back())
            return 1;
    }
    unsigned late = 0;
    for (bool paced : {true, false}) {
        char pace[64] = "back to back, as a render";
        if (paced)
            std::snprintf(pace, sizeof pace, "at a driver's pace (%.0f s at each size)", kPacedSeconds);
        std::printf("\nOverdrive per block, microseconds, %s (median, 99.9th percentile)\n", pace);
        std::printf("%8s %8s %22s %22s %16s %14s\n", "frames", "blocks", "in process", "own process",
                    "added (median)", "quarter block");
        for (int32_t frames : {64, 256, 1024}) {
            const int count = paced ? int(kPacedSeconds * kRate / double(frames)) : blocks;
            std::vector<PluginInstance*> one = {inProcess[0]}, oneBridged = {bridged[0]};
            const Figures a = figures(timeBlocks(one, frames, count, paced));
            const Figures b = figures(timeBlocks(oneBridged, frames, count, paced));
            char how[160];
            if (bridged[0]->failed(how, sizeof how)) {
                std::printf("%8d: the bridged Overdrive %s; loaded again\n", int(frames), how);
                late += static_cast<bridge::BridgePlugin*>(bridged[0])->lateBlocks();
                delete bridged[0];
                bridged[0] = load(true, path);
                if (!bridged[0])
                    return 1;
                continue;
            }
            std::printf("%8d %8d %10.1f %10.1f  %10.1f %10.1f  %16.1f %14.1f\n", int(frames), count, a.median,
                        a.p999, b.median, b.p999, b.median - a.median, double(frames) / kRate * 1e6 / 4.0);
        }
        const int chainBlocks = paced ? int(kPacedSeconds * kRate / 256.0) : blocks / 4;
        busyShare();
        const Figures chainIn = figures(timeBlocks(inProcess, 256, chainBlocks, paced));
        const double busyIn = busyShare();
        auto lateSoFar = [&] {
            unsigned n = late;
            for (PluginInstance* p : bridged)
                n += static_cast<bridge::BridgePlugin*>(p)->lateBlocks();
            return n;
        };
        const unsigned lateBefore = lateSoFar();
        const Figures chainOut = figures(timeBlocks(bridged, 256, chainBlocks, paced));
        const double busyOut = busyShare();
        const unsigned chainLate = lateSoFar() - lateBefore;
        std::printf("eight Overdrives at 256 frames: in process %.1f us (99.9th %.1f), each in its own %.1f us "
                    "(99.9th %.1f): %.1f us added a position\n",
                    chainIn.median, chainIn.p999, chainOut.median, chainOut.p999,
                    (chainOut.median - chainIn.median) / 8.0);
        std::printf("the machine's cores busy meanwhile: %.1f %% in process, %.1f %% with the bridges; "
                    "blocks of the chain past a position's deadline: %u of %d\n",
                    busyIn * 100.0, busyOut * 100.0, chainLate, chainBlocks + 50);
        const int echoes = paced ? int(kPacedSeconds * kRate / 256.0) : blocks;
        for (bool looking : {false, true}) {
            const std::vector<double> bare = timeEchoes(looking, 256, echoes, paced);
            if (bare.empty()) {
                std::printf("(the bare round trip could not be measured)\n");
                continue;
            }
            const Figures f = figures(bare);
            std::printf("bare round trip between two processes at 256 frames, %s: %.1f us (99.9th %.1f)\n",
                        looking ? "the answering side never sleeping" : "an event each way", f.median, f.p999);
        }
    }
    int failed = 0;
    for (PluginInstance* p : bridged) {
        failed += p->failed(nullptr, 0) ? 1 : 0;
        late += static_cast<bridge::BridgePlugin*>(p)->lateBlocks();
    }
    std::printf("blocks past their deadline (gone dry), all runs: %u\n", late);
    if (failed)
        std::printf("(%d of the eight bridged Overdrives missed a deadline in the chain)\n", failed);
    for (PluginInstance* p : inProcess)
        delete p;
    for (PluginInstance* p : bridged)
        delete p;
    return 0;
}
