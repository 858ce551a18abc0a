#pragma once

// A frequency as the nearest equal-tempered note and the cents from it.
struct NoteReading {
    int note = 0;         // MIDI number: 69 is the reference A4
    int octave = 0;       // scientific pitch: A4, E1, B0
    const char* name = "";  // "C", "C#", ... "B"
    double cents = 0.0;   // -50 .. +50
};

// The reference A4 a player may choose, in Hz.
constexpr double kLowestReferenceA = 415.0;
constexpr double kHighestReferenceA = 466.0;
constexpr double kDefaultReferenceA = 440.0;

// A reference outside the range (or not a number) is taken as the default.
double validReferenceA(double hz);
// False for a frequency that is not positive and finite.
bool readNote(double frequency, double referenceA, NoteReading* reading);
