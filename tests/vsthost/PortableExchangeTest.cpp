// The pause protocol and the exchange of effect positions with standard threads, so
// that the sanitizers see them (natively under AddressSanitizer, and ThreadSanitizer
// in the native-tsan build): a driver thread runs the chain as fast as it can, a
// plug-in's own thread asks the host about its slot all the time, and the UI thread
// loads into occupied positions, moves, bypasses and empties them for many rounds.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LiveChain.h"
#include "ProcessingGate.h"
#include "SampleFormat.h"
#include "SlotList.h"

namespace {

// The tests' wakeup for the exchange below: the UI thread's wait yields once and the
// gate looks again.
class YieldingWakeup : public PauseWakeup {
public:
    void wake() override {}
    void wait() override { std::this_thread::yield(); }
};

// A wakeup whose wait blocks until a wake, counting both: the pause's real wait.
class BlockingWakeup : public PauseWakeup {
public:
    std::atomic<int> waits{0}, wakes{0};

    void wake() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
        ++wakes;
        changed_.notify_one();
    }
    void wait() override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waits;
        changed_.wait(lock, [this] { return woken_; });
        woken_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
};

// A wakeup that logs its calls; its wait runs what the driver thread does meanwhile
// (the end of the block in progress), so one thread can play both sides in order.
class ScriptedWakeup : public PauseWakeup {
public:
    std::vector<std::string> log;
    std::function<void()> duringWait;

    void wake() override { log.push_back("wake"); }
    void wait() override {
        log.push_back("wait");
        if (duringWait) {
            auto step = duringWait;
            duringWait = nullptr;
            step();
        }
    }
};

struct GateControl : ProcessingControl {
    ProcessingGate& gate;
    explicit GateControl(ProcessingGate& g) : gate(g) {}
    void pauseProcessing() override { gate.pause(); }
    void resumeProcessing() override { gate.resume(); }
};

// A stand-in effect host with the real slot list: slots of its own, freed as the
// effect host frees them, and a processing that asks the host for its own slot, as a
// plug-in calling need-idle or get-directory from its processing does.
struct ListedEffects : EffectSlots, ChainEffects {
    SlotList list;
    std::atomic<int> processed{0}, lostSlots{0};

    EffectSlot* loadPlugin(int32_t, const char*) override {
        auto* slot = new EffectSlot;
        // A stand-in instance: only its address is used, as the list's key.
        slot->plugin = reinterpret_cast<ThreadCheckedPlugin*>(slot);
        slot->parameterCount = 1;  // the "plug-in's" gain is read while processing
        list.append(slot);
        return slot;
    }
    void detachSlot(EffectSlot* slot) override { list.remove(slot); }
    bool unloadSlot(EffectSlot* slot) override {
        list.remove(slot);
        list.waitForLookups();
        delete slot;
        return true;
    }
    bool setSlotActive(EffectSlot* slot, bool active) override {
        slot->suspended = active ? 0 : 1;
        return true;
    }
    void processSlot(EffectSlot* slot, float* const* channels, int32_t count, int32_t frames) override {
        const SlotList::Lookup lookup(list);
        if (lookup.find(slot->plugin) != slot)
            ++lostSlots;
        for (int32_t ch = 0; ch < count; ++ch)
            for (int32_t i = 0; i < frames; ++i)
                channels[ch][i] *= float(slot->parameterCount);
        ++processed;
    }
    void setSampleRate(float) override {}
    void setBlockSize(int32_t) override {}
    void resumeAllSlots() override {}
    void suspendAllSlots() override {}
};

}  // namespace

TEST(PortableExchange, PositionsChangeUnderAFastDriverThreadAndAPluginsOwnThread) {
    YieldingWakeup wakeup;
    ProcessingGate gate(wakeup);
    GateControl control(gate);
    LiveSettings settings;
    ListedEffects effects;
    LiveChain chain(&settings);
    chain.prepareForStart(48000.0);
    chain.attachEffects(&effects);
    settings.connectPositions(&effects, &control);
    for (int p = 0; p < 4; ++p)
        ASSERT_TRUE(settings.loadIntoPosition(p, 0));

    std::atomic<bool> quit{false};
    std::atomic<long> callbacks{0}, ran{0}, lookups{0};
    std::thread driver([&] {
        FormatRecord format{};
        formatFromSampleType(kAsioFloat32LSB, format, 48000.0);
        std::vector<uint8_t> in(128 * 4), out(128 * 4);
        while (!quit.load()) {
            if (gate.enter()) {
                ChannelBuffer ins[2] = {{format, 0, in.data()}, {}};
                ChannelBuffer outs[2] = {{format, 0, out.data()}, {}};
                chain.processBlock(ins, outs, 128);
                ++ran;
            }
            gate.leave();
            ++callbacks;
        }
    });
    std::thread plugin([&] {
        while (!quit.load()) {
            const SlotList::Lookup lookup(effects.list);
            // Reached through the list while the lookup lives: not freed before it ends.
            if (EffectSlot* first = effects.list.first())
                lookups += lookup.find(first->plugin) == first;
        }
    });

    const int rounds = 2000;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(settings.loadIntoPosition(round % 4, 0));
        settings.toggleBypass((round + 1) % 4);
        if (round % 2)
            settings.moveUp(1 + round % 3);
        else
            settings.moveDown(round % 3);
        // Processing goes on between the exchanges, however busy the machine.
        if (round % 50 == 0) {
            const long before = ran.load();
            while (ran.load() == before)
                std::this_thread::yield();
        }
        if (round % 7 == 0) {
            settings.unloadPosition(4 + round % 3);
        } else if (round % 5 == 0) {
            ASSERT_TRUE(settings.loadIntoPosition(4 + round % 3, 0));
        }
    }
    const long before = callbacks.load();
    while (callbacks.load() < before + 100 || lookups.load() == 0)
        std::this_thread::yield();
    quit = true;
    driver.join();
    plugin.join();

    EXPECT_GE(ran.load(), rounds / 50);
    EXPECT_GT(effects.processed.load(), 0);
    EXPECT_EQ(effects.lostSlots.load(), 0) << "a slot in a position was missing from the list";
    EXPECT_GT(lookups.load(), 0);
    int listed = 0;
    for (EffectSlot* s = effects.list.first(); s; s = s->next)
        ++listed;
    int occupied = 0;
    for (EffectSlot* s : settings.slots)
        occupied += s != nullptr;
    EXPECT_EQ(listed, occupied) << "every replaced or emptied occupant was freed";
    for (int p = 0; p < LiveSettings::kPositions; ++p)
        settings.unloadPosition(p);
    EXPECT_EQ(effects.list.first(), nullptr);
}

