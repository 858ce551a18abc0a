// Live input on the test driver: what the engine asks the driver for, what the
// callbacks hand the chain, and how untrusted driver answers are met.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "ErrorFlags.h"
#include "HostTestSupport.h"

namespace {

// The effect stage as the engine drives it: records its life cycle and counts the
// processed sub-blocks.
class RecordingEffects : public ChainEffects {
public:
    void processSlot(EffectSlot*, float* const*, int32_t, int32_t) override { ++processed; }
    void setSampleRate(float rate) override { calls.push_back("rate " + std::to_string(int(rate))); }
    void setBlockSize(int32_t size) override { calls.push_back("block " + std::to_string(size)); }
    void resumeAllSlots() override { calls.push_back("resume"); }
    void suspendAllSlots() override { calls.push_back("suspend"); }

    std::vector<std::string> calls;
    std::atomic<int> processed{0};
};

bool allBytesAre(const std::vector<uint8_t>& bytes, uint8_t value) {
    for (uint8_t b : bytes)
        if (b != value)
            return false;
    return !bytes.empty();
}

int32_t int16At(const std::vector<uint8_t>& bytes, size_t i) {
    int16_t v;
    std::memcpy(&v, &bytes[i * 2], 2);
    return v;
}

}  // namespace

TEST_F(HostTest, StartingAndStoppingFollowTheDriversLifeCycle) {
    LiveEngine& engine = makeEngine();
    EXPECT_FALSE(engine.startLiveInput()) << "no driver open";
    EXPECT_FALSE(engine.stopLiveInput());
    openTestDriver();

    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_TRUE(engine.running());
    TestDriverState state = driverState();
    EXPECT_EQ(state.createBuffersCalls, 1);
    EXPECT_EQ(state.createdSize, 256);
    ASSERT_EQ(state.createdCount, 4);
    const long expected[4][2] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};  // inputs first
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(state.createdInfos[i].isInput, expected[i][0]) << i;
        EXPECT_EQ(state.createdInfos[i].channelNum, expected[i][1]) << i;
    }
    EXPECT_EQ(state.channelInfoCalls, 4);
    EXPECT_EQ(state.startCalls, 1);

    EXPECT_TRUE(engine.startLiveInput()) << "already running";
    EXPECT_EQ(driverState().createBuffersCalls, 1);
    ASSERT_TRUE(waitForCallbacks(5));

    const DriverFigures figures = engine.driverFigures();
    EXPECT_EQ(figures.sampleRate, 44100.0);
    EXPECT_EQ(figures.preferredSize, 256);
    EXPECT_EQ(figures.minSize, 32);
    EXPECT_EQ(figures.maxSize, 4096);
    EXPECT_EQ(figures.inputLatency, 256);
    EXPECT_EQ(figures.outputLatency, 512);
    EXPECT_EQ(figures.usedInputs, 2);
    EXPECT_EQ(figures.usedOutputs, 2);

    EXPECT_TRUE(engine.stopLiveInput());
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(engine.cpuLoad(), 0);
    state = driverState();
    EXPECT_EQ(state.stopCalls, 1);
    EXPECT_EQ(state.disposeBuffersCalls, 1);
    EXPECT_EQ(state.streaming, 0);
    EXPECT_FALSE(engine.stopLiveInput()) << "nothing left to stop";

    // The same driver starts again.
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_TRUE(waitForCallbacks(2));
    EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(HostTest, EightInputsAndOutputsUseChannelsZeroAndOne) {
    configureDriver([](TestDriverConfig& c) {
        c.inputChannels = 8;
        c.outputChannels = 8;
    });
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(4));
    engine.stopLiveInput();

    const TestDriverState state = driverState();
    ASSERT_EQ(state.createdCount, 4);
    EXPECT_EQ(state.createdInfos[1].channelNum, 1);
    EXPECT_EQ(state.createdInfos[3].channelNum, 1);
    EXPECT_EQ(engine.driverFigures().inputChannels, 8);
    EXPECT_EQ(engine.driverFigures().usedOutputs, 2);
    // The chain is transparent: each output is its own input, sample for sample.
    const std::vector<float> in0 = floatsOf(lastBlock(0)), in1 = floatsOf(lastBlock(1));
    ASSERT_EQ(in0.size(), 256u);
    EXPECT_NE(in0, in1);
    EXPECT_EQ(floatsOf(lastBlock(2)), in0);
    EXPECT_EQ(floatsOf(lastBlock(3)), in1);
}

