// Modulane: identity at the default program, complementary tremolo gains, the
// level swing's range, the phase wrap, and the fast oscillators against the
// direct formula over long runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "PluginTestSupport.h"
#include "VibratoTremoloEffect.h"

namespace {

using Effect = VibratoTremoloEffect;
using Stereo = plugintest::StereoBuffers;
using plugintest::dispatch;
using plugintest::display;

// The algorithm written out directly, with the library's sin, cos and pow, one
// channel after the other from the same starting phases.
void referenceBlock(float sampleRate, float tremoloDepth, float tremoloRate, float vibratoDepth,
                    float vibratoRate, float& phaseT, float& phaseV, const float* const* in, float* const* out,
                    size_t frames) {
    const float isr = 1.0f / sampleRate;
    const float stepT = isr * tremoloRate * 43.982296f;
    const float stepV = isr * vibratoRate * 43.982296f;
    const float startT = phaseT, startV = phaseV;
    for (int ch = 0; ch < 2; ++ch) {
        phaseT = startT;
        phaseV = startV;
        for (size_t i = 0; i < frames; ++i) {
            const float t = ch == 0 ? std::sin(phaseT) : std::cos(phaseT);
            const float a = 1.0f - tremoloDepth * (t * t);
            phaseT += stepT;
            if (phaseT > 6.2831850f)
                phaseT = 0.0f;
            const float b = std::pow(10.0f, vibratoDepth * std::cos(phaseV));
            phaseV += stepV;
            if (phaseV > 6.2831850f)
                phaseV = 0.0f;
            out[ch][i] = b * in[ch][i] * a;
        }
    }
}

TEST(Modulane, RecordAndProgramsAsAHostSeesThem) {
    Effect effect(nullptr);
    AEffect* e = effect.getAeffect();
    plugintest::expectEffectRecord(e, 4, 2, 2);
    EXPECT_EQ(1, e->version);
    plugintest::expectEveryProgramNamed(e, "default");
}

TEST(Modulane, NamesLabelsAndDisplays) {
    Effect effect(nullptr);
    const char* names[] = {"Tremelo", "Trem. rate", "Vibrato", "Vib. rate"};
    const char* labels[] = {"%", "Hz", "dB", "Hz"};
    const char* defaults[] = {"0.00", "1.40", "0.00", "1.40"};
    plugintest::expectParameterTexts(effect, names, labels, defaults);
    effect.setParameter(Effect::kVibratoDepth, 1.0f);
    effect.setParameter(Effect::kTremoloDepth, 1.0f);
    effect.setParameter(Effect::kTremoloRate, 1.0f);
    EXPECT_EQ("20.00", display(effect, Effect::kVibratoDepth));
    EXPECT_EQ("100.00", display(effect, Effect::kTremoloDepth));
    EXPECT_EQ("7.00", display(effect, Effect::kTremoloRate));
    for (VstInt32 i : {-1, 4, 100}) {
        plugintest::expectNoParameterAt(effect, i);
        effect.setParameter(i, 0.5f);
    }
}

TEST(Modulane, ParametersBelongToTheCurrentProgramAndStayInRange) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kTremoloDepth, 0.6f);
    effect.setProgram(3);
    EXPECT_EQ(0.0f, effect.getParameter(Effect::kTremoloDepth));
    effect.setParameter(Effect::kVibratoRate, 7.5f);
    EXPECT_EQ(1.0f, effect.getParameter(Effect::kVibratoRate));
    effect.setParameter(Effect::kVibratoRate, -2.0f);
    EXPECT_EQ(0.0f, effect.getParameter(Effect::kVibratoRate));
    effect.setParameter(Effect::kVibratoRate, NAN);
    EXPECT_EQ(0.0f, effect.getParameter(Effect::kVibratoRate));
    effect.setProgram(0);
    EXPECT_EQ(0.6f, effect.getParameter(Effect::kTremoloDepth));
    effect.setProgram(16);
    effect.setProgram(-1);
    EXPECT_EQ(0, effect.getProgram());
}

TEST(Modulane, DefaultProgramPassesTheSignalUnchanged) {
    Effect effect(nullptr);
    effect.setSampleRate(48000.0f);
    const size_t frames = 20000;
    Stereo s(frames);
    s.in[0] = plugintest::noise(frames, 1.0f, 1);
    s.in[1] = plugintest::noise(frames, 3.0f, 2);
    ASSERT_EQ(frames, s.runInBlocks(effect, {1, 255, 256, 1024, 7, 18457}));
    for (int ch = 0; ch < 2; ++ch)
        for (size_t i = 0; i < frames; ++i)
            ASSERT_EQ(s.in[ch][i], s.out[ch][i]) << ch << " " << i;
}

