#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "ChainFixture.h"
#include "ClickSamples.h"

namespace {

std::vector<float> noise(int n, float amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v)
        x = dist(rng);
    return v;
}

std::vector<float> constant(int n, float value) { return std::vector<float>(n, value); }

std::vector<float> concat(std::initializer_list<std::vector<float>> parts) {
    std::vector<float> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The effect stage as the chain sees it: each position's stand-in slot multiplies the
// live signal by its own factor, and every call is logged with what the chain had
// done before it (the input peak already taken).
struct StageLog : ChainEffects {
    int markers[LiveSettings::kPositions] = {};
    const LiveChain* chain = nullptr;
    std::vector<int> order;          // positions run, call by call
    std::vector<float> peakSeen;     // the chain's input peak at the call
    std::vector<float> firstSample;  // the first live sample handed to the call
    int longestCall = 0;

    EffectSlot* slotAt(int p) { return reinterpret_cast<EffectSlot*>(&markers[p]); }
    static float factorOf(int p) { return 1.0f + 0.125f * float(p); }

    void processSlot(EffectSlot* slot, float* const* channels, int32_t count, int32_t frames) override {
        const int p = int(reinterpret_cast<int*>(slot) - markers);
        order.push_back(p);
        peakSeen.push_back(chain->inputPeakLeft());
        firstSample.push_back(channels[0][0]);
        longestCall = std::max(longestCall, int(frames));
        for (int32_t ch = 0; ch < count; ++ch)
            for (int32_t i = 0; i < frames; ++i)
                channels[ch][i] *= factorOf(p);
    }
    void setSampleRate(float) override {}
    void setBlockSize(int32_t) override {}
    void resumeAllSlots() override {}
    void suspendAllSlots() override {}
};

// Keeps the first sample of every block handed to the take.
struct TapLog : ChainRecorder {
    std::vector<float> firstSample;
    bool tapsBeforeAccompaniment() const override { return false; }
    void recordBlock(float* const* channels, int32_t, int32_t, float, float) override {
        firstSample.push_back(channels[0][0]);
    }
};

struct ChainUnderTest {
    LiveSettings settings;
    LiveChain chain{&settings};
    explicit ChainUnderTest(double rate = 48000.0) { chain.prepareForStart(rate); }
};

}  // namespace

TEST(LiveChain, GainLaw) {
    EXPECT_FLOAT_EQ(gainFactor(0.0f), 0.001f);
    EXPECT_EQ(gainFactor(0.75f), 1.0f);
    EXPECT_FLOAT_EQ(gainFactor(1.0f), 10.0f);
}

TEST(LiveChain, FloatFormatsPassBitExactAtDefaultGains) {
    for (int32_t type : {kAsioFloat32LSB, kAsioFloat64LSB}) {
        ChainUnderTest t;
        makeTransparent(t.settings);
        DriverBuffers io(type, 2, 2, 3000);
        io.setInput(0, noise(3000, 1.5f, 1));  // floats are not limited to full scale
        io.setInput(1, noise(3000, 0.5f, 2));
        io.process(t.chain, {256, 1024, 1720});
        for (int ch = 0; ch < 2; ++ch) {
            std::vector<float> in = noise(3000, ch == 0 ? 1.5f : 0.5f, ch + 1);
            std::vector<float> out = io.output(ch);
            for (int i = 0; i < 3000; ++i)
                ASSERT_EQ(out[i], in[i]) << "type " << type << " ch " << ch << " i " << i;
        }
    }
}

