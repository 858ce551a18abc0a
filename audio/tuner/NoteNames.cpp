#include "NoteNames.h"

#include <cmath>

namespace {
const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
}

double validReferenceA(double hz) {
    return hz >= kLowestReferenceA && hz <= kHighestReferenceA ? hz : kDefaultReferenceA;
}

bool readNote(double frequency, double referenceA, NoteReading* reading) {
    if (!reading || !(frequency > 0.0) || !std::isfinite(frequency))
        return false;
    const double semitones = 12.0 * std::log2(frequency / validReferenceA(referenceA));
    const long nearest = std::lround(semitones);
    if (nearest < -200 || nearest > 200)
        return false;
    const int note = 69 + int(nearest);
    reading->note = note;
    reading->octave = (note >= 0 ? note / 12 : (note - 11) / 12) - 1;
    reading->name = kNames[((note % 12) + 12) % 12];
    reading->cents = 100.0 * (semitones - double(nearest));
    return true;
}
