#include "TunerText.h"

#include <cstdio>

bool formatTunerLine(double seconds, const TunerDisplay& display, char* text, size_t size) {
    if (!text || size == 0)
        return false;
    int written;
    if (display.showing)
        written = std::snprintf(text, size, "%.1f s  %s%d  %+.1f cents  %.2f Hz", seconds, display.note.name,
                                display.note.octave, display.note.cents, display.frequency);
    else
        written = std::snprintf(text, size, "%.1f s  -", seconds);
    return written >= 0 && size_t(written) < size;
}
