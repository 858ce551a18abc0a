// Filtrace: the chunked re-tuning of the sweep, the mix, the peak of the swept
// band-pass, texts and state handling.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "PluginTestSupport.h"
#include "WahEffect.h"

namespace {

using Effect = WahEffect;
using plugintest::dispatch;
using plugintest::display;

// Both channels filled with noise.
struct Stereo : plugintest::StereoBuffers {
    explicit Stereo(size_t frames)
        : StereoBuffers(plugintest::noise(frames, 1.0f, 21), plugintest::noise(frames, 1.0f, 22)) {}
};

TEST(Filtrace, RecordAndProgramsAsAHostSeesThem) {
    Effect effect(nullptr);
    AEffect* e = effect.getAeffect();
    plugintest::expectEffectRecord(e, 6, 2, 2);
    plugintest::expectEveryProgramNamed(e, "");
}

TEST(Filtrace, NamesLabelsAndDisplaysAtTheDefaults) {
    Effect effect(nullptr);
    const char* names[] = {"Center freq.", "Resonance", "Rate", "Freq. range", "Wet mix", "Gain"};
    const char* labels[] = {"Hz", "%", "Hz", "oct.", "%", "dB"};
    const char* defaults[] = {"560.00", "40.00", "10.80", "0.85", "50.00", "-1.93820"};
    plugintest::expectParameterTexts(effect, names, labels, defaults);
    effect.setParameter(Effect::kGain, 0.0f);
    EXPECT_EQ("  -oo   ", display(effect, Effect::kGain));
    effect.setParameter(Effect::kCentre, 1.0f);
    effect.setParameter(Effect::kRate, 1.0f);
    effect.setParameter(Effect::kRange, 1.0f);
    EXPECT_EQ("2000.00", display(effect, Effect::kCentre));
    EXPECT_EQ("50.00", display(effect, Effect::kRate));
    EXPECT_EQ("1.50", display(effect, Effect::kRange));
    for (VstInt32 i : {-1, 6})
        plugintest::expectNoParameterAt(effect, i);
}

TEST(Filtrace, BlocksRunAsChunksOfFortyFourWithThePhaseAdvancedPerChunk) {
    const float step = (1.0f + 49.0f * 1.0f) / 44100.0f;
    Effect whole(nullptr), split(nullptr), misaligned(nullptr);
    for (Effect* e : {&whole, &split, &misaligned})
        e->setParameter(Effect::kRate, 1.0f);
    Stereo a(100), b(100), c(100);
    a.runInBlocks(whole, {100});
    // Blocks that end where the chunks end give the same samples, bit for bit.
    b.runInBlocks(split, {44, 44, 12});
    EXPECT_EQ(a.out[0], b.out[0]);
    EXPECT_EQ(a.out[1], b.out[1]);
    const float expectedPhase = ((0.0f + 44.0f * step) + 44.0f * step) + 12.0f * step;
    EXPECT_EQ(expectedPhase, whole.getLfoPhase());
    EXPECT_EQ(expectedPhase, split.getLfoPhase());

    // Re-tuning at 50 instead of 44 changes the samples from 44 on, and only those.
    c.runInBlocks(misaligned, {50, 50});
    for (size_t i = 0; i < 44; ++i)
        ASSERT_EQ(a.out[0][i], c.out[0][i]) << i;
    int differing = 0;
    for (size_t i = 44; i < 100; ++i)
        differing += a.out[0][i] != c.out[0][i];
    EXPECT_GT(differing, 40);
}

TEST(Filtrace, CoefficientsAreHeldForAChunk) {
    // An impulse at sample 40 rings through the first chunk's filter up to
    // sample 43: the same filter run alone agrees there, and not after.
    Effect effect(nullptr);
    effect.setParameter(Effect::kRate, 1.0f);
    effect.setParameter(Effect::kWet, 1.0f);
    const BandPassCoefficients first = effect.coefficientsAtCurrentPhase();
    std::vector<float> in(100, 0.0f), out0(100), out1(100);
    in[40] = 1.0f;
    float* ins[2] = {in.data(), in.data()};
    float* outs[2] = {out0.data(), out1.data()};
    effect.processReplacing(ins, outs, 100);
    float state[4] = {};
    const float gain = 4.0f * 0.2f;
    for (size_t i = 0; i < 44; ++i)
        ASSERT_EQ(gain * bandPassStep(first, state, in[i]), out0[i]) << i;
    // From 44 on the filter is re-tuned, so the continued ring differs.
    EXPECT_NE(gain * bandPassStep(first, state, in[44]), out0[44]);
}

TEST(Filtrace, ZeroFramesChangeNothing) {
    Effect effect(nullptr), fresh(nullptr);
    Stereo s(64);
    s.out[0].assign(64, 3.0f);
    s.run(effect, 0, 0);
    EXPECT_EQ(3.0f, s.out[0][0]);
    EXPECT_EQ(0.0f, effect.getLfoPhase());
    float* ins[2] = {s.in[0].data(), s.in[1].data()};
    float* outs[2] = {s.out[0].data(), s.out[1].data()};
    effect.processReplacing(ins, outs, -5);
    EXPECT_EQ(3.0f, s.out[0][0]);
    Stereo after(64), reference(64);
    after.run(effect, 0, 64);
    reference.run(fresh, 0, 64);
    EXPECT_EQ(reference.out[0], after.out[0]);
}

TEST(Filtrace, DryOnlyMixIsTheGainTimesTheInputExactly) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kWet, 0.0f);
    Stereo s(1000);
    s.run(effect, 0, 1000);
    for (int ch = 0; ch < 2; ++ch)
        for (size_t i = 0; i < 1000; ++i)
            ASSERT_EQ(0.8f * s.in[ch][i], s.out[ch][i]);
    effect.setParameter(Effect::kGain, 0.0f);
    s.run(effect, 0, 1000);
    for (size_t i = 0; i < 1000; ++i)
        ASSERT_EQ(0.0f, s.out[0][i]);
}