TEST(LiveChain, IntegerFormatsDifferByAtMostOneStep) {
    for (int32_t type : {kAsioInt16LSB, kAsioInt24LSB, kAsioInt32LSB24}) {
        ChainUnderTest t;
        makeTransparent(t.settings);
        DriverBuffers io(type, 1, 1, 2048);
        std::vector<uint8_t> bytes(2048 * io.format().blockAlign);
        std::mt19937 rng(7);
        for (auto& b : bytes)
            b = uint8_t(rng());
        io.setInputBytes(0, bytes);
        io.process(t.chain);
        const int bits = io.format().bitsPerSample;
        for (int i = 0; i < 2048; ++i) {
            int32_t a = 0, b = 0;
            std::memcpy(&a, &bytes[i * io.format().blockAlign], bits / 8);
            std::memcpy(&b, &io.outputBytes(0)[i * io.format().blockAlign], bits / 8);
            a = (a << (32 - bits)) >> (32 - bits);
            b = (b << (32 - bits)) >> (32 - bits);
            // One step of truncation, plus the encoder's limit just below full scale.
            const int32_t limit = int32_t(0.99999f * float((1 << (bits - 1)) - 1));
            const int32_t expected = std::max(-limit, std::min(limit, a));
            ASSERT_LE(std::abs(b - expected), 1) << "type " << type << " i " << i;
        }
    }
}

TEST(LiveChain, OneInputReachesBothOutputs) {
    ChainUnderTest t;
    makeTransparent(t.settings);
    t.settings.outgain = 1.0f;  // +20 dB
    DriverBuffers io(kAsioFloat32LSB, 1, 2, 512);
    io.setInput(0, noise(512, 0.05f, 3));
    io.process(t.chain);
    const std::vector<float> in = noise(512, 0.05f, 3);
    for (int ch = 0; ch < 2; ++ch) {
        std::vector<float> out = io.output(ch);
        for (int i = 0; i < 512; ++i)
            ASSERT_FLOAT_EQ(out[i], in[i] * 10.0f);
    }
    EXPECT_EQ(t.chain.inputPeakRight(), t.chain.inputPeakLeft());
    EXPECT_EQ(t.chain.inputPeakLeft(), peakOf(in.data(), 512));
    EXPECT_FLOAT_EQ(t.chain.outputPeakRight(), 10.0f * t.chain.inputPeakLeft());
}

TEST(LiveChain, TwoInputsIntoOneOutputAreSummed) {
    ChainUnderTest t;
    makeTransparent(t.settings);
    t.settings.outgain = 0.0f;  // -60 dB
    DriverBuffers io(kAsioFloat32LSB, 2, 1, 300);
    io.setInput(0, noise(300, 0.9f, 4));
    io.setInput(1, noise(300, 0.9f, 5));
    io.process(t.chain);
    const std::vector<float> a = noise(300, 0.9f, 4), b = noise(300, 0.9f, 5);
    const std::vector<float> out = io.output(0);
    const float factor = gainFactor(0.0f);
    for (int i = 0; i < 300; ++i)
        ASSERT_FLOAT_EQ(out[i], a[i] * factor + b[i] * factor);
    EXPECT_EQ(t.chain.outputPeakLeft(), t.chain.outputPeakRight());
}

// Each of the four meters reads its own channel: one side loud and the other silent,
// then the other way round (the output gain of +20 dB tells outputs from inputs).
TEST(LiveChain, EveryMeterFollowsItsOwnChannel) {
    ChainUnderTest t;
    makeTransparent(t.settings);
    t.settings.outgain = 1.0f;
    for (int loud = 0; loud < 2; ++loud) {
        SCOPED_TRACE(loud == 0 ? "left loud" : "right loud");
        const std::vector<float> signal = noise(512, 0.08f, 30 + loud), silence = constant(512, 0.0f);
        DriverBuffers io(kAsioFloat32LSB, 2, 2, 512);
        io.setInput(loud, signal);
        io.setInput(1 - loud, silence);
        io.process(t.chain);
        float inPeak = 0.0f, outPeak = 0.0f;
        const std::vector<float> out = io.output(loud);
        for (int i = 0; i < 512; ++i) {
            inPeak = std::max(inPeak, std::fabs(signal[i]));
            outPeak = std::max(outPeak, std::fabs(out[i]));
        }
        ASSERT_GT(inPeak, 0.07f);
        EXPECT_NEAR(outPeak, 10.0f * inPeak, 1e-5f);
        for (float v : io.output(1 - loud))
            ASSERT_EQ(v, 0.0f) << "the silent side stays silent";
        const float inputs[2] = {t.chain.inputPeakLeft(), t.chain.inputPeakRight()};
        const float outputs[2] = {t.chain.outputPeakLeft(), t.chain.outputPeakRight()};
        EXPECT_EQ(inputs[loud], inPeak);
        EXPECT_EQ(inputs[1 - loud], 0.0f);
        EXPECT_EQ(outputs[loud], outPeak);
        EXPECT_EQ(outputs[1 - loud], 0.0f);
    }
}

