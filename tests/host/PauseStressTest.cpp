// The pause protocol under stress: the test driver calls back as fast as it can
// while this thread pauses and resumes processing a hundred thousand times. An
// instrumented effect stage inside the chain proves that no processing ever runs
// while a pause that has returned is in force.
#include <atomic>
#include <cstdio>

#include "HostTestSupport.h"

namespace {

class OverlapProbe : public ChainEffects {
public:
    // Driver thread, inside processBlock.
    void processSlot(EffectSlot*, float* const*, int32_t, int32_t) override {
        inside.store(1, std::memory_order_seq_cst);
        if (paused.load(std::memory_order_seq_cst))
            overlaps.fetch_add(1);
        // A little work, so a late start of processing has time to meet the pause.
        for (int i = 0; i < 50; ++i)
            spin.fetch_add(1, std::memory_order_relaxed);
        if (paused.load(std::memory_order_seq_cst))
            overlaps.fetch_add(1);
        inside.store(0, std::memory_order_seq_cst);
        processed.fetch_add(1, std::memory_order_relaxed);
    }
    void setSampleRate(float) override {}
    void setBlockSize(int32_t) override {}
    void resumeAllSlots() override {}
    void suspendAllSlots() override {}

    std::atomic<int> inside{0};
    std::atomic<int> paused{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> processed{0};
    std::atomic<int> spin{0};
};

}  // namespace

TEST_F(HostTest, NoProcessingOverlapsAReturnedPause) {
    configureDriver([](TestDriverConfig& c) {
        c.intervalMicros = 0;  // back to back
        c.preferredSize = 32;
        c.minSize = 32;
    });
    LiveEngine& engine = openTestDriver();
    OverlapProbe probe;
    engine.attachEffects(&probe);
    settings_.slots[0] = reinterpret_cast<EffectSlot*>(&probe);
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(10));

    const int kCycles = 100000;
    int busyAtPause = 0;
    int processedDuringRun = 0;  // resumed stretches in which the chain ran
    unsigned random = 12345;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        engine.pauseProcessing();
        probe.paused.store(1, std::memory_order_seq_cst);
        if (probe.inside.load(std::memory_order_seq_cst))
            ++busyAtPause;
        // Hold the pause as a change of the chain would, watching for a callback
        // that slipped past the flag.
        for (int i = 0; i < 400; ++i)
            if (probe.inside.load(std::memory_order_seq_cst))
                ++busyAtPause;
        probe.paused.store(0, std::memory_order_seq_cst);
        const int before = probe.processed.load();
        engine.resumeProcessing();
        // Stay resumed for a varying while, up to about one callback period, so the
        // next pause meets the callbacks at every point of their way.
        random = random * 1664525u + 1013904223u;
        const unsigned hold = (random >> 16) % 10000;
        for (unsigned i = 0; i < hold; ++i)
            probe.spin.fetch_add(1, std::memory_order_relaxed);
        if (probe.processed.load() != before)
            ++processedDuringRun;
    }
    const int callbacks = driverState().callbacks;
    engine.stopLiveInput();
    settings_.slots[0] = nullptr;

    EXPECT_EQ(busyAtPause, 0);
    EXPECT_EQ(probe.overlaps.load(), 0);
    EXPECT_GT(processedDuringRun, 1000);
    EXPECT_GT(probe.processed.load(), 1000) << "the chain ran between the pauses";
    std::printf("pause cycles %d, driver callbacks %d, processed blocks %d, resumed stretches that processed %d\n",
                kCycles, callbacks, probe.processed.load(), processedDuringRun);
}
