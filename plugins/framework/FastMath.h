#pragma once
// Sine, cosine and power of ten for per-sample modulation, where the library
// calls would dominate the cost. Branch-free single-precision code, so a loop
// over an array of phases vectorises.
//   sinCos, sin, cos: x from 0 to 1000 radians; error below 1e-6 relative
//     (about 1e-7 absolute), exact at 0.
//   pow10: y from -4 to 4; error below 1e-6 relative, pow10(0) == 1 exactly.
#include <cstdint>
#include <cstring>

namespace fastmath {

namespace detail {

inline uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float floatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Selects b where mask is all ones, a where it is zero.
inline uint32_t select(uint32_t mask, uint32_t a, uint32_t b) {
    return (b & mask) | (a & ~mask);
}

}  // namespace detail

inline void sinCos(float x, float& sine, float& cosine) {
    // x = k pi/2 + r with |r| <= pi/4. pi/2 is split in four parts; the first
    // three are short enough that their products with k are exact, so r keeps
    // its relative accuracy next to the zeros of sine and cosine.
    const int k = int(x * 0.63661977f + 0.5f);
    const float kf = float(k);
    const float r = (((x - kf * 1.5703125f) - kf * 4.837512969970703125e-4f) - kf * 7.549533620476723e-8f) -
                    kf * 2.5633440683e-12f;
    // Minimax polynomials on [-pi/4, pi/4], about 1 ulp.
    const float z = r * r;
    const float s = r + r * z * (-1.6666654611e-1f + z * (8.3321608736e-3f + z * -1.9515295891e-4f));
    const float c =
        1.0f - 0.5f * z + z * z * (4.166664568298827e-2f + z * (-1.388731625493765e-3f + z * 2.443315711809948e-5f));
    // Quadrant k mod 4: odd quadrants swap sine and cosine; the sine is negated
    // in quadrants 2 and 3, the cosine in 1 and 2.
    const uint32_t quadrant = uint32_t(k);
    const uint32_t swap = 0u - (quadrant & 1u);
    const uint32_t sineBits = detail::select(swap, detail::bitsOf(s), detail::bitsOf(c));
    const uint32_t cosineBits = detail::select(swap, detail::bitsOf(c), detail::bitsOf(s));
    sine = detail::floatOf(sineBits ^ ((quadrant & 2u) << 30));
    cosine = detail::floatOf(cosineBits ^ (((quadrant + 1u) & 2u) << 30));
}

inline float sin(float x) {
    float s, c;
    sinCos(x, s, c);
    return s;
}

inline float cos(float x) {
    float s, c;
    sinCos(x, s, c);
    return c;
}

// 10^y = 2^k x 2^f with k whole and |f| <= 1/2; 2^f from its series in f ln 2.
inline float pow10(float y) {
    const float z = y * 3.32192809f;  // log2(10)
    const int k = int(z + 128.5f) - 128;
    const float t = (z - float(k)) * 0.693147181f;
    const float series =
        1.0f +
        t * (1.0f +
             t * (0.5f + t * (1.6666667e-1f +
                              t * (4.1666668e-2f + t * (8.3333338e-3f + t * (1.3888889e-3f + t * 1.9841270e-4f))))));
    return series * detail::floatOf(uint32_t(k + 127) << 23);
}

}  // namespace fastmath
