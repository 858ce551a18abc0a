#include "ValueText.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace valuetext {

const char kHuge[] = " Huge!  ";
const char kMinusInfinity[] = "  -oo   ";

namespace {
constexpr int kMaxChars = kDisplaySize - 1;
}

void float2string(float value, char* text) {
    if (!text)
        return;
    if (std::isnan(value)) {
        copyText(text, "  NaN   ");
        return;
    }
    const bool negative = value < 0.0f;
    const double v = std::fabs(double(value));
    if (v > (negative ? 9999999.0 : 99999999.0)) {
        copyText(text, kHuge);
        return;
    }

    // Integer digits from the right. The limit above leaves room for all of them;
    // the point follows only when it still fits (an 8-digit value has none).
    char digits[kMaxChars];
    int digitCount = 0;
    double integ = std::floor(v);
    do {
        digits[digitCount++] = char('0' + int(std::fmod(integ, 10.0)));
        integ /= 10.0;
    } while (integ >= 1.0 && digitCount < kMaxChars);

    char out[kDisplaySize];
    int used = 0;
    if (negative)
        out[used++] = '-';
    while (digitCount > 0)
        out[used++] = digits[--digitCount];
    if (used < kMaxChars)
        out[used++] = '.';

    // Fraction digits, also produced from the right and cut, not rounded.
    const int fractionDigits = kMaxChars - used;
    double m = std::fmod(v, 1.0) * std::pow(10.0, fractionDigits);
    for (int i = used + fractionDigits - 1; i >= used; --i) {
        if (m <= 0.0) {
            out[i] = '0';
        } else {
            out[i] = char('0' + int(std::fmod(m, 10.0)));
            m /= 10.0;
        }
    }
    used += fractionDigits;
    out[used] = '\0';
    std::memcpy(text, out, size_t(used) + 1);
}

void long2string(VstInt32 value, char* text) {
    if (!text)
        return;
    // A negative value of 8 digits would be cut to the wrong number.
    if (value >= 100000000 || value <= -10000000) {
        copyText(text, kHuge);
        return;
    }
    char out[16];
    std::snprintf(out, sizeof out, "%7d", int(value));
    out[kMaxChars] = '\0';
    copyText(text, out);
}

void dB2string(float gain, char* text) {
    if (gain <= 0.0f) {
        copyText(text, kMinusInfinity);
        return;
    }
    float2string(float(20.0 * std::log10(double(gain))), text);
}

void Hz2string(float sampleRate, float samples, char* text) {
    if (samples == 0.0f)
        float2string(0.0f, text);
    else
        float2string(sampleRate / samples, text);
}

void ms2string(float sampleRate, float samples, char* text) {
    float2string(samples * 1000.0f / sampleRate, text);
}

void formatDisplay(char* text, const char* format, double value) {
    if (!text)
        return;
    std::snprintf(text, kDisplaySize, format, value);
}

void copyText(char* text, const char* source) {
    if (!text)
        return;
    std::strcpy(text, source);
}

}  // namespace valuetext
