#pragma once
// Sine, cosine and power of ten for per-sample modulation, where the library
// calls would dominate the cost. Accurate to a few parts in 1e7 (relative) for
// the arguments the effects use: phases up to a few thousand radians, exponents
// within +-37. Exact where exactness is audible: pow10(0) == 1.
#include <cstdint>
#include <cstring>

namespace fastmath {

namespace detail {

// Adding then subtracting 1.5 x 2^52 rounds a double to the nearest integer.
constexpr double kRoundingMagic = 6755399441055744.0;

inline int roundToInt(double x) {
    return int((x + kRoundingMagic) - kRoundingMagic);
}

// sin and cos of r for |r| <= pi/4 (minimax polynomials, about 1 ulp).
inline float sinKernel(float r) {
    const float z = r * r;
    return r + r * z * (-1.6666654611e-1f + z * (8.3321608736e-3f + z * -1.9515295891e-4f));
}

inline float cosKernel(float r) {
    const float z = r * r;
    return 1.0f - 0.5f * z + z * z * (4.166664568298827e-2f + z * (-1.388731625493765e-3f + z * 2.443315711809948e-5f));
}

// x = quadrant x pi/2 + r; the reduction runs in double so r keeps its relative
// accuracy next to the zeros of sin and cos.
inline float reduce(float x, int& quadrant) {
    const double xd = double(x);
    const int k = roundToInt(xd * 0.63661977236758134);
    quadrant = k & 3;
    return float(xd - double(k) * 1.5707963267948966);
}

}  // namespace detail

inline void sinCos(float x, float& sine, float& cosine) {
    int quadrant;
    const float r = detail::reduce(x, quadrant);
    const float s = detail::sinKernel(r);
    const float c = detail::cosKernel(r);
    const bool swap = (quadrant & 1) != 0;
    const float sinBase = swap ? c : s;
    const float cosBase = swap ? s : c;
    sine = (quadrant & 2) ? -sinBase : sinBase;
    cosine = (quadrant == 1 || quadrant == 2) ? -cosBase : cosBase;
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

// 10^y = 2^k x 2^f with k whole and |f| <= 1/2; 2^f from its series in f x ln 2.
inline float pow10(float y) {
    double z = double(y) * 3.3219280948873623;  // log2(10)
    if (z < -126.0)
        z = -126.0;
    if (z > 127.0)
        z = 127.0;
    const int k = detail::roundToInt(z);
    const float t = float((z - double(k)) * 0.69314718055994531);
    const float series =
        1.0f + t * (1.0f + t * (0.5f + t * (1.6666667e-1f + t * (4.1666668e-2f + t * (8.3333338e-3f +
                                                                                     t * (1.3888889e-3f + t * 1.9841270e-4f))))));
    const uint32_t bits = uint32_t(k + 127) << 23;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return series * scale;
}

}  // namespace fastmath
