#pragma once
// A one-pole high-pass that takes the DC off an effect's output, which a shaper
// driven by an asymmetric waveform leaves behind. A zero at DC and a pole at
// R = exp(-2 pi fc / fs), scaled to unity at the Nyquist frequency:
//   H(z) = (1 + R) / 2 * (1 - z^-1) / (1 - R z^-1).
// With its corner at a few Hz the audible band keeps its level.
#include <cmath>

struct DcBlockerCoefficients {
    float gain;  // (1 + R) / 2
    float pole;  // R
};

// The coefficients for a corner of `corner` Hz.
inline DcBlockerCoefficients dcBlockerAt(float corner, float sampleRate) {
    const float pole = std::exp(-6.283185307f * corner / sampleRate);
    DcBlockerCoefficients c;
    c.gain = 0.5f * (1.0f + pole);
    c.pole = pole;
    return c;
}

// The output decays geometrically after the input falls silent and would sink
// into denormals; far below audibility it is set to zero.
constexpr float kDcBlockerFloor = 1e-20f;

// One sample through the filter. state holds x1 (the last input) and y1 (the last
// output, which is also what is returned).
inline float dcBlockerStep(const DcBlockerCoefficients& c, float* state, float x) {
    float y = c.gain * (x - state[0]) + c.pole * state[1];
    if (std::fabs(y) < kDcBlockerFloor)
        y = 0.0f;
    state[0] = x;
    state[1] = y;
    return y;
}
