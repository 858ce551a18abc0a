// The fast sine, cosine and power of ten against the library over the ranges
// Modulane feeds them.
#include <gtest/gtest.h>

#include <cmath>

#include "FastMath.h"

namespace {

TEST(FastMath, SineAndCosineMatchTheLibraryOverPhasesWithWrap) {
    // Fine steps up to past 2 pi (where the oscillators wrap), then coarser ones
    // over the whole range.
    double worstRelative = 0.0, worstAbsolute = 0.0;
    int singleDiffers = 0;
    for (int i = 0; i <= 1500000; ++i) {
        const float x = i <= 1000000 ? float(i) * 6.4e-6f : float(i - 1000000) * 2e-3f;
        float s, c;
        fastmath::sinCos(x, s, c);
        const double exactS = std::sin(double(x));
        const double exactC = std::cos(double(x));
        worstAbsolute = std::fmax(worstAbsolute, std::fabs(s - exactS));
        worstAbsolute = std::fmax(worstAbsolute, std::fabs(c - exactC));
        if (std::fabs(exactS) > 1e-30)
            worstRelative = std::fmax(worstRelative, std::fabs(s - exactS) / std::fabs(exactS));
        if (std::fabs(exactC) > 1e-30)
            worstRelative = std::fmax(worstRelative, std::fabs(c - exactC) / std::fabs(exactC));
        singleDiffers += s != fastmath::sin(x) || c != fastmath::cos(x);
    }
    EXPECT_EQ(0, singleDiffers);
    EXPECT_LT(worstRelative, 1e-6);
    EXPECT_LT(worstAbsolute, 2e-7);
}

TEST(FastMath, KeepsRelativeAccuracyNextToTheZeros) {
    // The floats nearest to multiples of pi/2, where sine or cosine is tiny.
    for (int k = 1; k <= 8; ++k) {
        float x = float(k * 1.5707963267948966);
        for (int step = 0; step < 3; ++step, x = std::nextafter(x, 100.0f)) {
            float s, c;
            fastmath::sinCos(x, s, c);
            const double exactS = std::sin(double(x)), exactC = std::cos(double(x));
            EXPECT_LT(std::fabs(s - exactS), 1e-6 * std::fabs(exactS)) << k << " " << x;
            EXPECT_LT(std::fabs(c - exactC), 1e-6 * std::fabs(exactC)) << k << " " << x;
        }
    }
}

TEST(FastMath, ExactAtZero) {
    EXPECT_EQ(0.0f, fastmath::sin(0.0f));
    EXPECT_EQ(1.0f, fastmath::cos(0.0f));
    EXPECT_EQ(1.0f, fastmath::pow10(0.0f));
    EXPECT_EQ(1.0f, fastmath::pow10(-0.0f));
}

TEST(FastMath, PowerOfTenMatchesTheLibrary) {
    double worst = 0.0;
    for (int i = -2000000; i <= 2000000; ++i) {
        const float y = float(i) * 2e-6f;
        const double exact = std::pow(10.0, double(y));
        worst = std::fmax(worst, std::fabs(fastmath::pow10(y) - exact) / exact);
    }
    EXPECT_LT(worst, 1e-6);
    for (float y : {-4.0f, -3.0f, -0.5f, 2.0f, 3.999f, 4.0f}) {
        const double exact = std::pow(10.0, double(y));
        EXPECT_LT(std::fabs(fastmath::pow10(y) - exact) / exact, 1e-6) << y;
    }
    EXPECT_NEAR(10.0f, fastmath::pow10(1.0f), 1e-5f);
}

}  // namespace