TEST(Modulane, FullTremoloSplitsTheSignalIntoCosineAndSineSquared) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kTremoloDepth, 1.0f);
    effect.setParameter(Effect::kTremoloRate, 0.9f);
    const size_t frames = 30000;  // more than one oscillator cycle, so the wrap is included
    Stereo s(frames);
    s.in[0] = plugintest::noise(frames, 1.0f, 5);
    s.in[1] = s.in[0];
    s.run(effect, 0, frames);

    float phase = 0.0f;
    const float step = (1.0f / 44100.0f) * 0.9f * 43.982296f;
    int silent0 = 0, silent1 = 0;
    for (size_t i = 0; i < frames; ++i) {
        const float x = s.in[0][i];
        const double c = std::cos(double(phase)), sn = std::sin(double(phase));
        // Channel 0 keeps cos^2 of the phase, channel 1 sin^2: together the input.
        EXPECT_NEAR(x * c * c, s.out[0][i], 1e-6) << i;
        EXPECT_NEAR(x * sn * sn, s.out[1][i], 1e-6) << i;
        ASSERT_NEAR(x, s.out[0][i] + s.out[1][i], 1e-6 * (1 + std::fabs(x))) << i;
        // Dips: channel 0 at pi/2 and 3 pi/2, channel 1 at 0 and pi.
        if (std::fabs(c) < 1e-3) {
            ++silent0;
            EXPECT_LT(std::fabs(s.out[0][i]), 2e-6f) << i;
        }
        if (std::fabs(sn) < 1e-3) {
            ++silent1;
            EXPECT_LT(std::fabs(s.out[1][i]), 2e-6f) << i;
        }
        phase += step;
        if (phase > 6.2831850f)
            phase = 0.0f;
    }
    EXPECT_GT(silent0, 0);
    EXPECT_GT(silent1, 0);
}

TEST(Modulane, LevelSwingReachesATenthAndTenfold) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kVibratoDepth, 1.0f);
    effect.setParameter(Effect::kVibratoRate, 1.0f);
    const size_t frames = 7000;  // one 7 Hz cycle is 6300 samples
    Stereo s(frames);
    s.in[0].assign(frames, 0.5f);
    s.in[1].assign(frames, -0.25f);
    s.run(effect, 0, frames);
    double lowest = 1e9, highest = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double gain0 = s.out[0][i] / 0.5;
        EXPECT_FLOAT_EQ(float(gain0), s.out[1][i] / -0.25f) << i;  // the same swing on both channels
        lowest = std::fmin(lowest, gain0);
        highest = std::fmax(highest, gain0);
    }
    EXPECT_NEAR(10.0, highest, 1e-5);
    EXPECT_NEAR(0.1, lowest, 1e-6);
}

TEST(Modulane, RateZeroHoldsThePhase) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kTremoloDepth, 1.0f);
    effect.setParameter(Effect::kTremoloRate, 0.0f);
    const size_t frames = 1000;
    Stereo s(frames);
    s.in[0] = plugintest::noise(frames, 1.0f, 8);
    s.in[1] = plugintest::noise(frames, 1.0f, 9);
    s.run(effect, 0, frames);
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(s.in[0][i], s.out[0][i]);  // sin 0 = 0: no dip
        ASSERT_EQ(0.0f, s.out[1][i]);        // cos 0 = 1: full dip
    }
    EXPECT_EQ(0.0f, effect.getTremoloPhase());
}

TEST(Modulane, PhaseRestartsAtExactlyZeroPastTwoPi) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kTremoloRate, 1.0f);
    effect.setParameter(Effect::kVibratoRate, 0.37f);
    const float stepT = (1.0f / 44100.0f) * 1.0f * 43.982296f;
    Stereo s(1);
    int wraps = 0;
    float previous = 0.0f;
    for (int i = 0; i < 20000; ++i) {
        s.run(effect, 0, 1);
        const float phase = effect.getTremoloPhase();
        if (phase < previous) {
            ++wraps;
            EXPECT_EQ(0.0f, phase);  // not previous + step - 2 pi
            EXPECT_GT(previous + stepT, 6.2831850f);
        } else {
            EXPECT_EQ(previous + stepT, phase);
        }
        previous = phase;
    }
    EXPECT_EQ(3, wraps);  // 20000 steps of about 1/1003 of a cycle
}

TEST(Modulane, SuspendProgramChangeAndSampleRateRestartThePhases) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kTremoloRate, 1.0f);
    effect.setParameter(Effect::kVibratoRate, 1.0f);
    Stereo s(100);
    s.run(effect, 0, 100);
    EXPECT_GT(effect.getTremoloPhase(), 0.0f);
    AEffect* e = effect.getAeffect();
    dispatch(e, effMainsChanged, 0, 1);
    EXPECT_GT(effect.getTremoloPhase(), 0.0f);  // switching on keeps them
    dispatch(e, effMainsChanged, 0, 0);
    EXPECT_EQ(0.0f, effect.getTremoloPhase());
    EXPECT_EQ(0.0f, effect.getVibratoPhase());

    s.run(effect, 0, 100);
    effect.setSampleRate(96000.0f);
    EXPECT_EQ(0.0f, effect.getTremoloPhase());
    s.run(effect, 0, 100);
    dispatch(e, effSetProgram, 0, 0);
    EXPECT_EQ(0.0f, effect.getVibratoPhase());
}