TEST_F(HostTest, AMonoInputIsHeardOnBothOutputs) {
    configureDriver([](TestDriverConfig& c) {
        c.inputChannels = 1;
        c.outputChannels = 2;
    });
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(4));
    engine.stopLiveInput();

    ASSERT_EQ(driverState().createdCount, 3);
    const std::vector<float> in = floatsOf(lastBlock(0));
    ASSERT_EQ(in.size(), 256u);
    EXPECT_GT(engine.inputPeakLeft(), 0.4f);
    EXPECT_EQ(engine.inputPeakRight(), engine.inputPeakLeft());
    EXPECT_EQ(floatsOf(lastBlock(1)), in);
    EXPECT_EQ(floatsOf(lastBlock(2)), in);
}

TEST_F(HostTest, IntegerFormatsPassWithinOneStep) {
    configureDriver([](TestDriverConfig& c) {
        c.inputType = 16;  // 16-bit little-endian
        c.outputType = 16;
    });
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(4));
    engine.stopLiveInput();
    const std::vector<uint8_t> in = lastBlock(0), out = lastBlock(2);
    ASSERT_EQ(in.size(), 512u);
    ASSERT_EQ(out.size(), 512u);
    int32_t largest = 0;
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_LE(std::abs(int16At(in, i) - int16At(out, i)), 1) << i;
        largest = std::max(largest, int32_t(std::abs(int16At(out, i))));
    }
    EXPECT_GT(largest, 10000) << "the signal arrived";
}

TEST_F(HostTest, UnusableRatesAreReplacedBy44100) {
    for (double rate : {0.0, 192000.0, -1.0, double(NAN)}) {
        SCOPED_TRACE(rate);
        TestDriver_reset();
        TestDriverConfig c = driverConfig();
        c.sampleRate = rate;
        TestDriver_configure(&c);
        LiveEngine& engine = makeEngine();
        openTestDriver();
        ASSERT_TRUE(engine.startLiveInput());
        EXPECT_EQ(driverState().setSampleRateCalls, 1);
        EXPECT_EQ(driverState().lastSetRate, 44100.0);
        EXPECT_EQ(engine.driverFigures().sampleRate, 44100.0);
        EXPECT_EQ(engine.chain().sampleRate(), 44100.0);
        engine_.reset();
    }
}

TEST_F(HostTest, TheRateTheDriverSettlesOnIsUsed) {
    configureDriver([](TestDriverConfig& c) {
        c.sampleRate = 0.0;
        c.rateAfterSet = 48000.0;
    });
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_EQ(engine.driverFigures().sampleRate, 48000.0);
    EXPECT_EQ(engine.chain().sampleRate(), 48000.0);
    EXPECT_EQ(engine.chain().noiseGate().channel(0).length, 2400) << "50 ms gate window at 48 kHz";
    engine.stopLiveInput();

    // A usable rate is left alone; a rate the driver cannot leave fails the start.
    configureDriver([](TestDriverConfig& c) { c.sampleRate = 96000.0; });
    engine.closeDriver();
    openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_EQ(driverState().setSampleRateCalls, 1);
    EXPECT_EQ(engine.driverFigures().sampleRate, 96000.0);
    engine.closeDriver();

    configureDriver([](TestDriverConfig& c) {
        c.sampleRate = 0.0;
        c.failMask = slotBit(kSlotSetSampleRate);
    });
    openTestDriver();
    EXPECT_FALSE(engine.startLiveInput());
    configureDriver([](TestDriverConfig& c) {
        c.failMask = 0;
        c.rateAfterSet = -5.0;  // the driver "sets" a rate that is none
    });
    EXPECT_FALSE(engine.startLiveInput());
    EXPECT_EQ(driverState().createBuffersCalls, 2) << "only the two good starts made buffers";
}

