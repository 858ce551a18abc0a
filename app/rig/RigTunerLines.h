#pragma once
#include "TunerTap.h"

// Prints the tuner's line for each whole second heard since the last call, one per
// line (over a progress bar's line when one is shown, which is drawn again after).
void printTunerLines(TunerTap& tuner, bool overProgressBar);