TEST(LiveChain, NoInputsGiveSilenceEvenWithTheMetronome) {
    ChainUnderTest t;
    t.chain.setClick(kClickSamples, sizeof kClickSamples);
    t.settings.metronome = 1;
    DriverBuffers io(kAsioInt24LSB, 0, 2, 4096);
    io.process(t.chain);
    for (int ch = 0; ch < 2; ++ch)
        for (float v : io.output(ch))
            ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(t.chain.inputPeakLeft(), 0.0f);
    EXPECT_EQ(t.chain.inputPeakRight(), 0.0f);
    EXPECT_EQ(t.chain.outputPeakLeft(), 0.0f);
    EXPECT_GT(t.chain.metronome().beatCounter(), 0);  // the click did run
}

TEST(LiveChain, SubBlocksGiveTheSameResultAsOneBuffer) {
    // 2500 frames at once are processed as 1024 + 1024 + 452; the same signal in
    // driver callbacks of other lengths must come out identical.
    const std::vector<float> left = concat({noise(1200, 0.4f, 8), noise(1300, 0.0005f, 9)});
    const std::vector<float> right = concat({constant(700, 0.3f), noise(1800, 0.2f, 10)});
    std::vector<std::vector<float>> results[2];
    const std::vector<std::vector<int>> splits = {{2500}, {1000, 700, 800}, {1, 1023, 1024, 452}};
    for (const auto& pieces : splits) {
        ChainUnderTest t;
        t.chain.setClick(kClickSamples, sizeof kClickSamples);
        t.settings.metronome = 1;
        t.settings.tempo = 20000;
        DriverBuffers io(kAsioFloat32LSB, 2, 2, 2500);
        io.setInput(0, left);
        io.setInput(1, right);
        io.process(t.chain, pieces);
        results[0].push_back(io.output(0));
        results[1].push_back(io.output(1));
    }
    for (int ch = 0; ch < 2; ++ch)
        for (size_t s = 1; s < splits.size(); ++s)
            EXPECT_EQ(results[ch][s], results[ch][0]) << "split " << s << " channel " << ch;
}

TEST(LiveChain, DcFilterRemovesAConstantAndFlushesItsState) {
    ChainUnderTest t;
    makeTransparent(t.settings);
    t.settings.centerAmp = 1;
    DriverBuffers io(kAsioFloat32LSB, 1, 1, 48000);
    io.setInput(0, constant(48000, 0.5f));
    io.process(t.chain);
    const std::vector<float> out = io.output(0);
    EXPECT_GT(out[0], 0.45f);
    EXPECT_LT(std::fabs(out[9600]), 0.02f);  // 200 ms: well past the 10 Hz corner
    EXPECT_LT(std::fabs(out[47999]), 1e-4f);

    // Silence afterwards: the recursion dies away without ever holding a denormal
    // (the inputs flush to exact zero; the output settles at a tiny normal value).
    DriverBuffers quiet(kAsioFloat32LSB, 1, 1, 48000);
    for (int i = 0; i < 20; ++i) {
        quiet.process(t.chain);
        const DcFilterState& s = t.chain.dcFilter().state(0);
        for (float v : {s.x1, s.x2, s.y1, s.y2})
            ASSERT_TRUE(v == 0.0f || std::fabs(v) >= 1.17549435e-38f) << v;
    }
    const DcFilterState& s = t.chain.dcFilter().state(0);
    EXPECT_EQ(s.x1, 0.0f);
    EXPECT_LT(std::fabs(s.y1), 1e-12f);

    // Off: the constant passes unchanged and the state is left alone.
    t.settings.centerAmp = 0;
    DriverBuffers off(kAsioFloat32LSB, 1, 1, 1000);
    off.setInput(0, constant(1000, 0.5f));
    off.process(t.chain);
    for (float v : off.output(0))
        ASSERT_EQ(v, 0.5f);
    EXPECT_EQ(t.chain.dcFilter().state(0).x1, 0.0f);
}