TEST(Modulane, MatchesTheDirectFormulaOverLongRunsWithWraps) {
    struct Setting {
        float tremoloDepth, tremoloRate, vibratoDepth, vibratoRate, sampleRate;
    };
    const Setting settings[] = {
        {1.0f, 1.0f, 1.0f, 1.0f, 48000.0f},
        {0.5f, 0.2f, 0.3f, 0.9f, 44100.0f},
        {1.0f, 0.73f, 1.0f, 0.11f, 22050.0f},
        // A stage at zero depth is left out of the work; its oscillator still runs.
        {0.0f, 0.4f, 0.7f, 0.5f, 48000.0f},
        {0.6f, 0.3f, 0.0f, 0.2f, 44100.0f},
        {0.0f, 0.9f, 0.0f, 0.6f, 48000.0f},
    };
    for (const Setting& set : settings) {
        Effect effect(nullptr);
        effect.setSampleRate(set.sampleRate);
        effect.setParameter(Effect::kTremoloDepth, set.tremoloDepth);
        effect.setParameter(Effect::kTremoloRate, set.tremoloRate);
        effect.setParameter(Effect::kVibratoDepth, set.vibratoDepth);
        effect.setParameter(Effect::kVibratoRate, set.vibratoRate);
        const size_t frames = size_t(set.sampleRate) * 10;  // many cycles, so many wraps
        Stereo s(frames);
        s.in[0] = plugintest::noise(frames, 1.0f, 11);
        s.in[1] = plugintest::noise(frames, 1.0f, 12);
        std::vector<float> expected[2] = {std::vector<float>(frames), std::vector<float>(frames)};
        float phaseT = 0.0f, phaseV = 0.0f;
        size_t pos = 0;
        while (pos < frames) {
            const size_t block = std::min<size_t>(frames - pos, 256 + pos % 97);
            s.run(effect, pos, block);
            const float* ins[2] = {s.in[0].data() + pos, s.in[1].data() + pos};
            float* outs[2] = {expected[0].data() + pos, expected[1].data() + pos};
            referenceBlock(set.sampleRate, set.tremoloDepth, set.tremoloRate, set.vibratoDepth,
                           set.vibratoRate, phaseT, phaseV, ins, outs, block);
            pos += block;
        }
        // The phases follow the same single-precision steps exactly.
        EXPECT_EQ(phaseT, effect.getTremoloPhase());
        EXPECT_EQ(phaseV, effect.getVibratoPhase());
        // The gains agree to 1e-6 of the largest gain the swing gives at that point.
        double worst = 0.0;
        float phaseCheckV = 0.0f;
        const float stepV = (1.0f / set.sampleRate) * set.vibratoRate * 43.982296f;
        for (size_t i = 0; i < frames; ++i) {
            const double swing = std::pow(10.0, double(set.vibratoDepth) * std::cos(double(phaseCheckV)));
            phaseCheckV += stepV;
            if (phaseCheckV > 6.2831850f)
                phaseCheckV = 0.0f;
            for (int ch = 0; ch < 2; ++ch) {
                const double scale = swing * std::fabs(s.in[ch][i]) + 1e-30;
                worst = std::fmax(worst, std::fabs(double(s.out[ch][i]) - double(expected[ch][i])) / scale);
            }
        }
        EXPECT_LT(worst, 1e-6) << set.sampleRate;
    }
}

TEST(Modulane, ZeroFramesAndInPlaceBuffers) {
    Effect effect(nullptr);
    effect.setParameter(Effect::kTremoloDepth, 0.8f);
    effect.setParameter(Effect::kVibratoDepth, 0.4f);
    Stereo s(512);
    s.in[0] = plugintest::noise(512, 1.0f, 3);
    s.in[1] = plugintest::noise(512, 1.0f, 4);
    s.out[0].assign(512, 7.0f);
    s.run(effect, 0, 0);
    EXPECT_EQ(7.0f, s.out[0][0]);
    EXPECT_EQ(0.0f, effect.getTremoloPhase());
    s.run(effect, 0, 512);

    Effect inPlace(nullptr);
    inPlace.setParameter(Effect::kTremoloDepth, 0.8f);
    inPlace.setParameter(Effect::kVibratoDepth, 0.4f);
    std::vector<float> buffers[2] = {s.in[0], s.in[1]};
    float* io[2] = {buffers[0].data(), buffers[1].data()};
    inPlace.processReplacing(io, io, 512);
    EXPECT_EQ(s.out[0], buffers[0]);
    EXPECT_EQ(s.out[1], buffers[1]);

    float untouched[4] = {1, 2, 3, 4};
    float* outs[2] = {untouched, untouched};
    effect.process(io, outs, 4);
    EXPECT_EQ(1.0f, untouched[0]);
}

}  // namespace
