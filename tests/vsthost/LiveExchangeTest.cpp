// Loading into occupied positions, moving and bypassing while the test driver's
// thread calls back as fast as it can: no callback may ever run a slot that is
// being closed, and processing goes on throughout.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "EffectHost.h"
#include "ErrorFlags.h"
#include "HostTestSupport.h"

namespace {

const std::string kOurPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";
const std::string kTestPlugins = std::string(TALVENOR_BIN_DIR) + "test-plugins\\";

// The slots the positions may hand to the chain: marked alive when loaded and dead
// before they are unloaded.
class SlotRegister {
public:
    void markAlive(EffectSlot* slot) {
        for (auto& cell : cells_) {
            EffectSlot* empty = nullptr;
            if (cell.compare_exchange_strong(empty, slot))
                return;
        }
        ADD_FAILURE() << "more slots than the register holds";
    }
    void markDead(EffectSlot* slot) {
        for (auto& cell : cells_) {
            EffectSlot* expected = slot;
            if (cell.compare_exchange_strong(expected, nullptr))
                return;
        }
    }
    bool alive(EffectSlot* slot) const {
        for (const auto& cell : cells_)
            if (cell.load() == slot)
                return true;
        return false;
    }

private:
    std::atomic<EffectSlot*> cells_[64] = {};
};

// Editor frames for the slots: windows of the UI thread that take the editor sizes
// posted to them as the program's frames do, and count them.
std::atomic<int> g_sizeRequests{0}, g_wrongSizes{0};

LRESULT CALLBACK editorFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kEditorSizeMessage) {
        ++g_sizeRequests;
        int32_t width = 0, height = 0;
        if (auto* slot = reinterpret_cast<EffectSlot*>(GetWindowLongPtrA(window, GWLP_USERDATA)))
            takeAskedEditorSize(*slot, &width, &height);
        g_wrongSizes += wParam != 320 || lParam != 240 || width != 320 || height != 240;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeEditorFrame() {
    static const bool registered = [] {
        WNDCLASSA c{};
        c.lpfnWndProc = editorFrameProc;
        c.hInstance = GetModuleHandleA(nullptr);
        c.lpszClassName = "TalvenorTestEditorFrame";
        return RegisterClassA(&c) != 0;
    }();
    return registered ? CreateWindowA("TalvenorTestEditorFrame", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr)
                      : nullptr;
}

// What is in the queue now: a driver calling back as fast as it can may post anew
// as fast as the messages are taken.
void pumpMessages() {
    MSG m;
    for (int i = 0; i < 200 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++i)
        DispatchMessageA(&m);
}

// Ends the process with a message when the test has not finished in time: a
// deadlock between the UI thread and the driver thread would hang it for good.
class Watchdog {
public:
    explicit Watchdog(int seconds) : thread_([this, seconds] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done_)
            if (std::chrono::steady_clock::now() > end) {
                std::fprintf(stderr, "the exchanges did not finish in %d s: the UI and driver threads deadlocked\n", seconds);
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            } else {
                Sleep(50);
            }
    }) {}
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Between the positions and the real effect host: keeps the register, and gives
// every slot an editor frame when asked to.
struct TrackedSlots : EffectSlots {
    EffectHost& host;
    SlotRegister& live;
    bool withEditorFrames = false;
    TrackedSlots(EffectHost& h, SlotRegister& r) : host(h), live(r) {}
    EffectSlot* loadPlugin(int32_t index, const char* path) override {
        EffectSlot* slot = host.loadPlugin(index, path);
        if (slot)
            live.markAlive(slot);
        if (slot && withEditorFrames) {
            HWND frame = makeEditorFrame();
            SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slot));
            slot->editorFrame = frame;
        }
        return slot;
    }
    void detachSlot(EffectSlot* slot) override { host.detachSlot(slot); }
    bool unloadSlot(EffectSlot* slot) override {
        live.markDead(slot);
        return host.unloadSlot(slot);
    }
    bool setSlotActive(EffectSlot* slot, bool active) override { return host.setSlotActive(slot, active); }
};

