// Loading into occupied positions, moving and bypassing while the test driver's
// thread calls back as fast as it can: no callback may ever run a slot that is
// being closed, and processing goes on throughout.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "EffectHost.h"
#include "ErrorFlags.h"
#include "HostTestSupport.h"

namespace {

const std::string kOurPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";

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

// Between the positions and the real effect host: keeps the register.
struct TrackedSlots : EffectSlots {
    EffectHost& host;
    SlotRegister& live;
    TrackedSlots(EffectHost& h, SlotRegister& r) : host(h), live(r) {}
    EffectSlot* loadPlugin(int32_t index, const char* path) override {
        EffectSlot* slot = host.loadPlugin(index, path);
        if (slot)
            live.markAlive(slot);
        return slot;
    }
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
