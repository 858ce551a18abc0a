#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChainStages.h"
#include "EffectSlot.h"
#include "LiveSettings.h"

namespace {

// Records what the positions ask of the effect host and of the driver host, in one
// log, so the order of loading, pausing and unloading is visible.
struct Recorder : EffectSlots, ProcessingControl {
    std::vector<std::string> log;
    std::vector<EffectSlot> slots = std::vector<EffectSlot>(16);
    int loaded = 0;
    bool paused = false;
    bool failNextLoad = false;

    std::string name(EffectSlot* s) { return s ? std::to_string(s - slots.data()) : "null"; }
    EffectSlot* loadPlugin(int32_t index, const char* path) override {
        log.push_back("load " + std::to_string(index) + (path ? std::string(" ") + path : "") +
                      (paused ? " (paused!)" : ""));
        if (failNextLoad) {
            failNextLoad = false;
            return nullptr;
        }
        EffectSlot* s = &slots[loaded++];
        s->suspended = 0;
        return s;
    }
    void detachSlot(EffectSlot* slot) override {
        log.push_back("detach " + name(slot) + (paused ? " (paused)" : " (running!)"));
    }
    bool unloadSlot(EffectSlot* slot) override {
        log.push_back("unload " + name(slot) + (paused ? " (paused)" : " (running)"));
        return true;
    }
    bool setSlotActive(EffectSlot* slot, bool active) override {
        slot->suspended = active ? 0 : 1;
        log.push_back("active " + name(slot) + (active ? " 1" : " 0"));
        return true;
    }
    void pauseProcessing() override {
        paused = true;
        log.push_back("pause");
    }
    void resumeProcessing() override {
        paused = false;
        log.push_back("resume");
    }
};

struct Positions : ::testing::Test {
    Recorder host;
    LiveSettings settings;
    void SetUp() override { settings.connectPositions(&host, &host); }
};

}  // namespace

TEST_F(Positions, LoadingOpensFirstAndExchangesWhilePaused) {
    ASSERT_TRUE(settings.loadIntoPosition(2, 5));
    ASSERT_TRUE(settings.loadIntoPosition(2, 6));
    // The previous occupant leaves the host's list inside the pause and is closed
    // after it.
    EXPECT_EQ(host.log, (std::vector<std::string>{"load 5", "active 0 1", "pause", "resume", "load 6", "active 1 1",
                                                  "pause", "detach 0 (paused)", "resume", "unload 0 (running)"}));
    EXPECT_EQ(settings.slotAt(2), &host.slots[1]);
}

TEST_F(Positions, FailedLoadsAndBadPositionsChangeNothing) {
    ASSERT_TRUE(settings.loadIntoPosition(0, 1));
    host.failNextLoad = true;
    host.log.clear();
    EXPECT_FALSE(settings.loadIntoPosition(0, 9));
    EXPECT_EQ(settings.slotAt(0), &host.slots[0]);
    EXPECT_EQ(host.log, std::vector<std::string>{"load 9"});
    EXPECT_FALSE(settings.loadIntoPosition(8, 1));
    EXPECT_FALSE(settings.loadIntoPosition(-1, 1));
    EXPECT_TRUE(settings.unloadPosition(8));
    settings.toggleBypass(9);
    EXPECT_EQ(host.log.size(), 1u);
    EXPECT_EQ(settings.slotAt(-3), settings.slots[0]);
    EXPECT_EQ(settings.slotAt(12), settings.slots[7]);
}

// The last position loads, bypasses, moves and empties as the others do, and the
// effect host hears of each change as for any position.
TEST_F(Positions, TheLastPositionWorksAsTheOthers) {
    ASSERT_TRUE(settings.loadIntoPosition(7, 4));
    EXPECT_EQ(settings.slotAt(7), &host.slots[0]);
    EXPECT_EQ(settings.slots[6], nullptr);
    settings.toggleBypass(7);
    EXPECT_EQ(settings.bypass[7], 1);
    EXPECT_EQ(host.slots[0].suspended, 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"load 4", "active 0 1", "pause", "resume", "pause", "resume",
                                                  "active 0 0"}));
    settings.moveUp(7);
    EXPECT_EQ(settings.slots[6], &host.slots[0]);
    EXPECT_EQ(settings.bypass[6], 1);
    EXPECT_EQ(settings.slots[7], nullptr);
    EXPECT_EQ(settings.bypass[7], 0);
    settings.moveDown(6);
    EXPECT_EQ(settings.slotAt(7), &host.slots[0]);
    EXPECT_EQ(settings.bypass[7], 1);
    host.log.clear();
    EXPECT_TRUE(settings.unloadPosition(7));
    EXPECT_EQ(settings.slots[7], nullptr);
    EXPECT_EQ(host.log, (std::vector<std::string>{"pause", "detach 0 (paused)", "resume", "unload 0 (running)"}));
}

TEST_F(Positions, MovesKeepBypassBytesWithTheirPlugins) {
    settings.loadIntoPosition(0, 0);
    settings.loadIntoPosition(1, 1);
    settings.toggleBypass(1);
    EffectSlot* a = settings.slots[0];
    EffectSlot* b = settings.slots[1];
    settings.moveUp(1);
    EXPECT_EQ(settings.slots[0], b);
    EXPECT_EQ(settings.bypass[0], 1);
    EXPECT_EQ(settings.slots[1], a);
    EXPECT_EQ(settings.bypass[1], 0);
    settings.moveDown(0);
    EXPECT_EQ(settings.slots[1], b);
    EXPECT_EQ(settings.bypass[1], 1);

    host.log.clear();
    settings.moveUp(0);    // already first
    settings.moveDown(7);  // already last
    EXPECT_TRUE(host.log.empty());
    EXPECT_EQ(settings.slots[0], a);
}

TEST_F(Positions, BypassOnAnEmptyPositionAppliesToWhatIsLoadedLater) {
    settings.toggleBypass(4);
    EXPECT_EQ(settings.bypass[4], 1);
    ASSERT_TRUE(settings.loadIntoPosition(4, 3));
    EXPECT_EQ(settings.slots[4]->suspended, 1);  // switched off before it became visible
    EXPECT_EQ(settings.bypass[4], 1);
    settings.toggleBypass(4);
    EXPECT_EQ(settings.slots[4]->suspended, 0);
    // Switched on before the flag changes, switched off after it.
    host.log.clear();
    settings.toggleBypass(4);
    settings.toggleBypass(4);
    EXPECT_EQ(host.log, (std::vector<std::string>{"pause", "resume", "active 0 0", "active 0 1", "pause", "resume"}));
}

TEST_F(Positions, UnloadingClearsThePositionButNotItsBypass) {
    settings.loadIntoPosition(3, 0);
    settings.toggleBypass(3);
    host.log.clear();
    EXPECT_TRUE(settings.unloadPosition(3));
    EXPECT_EQ(settings.slots[3], nullptr);
    EXPECT_EQ(settings.bypass[3], 1);
    EXPECT_EQ(host.log, (std::vector<std::string>{"pause", "detach 0 (paused)", "resume", "unload 0 (running)"}));
}