TEST(NoiseGateTest, ClosesAndOpensAlongLinearRampsThatRestart) {
    ChainUnderTest t;
    makeTransparent(t.settings);
    t.settings.gateThresh = 1.0f / 3.0f;   // -42 dB
    t.settings.gateRelease = 19.0f / 99.0f;  // 100 ms: Nr = 4800 at 48 kHz
    t.settings.gateAttack = 0.0f;            // 5 ms: Na = 240
    const int Nr = 4800, Na = 240;
    // Loud, then quiet long enough for part of the closing ramp, loud again, then
    // quiet until fully closed.
    const std::vector<float> in =
        concat({constant(6000, 0.5f), constant(3000, 0.001f), constant(3000, 0.5f), constant(12000, 0.001f)});
    DriverBuffers io(kAsioFloat32LSB, 1, 1, int(in.size()), 48000.0);
    io.setInput(0, in);
    io.process(t.chain);
    const std::vector<float> out = io.output(0);
    std::vector<float> gain(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        gain[i] = out[i] / in[i];

    // First closing ramp: starts inside the first quiet stretch at gain 1.
    size_t close = 6000;
    while (close < 9000 && gain[close] == 1.0f)
        ++close;
    ASSERT_LT(close, 9000u);
    ASSERT_GT(close, 6000u);  // the 50 ms level window keeps it open for a while
    for (size_t k = 0; close + k < 9000 && gain[close + k] > 0.0f && k < 500; ++k)
        ASSERT_NEAR(gain[close + k], 1.0f - float(k + 1) / Nr, 1e-6f) << k;

    // Re-opening during the closing ramp restarts at gain 0 and rises by 1/Na.
    size_t open = 9000;
    while (open < 12000 && gain[open] != 0.0f)
        ++open;
    ASSERT_LT(open, 12000u);
    for (int k = 0; k < Na; ++k)
        ASSERT_NEAR(gain[open + k], float(k) / Na, 1e-6f) << k;
    EXPECT_EQ(gain[open + Na], 1.0f);
    EXPECT_EQ(gain[11999], 1.0f);

    // The final quiet stretch falls to exact zero and stays there.
    size_t last = 12000;
    while (gain[last] == 1.0f)
        ++last;
    for (int k = 0; k < Nr; ++k)
        ASSERT_NEAR(gain[last + k], 1.0f - float(k + 1) / Nr, 1e-5f) << k;
    for (size_t i = last + Nr; i < in.size(); ++i)
        ASSERT_EQ(out[i], 0.0f) << i;
}

TEST(NoiseGateTest, ThresholdKnobSwitchesTheGateOff) {
    for (float knob : {0.00001f, 0.0f}) {
        ChainUnderTest t;
        makeTransparent(t.settings);
        t.settings.gateThresh = knob;
        DriverBuffers io(kAsioFloat32LSB, 1, 1, 20000);
        io.setInput(0, constant(20000, 1e-6f));
        io.process(t.chain);
        for (float v : io.output(0))
            ASSERT_EQ(v, 1e-6f);
        EXPECT_EQ(t.chain.noiseGate().channel(0).sum, 0.0f);  // state untouched
    }
    ChainUnderTest t;
    makeTransparent(t.settings);
    t.settings.gateThresh = 0.00002f;  // about -60 dB: 1e-6 is gated
    DriverBuffers io(kAsioFloat32LSB, 1, 1, 20000);
    io.setInput(0, constant(20000, 1e-6f));
    io.process(t.chain);
    EXPECT_EQ(io.output(0).back(), 0.0f);
}

namespace {

// The gate's threshold for a knob value: -60 dB at 0 to -6 dB at 1.
float thresholdOf(float knob) { return float(std::pow(10.0, (-60.0 * (1.0 - 0.9 * knob)) * 0.05)); }

// Whether v has at most twelve significant bits: a window of 2400 such values (50 ms
// at 48 kHz) then sums without rounding, and its mean is v itself.
bool sumsExactly(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0xfffu) == 0;
}

}  // namespace

