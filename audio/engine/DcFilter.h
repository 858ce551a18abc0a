#pragma once
#include <cstdint>

#include "LastValue.h"

// Second-order high-pass at a nominal 10 Hz that removes DC from the live channels.
// The stored state is flushed through (v + 1e-5) - 1e-5 in double precision so that
// values too small to survive become exactly zero and never turn denormal.
struct DcFilterState {
    float x1, x2, y1, y2;
};

class DcFilter {
public:
    DcFilter() { clear(); }
    void clear();
    // In place on channelCount (0..2) channels; the coefficients follow the rate.
    void process(float* const* channels, int32_t channelCount, int32_t frames, double sampleRate);
    const DcFilterState& state(int channel) const { return state_[channel]; }

private:
    struct Coefficients {
        float b0, a1, a2;
    };
    static Coefficients coefficientsFor(double sampleRate);

    DcFilterState state_[2];
    LastValue<double, Coefficients> coefficients_;  // sin and cos only when the rate changes
};

// The state flush, (v + 1e-5) - 1e-5 computed in double precision. Inline, so that
// the filter loop keeps its state in registers around it.
inline float flushTinyReference(float v) {
    const double kTiny = 0.00001f;  // the float constant, 9.9999997e-06
    return float((double(v) + kTiny) - kTiny);
}