// The pause protocol step by step: blocks make no call at all while no pause waits
// (the driver thread's callbacks stay free of system calls); a pause with no block in
// progress returns without waiting; a pause during a block waits and that block's
// leave wakes it; no block processes from the pause's return to the resume.
TEST(PortableExchange, BlocksCallNothingUnlessAPauseWaitsForThem) {
    ScriptedWakeup wakeup;
    ProcessingGate gate(wakeup);
    using Log = std::vector<std::string>;

    for (int block = 0; block < 100; ++block) {
        EXPECT_TRUE(gate.enter());
        gate.leave();
    }
    EXPECT_EQ(wakeup.log, Log{}) << "blocks with no pause waiting touch the wakeup";

    gate.pause();
    EXPECT_EQ(wakeup.log, Log{}) << "a pause between blocks waited";
    EXPECT_FALSE(gate.enter()) << "paused: no block processes";
    gate.leave();
    EXPECT_EQ(wakeup.log, Log{}) << "a block after the pause returned woke nobody";
    gate.resume();

    // A pause during a block waits; the block's leave wakes it, and it returns.
    ASSERT_TRUE(gate.enter());
    wakeup.duringWait = [&] { gate.leave(); };
    gate.pause();
    EXPECT_EQ(wakeup.log, (Log{"wait", "wake"}));
    EXPECT_FALSE(gate.enter()) << "a block processed after a pause had returned";
    gate.leave();
    gate.resume();

    // A wait that returns without its wake (one left over from before) is waited again.
    wakeup.log.clear();
    ASSERT_TRUE(gate.enter());
    wakeup.duringWait = [&] { wakeup.duringWait = [&] { gate.leave(); }; };
    gate.pause();
    EXPECT_EQ(wakeup.log, (Log{"wait", "wait", "wake"}));
    gate.resume();
    EXPECT_TRUE(gate.enter());
    gate.leave();
    EXPECT_EQ(wakeup.log, (Log{"wait", "wait", "wake"})) << "a block after the resume woke a pause again";
}

// The same with two threads and a wait that really blocks: in every other round the
// pause lands in a block that lasts until the pause waits, so it can return only by
// that block's wake; in the others it lands wherever the driver thread is.
TEST(PortableExchange, APauseAlwaysReturnsAndNoBlockProcessesUntilTheResume) {
    BlockingWakeup wakeup;
    ProcessingGate gate(wakeup);
    std::atomic<bool> quit{false}, paused{false}, holdRequest{false};
    std::atomic<int> inBlock{0}, holding{0}, overlaps{0};
    std::atomic<long> ran{0};
    std::thread driver([&] {
        while (!quit.load()) {
            if (gate.enter()) {
                inBlock = 1;
                overlaps += paused.load() ? 1 : 0;
                if (holdRequest.exchange(false)) {
                    const int waitsBefore = wakeup.waits.load();
                    holding = 1;
                    while (wakeup.waits.load() == waitsBefore)
                        std::this_thread::yield();
                    holding = 0;
                }
                ++ran;
                inBlock = 0;
            }
            gate.leave();
        }
    });

    const int rounds = 400;
    int held = 0;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2) {
            holdRequest = true;
            while (holding.load() == 0)
                std::this_thread::yield();
            ++held;
        } else {
            const long before = ran.load();
            while (ran.load() == before)
                std::this_thread::yield();
        }
        gate.pause();
        EXPECT_EQ(inBlock.load(), 0) << "a pause returned during a block, round " << round;
        paused = true;
        for (int i = 0; i < 20; ++i)
            std::this_thread::yield();
        paused = false;
        gate.resume();
    }
    quit = true;
    driver.join();

    EXPECT_EQ(overlaps.load(), 0) << "blocks processed between a pause and its resume";
    EXPECT_GE(wakeup.wakes.load(), held) << "a pause that waited was not woken by its block";
    EXPECT_GE(ran.load(), long(rounds));
}