// A level exactly at the threshold opens the gate; the next level below it closes
// it. The knob is chosen so that the threshold is a short binary fraction: a constant
// input of that value then gives a level of exactly the threshold.
TEST(NoiseGateTest, ALevelAtTheThresholdOpensAndOneJustBelowCloses) {
    float knob = 1.0f / 3.0f;
    for (int tries = 0; tries < 1000000 && !sumsExactly(thresholdOf(knob)); ++tries)
        knob = std::nextafter(knob, 1.0f);
    const float threshold = thresholdOf(knob);
    ASSERT_TRUE(sumsExactly(threshold)) << knob;
    // One step below at twelve bits: still summed exactly, and smaller.
    int exponent = 0;
    std::frexp(threshold, &exponent);
    const float below = threshold - std::ldexp(1.0f, exponent - 12);
    ASSERT_TRUE(sumsExactly(below));
    ASSERT_LT(below, threshold);

    const int L = 2400, Na = 240, Nr = 4800, frames = 12000;
    for (float level : {threshold, below}) {
        SCOPED_TRACE(level == threshold ? "at the threshold" : "just below it");
        ChainUnderTest t;
        makeTransparent(t.settings);
        t.settings.gateThresh = knob;
        t.settings.gateAttack = 0.0f;            // 5 ms
        t.settings.gateRelease = 19.0f / 99.0f;  // 100 ms
        DriverBuffers io(kAsioFloat32LSB, 1, 1, frames);
        io.setInput(0, constant(frames, level));
        io.process(t.chain);
        const std::vector<float> out = io.output(0);
        // While the window fills the level is below either value: the gate closes.
        EXPECT_LT(out[L - 2], level);
        if (level == threshold) {
            // The window is full at sample L - 1: open from gain 0, fully after Na.
            EXPECT_EQ(out[L - 1], 0.0f);
            for (int i = L - 1 + Na; i < frames; ++i)
                ASSERT_EQ(out[i], level) << i;
        } else {
            for (int i = Nr; i < frames; ++i)
                ASSERT_EQ(out[i], 0.0f) << i;
        }
    }
}

TEST(NoiseGateTest, RestartLeavesNoTraceOfThePreviousRun) {
    const std::vector<float> in = concat({noise(3000, 0.3f, 11), constant(3000, 0.0001f)});
    ChainUnderTest fresh;
    DriverBuffers a(kAsioFloat32LSB, 1, 1, 6000);
    a.setInput(0, in);
    a.process(fresh.chain);

    ChainUnderTest reused;
    DriverBuffers warmup(kAsioFloat32LSB, 1, 1, 7000);
    warmup.setInput(0, noise(7000, 0.8f, 12));
    warmup.process(reused.chain);
    reused.chain.clearDcFilter();            // what a stop does
    reused.chain.prepareForStart(48000.0);   // what the next start does
    DriverBuffers b(kAsioFloat32LSB, 1, 1, 6000);
    b.setInput(0, in);
    b.process(reused.chain);
    EXPECT_EQ(a.output(0), b.output(0));
}

