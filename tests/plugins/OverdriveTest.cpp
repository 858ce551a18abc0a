// Overdrive: bounded output, exact silence from cleared state, a decay that never
// goes denormal, in-place buffers, and the texts of the four parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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
// effect's lanes must reproduce it bit for bit: shaped() is the sum of the bands
// before the DC blocker, step() the effect's output after it.
struct ReferenceBank {
    float state[Effect::kNumBands][5] = {};
    float blockerIn = 0.0f, blockerOut = 0.0f;
    // The shape the effect had before: 1 - 1 / (1 + |v|) with v's sign.
    bool formerForm = false;

    float shaped(const Effect& effect, float x, float drive, float smooth, float brightness) {
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
            const float q = formerForm ? (v > 0.0f ? 1.0f : v < 0.0f ? -1.0f : 0.0f) *
                                             (1.0f - 1.0f / (1.0f + std::fabs(v)))
                                       : v / (1.0f + std::fabs(v));
            st[4] = st[4] + (q - st[4]) * g;
            if (std::fabs(st[4]) < 1e-20f)
                st[4] = 0.0f;  // the effect's floor against denormals
            out += st[4];
        }
        return out * 0.1f;
    }

    float step(const Effect& effect, float x, float drive, float smooth, float brightness) {
        const float in = shaped(effect, x, drive, smooth, brightness);
        const DcBlockerCoefficients& c = effect.dcBlockerCoefficients();
        float out = c.gain * (in - blockerIn) + c.pole * blockerOut;
        if (std::fabs(out) < 1e-20f)
            out = 0.0f;
        blockerIn = in;
        blockerOut = out;
        return out;
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

// The present form against the former one, loud and quiet, at every end of the
// settings: what differs is rounding, far below anything audible (a millionth of
// full scale is -120 dB).
TEST(Overdrive, SoundsAsItsFormerFormToAMillionthOfFullScale) {
    const float settings[][3] = {{0.5f, 0.25f, 1.0f}, {1.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 0.0f}, {1.0f, 1.0f, 0.5f}};
    for (const auto& set : settings) {
        Effect effect(nullptr);
        effect.setSampleRate(48000.0f);
        effect.setParameter(Effect::kDrive, set[0]);
        effect.setParameter(Effect::kSmooth, set[1]);
        effect.setParameter(Effect::kBrightness, set[2]);
        std::vector<float> in = plugintest::noise(48000, 1.0f, 21);
        for (size_t i = 24000; i < in.size(); ++i)
            in[i] *= 1e-4f;
        const std::vector<float> out = run(effect, in);
        ReferenceBank former;
        former.formerForm = true;
        float worst = 0.0f, loudest = 0.0f;
        for (size_t i = 0; i < in.size(); ++i) {
            const float then = former.step(effect, in[i], set[0], set[1], set[2]);
            worst = std::fmax(worst, std::fabs(then - out[i]));
            loudest = std::fmax(loudest, std::fabs(out[i]));
        }
        EXPECT_LT(worst, 1e-6f) << set[0] << " " << set[1] << " " << set[2];
        EXPECT_GT(loudest, 0.01f);  // the comparison was made on sound, not on silence
    }
}

double meanOf(const std::vector<float>& samples, size_t start, size_t end) {
    double sum = 0.0;
    for (size_t i = start; i < end; ++i)
        sum += samples[i];
    return sum / double(end - start);
}

// The bands' sum before the DC blocker, for the effect's current settings.
std::vector<float> shapedByReference(Effect& effect, const std::vector<float>& in) {
    const float drive = effect.getParameter(Effect::kDrive);
    const float smooth = effect.getParameter(Effect::kSmooth);
    const float brightness = effect.getParameter(Effect::kBrightness);
    ReferenceBank reference;
    std::vector<float> out(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        out[i] = reference.shaped(effect, in[i], drive, smooth, brightness);
    return out;
}

// A sine, a sawtooth-like plucked tone and a sine with its second harmonic, at every
// end and middle of the four parameters: the second second carries less than a
// thousandth of full scale of DC, where the bands' sum carries up to a fifth.
TEST(Overdrive, LeavesNoDcWhateverItsSettings) {
    // 100 Hz at 48000 Hz: 480 samples a period, so a second holds whole periods and
    // its mean is the DC alone.
    const size_t second = 48000;
    const double omega = 2.0 * plugintest::kPi * 100.0 / double(second);
    std::vector<float> plucked(2 * second), lopsided(2 * second);
    for (size_t n = 0; n < plucked.size(); ++n) {
        const double t = omega * double(n);
        double v = 0.0;
        for (int h = 1; h <= 6; ++h)
            v += std::sin(h * t) / h;
        plucked[n] = float(0.3 * v);
        lopsided[n] = float(0.4 * std::sin(t) + 0.3 * std::cos(2.0 * t));
    }
    const struct {
        const char* name;
        std::vector<float> samples;
    } signals[] = {{"sine", plugintest::sine(2 * second, omega, 0.5)}, {"plucked", plucked}, {"lopsided", lopsided}};
    const float levels[] = {0.0f, 0.5f, 1.0f};
    double largestShaped = 0.0, largestOut = 0.0;
    for (const auto& signal : signals) {
        for (float drive : levels)
            for (float smooth : levels)
                for (float brightness : levels)
                    for (float postGain : levels) {
                        Effect effect(nullptr);
                        effect.setSampleRate(float(second));
                        effect.setParameter(Effect::kDrive, drive);
                        effect.setParameter(Effect::kSmooth, smooth);
                        effect.setParameter(Effect::kBrightness, brightness);
                        effect.setParameter(Effect::kPostGain, postGain);
                        const double dc = meanOf(run(effect, signal.samples), second, 2 * second);
                        EXPECT_LT(std::fabs(dc), 1e-3) << signal.name << " drive " << drive << " smooth " << smooth
                                                       << " brightness " << brightness << " post gain " << postGain;
                        largestOut = std::fmax(largestOut, std::fabs(dc));
                        if (postGain == 0.5f) {  // it does not enter the sound
                            const std::vector<float> shaped = shapedByReference(effect, signal.samples);
                            largestShaped = std::fmax(largestShaped, std::fabs(meanOf(shaped, second, 2 * second)));
                        }
                    }
    }
    EXPECT_GT(largestShaped, 0.05) << "the signals make DC before the blocker";
    std::printf("largest DC: %.6f before the blocker, %.6f after it\n", largestShaped, largestOut);
}

// The blocker's corner lies far below the audible band: from 20 Hz up, the output's
// level at the driving sine's frequency is the bands' sum's within 0.1 dB.
TEST(Overdrive, KeepsItsLevelFromTwentyHertzUp) {
    for (float rate : {44100.0f, 96000.0f}) {
        const size_t second = size_t(rate);
        for (double frequency : {20.0, 40.0, 100.0, 1000.0, 5000.0}) {
            Effect effect(nullptr);
            effect.setSampleRate(rate);
            const double omega = 2.0 * plugintest::kPi * frequency / rate;
            const std::vector<float> in = plugintest::sine(2 * second, omega, 0.5);
            const double blocked = plugintest::sineAmplitude(run(effect, in), omega, second, second);
            const double shaped = plugintest::sineAmplitude(shapedByReference(effect, in), omega, second, second);
            ASSERT_GT(shaped, 1e-4) << frequency << " Hz comes through the bands";
            const double change = plugintest::toDb(blocked / shaped);
            EXPECT_LT(std::fabs(change), 0.1) << frequency << " Hz at " << rate;
            std::printf("level change at %g Hz (rate %g): %+.5f dB\n", frequency, double(rate), change);
        }
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

// The bands' sum stays within half of full scale. Taking its DC off can shift a
// sustained asymmetric waveform towards the other side, so the output may pass 0.5
// a little, and by at most as much again: never beyond full scale.
TEST(Overdrive, OutputStaysWithinFullScaleWhateverTheInput) {
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
        EXPECT_LE(peak, 1.0f);
        if (set.drive == 1.0f) {
            EXPECT_GT(peak, 0.3f);  // and it is driven near that bound
        }
    }
}

TEST(Overdrive, HardDriveClipsSmallBandOutputs) {
    // At drive 1.0 the factor is 1025: a band output of 0.0088 already clips past 0.9.
    const float v = 1025.0f * 0.0088f;
    EXPECT_GT(v / (1.0f + v), 0.9f);
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