// Between the chain and the real effect host: checks every slot it is asked to run.
struct CheckedEffects : ChainEffects {
    EffectHost& host;
    SlotRegister& live;
    std::atomic<int> ran{0}, deadSlots{0};
    CheckedEffects(EffectHost& h, SlotRegister& r) : host(h), live(r) {}
    void processSlot(EffectSlot* slot, float* const* channels, int32_t count, int32_t frames) override {
        if (!live.alive(slot))
            ++deadSlots;
        host.processSlot(slot, channels, count, frames);
        if (!live.alive(slot))
            ++deadSlots;
        ++ran;
    }
    void setSampleRate(float rate) override { host.setSampleRate(rate); }
    void setBlockSize(int32_t size) override { host.setBlockSize(size); }
    void resumeAllSlots() override { host.resumeAllSlots(); }
    void suspendAllSlots() override { host.suspendAllSlots(); }
};

}  // namespace

class LiveExchange : public HostTest {};

TEST_F(LiveExchange, PositionsChangeBetweenCallbacksOnly) {
    configureDriver([](TestDriverConfig& c) {
        c.preferredSize = 128;
        c.intervalMicros = 0;  // as fast as it can
        c.amplitude = 0.5f;
    });
    LiveEngine& engine = openTestDriver();
    EffectHost host;
    SlotRegister live;
    TrackedSlots tracked(host, live);
    CheckedEffects checked(host, live);
    for (const char* name : {"Overdrive", "Filtrace", "Modulane"})
        ASSERT_TRUE(host.addPluginEntry((kOurPlugins + name + ".dll").c_str()));
    settings_.connectPositions(&tracked, &engine);
    engine.attachEffects(&checked);
    for (int p = 0; p < 4; ++p)
        ASSERT_TRUE(settings_.loadIntoPosition(p, p % 3));
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(20));

    const int rounds = 150;
    for (int round = 0; round < rounds; ++round) {
        // The same library twice in the rack on purpose: every instance is its own.
        ASSERT_TRUE(settings_.loadIntoPosition(round % 4, round % 3)) << round;
        settings_.toggleBypass((round + 1) % 4);
        if (round % 2)
            settings_.moveUp(1 + round % 3);
        else
            settings_.moveDown(round % 3);
        if (round % 10 == 0) {
            ASSERT_TRUE(waitForCallbacks(1));
        }
    }
    ASSERT_TRUE(waitForCallbacks(10));
    engine.stopLiveInput();

    EXPECT_EQ(checked.deadSlots.load(), 0);
    EXPECT_GT(checked.ran.load(), rounds);
    EXPECT_EQ(errorFlags() & ~kFlagRestartLiveInput, 0u);
    for (float v : floatsOf(lastBlock(2)))
        ASSERT_TRUE(std::isfinite(v));
    int occupied = 0;
    for (EffectSlot* s = host.slotList(); s; s = s->next)
        ++occupied;
    EXPECT_EQ(occupied, 4);  // every replaced occupant was closed
    engine.attachEffects(nullptr);
    settings_.connectPositions(nullptr, nullptr);
    for (int p = 0; p < 8; ++p)
        settings_.slots[p] = nullptr;
}

// Plug-ins that ask the host for idle calls, a new editor size and their folder from
// their processing, from two folders, while positions are exchanged for many rounds
// under a driver calling back as fast as it can. A replaced slot must never be
// reachable by those requests once it is freed; each instance's folder text stays
// its own for its lifetime; a size asked for on the driver thread is handed to the
// editor frame's UI thread, never applied there (that would wait for the UI thread
// while it waits for the driver thread in a pause).
// The watchdog lives from before SetUp to after TearDown, which stops the driver.
class LiveExchangeWatched : public LiveExchange {
protected:
    Watchdog watchdog_{120};
};