// The effect positions inside processBlock: occupied, not bypassed positions run 0 to
// 7 in order, once per sub-block of at most 1024 frames, on the signal after the input
// gain (here -12 dB) with the input peak already taken, and the take is tapped after
// them.
TEST(LiveChain, TheEffectStageRunsThePositionsInOrderBetweenTheInputGainAndTheTake) {
    ChainUnderTest t;
    makeTransparent(t.settings);
    t.settings.ingain = 0.6f;  // 80 x 0.6 - 60 = -12 dB
    StageLog stage;
    stage.chain = &t.chain;
    TapLog tap;
    t.chain.attachEffects(&stage);
    t.chain.attachRecorder(&tap);
    for (int p : {7, 6, 1, 3, 4, 0})
        t.settings.slots[p] = stage.slotAt(p);
    t.settings.bypass[3] = 1;
    t.settings.bypass[5] = 1;  // bypassed and empty
    const float in = 0.5f;
    DriverBuffers io(kAsioFloat32LSB, 1, 1, 2500);
    io.setInput(0, constant(2500, in));
    io.process(t.chain);

    const std::vector<int> once{0, 1, 4, 6, 7};
    std::vector<int> expected;
    for (int subBlock = 0; subBlock < 3; ++subBlock)  // 1024, 1024, 452
        expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_EQ(stage.order, expected);
    EXPECT_EQ(stage.longestCall, 1024);
    const float gained = in * gainFactor(0.6f);
    EXPECT_NEAR(gainFactor(0.6f), std::pow(10.0f, -12.0f / 20.0f), 1e-6);
    float signal = gained;
    for (size_t call = 0; call < once.size(); ++call) {
        EXPECT_FLOAT_EQ(stage.firstSample[call], signal) << "position " << stage.order[call];
        EXPECT_FLOAT_EQ(stage.peakSeen[call], gained) << "the input peak is taken before the effects";
        signal *= StageLog::factorOf(stage.order[call]);
    }
    ASSERT_EQ(tap.firstSample.size(), 3u);
    EXPECT_FLOAT_EQ(tap.firstSample[0], signal) << "the take holds the effects' output";
    EXPECT_FLOAT_EQ(io.output(0)[2499], signal);
    EXPECT_FLOAT_EQ(t.chain.inputPeakLeft(), gained);

    // The last position is bypassed as any other: the chain no longer calls it.
    EXPECT_EQ(t.settings.slotAt(7), stage.slotAt(7));
    t.settings.toggleBypass(7);
    ASSERT_EQ(t.settings.bypass[7], 1);
    stage.order.clear();
    DriverBuffers bypassed(kAsioFloat32LSB, 1, 1, 512);
    bypassed.setInput(0, constant(512, in));
    bypassed.process(t.chain);
    EXPECT_EQ(stage.order, (std::vector<int>{0, 1, 4, 6}));
    EXPECT_FLOAT_EQ(bypassed.output(0)[511], signal / StageLog::factorOf(7));
    t.chain.attachEffects(nullptr);
    t.chain.attachRecorder(nullptr);
}

// 133 beats a minute at 44100 Hz is 19894.74 samples a beat: floored to 19894
// (rounding would give 19895, and the clicks would drift a sample a beat).
TEST(MetronomeTest, ABeatOfNoWholeNumberOfSamplesIsFloored) {
    ChainUnderTest t(44100.0);
    makeTransparent(t.settings);
    t.chain.setClick(kClickSamples, sizeof kClickSamples);
    t.settings.metronome = 1;
    t.settings.tempo = 13300;
    DriverBuffers io(kAsioFloat32LSB, 1, 1, 60000, 44100.0);
    io.process(t.chain);
    const std::vector<float> out = io.output(0);
    for (int beat : {19894, 39788, 59682}) {
        EXPECT_EQ(out[beat - 1], 0.0f) << beat;  // the click is shorter than a beat
        for (int i = 0; i < 32 && beat + i < 60000; ++i)
            ASSERT_EQ(out[beat + i], kClickSamples[i] / 32768.0f) << beat << "+" << i;
    }
}

TEST(MetronomeTest, ClicksStartEveryBeatAndLastTheirLength) {
    ChainUnderTest t(44100.0);
    makeTransparent(t.settings);
    t.chain.setClick(kClickSamples, sizeof kClickSamples);
    t.settings.metronome = 1;
    t.settings.tempo = 12000;  // 22050 samples per beat at 44100 Hz
    DriverBuffers io(kAsioFloat32LSB, 1, 1, 50000, 44100.0);
    io.process(t.chain, {3000, 3000, 44000});  // callbacks longer than a sub-block
    const std::vector<float> out = io.output(0);
    for (int beat : {0, 22050, 44100}) {
        for (int i = 0; i < kClickSampleCount && beat + i < 50000; ++i)
            ASSERT_EQ(out[beat + i], kClickSamples[i] / 32768.0f) << beat << "+" << i;
    }
    for (int i = kClickSampleCount; i < 22050; ++i)
        ASSERT_EQ(out[i], 0.0f) << i;
}

