// What running a plug-in in a process of its own costs per block: Overdrive called in
// this process and through its bridge at 64, 256 and 1024 frames (median and 99.9th
// percentile of each call, and the bridge's median added), and a chain of eight
// Overdrives either way. Each is measured twice: at a driver's pace (a block each
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

Facts g_facts;
Quiet g_events;

struct Figures {
    double median, p999;
};

Figures figures(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[std::min(us.size() - 1, size_t(double(us.size()) * 0.999))]};
}

// A driver's steady clock: sleeps in whole milliseconds, then looks at the clock for
// the rest, so that each block begins one period after the last.
void awaitPeriod(Clock::time_point& next, int32_t frames) {
    next += std::chrono::microseconds(int64_t(double(frames) / kRate * 1e6));
    const auto ahead = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    if (ahead > 1)
        Sleep(DWORD(ahead - 1));
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
        std::printf("\nOverdrive per block, microseconds, %s (median, 99.9th percentile)\n",
                    paced ? "at a driver's pace (8 s at each size)" : "back to back, as a render");
        std::printf("%8s %8s %22s %22s %16s %14s\n", "frames", "blocks", "in process", "own process",
                    "added (median)", "quarter block");
        for (int32_t frames : {64, 256, 1024}) {
            const int count = paced ? int(8.0 * kRate / double(frames)) : blocks;
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
        const int chainBlocks = paced ? int(8.0 * kRate / 256.0) : blocks / 4;
        busyShare();
        const Figures chainIn = figures(timeBlocks(inProcess, 256, chainBlocks, paced));
        const double busyIn = busyShare();
        const Figures chainOut = figures(timeBlocks(bridged, 256, chainBlocks, paced));
        const double busyOut = busyShare();
        std::printf("eight Overdrives at 256 frames: in process %.1f us (99.9th %.1f), each in its own %.1f us "
                    "(99.9th %.1f): %.1f us added a position\n",
                    chainIn.median, chainIn.p999, chainOut.median, chainOut.p999,
                    (chainOut.median - chainIn.median) / 8.0);
        std::printf("the machine's cores busy meanwhile: %.1f %% in process, %.1f %% with the bridges\n",
                    busyIn * 100.0, busyOut * 100.0);
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
