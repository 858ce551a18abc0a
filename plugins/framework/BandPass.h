#pragma once
// The resonant band-pass biquad shared by Filtrace and Overdrive: constant skirt
// gain, so a sine at the centre frequency comes out multiplied by Q. The
// transfer function is b0 (1 - z^-2) / (1 + a1 z^-1 + a2 z^-2).
#include <cmath>

#include "FastMath.h"

struct BandPassCoefficients {
    float b0;
    float a1;
    float a2;
};

// From alpha = sin(w) / (2 Q) and cos(w), w the centre in radians per sample.
inline BandPassCoefficients bandPassFromAlpha(float alpha, float cosW, float q) {
    const float a0 = 1.0f + alpha;
    BandPassCoefficients c;
    c.b0 = q * alpha / a0;
    c.a1 = -2.0f * cosW / a0;
    c.a2 = (1.0f - alpha) / a0;
    return c;
}

// A band is never tuned above this share of the sample rate: at or beyond the
// Nyquist frequency the design turns unstable.
constexpr float kHighestBandShareOfRate = 0.4761905f;

// The coefficients for a centre of `frequency` Hz; invQ is 1 / q, which a caller
// re-tuning often works out once.
inline BandPassCoefficients bandPassAt(float frequency, float sampleRate, float q, float invQ) {
    const float w = 6.283185307f * frequency / sampleRate;
    const float alpha = std::sin(w) * invQ * 0.5f;
    return bandPassFromAlpha(alpha, std::cos(w), q);
}

// The same for a band re-tuned many times a block (a swept filter): sine and cosine
// from fastmath, since the Windows runtime's library calls cost more than the
// filtering between two re-tunings (within 1e-6 of bandPassAt).
inline BandPassCoefficients bandPassAtSwept(float frequency, float sampleRate, float q, float invQ) {
    const float w = 6.283185307f * frequency / sampleRate;
    float sine, cosine;
    fastmath::sinCos(w, sine, cosine);
    return bandPassFromAlpha(sine * invQ * 0.5f, cosine, q);
}

// Adding and removing 1e-6 in single precision turns values too small to survive
// it into zero, so a decaying recursive state never becomes denormal. Works on a
// float or on a vector of floats lane by lane.
template <class T>
inline T flushTiny(T value) {
    return (value + 0.000001f) - 0.000001f;
}

// One sample through the filter. state holds x1, x2, y1, y2; the returned output
// is used as it is, only the stored copy is flushed.
inline float bandPassStep(const BandPassCoefficients& c, float* state, float x) {
    const float y = c.b0 * (x - state[1]) - c.a1 * state[2] - c.a2 * state[3];
    state[1] = state[0];
    state[0] = flushTiny(x);
    state[3] = state[2];
    state[2] = flushTiny(y);
    return y;
}
