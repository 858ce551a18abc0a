// The pause protocol and the exchange of effect positions with standard threads, so
// that the sanitizers see them (natively under AddressSanitizer, and ThreadSanitizer
// in the native-tsan build): a driver thread runs the chain as fast as it can, a
// plug-in's own thread asks the host about its slot all the time, and the UI thread
// loads into occupied positions, moves, bypasses and empties them for many rounds.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "LiveChain.h"
#include "ProcessingGate.h"
#include "SampleFormat.h"
#include "SlotList.h"

namespace {

// The tests' idle signal: an atomic the UI thread waits on by yielding.
class YieldingIdle : public IdleSignal {
public:
    void reset() override { idle_.store(false, std::memory_order_seq_cst); }
    void set() override { idle_.store(true, std::memory_order_seq_cst); }
    void wait() override {
        while (!idle_.load(std::memory_order_seq_cst))
            std::this_thread::yield();
    }

private:
    std::atomic<bool> idle_{true};
};

// An idle signal that logs every call with what a block starting at that moment
// would be told (the gate's flag, read by entering it from inside the call), and can
// let a pause run at the very start of the next reset, before the reset takes effect:
// the closest a pause on the UI thread can come to a block that is starting.
class RecordingIdle : public IdleSignal {
public:
    ProcessingGate* gate = nullptr;
    std::vector<std::string> log;
    bool pauseAtNextReset = false;
    bool idle = true;

    void reset() override {
        if (probing_)
            return;
        note("reset");
        if (pauseAtNextReset) {
            pauseAtNextReset = false;
            gate->pause();
        }
        idle = false;
    }
    void set() override {
        if (probing_)
            return;
        note("set");
        idle = true;
    }
    // Returns at once: a busy signal here is a wait that would last until leave.
    void wait() override {
        if (probing_)
            return;
        note(idle ? "wait, idle" : "wait, busy");
    }

private:
    void note(const char* call) {
        probing_ = true;
        const bool processing = gate->enter();
        probing_ = false;
        log.push_back(std::string(call) + (processing ? ", on" : ", off"));
    }
    bool probing_ = false;
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
    YieldingIdle idle;
    ProcessingGate gate(idle);
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

// The order inside the pause protocol, step by step: pause clears the flag before it
// waits, so a block starting during its wait does not process; enter resets the
// signal before it reads the flag, so a pause that slips in between finds the signal
// still set only if the block then sees the flag cleared.
TEST(PortableExchange, PauseClearsTheFlagBeforeItWaitsAndEnterResetsBeforeItReads) {
    RecordingIdle idle;
    ProcessingGate gate(idle);
    idle.gate = &gate;
    using Log = std::vector<std::string>;

    EXPECT_TRUE(gate.enter());
    gate.leave();
    EXPECT_EQ(idle.log, (Log{"reset, on", "set, on"}));

    idle.log.clear();
    gate.pause();
    EXPECT_EQ(idle.log, (Log{"wait, idle, off"})) << "the flag is cleared before the wait";
    idle.log.clear();
    EXPECT_FALSE(gate.enter()) << "paused: no block processes";
    gate.leave();
    EXPECT_EQ(idle.log, (Log{"reset, off", "set, off"}));
    gate.resume();

    // A pause at the start of a block's reset returns at once (the signal is still
    // set): the block must then see the flag cleared.
    idle.log.clear();
    idle.pauseAtNextReset = true;
    EXPECT_FALSE(gate.enter()) << "a block processed after a pause had returned";
    gate.leave();
    EXPECT_EQ(idle.log, (Log{"reset, on", "wait, idle, off", "set, off"}));
    gate.resume();

    // A pause during a block waits for its leave.
    idle.log.clear();
    ASSERT_TRUE(gate.enter());
    gate.pause();
    gate.leave();
    EXPECT_EQ(idle.log, (Log{"reset, on", "wait, busy, off", "set, off"}));
    gate.resume();
    EXPECT_TRUE(gate.enter());
    gate.leave();
}