TEST_F(HostTest, AnUnsupportedSampleTypeRaisesTheFlagOnceAndLeavesOutputsAlone) {
    for (bool onInputs : {true, false}) {
        SCOPED_TRACE(onInputs ? "inputs" : "outputs");
        TestDriver_reset();
        clearErrorFlag(~0u);
        configureDriver(onInputs ? +[](TestDriverConfig& c) { c.inputType = 26; }
                                 : +[](TestDriverConfig& c) { c.outputType = 26; });
        makeEngine();
        LiveEngine& engine = openTestDriver();
        ASSERT_TRUE(engine.startLiveInput());
        ASSERT_TRUE(waitForCallbacks(3));
        EXPECT_TRUE(takeErrorFlag(kFlagUnsupportedFormat));
        ASSERT_TRUE(waitForCallbacks(3));
        EXPECT_FALSE(takeErrorFlag(kFlagUnsupportedFormat)) << "raised once only";
        engine.stopLiveInput();
        EXPECT_TRUE(allBytesAre(lastBlock(2), 0xA5)) << "output 0 untouched";
        EXPECT_TRUE(allBytesAre(lastBlock(3), 0xA5)) << "output 1 untouched";

        // The next start forgets the latch and reports the format again.
        ASSERT_TRUE(engine.startLiveInput());
        ASSERT_TRUE(waitForCallbacks(2));
        EXPECT_TRUE(takeErrorFlag(kFlagUnsupportedFormat));
        engine_.reset();
    }
}

TEST_F(HostTest, OutputReadyIsCalledOnlyWhenTheDriverSupportsIt) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_TRUE(engine.driverFigures().outputReadySupported);
    ASSERT_TRUE(waitForCallbacks(4));
    engine.stopLiveInput();
    TestDriverState state = driverState();
    EXPECT_EQ(state.outputReadyCalls, state.callbacks + 1) << "the probe, then once per callback";

    TestDriver_reset();
    configureDriver([](TestDriverConfig& c) { c.failMask = slotBit(kSlotOutputReady); });
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_FALSE(engine.driverFigures().outputReadySupported);
    ASSERT_TRUE(waitForCallbacks(4));
    engine.stopLiveInput();
    EXPECT_EQ(driverState().outputReadyCalls, 1) << "the probe only";
}

TEST_F(HostTest, BufferSwitchAsksForThePositionAndTimeInfoDoesNot) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(4));
    engine.stopLiveInput();
    TestDriverState state = driverState();
    EXPECT_GE(state.samplePositionCalls, 4);
    EXPECT_EQ(state.samplePositionCalls, state.callbacks);

    // A failing position query does not stop the buffer from being processed.
    TestDriver_reset();
    configureDriver([](TestDriverConfig& c) { c.failMask = slotBit(kSlotGetSamplePosition); });
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(3));
    engine.stopLiveInput();
    EXPECT_EQ(floatsOf(lastBlock(2)), floatsOf(lastBlock(0)));

    TestDriver_reset();
    configureDriver([](TestDriverConfig& c) { c.useTimeInfo = 1; });
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(3));
    engine.stopLiveInput();
    EXPECT_EQ(driverState().samplePositionCalls, 0);
    EXPECT_EQ(floatsOf(lastBlock(2)), floatsOf(lastBlock(0)));
}

TEST_F(HostTest, ASetupCallThatFailsStopsTheStartQuietly) {
    LiveEngine& engine = openTestDriver();
    for (uint32_t slot : {kSlotGetChannels, kSlotGetBufferSize, kSlotGetSampleRate}) {
        SCOPED_TRACE(slot);
        TestDriverConfig c = driverConfig();
        c.failMask = slotBit(slot);
        TestDriver_configure(&c);
        EXPECT_FALSE(engine.startLiveInput());
        EXPECT_FALSE(engine.running());
    }
    // Buffer sizes the driver contradicts itself on.
    configureDriver([](TestDriverConfig& c) {
        c.failMask = 0;
        c.preferredSize = 0;
    });
    EXPECT_FALSE(engine.startLiveInput());
    configureDriver([](TestDriverConfig& c) {
        c.preferredSize = 512;
        c.maxSize = 256;
    });
    EXPECT_FALSE(engine.startLiveInput());
    EXPECT_EQ(driverState().createBuffersCalls, 0);
    EXPECT_TRUE(boxes_->boxes().empty()) << "the caller reports these";
}

TEST_F(HostTest, FailuresAfterCreatingBuffersShowTheDriverErrorAndDisposeOfThem) {
    LiveEngine& engine = openTestDriver();
    RecordingEffects effects;
    engine.attachEffects(&effects);
    struct Case {
        uint32_t slot;
        int disposed;
    } cases[] = {{kSlotCreateBuffers, 0}, {kSlotGetChannelInfo, 1}, {kSlotGetLatencies, 1}, {kSlotStart, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.slot);
        TestDriver_reset();
        boxes_->clear();
        TestDriverConfig c = driverConfig();
        c.failMask = slotBit(k.slot);
        std::snprintf(c.errorText, sizeof c.errorText, "failure in slot %u", k.slot);
        TestDriver_configure(&c);
        EXPECT_FALSE(engine.startLiveInput());
        EXPECT_FALSE(engine.running());
        EXPECT_EQ(driverState().disposeBuffersCalls, k.disposed);
        ASSERT_EQ(boxes_->count(), 1u);
        EXPECT_EQ(boxes_->boxes()[0].caption, "ASIO Error");
        EXPECT_EQ(boxes_->boxes()[0].text, "failure in slot " + std::to_string(k.slot));
    }
    // Only the failed start() had resumed the plug-ins, and it suspended them again.
    EXPECT_EQ(effects.calls, (std::vector<std::string>{"rate 44100", "block 256", "resume", "suspend"}));
}

