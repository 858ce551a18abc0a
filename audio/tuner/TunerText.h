#pragma once
#include <cstddef>

#include "TunerTracker.h"

// One line of the tuner's log: "12.0 s  E1  +7.0 cents  41.37 Hz", or "12.0 s  -"
// where no note is heard. False when the buffer is too small.
bool formatTunerLine(double seconds, const TunerDisplay& display, char* text, size_t size);
