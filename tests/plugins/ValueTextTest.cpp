// Number-to-text of the parameter displays: digits are cut, never rounded, and
// nothing is ever longer than 8 characters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ValueText.h"

namespace {

std::string floatText(float value) {
    char text[32];
    std::memset(text, 'x', sizeof text);
    valuetext::float2string(value, text);
    return text;
}

std::string longText(VstInt32 value) {
    char text[32];
    valuetext::long2string(value, text);
    return text;
}

std::string dbText(float value) {
    char text[32];
    valuetext::dB2string(value, text);
    return text;
}

TEST(FloatToText, FillsEightCharactersWithIntegerDigitsThenFraction) {
    EXPECT_EQ("3.250000", floatText(3.25f));
    EXPECT_EQ("-0.50000", floatText(-0.5f));
    EXPECT_EQ("0.000000", floatText(0.0f));
    EXPECT_EQ("0.000000", floatText(-0.0f));
    EXPECT_EQ("123.4560", floatText(123.456f));
    EXPECT_EQ("0.100000", floatText(0.1f));
    EXPECT_EQ("-20.0000", floatText(-20.0f));
}

TEST(FloatToText, CutsDigitsInsteadOfRounding) {
    // 2.9999998f is 2.99999976...: the digits stop, they do not round up to 3.
    EXPECT_EQ("2.999999", floatText(2.9999998f));
    EXPECT_EQ("-6.02059", floatText(-6.0205999f));
}

TEST(FloatToText, SevenIntegerDigitsLeaveOnlyThePoint) {
    EXPECT_EQ("1234567.", floatText(1234567.25f));
    EXPECT_EQ("-123456.", floatText(-123456.5f));
}

TEST(FloatToText, EightDigitValuesKeepAllTheirDigits) {
    // No room for the point: the whole number is shown rather than a cut one.
    EXPECT_EQ("12345678", floatText(12345678.0f));
    EXPECT_EQ("99999992", floatText(99999992.0f));
    EXPECT_EQ("-1234567", floatText(-1234567.0f));
    EXPECT_EQ("-9999999", floatText(-9999999.0f));
}

TEST(FloatToText, TooLargeValuesAreHuge) {
    EXPECT_EQ(" Huge!  ", floatText(1e9f));
    EXPECT_EQ(" Huge!  ", floatText(100000000.0f));
    EXPECT_EQ(" Huge!  ", floatText(-10000000.0f));
    EXPECT_EQ(" Huge!  ", floatText(INFINITY));
    EXPECT_EQ(" Huge!  ", floatText(-INFINITY));
    EXPECT_EQ(8u, floatText(NAN).size());
}

TEST(FloatToText, EveryValueReadsBackAsItsCutDecimalForm) {
    // Over many magnitudes: 8 characters, and the text is the value with the
    // digits beyond the last shown one dropped.
    unsigned state = 7;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1664525u + 1013904223u;
        const double mantissa = double(state >> 8) / double(1u << 24);
        const int exponent = int(i % 14) - 6;
        const float value = float((i & 1 ? -1.0 : 1.0) * mantissa * std::pow(10.0, exponent));
        const std::string text = floatText(value);
        ASSERT_EQ(8u, text.size()) << value;
        if (text == " Huge!  ")
            continue;
        const size_t point = text.find('.');
        const int fractionDigits = point == std::string::npos ? 0 : int(text.size() - point - 1);
        const double shown = std::strtod(text.c_str(), nullptr);
        const double exact = std::fabs(double(value));
        const double unit = std::pow(10.0, -fractionDigits);
        EXPECT_LE(std::fabs(shown), exact + 1e-9 * unit) << value << " -> " << text;
        EXPECT_LT(exact - std::fabs(shown), unit * (1.0 + 1e-6)) << value << " -> " << text;
    }
}

TEST(LongToText, RightAlignsInSevenColumns) {
    EXPECT_EQ("    123", longText(123));
    EXPECT_EQ("      0", longText(0));
    EXPECT_EQ("     -5", longText(-5));
    EXPECT_EQ("99999999", longText(99999999));
    EXPECT_EQ("-9999999", longText(-9999999));
}

TEST(LongToText, ValuesBeyondEightCharactersAreHuge) {
    EXPECT_EQ(" Huge!  ", longText(100000000));
    EXPECT_EQ(" Huge!  ", longText(2147483647));
    EXPECT_EQ(" Huge!  ", longText(-10000000));
    EXPECT_EQ(" Huge!  ", longText(-2147483647 - 1));
}

TEST(DecibelText, ShowsTheGainInDecibelsCut) {
    EXPECT_EQ("  -oo   ", dbText(0.0f));
    EXPECT_EQ("  -oo   ", dbText(-1.0f));
    EXPECT_EQ("0.000000", dbText(1.0f));
    EXPECT_EQ("-6.02059", dbText(0.5f));
    EXPECT_EQ("12.04119", dbText(4.0f));
    EXPECT_EQ("-1.93820", dbText(0.8f));
    EXPECT_EQ("-20.0000", dbText(0.1f));
}

TEST(FrequencyAndTimeText, ConvertSamplesThroughTheSampleRate) {
    char text[32];
    valuetext::Hz2string(44100.0f, 441.0f, text);
    EXPECT_STREQ("100.0000", text);
    valuetext::Hz2string(44100.0f, 0.0f, text);
    EXPECT_STREQ("0.000000", text);
    valuetext::ms2string(44100.0f, 441.0f, text);
    EXPECT_STREQ("10.00000", text);
    valuetext::ms2string(48000.0f, 24.0f, text);
    EXPECT_STREQ("0.500000", text);
}

TEST(DisplayText, IsCutToEightCharacters) {
    char text[16];
    std::memset(text, 'x', sizeof text);
    valuetext::formatDisplay(text, "%.2f", 123456789.0);
    EXPECT_STREQ("12345678", text);
    EXPECT_EQ('x', text[9]);
    valuetext::formatDisplay(text, "%.2f", 0.85f);
    EXPECT_STREQ("0.85", text);
}

}  // namespace
