#include "RigTunerLines.h"

#include <cstdio>

#include "TunerText.h"

void printTunerLines(TunerTap& tuner, bool overProgressBar) {
    TunerTap::Reading reading;
    while (tuner.takeSecondReading(&reading)) {
        char line[96];
        if (!formatTunerLine(reading.seconds, reading.display, line, sizeof line))
            continue;
        std::printf(overProgressBar ? "\r%-70s\n" : "%s\n", line);
    }
    std::fflush(stdout);
}
