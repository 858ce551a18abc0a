#pragma once
// Texts to and from a VST3 plug-in, portable. Every text from a plug-in is read only
// within its field (a plug-in may leave out the terminating NUL) and cut to ours.
#include <cstddef>
#include <cstdint>

namespace vst3text {

// UTF-16 (at most units code units, up to a NUL) into UTF-8 of at most size - 1 bytes
// and a NUL, cut before a character that does not fit. Unpaired surrogates become
// U+FFFD.
void fromUtf16(const int16_t* text, size_t units, char* out, size_t size);

// ASCII or UTF-8 into UTF-16 of at most units - 1 code units and a NUL.
void toUtf16(const char* text, int16_t* out, size_t units);

// A char field of fieldSize bytes (perhaps without a NUL) into out.
void fromField(const char* field, size_t fieldSize, char* out, size_t size);

// A class ID as the 32 hex digits of its four 32-bit words as the plug-in declares
// them (the form plug-ins publish), whatever byte order the platform stores them in.
void classIdText(const uint8_t id[16], char text[33]);
// The reverse; false when text is not 32 hex digits.
bool classIdFromText(const char* text, uint8_t id[16]);

// True when the '|'-separated list of categories (within fieldSize) holds name.
bool hasCategory(const char* field, size_t fieldSize, const char* name);

}  // namespace vst3text