// A tempo raised between two sub-blocks keeps the beat counter: the next click comes
// when the counter reaches the new beat's length, counted from the last click; a
// counter already past it starts a beat with the next sample.
TEST(MetronomeTest, ARaisedTempoCountsTheBeatAlreadyUnderWay) {
    const int oldBeat = 22050;                        // 120 bpm at 44100 Hz
    const int newBeat = int(44100.0 * 6000 / 18000);  // 180 bpm: 14700 samples
    for (int raisedAt : {10000, 16000}) {
        SCOPED_TRACE(raisedAt);
        ChainUnderTest t(44100.0);
        makeTransparent(t.settings);
        t.chain.setClick(kClickSamples, sizeof kClickSamples);
        t.settings.metronome = 1;
        t.settings.tempo = 12000;
        const int frames = 50000;
        DriverBuffers io(kAsioFloat32LSB, 1, 1, frames, 44100.0);
        io.process(t.chain, {raisedAt});
        ASSERT_EQ(t.chain.metronome().beatCounter(), raisedAt);
        t.settings.tempo = 18000;
        DriverBuffers rest(kAsioFloat32LSB, 1, 1, frames - raisedAt, 44100.0);
        rest.process(t.chain);
        std::vector<float> out = io.output(0);
        const std::vector<float> after = rest.output(0);
        std::copy(after.begin(), after.end(), out.begin() + raisedAt);

        const int next = raisedAt < newBeat ? newBeat : raisedAt;
        ASSERT_LT(next, oldBeat);
        for (int i = kClickSampleCount; i < next; ++i)
            ASSERT_EQ(out[i], 0.0f) << "no click before " << next << ", at " << i;
        for (int beat : {next, next + newBeat}) {
            for (int i = 0; i < 32; ++i)
                ASSERT_EQ(out[beat + i], kClickSamples[i] / 32768.0f) << beat << "+" << i;
            for (int i = beat + kClickSampleCount; i < beat + newBeat && i < frames; ++i)
                ASSERT_EQ(out[i], 0.0f) << i;
        }
    }
}

TEST(MetronomeTest, ShortBeatsCutTheClickAndPausingContinuesThePattern) {
    ChainUnderTest t(8000.0);
    makeTransparent(t.settings);
    t.chain.setClick(kClickSamples, sizeof kClickSamples);
    t.settings.metronome = 1;
    t.settings.tempo = 20000;  // 2400 samples per beat at 8000 Hz
    DriverBuffers first(kAsioFloat32LSB, 1, 1, 3000, 8000.0);
    first.process(t.chain);
    std::vector<float> out = first.output(0);
    EXPECT_EQ(out[2399], kClickSamples[2399] / 32768.0f);
    EXPECT_EQ(out[2400], kClickSamples[0] / 32768.0f);
    EXPECT_EQ(out[2999], kClickSamples[599] / 32768.0f);

    t.settings.metronome = 0;  // switched off: nothing added, nothing advances
    DriverBuffers silent(kAsioFloat32LSB, 1, 1, 1000, 8000.0);
    silent.process(t.chain);
    for (float v : silent.output(0))
        ASSERT_EQ(v, 0.0f);
    t.settings.metronome = 1;
    DriverBuffers resumed(kAsioFloat32LSB, 1, 1, 10, 8000.0);
    resumed.process(t.chain);
    EXPECT_EQ(resumed.output(0)[0], kClickSamples[600] / 32768.0f);
}

TEST(MetronomeTest, SilentWithoutAClickOrBeforeTheFirstStart) {
    LiveSettings settings;
    LiveChain chain(&settings);
    settings.metronome = 1;
    chain.setClick(kClickSamples, sizeof kClickSamples);
    DriverBuffers io(kAsioFloat32LSB, 1, 1, 100);
    io.process(chain);  // never reset: no click position yet
    EXPECT_EQ(io.output(0)[0], 0.0f);
    chain.setClick(nullptr, 0);
    chain.prepareForStart(48000.0);
    io.process(chain);
    EXPECT_EQ(io.output(0)[0], 0.0f);
}

