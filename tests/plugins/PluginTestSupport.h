#pragma once
// Helpers shared by the plug-in tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "AudioEffect.h"
#include "VstInterface.h"

namespace plugintest {

constexpr double kPi = 3.14159265358979323846;

// One opcode through the record, as a host sends it.
inline VstIntPtr dispatch(AEffect* e, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                          float opt = 0.0f) {
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

// A host callback that records every call and answers with a settable value.
struct HostCall {
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

struct RecordingHost {
    static std::vector<HostCall>& calls() {
        static std::vector<HostCall> recorded;
        return recorded;
    }
    static VstIntPtr& answer() {
        static VstIntPtr value = 0;
        return value;
    }
    static void reset(VstIntPtr answerWith = 0) {
        calls().clear();
        answer() = answerWith;
    }
    static VstIntPtr VSTCALLBACK callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                          void* ptr, float opt) {
        calls().push_back(HostCall{effect, opcode, index, value, ptr, opt});
        return answer();
    }
};

// Amplitude of the sine of angular frequency omega (radians per sample) in
// samples[start, start + count), by a least-squares fit of a sin + b cos, which
// holds for any number of cycles.
inline double sineAmplitude(const std::vector<float>& samples, double omega, size_t start, size_t count) {
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    for (size_t n = start; n < start + count; ++n) {
        const double s = std::sin(omega * double(n));
        const double c = std::cos(omega * double(n));
        ss += s * s;
        sc += s * c;
        cc += c * c;
        ys += samples[n] * s;
        yc += samples[n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det;
    const double b = (yc * ss - ys * sc) / det;
    return std::sqrt(a * a + b * b);
}

inline double toDb(double ratio) {
    return 20.0 * std::log10(ratio);
}

inline std::vector<float> sine(size_t frames, double omega, double amplitude = 1.0) {
    std::vector<float> out(frames);
    for (size_t n = 0; n < frames; ++n)
        out[n] = float(amplitude * std::sin(omega * double(n)));
    return out;
}

// A deterministic noise-like signal in [-amplitude, amplitude].
inline std::vector<float> noise(size_t frames, float amplitude, unsigned seed = 1) {
    std::vector<float> out(frames);
    unsigned state = seed * 2654435761u + 12345u;
    for (size_t n = 0; n < frames; ++n) {
        state = state * 1664525u + 1013904223u;
        out[n] = amplitude * (float(state >> 8) / float(1u << 23) - 1.0f);
    }
    return out;
}

// Two input and two output channels, run through an effect block by block.
struct StereoBuffers {
    explicit StereoBuffers(size_t frames)
        : in{std::vector<float>(frames), std::vector<float>(frames)},
          out{std::vector<float>(frames), std::vector<float>(frames)} {}
    StereoBuffers(std::vector<float> left, std::vector<float> right)
        : in{std::move(left), std::move(right)},
          out{std::vector<float>(in[0].size()), std::vector<float>(in[1].size())} {}

    void run(AudioEffect& effect, size_t start, size_t frames) {
        float* ins[2] = {in[0].data() + start, in[1].data() + start};
        float* outs[2] = {out[0].data() + start, out[1].data() + start};
        effect.processReplacing(ins, outs, VstInt32(frames));
    }
    // Consecutive blocks of the given sizes from the start; returns the frames run.
    size_t runInBlocks(AudioEffect& effect, std::initializer_list<size_t> blocks) {
        size_t pos = 0;
        for (size_t block : blocks) {
            run(effect, pos, block);
            pos += block;
        }
        return pos;
    }

    std::vector<float> in[2];
    std::vector<float> out[2];
};

inline std::string display(AudioEffect& effect, VstInt32 index) {
    char text[64];
    effect.getParameterDisplay(index, text);
    return text;
}

// The record fields all three effects share, with each one's own numbers.
inline void expectEffectRecord(AEffect* e, VstInt32 numParams, VstInt32 inputs, VstInt32 outputs) {
    EXPECT_EQ(16, e->numPrograms);
    EXPECT_EQ(numParams, e->numParams);
    EXPECT_EQ(inputs, e->numInputs);
    EXPECT_EQ(outputs, e->numOutputs);
    EXPECT_EQ(effFlagsCanReplacing, e->flags);
    EXPECT_EQ(0x74616C50, e->uniqueID);
}

// Selects each of the 16 programs through the record and reads its name.
inline void expectEveryProgramNamed(AEffect* e, const char* expected) {
    char name[64];
    for (VstInt32 p = 0; p < 16; ++p) {
        dispatch(e, effSetProgram, 0, p);
        std::strcpy(name, "stale");
        dispatch(e, effGetProgramName, 0, 0, name);
        EXPECT_STREQ(expected, name) << p;
    }
}

// Name, label and display of every parameter, called directly.
template <size_t N>
void expectParameterTexts(AudioEffect& effect, const char* const (&names)[N], const char* const (&labels)[N],
                          const char* const (&displays)[N]) {
    char text[64];
    for (VstInt32 i = 0; i < VstInt32(N); ++i) {
        effect.getParameterName(i, text);
        EXPECT_STREQ(names[i], text);
        effect.getParameterLabel(i, text);
        EXPECT_STREQ(labels[i], text);
        EXPECT_EQ(displays[i], display(effect, i));
    }
}

// An index the effect does not answer: empty name, label and display, value 0.
inline void expectNoParameterAt(AudioEffect& effect, VstInt32 index) {
    char text[64];
    std::strcpy(text, "x");
    effect.getParameterDisplay(index, text);
    EXPECT_STREQ("", text) << index;
    std::strcpy(text, "x");
    effect.getParameterName(index, text);
    EXPECT_STREQ("", text) << index;
    std::strcpy(text, "x");
    effect.getParameterLabel(index, text);
    EXPECT_STREQ("", text) << index;
    EXPECT_EQ(0.0f, effect.getParameter(index)) << index;
}

}  // namespace plugintest