TEST_F(HostTest, ANullBufferFromTheDriverRefusesTheStart) {
    configureDriver([](TestDriverConfig& c) {
        c.nullBufferAfterCreate = 1;
        c.errorText[0] = '\0';
    });
    LiveEngine& engine = openTestDriver();
    EXPECT_FALSE(engine.startLiveInput());
    EXPECT_EQ(driverState().disposeBuffersCalls, 1);
    EXPECT_EQ(driverState().startCalls, 0);
    EXPECT_TRUE(boxes_->boxes().empty()) << "the driver has no text; the caller shows its own";
}

TEST_F(HostTest, ChannelCountsFromTheDriverAreClamped) {
    configureDriver([](TestDriverConfig& c) {
        c.inputChannels = -3;
        c.outputChannels = 1 << 30;
    });
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    const TestDriverState state = driverState();
    ASSERT_EQ(state.createdCount, 2);
    EXPECT_EQ(state.createdInfos[0].isInput, 0);
    EXPECT_EQ(state.createdInfos[1].channelNum, 1);
    EXPECT_EQ(engine.driverFigures().inputChannels, 0);
    EXPECT_EQ(engine.driverFigures().usedInputs, 0);
    ASSERT_TRUE(waitForCallbacks(3));
    engine.stopLiveInput();
    // No input: silence on both outputs.
    EXPECT_EQ(floatsOf(lastBlock(0)), std::vector<float>(256, 0.0f));
    EXPECT_EQ(floatsOf(lastBlock(1)), std::vector<float>(256, 0.0f));
}

TEST_F(HostTest, TheEffectStageFollowsStartAndStop) {
    LiveEngine& engine = openTestDriver();
    RecordingEffects effects;
    engine.attachEffects(&effects);
    EffectSlot* occupant = reinterpret_cast<EffectSlot*>(&effects);  // any non-null position
    settings_.slots[3] = occupant;

    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_EQ(effects.calls, (std::vector<std::string>{"rate 44100", "block 256", "resume"}));
    ASSERT_TRUE(waitForCallbacks(3));
    EXPECT_GE(effects.processed.load(), 2);
    engine.stopLiveInput();
    EXPECT_EQ(effects.calls.back(), "suspend");
    EXPECT_EQ(effects.calls.size(), 4u);
    settings_.slots[3] = nullptr;
}

TEST_F(HostTest, PausedProcessingLeavesTheBuffersAlone) {
    LiveEngine& engine = makeEngine();
    RecordingEffects effects;
    engine.attachEffects(&effects);
    settings_.slots[0] = reinterpret_cast<EffectSlot*>(&effects);

    engine.pauseProcessing();  // stopped: returns at once
    engine.resumeProcessing();
    openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(3));

    engine.pauseProcessing();
    const int before = effects.processed.load();
    ASSERT_TRUE(waitForCallbacks(3));
    EXPECT_EQ(effects.processed.load(), before) << "nothing processed while paused";
    EXPECT_TRUE(allBytesAre(lastBlock(2), 0xA5));

    engine.resumeProcessing();
    ASSERT_TRUE(waitForCallbacks(3));
    EXPECT_GT(effects.processed.load(), before);
    engine.stopLiveInput();
    EXPECT_EQ(floatsOf(lastBlock(2)), floatsOf(lastBlock(0)));
    settings_.slots[0] = nullptr;
}

namespace {

// A counter that advances by the same step at every read: the processing (two reads
// in one callback) takes one step and the period between callback starts two, so
// the load is exactly one half.
std::atomic<uint64_t> g_fakeTime{1};
bool steppingCounter(uint64_t* value) {
    *value = g_fakeTime.fetch_add(7);
    return true;
}
bool missingCounter(uint64_t*) { return false; }

}  // namespace

