// The fast sine, cosine and power of ten against the library over the ranges
// Modulane feeds them.
#include <gtest/gtest.h>

#include <cmath>

#include "FastMath.h"

namespace {

TEST(FastMath, SineAndCosineMatchTheLibraryOverPhasesWithWrap) {
    // Every float phase step of a slow oscillator up to past 2 pi, plus negative
    // and larger arguments.
    double worstRelative = 0.0, worstAbsolute = 0.0;
    for (int i = -200000; i <= 2000000; ++i) {
        const float x = float(i) * 3.2e-6f;
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
        ASSERT_EQ(s, fastmath::sin(x));
        ASSERT_EQ(c, fastmath::cos(x));
    }
    EXPECT_LT(worstRelative, 1e-6);
    EXPECT_LT(worstAbsolute, 2e-7);
}

TEST(FastMath, ExactAtZero) {
    EXPECT_EQ(0.0f, fastmath::sin(0.0f));
    EXPECT_EQ(1.0f, fastmath::cos(0.0f));
    EXPECT_EQ(1.0f, fastmath::pow10(0.0f));
    EXPECT_EQ(1.0f, fastmath::pow10(-0.0f));
}

TEST(FastMath, PowerOfTenMatchesTheLibrary) {
    double worst = 0.0;
    for (int i = -1000000; i <= 1000000; ++i) {
        const float y = float(i) * 1e-6f;
        const double exact = std::pow(10.0, double(y));
        worst = std::fmax(worst, std::fabs(fastmath::pow10(y) - exact) / exact);
    }
    EXPECT_LT(worst, 1e-6);
    for (float y : {-37.0f, -10.5f, -3.0f, 2.0f, 7.25f, 37.0f}) {
        const double exact = std::pow(10.0, double(y));
        EXPECT_LT(std::fabs(fastmath::pow10(y) - exact) / exact, 1e-6) << y;
    }
    EXPECT_NEAR(10.0f, fastmath::pow10(1.0f), 1e-5f);
}

}  // namespace
