// Overdrive: bounded output, exact silence from cleared state, a decay that never
// goes denormal, in-place buffers, and the texts of the four parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "OverdriveEffect.h"
#include "PluginTestSupport.h"

namespace {

using Effect = OverdriveEffect;
using plugintest::dispatch;
using plugintest::display;

std::vector<float> run(Effect& effect, const std::vector<float>& in, size_t blockSize = 256) {
    std::vector<float> out(in.size());
    for (size_t pos = 0; pos < in.size(); pos += blockSize) {
        const size_t n = std::min(blockSize, in.size() - pos);
        float* ins[1] = {const_cast<float*>(in.data()) + pos};
        float* outs[1] = {out.data() + pos};
        effect.processReplacing(ins, outs, VstInt32(n));
    }
    return out;
}

bool anySubnormal(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (std::fpclassify(values[i]) == FP_SUBNORMAL)
            return true;
    return false;
}

// The filter bank written out band by band, one sample at a time, as the
// effect's lanes must reproduce it bit for bit.
struct ReferenceBank {
    float state[Effect::kNumBands][5] = {};

    float step(const Effect& effect, float x, float drive, float smooth, float brightness) {
        const float g = (1.0f - smooth) * (1.0f - smooth) * 0.7f + 0.1f;
        const float d = std::pow(2.0f, 10.0f * drive) + 1.0f;
        float out = 0.0f;
        for (int band = 0; band < Effect::kNumBands; ++band) {
            const BandPassCoefficients& c = effect.bandCoefficients(band);
            float* st = state[band];
            const float y = c.b0 * (x - st[1]) - c.a1 * st[2] - c.a2 * st[3];
            st[1] = st[0];
            st[0] = (x + 0.000001f) - 0.000001f;
            st[3] = st[2];
            st[2] = (y + 0.000001f) - 0.000001f;
            const float weight = band < 3 ? 1.0f : 1.0f + brightness;
            const float v = d * weight * y;
            const float q = (v > 0.0f ? 1.0f : v < 0.0f ? -1.0f : 0.0f) * (1.0f - 1.0f / (1.0f + std::fabs(v)));
            st[4] = st[4] + (q - st[4]) * g;
            if (std::fabs(st[4]) < 1e-20f)
                st[4] = 0.0f;  // the effect's floor against denormals
            out += st[4];
        }
        return out * 0.1f;
    }
};

TEST(Overdrive, MatchesTheBandByBandAlgorithmExactly) {
    struct Setting {
        float drive, smooth, brightness, rate;
    };
    const Setting settings[] = {{0.5f, 0.25f, 1.0f, 44100.0f}, {1.0f, 0.0f, 0.3f, 48000.0f}, {0.0f, 1.0f, 0.0f, 96000.0f}};
    for (const Setting& set : settings) {
        Effect effect(nullptr);
        effect.setSampleRate(set.rate);
        effect.setParameter(Effect::kDrive, set.drive);
        effect.setParameter(Effect::kSmooth, set.smooth);
        effect.setParameter(Effect::kBrightness, set.brightness);
        std::vector<float> in = plugintest::noise(20000, 1.0f, 12);
        for (size_t i = 10000; i < in.size(); ++i)
            in[i] *= 1e-3f;  // a quieter passage, then silence
        in.resize(30000, 0.0f);
        const std::vector<float> out = run(effect, in, 100);
        ReferenceBank reference;
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_EQ(reference.step(effect, in[i], set.drive, set.smooth, set.brightness), out[i]) << i;
    }
}

TEST(Overdrive, RecordAndProgramsAsAHostSeesThem) {
    Effect effect(nullptr);
    AEffect* e = effect.getAeffect();
    plugintest::expectEffectRecord(e, 2, 1, 1);
    plugintest::expectEveryProgramNamed(e, "default");
}

TEST(Overdrive, AllFourParametersAnswerAlthoughHostsSeeTwo) {
    Effect effect(nullptr);
    const char* names[] = {"Drive", "Smooth", "Brightness", "Post gain"};
    const char* labels[] = {"%", "%", "%", "dB"};
    const char* defaults[] = {"50.00", "25.00", "100.00", "-20.0000"};
    const float values[] = {0.5f, 0.25f, 1.0f, 0.1f};
    AEffect* e = effect.getAeffect();
    char text[64];
    for (VstInt32 i = 0; i < 4; ++i) {
        dispatch(e, effGetParamName, i, 0, text);
        EXPECT_STREQ(names[i], text);
        dispatch(e, effGetParamLabel, i, 0, text);
        EXPECT_STREQ(labels[i], text);
        EXPECT_EQ(defaults[i], display(effect, i));
        EXPECT_EQ(values[i], e->getParameter(e, i));
    }
    for (VstInt32 i : {-1, 4})
        plugintest::expectNoParameterAt(effect, i);
}

TEST(Overdrive, PostGainIsShownButNotHeard) {
    Effect a(nullptr), b(nullptr);
    b.setParameter(Effect::kPostGain, 0.9f);
    EXPECT_EQ(0.9f, b.getParameter(Effect::kPostGain));
    const std::vector<float> in = plugintest::noise(4000, 0.5f, 3);
    EXPECT_EQ(run(a, in), run(b, in));
}

TEST(Overdrive, OutputStaysWithinHalfWhateverTheInput) {
    struct Setting {
        float drive, smooth, brightness;
    };
    const Setting settings[] = {{1, 0, 1}, {1, 1, 1}, {0.5f, 0.25f, 1}, {0, 0, 0}, {1, 0, 0}};
    for (const Setting& set : settings) {
        Effect effect(nullptr);
        effect.setSampleRate(48000.0f);
        effect.setParameter(Effect::kDrive, set.drive);
        effect.setParameter(Effect::kSmooth, set.smooth);
        effect.setParameter(Effect::kBrightness, set.brightness);
        std::vector<float> in = plugintest::noise(48000, 1000.0f, 9);
        // Full-scale square waves at the band centres drive every band hard.
        for (size_t i = 0; i < 24000; ++i)
            in[i] = ((i / 12) % 2 ? 1.0f : -1.0f) * 1e6f;
        float peak = 0.0f;
        for (float y : run(effect, in)) {
            ASSERT_TRUE(std::isfinite(y));
            peak = std::fmax(peak, std::fabs(y));
        }
        EXPECT_LE(peak, 0.5f);
        if (set.drive == 1.0f) {
            EXPECT_GT(peak, 0.3f);  // and it is driven near that bound
        }
    }
}

TEST(Overdrive, HardDriveClipsSmallBandOutputs) {
    // At drive 1.0 the factor is 1025: a band output of 0.0088 already clips past 0.9.
    const float v = 1025.0f * 0.0088f;
    EXPECT_GT(1.0f - 1.0f / (1.0f + v), 0.9f);
    Effect effect(nullptr);
    effect.setParameter(Effect::kDrive, 1.0f);
    effect.setParameter(Effect::kSmooth, 1.0f);
    // A quiet 500 Hz sine still comes out near full level.
    const std::vector<float> in = plugintest::sine(20000, 2.0 * plugintest::kPi * 500.0 / 44100.0, 0.05);
    const std::vector<float> out = run(effect, in);
    float peak = 0.0f;
    for (size_t i = 10000; i < out.size(); ++i)
        peak = std::fmax(peak, std::fabs(out[i]));
    EXPECT_GT(peak, 0.1f);
}

TEST(Overdrive, SilenceFromClearedStateIsExactSilence) {
    Effect effect(nullptr);
    const std::vector<float> silence(5000, 0.0f);
    for (float y : run(effect, silence))
        ASSERT_EQ(0.0f, y);
    run(effect, plugintest::noise(5000, 1.0f, 4));
    AEffect* e = effect.getAeffect();
    dispatch(e, effMainsChanged, 0, 0);
    for (float y : run(effect, silence))
        ASSERT_EQ(0.0f, y);
    run(effect, plugintest::noise(5000, 1.0f, 4));
    dispatch(e, effSetProgram, 0, 1);
    for (float y : run(effect, silence))
        ASSERT_EQ(0.0f, y);
    run(effect, plugintest::noise(5000, 1.0f, 4));
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    for (float y : run(effect, silence))
        ASSERT_EQ(0.0f, y);
    // Switching on keeps the state: the tail of the loud passage goes on.
    run(effect, plugintest::noise(5000, 1.0f, 4));
    dispatch(e, effMainsChanged, 0, 1);
    EXPECT_NE(0.0f, run(effect, silence)[0]);
}

TEST(Overdrive, DecayAfterLoudInputNeverTurnsDenormal) {
    for (float smooth : {0.0f, 0.25f, 1.0f}) {
        for (float drive : {0.0f, 0.5f, 1.0f}) {
            Effect effect(nullptr);
            effect.setParameter(Effect::kSmooth, smooth);
            effect.setParameter(Effect::kDrive, drive);
            run(effect, plugintest::noise(8192, 1.0f, 6));
            const std::vector<float> silence(64, 0.0f);
            float last = 1.0f;
            for (int block = 0; block < 3000; ++block) {
                const std::vector<float> out = run(effect, silence);
                ASSERT_FALSE(anySubnormal(out.data(), out.size())) << smooth << " " << drive << " " << block;
                ASSERT_FALSE(anySubnormal(effect.filterStateFloats(), Effect::kStateFloats))
                    << smooth << " " << drive << " " << block;
                last = out.back();
            }
            EXPECT_LT(std::fabs(last), 1e-6f) << smooth << " " << drive;
        }
    }
}

TEST(Overdrive, InPlaceBuffersGiveTheSameResult) {
    Effect separate(nullptr), inPlace(nullptr);
    const std::vector<float> in = plugintest::noise(3000, 0.8f, 7);
    const std::vector<float> expected = run(separate, in);
    std::vector<float> io = in;
    float* ios[1] = {io.data()};
    inPlace.processReplacing(ios, ios, VstInt32(io.size()));
    EXPECT_EQ(expected, io);
}

TEST(Overdrive, WorksBeforeTheHostSetsARate) {
    Effect untuned(nullptr), tuned(nullptr);
    tuned.setSampleRate(44100.0f);
    for (int band = 0; band < Effect::kNumBands; ++band) {
        EXPECT_EQ(tuned.bandCoefficients(band).b0, untuned.bandCoefficients(band).b0);
        EXPECT_EQ(tuned.bandCoefficients(band).a1, untuned.bandCoefficients(band).a1);
        EXPECT_EQ(tuned.bandCoefficients(band).a2, untuned.bandCoefficients(band).a2);
    }
    const std::vector<float> in = plugintest::noise(2000, 0.5f, 8);
    EXPECT_EQ(run(tuned, in), run(untuned, in));
}

TEST(Overdrive, LowSampleRatesStayStable) {
    // The 2000 Hz band would sit above the Nyquist frequency at 3000 Hz.
    Effect effect(nullptr);
    effect.setSampleRate(3000.0f);
    for (float y : run(effect, plugintest::noise(30000, 1.0f, 10))) {
        ASSERT_TRUE(std::isfinite(y));
        ASSERT_LT(std::fabs(y), 0.5f);
    }
}

TEST(Overdrive, TouchesOnlyTheFirstChannelAndProcessTouchesNothing) {
    Effect effect(nullptr);
    std::vector<float> in0 = plugintest::noise(256, 1.0f, 1), in1 = plugintest::noise(256, 1.0f, 2);
    std::vector<float> out0(256, 5.0f), out1(256, 5.0f);
    float* ins[2] = {in0.data(), in1.data()};
    float* outs[2] = {out0.data(), out1.data()};
    effect.process(ins, outs, 256);
    EXPECT_EQ(std::vector<float>(256, 5.0f), out0);
    effect.processReplacing(ins, outs, 256);
    EXPECT_NE(5.0f, out0[100]);
    EXPECT_EQ(std::vector<float>(256, 5.0f), out1);
}

}  // namespace
