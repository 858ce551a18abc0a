#pragma once
// Helpers shared by the native plug-in tests.
#include <cmath>
#include <vector>

#include "VstInterface.h"

namespace plugintest {

constexpr double kPi = 3.14159265358979323846;

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

}  // namespace plugintest
