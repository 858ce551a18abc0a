#pragma once
// Number-to-text for parameter displays. Every result is at most 8 characters
// plus the NUL, the size VST 2 hosts reserve for a display; digits are cut, not
// rounded, so 20 x log10(0.5) shows as -6.02059.
#include "VstInterface.h"

namespace valuetext {

// Room a host gives for a parameter display or label, NUL included.
constexpr int kDisplaySize = 9;

// The text a value too large for 8 characters shows.
extern const char kHuge[];
// The text of minus infinity decibels.
extern const char kMinusInfinity[];

// Up to 8 characters, sign and point included: the integer digits, then as many
// fraction digits as fit (3.25 -> "3.250000", -0.5 -> "-0.50000").
void float2string(float value, char* text);
// "%7d", or kHuge when the digits do not fit 8 characters.
void long2string(VstInt32 value, char* text);
// 20 x log10(gain) through float2string; kMinusInfinity for gain <= 0.
void dB2string(float gain, char* text);
// The frequency of a period of `samples` samples; 0 samples gives 0.
void Hz2string(float sampleRate, float samples, char* text);
// The duration of `samples` samples in milliseconds.
void ms2string(float sampleRate, float samples, char* text);

// printf-style display of one number, cut to 8 characters.
void formatDisplay(char* text, const char* format, double value);
// Copies a fixed name or label into a host's buffer (which may be null).
void copyText(char* text, const char* source);

// Copies table[index], or an empty text for an index outside the table.
template <int N>
void copyTextAt(char* text, const char* const (&table)[N], VstInt32 index) {
    copyText(text, index >= 0 && index < N ? table[index] : "");
}

}  // namespace valuetext
