#include "DcFilter.h"

#include <cmath>

namespace {

// Same result as flushTinyReference, bit for bit: for |v| >= 2^-46 both the sum and
// the difference are exact in double precision, so v comes back unchanged. Taking
// that path first keeps the double round trip off the filter's recursion.
inline float flushTiny(float v) {
    if (std::fabs(v) >= 0x1p-46f)
        return v;
    return flushTinyReference(v);
}

template <typename Coefficients>
inline float step(DcFilterState& s, const Coefficients& c, float x) {
    const float y = c.b0 * (x - 2.0f * s.x1 + s.x2) - c.a1 * s.y1 - c.a2 * s.y2;
    s.x2 = s.x1;
    s.y2 = s.y1;
    s.x1 = flushTiny(x);
    s.y1 = flushTiny(y);
    return y;
}

}  // namespace

DcFilter::Coefficients DcFilter::coefficientsFor(double sampleRate) {
    const double fs = sampleRate < 1.0 ? 1.0 : sampleRate;
    const float w = 62.8f / float(fs);
    const float sw = std::sin(w);
    const float cw = std::cos(w);
    const float a0 = 1.0f + sw;
    return Coefficients{0.5f * (1.0f + cw) / a0, -2.0f * cw / a0, (1.0f - sw) / a0};
}

void DcFilter::clear() {
    for (DcFilterState& s : state_)
        s = DcFilterState{0.0f, 0.0f, 0.0f, 0.0f};
}

void DcFilter::process(float* const* channels, int32_t channelCount, int32_t frames, double sampleRate) {
    if (channelCount <= 0)
        return;
    const Coefficients c = coefficients_.get(sampleRate, coefficientsFor);
    if (channelCount == 1) {
        DcFilterState s = state_[0];
        float* x = channels[0];
        for (int32_t i = 0; i < frames; ++i)
            x[i] = step(s, c, x[i]);
        state_[0] = s;
        return;
    }
    // Both channels in one loop, so the two recursions overlap in the pipeline.
    DcFilterState s0 = state_[0];
    DcFilterState s1 = state_[1];
    float* left = channels[0];
    float* right = channels[1];
    for (int32_t i = 0; i < frames; ++i) {
        left[i] = step(s0, c, left[i]);
        right[i] = step(s1, c, right[i]);
    }
    state_[0] = s0;
    state_[1] = s1;
}