TEST_F(LiveExchangeWatched, PluginsCallingTheHostFromProcessingWhilePositionsChange) {
    configureDriver([](TestDriverConfig& c) {
        c.preferredSize = 128;
        c.intervalMicros = 0;
        c.amplitude = 0.5f;
    });
    const std::string first = kTestPlugins + "TestCallsHostInProcess.dll";
    const std::string folder = kTestPlugins + "second";
    const std::string second = folder + "\\TestCallsHostInProcess.dll";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(first.c_str(), second.c_str(), FALSE));
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 12, "TalvenorTestHostCallCounts");
    ASSERT_NE(mapping, nullptr);
    auto* counts = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(counts, nullptr);
    counts[0] = counts[1] = counts[2] = 0;

    LiveEngine& engine = openTestDriver();
    EffectHost host;
    SlotRegister live;
    TrackedSlots tracked(host, live);
    tracked.withEditorFrames = true;
    CheckedEffects checked(host, live);
    for (const std::string& path : {first, second, kOurPlugins + "Overdrive.dll"})
        ASSERT_TRUE(host.addPluginEntry(path.c_str()));
    settings_.connectPositions(&tracked, &engine);
    engine.attachEffects(&checked);
    for (int p = 0; p < 4; ++p)
        ASSERT_TRUE(settings_.loadIntoPosition(p, p % 3));
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(20));
    const int rounds = 150;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(settings_.loadIntoPosition(round % 4, round % 3)) << round;
        settings_.toggleBypass((round + 1) % 4);
        pumpMessages();
        if (round % 10 == 0) {
            ASSERT_TRUE(waitForCallbacks(1));
        }
    }
    ASSERT_TRUE(waitForCallbacks(10));
    engine.stopLiveInput();
    pumpMessages();
    std::printf("[ exchange ] %ld host requests from processing, %d sizes handed to the UI thread\n", long(counts[0]),
                g_sizeRequests.load());
    EXPECT_EQ(checked.deadSlots.load(), 0);
    EXPECT_GT(counts[0], rounds);
    EXPECT_EQ(counts[1], 0) << "wrong answers to need-idle, size-window or get-directory";
    EXPECT_EQ(counts[2], 0) << "private copies were loaded with the process's DLL search path changed";
    EXPECT_GT(g_sizeRequests.load(), 0);
    EXPECT_EQ(g_wrongSizes.load(), 0);

    // Asked for a thousand times on another thread before the UI thread looks: one
    // message is on its way, and it brings the last size asked for.
    pumpMessages();
    EffectSlot* asking = host.slotList();
    ASSERT_NE(asking, nullptr);
    HWND askingFrame = static_cast<HWND>(asking->editorFrame);
    std::thread([asking] {
        for (int i = 0; i < 1000; ++i)
            asking->events->editorResizeRequested(300 + i, 200);
    }).join();
    int posted = 0;
    MSG m;
    while (PeekMessageA(&m, askingFrame, kEditorSizeMessage, kEditorSizeMessage, PM_REMOVE))
        ++posted;
    EXPECT_EQ(posted, 1) << "an editor size posted for every request";
    int32_t width = 0, height = 0;
    takeAskedEditorSize(*asking, &width, &height);
    EXPECT_EQ(width, 1299);
    EXPECT_EQ(height, 200);
    std::thread([asking] { asking->events->editorResizeRequested(10, 10); }).join();
    EXPECT_TRUE(PeekMessageA(&m, askingFrame, kEditorSizeMessage, kEditorSizeMessage, PM_REMOVE))
        << "a request after the last was taken was not posted";
    EXPECT_EQ(errorFlags() & ~kFlagRestartLiveInput, 0u);
    engine.attachEffects(nullptr);
    settings_.connectPositions(nullptr, nullptr);
    for (int p = 0; p < 8; ++p)
        settings_.slots[p] = nullptr;
    host.unloadAllSlots();
    UnmapViewOfFile(const_cast<LONG*>(counts));
    CloseHandle(mapping);
}