TEST(Filtrace, SweptBandPeaksWithGainQ) {
    struct Case {
        float centre, range, resonance;
        double expectedHz, q;
    };
    // At phase 0 the sweep is at its top, centre x 2^range.
    const Case cases[] = {
        {0.2f, 0.5f, 0.4f, 560.0 * std::pow(2.0, 0.85), 5.4},
        {1.0f, 1.0f, 1.0f, 2000.0 * std::pow(2.0, 1.5), 12.0},
        {0.0f, 0.0f, 0.0f, 200.0 * std::pow(2.0, 0.2), 1.0},
    };
    for (double rate : {44100.0, 48000.0}) {
        for (const Case& c : cases) {
            Effect effect(nullptr);
            effect.setSampleRate(float(rate));
            effect.setParameter(Effect::kCentre, c.centre);
            effect.setParameter(Effect::kRange, c.range);
            effect.setParameter(Effect::kResonance, c.resonance);
            effect.setParameter(Effect::kRate, 0.0f);  // 1 rad/s: the sweep barely moves
            effect.setParameter(Effect::kWet, 1.0f);
            effect.setParameter(Effect::kGain, 0.25f);  // unity output gain
            EXPECT_NEAR(c.expectedHz, effect.sweptCentreFrequency(), c.expectedHz * 1e-5);
            const double omega = 2.0 * plugintest::kPi * c.expectedHz / rate;
            const size_t frames = 3000;
            std::vector<float> in = plugintest::sine(frames, omega), out(frames), other(frames);
            float* ins[2] = {in.data(), in.data()};
            float* outs[2] = {out.data(), other.data()};
            effect.processReplacing(ins, outs, VstInt32(frames));
            const double gain = plugintest::sineAmplitude(out, omega, 1000, 2000);
            EXPECT_NEAR(plugintest::toDb(c.q), plugintest::toDb(gain), 0.1) << c.expectedHz << " at " << rate;
            EXPECT_EQ(out, other);  // both channels run the same filter

            // An octave away the band-pass is well below its peak.
            Effect offCentre(nullptr);
            offCentre.setSampleRate(float(rate));
            for (VstInt32 i = 0; i < 6; ++i)
                offCentre.setParameter(i, effect.getParameter(i));
            std::vector<float> octaveUp = plugintest::sine(frames, omega * 2.0);
            float* octaveIns[2] = {octaveUp.data(), octaveUp.data()};
            offCentre.processReplacing(octaveIns, outs, VstInt32(frames));
            EXPECT_LT(plugintest::sineAmplitude(out, omega * 2.0, 1000, 2000), 0.6 * c.q);
        }
    }
}

TEST(Filtrace, SuspendAndSampleRateRestartTheSweepProgramChangeKeepsIt) {
    Effect effect(nullptr);
    Stereo s(500), fresh(500), again(500);
    s.run(effect, 0, 500);
    const float phase = effect.getLfoPhase();
    EXPECT_GT(phase, 0.0f);
    AEffect* e = effect.getAeffect();
    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effSetProgram, 0, 2);
    EXPECT_EQ(phase, effect.getLfoPhase());
    EXPECT_EQ(2, effect.getProgram());

    dispatch(e, effMainsChanged, 0, 0);
    EXPECT_EQ(0.0f, effect.getLfoPhase());
    // Filters cleared too: the next block is that of a fresh effect.
    again.run(effect, 0, 500);
    EXPECT_EQ(s.out[0], again.out[0]);
    EXPECT_EQ(s.out[1], again.out[1]);

    effect.setSampleRate(48000.0f);
    EXPECT_EQ(0.0f, effect.getLfoPhase());
}

TEST(Filtrace, SilenceAfterLoudInputDecaysWithoutDenormals) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kResonance, 1.0f);
    effect.setParameter(Effect::kCentre, 0.0f);
    effect.setParameter(Effect::kWet, 1.0f);
    Stereo loud(4096);
    for (int ch = 0; ch < 2; ++ch)
        for (float& x : loud.in[ch])
            x *= 10.0f;
    loud.run(effect, 0, 4096);
    plugintest::StereoBuffers quiet(200000);  // silence
    quiet.run(effect, 0, 200000);
    for (int ch = 0; ch < 2; ++ch)
        for (float y : quiet.out[ch])
            ASSERT_NE(FP_SUBNORMAL, std::fpclassify(y));
    EXPECT_LT(std::fabs(quiet.out[0].back()), 1e-6f);
}

}  // namespace