TEST(TempoEntry, TrackbarAndTextConversions) {
    EXPECT_EQ(tempoFromTrackbar(0), 6000);
    EXPECT_EQ(tempoFromTrackbar(1000), 20000);
    EXPECT_EQ(tempoFromTrackbar(428), 11992);
    EXPECT_EQ(trackbarFromTempo(12000), 428);
    EXPECT_EQ(trackbarFromTempo(20000), 1000);
    char text[16];
    tempoToText(12000, text, sizeof text);
    EXPECT_STREQ(text, "120.0");
    EXPECT_EQ(tempoFromText("250"), 20000);
    EXPECT_EQ(tempoFromText("abc"), 6000);
    EXPECT_EQ(tempoFromText("120.5"), 12050);
    EXPECT_EQ(tempoFromText("  75"), 7500);
    EXPECT_EQ(tempoFromText("1e300"), 20000);
    EXPECT_EQ(tempoFromText("nan"), 6000);
    EXPECT_EQ(tempoFromText("-90"), 6000);
}

TEST(DcFilterFlush, FastPathMatchesTheDoublePrecisionFormula) {
    // The filter skips the double round trip for values it cannot change; check that
    // claim on every exponent, around the 2^-46 boundary and on random mantissas.
    std::mt19937 rng(21);
    auto check = [](float v) {
        const float expected = flushTinyReference(v);
        DcFilter filter;
        float x[1] = {v};
        float* channels[1] = {x};
        filter.process(channels, 1, 1, 48000.0);
        ASSERT_EQ(std::memcmp(&filter.state(0).x1, &expected, sizeof expected), 0) << v;
    };
    for (int e = -149; e <= 127; ++e)
        for (float m : {1.0f, 1.5f, 1.9999999f}) {
            check(std::ldexp(m, e));
            check(-std::ldexp(m, e));
        }
    for (int i = 0; i < 20000; ++i) {
        uint32_t bits = uint32_t(rng());
        float v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isnan(v))
            check(v);
    }
    EXPECT_EQ(flushTinyReference(1e-22f), 0.0f);
    EXPECT_EQ(flushTinyReference(0.25f), 0.25f);
}

#if defined(__SSE2__) || defined(__x86_64__)
#include <xmmintrin.h>

namespace {
// Reads the floating-point mode from inside the chain, where the recorder is called.
struct ModeProbe : ChainRecorder {
    unsigned seen = 0;
    bool tapsBeforeAccompaniment() const override { return false; }
    void recordBlock(float* const*, int32_t, int32_t, float, float) override { seen = _mm_getcsr(); }
};
}  // namespace

TEST(LiveChain, ProcessesWithDenormalsFlushedAndRestoresTheMode) {
    ChainUnderTest t;
    ModeProbe probe;
    t.chain.attachRecorder(&probe);
    const unsigned before = _mm_getcsr();
    ASSERT_EQ(before & 0x8040u, 0u);
    DriverBuffers io(kAsioFloat32LSB, 1, 1, 64);
    io.process(t.chain);
    EXPECT_EQ(probe.seen & 0x8040u, 0x8040u);
    EXPECT_EQ(_mm_getcsr(), before);
}
#endif

TEST(LiveChain, PeaksAreTheLargestMagnitudeAndPassOverNaN) {
    std::vector<float> v = {0.1f, -0.7f, 0.3f, std::nanf(""), 0.2f, -0.1f, 0.65f};
    EXPECT_EQ(peakOf(v.data(), int32_t(v.size())), 0.7f);
    for (size_t at = 0; at < 9; ++at) {  // the largest in every lane and in the tail
        std::vector<float> w(9, 0.25f);
        w[at] = -0.9f;
        EXPECT_EQ(peakOf(w.data(), 9), 0.9f) << at;
    }
    EXPECT_EQ(peakOf(v.data(), 0), 0.0f);
}