TEST_F(HostTest, TheCpuLoadIsTheShareOfThePeriodSpentProcessing) {
    LiveEngine& engine = makeEngine(steppingCounter);
    openTestDriver();
    EXPECT_EQ(engine.cpuLoad(), 0);
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(4));
    EXPECT_EQ(engine.cpuLoad(), 500);
    engine.stopLiveInput();
    EXPECT_EQ(engine.cpuLoad(), 0);
}

TEST_F(HostTest, WithoutAPerformanceCounterTheLoadStaysUnmeasured) {
    LiveEngine& engine = makeEngine(missingCounter);
    EXPECT_EQ(engine.cpuLoad(), -100);
    openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(3));
    EXPECT_EQ(engine.cpuLoad(), -100);
    engine.stopLiveInput();
    EXPECT_EQ(engine.cpuLoad(), -100);
    EXPECT_EQ(floatsOf(lastBlock(2)), floatsOf(lastBlock(0))) << "processing goes on unmeasured";
}

TEST_F(HostTest, TheRealCounterGivesALoadWithinRange) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(3));
    // A callback preempted on a busy machine may read as a full load now and then.
    int16_t lowest = 1000;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(waitForCallbacks(1));
        const int16_t load = engine.cpuLoad();
        EXPECT_GE(load, 0);
        EXPECT_LE(load, 1000);
        lowest = std::min(lowest, load);
    }
    EXPECT_LT(lowest, 1000) << "a 256-frame buffer every millisecond or so is far from a full load";
    engine.stopLiveInput();
}

// What the rig's --seconds counts from: the buffers that went through the chain since
// the start, not the callbacks a pause kept out of it.
TEST_F(HostTest, ProcessedBlocksCountFromEachStart) {
    LiveEngine& engine = openTestDriver();
    EXPECT_EQ(engine.processedBlocks(), 0u);
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(5));
    EXPECT_GE(engine.processedBlocks(), 4u);
    engine.pauseProcessing();
    const uint32_t paused = engine.processedBlocks();
    ASSERT_TRUE(waitForCallbacks(3));
    EXPECT_EQ(engine.processedBlocks(), paused) << "callbacks during a pause process nothing";
    engine.resumeProcessing();
    ASSERT_TRUE(waitForCallbacks(3));
    EXPECT_GT(engine.processedBlocks(), paused);
    engine.stopLiveInput();
    const uint32_t total = engine.processedBlocks();
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_LT(engine.processedBlocks(), total) << "counted again from the start";
    engine.stopLiveInput();
}

TEST_F(HostTest, ANewRateFromTheDriverReachesTheChain) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    TestDriver_announceRate(48000.0);
    EXPECT_EQ(engine.chain().sampleRate(), 48000.0);
    EXPECT_EQ(engine.driverFigures().sampleRate, 48000.0);
    EXPECT_EQ(engine.chain().noiseGate().channel(0).length, 2205) << "the gate keeps the window set at start";
    // Finite but absurd rates would overflow the counts derived from them; the
    // bounds themselves are believed.
    for (double bad : {0.0, -44100.0, double(NAN), double(INFINITY), 5e9, 768000.5, 999.9}) {
        TestDriver_announceRate(bad);
        EXPECT_EQ(engine.chain().sampleRate(), 48000.0) << bad;
    }
    TestDriver_announceRate(768000.0);
    EXPECT_EQ(engine.chain().sampleRate(), 768000.0);
    TestDriver_announceRate(1000.0);
    EXPECT_EQ(engine.chain().sampleRate(), 1000.0);
    engine.stopLiveInput();

    // Reported after the request for 44100 Hz: the start fails.
    configureDriver([](TestDriverConfig& c) {
        c.sampleRate = 0.0;
        c.rateAfterSet = 5e9;
    });
    engine.closeDriver();
    openTestDriver();
    EXPECT_FALSE(engine.startLiveInput());
    EXPECT_EQ(engine.chain().sampleRate(), 1000.0) << "nothing of the absurd rate reached the chain";
}

TEST_F(HostTest, TheMeterWindowsShowWhileLiveInputRuns) {
    HWND input = CreateWindowA("STATIC", "in", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND output = CreateWindowA("STATIC", "out", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    LiveEngine& engine = makeEngine();
    engine.setMeterWindows(input, output);
    openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_TRUE(IsWindowVisible(input));
    EXPECT_TRUE(IsWindowVisible(output));
    engine.stopLiveInput();
    EXPECT_FALSE(IsWindowVisible(input));
    EXPECT_FALSE(IsWindowVisible(output));
    engine_.reset();
    DestroyWindow(input);
    DestroyWindow(output);
}
