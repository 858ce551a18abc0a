#include "DeckDisplay.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

void accompanimentDisplayName(const char* path, char* out, size_t outSize) {
    if (outSize == 0)
        return;
    const char* name = std::strrchr(path, '\\');
    name = name ? name + 1 : path;
    size_t length = std::strlen(name);
    const char* dot = std::strrchr(name, '.');
    if (dot)
        length = size_t(dot - name);
    if (length > kDisplayedNameLength)
        length = kDisplayedNameLength;
    if (length >= outSize)
        length = outSize - 1;
    std::memcpy(out, name, length);
    out[length] = '\0';
}

NavigationArea navigationAreaAt(int x, int y) {
    if (y >= 81 && y <= 114) {
        if (x >= 11 && x <= 45)
            return NavigationArea::Play;
        if (x >= 47 && x <= 81)
            return NavigationArea::Pause;
        if (x >= 83 && x <= 117)
            return NavigationArea::Rewind;
    }
    if (x >= 128 && x <= 228 && y >= 80 && y <= 110)
        return NavigationArea::Slider;
    return NavigationArea::None;
}

int thumbX(double fraction) { return 128 + int(std::trunc(100.0 * fraction)); }

float sliderFraction(int x) { return float(x - 128) * 0.01f; }

float dragFraction(double position, int cursorX, int originX) {
    const double fraction = position + double(cursorX - originX) * 0.01;
    if (!(fraction > 0.0))
        return 0.0f;
    return fraction > 1.0 ? 1.0f : float(fraction);
}

uint16_t parseMaximumRecordingTime(const char* text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    long seconds = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        seconds = seconds * 10 + (*text - '0');
        if (seconds > 600)
            return 600;
    }
    return uint16_t(seconds < 10 ? 10 : seconds);
}

TakeCounters takeCountersLeft(bool ramTake, uint32_t bytesRecorded, uint32_t ramCapacity, int64_t freeDiskBytes,
                              uint32_t bytesPerSecond) {
    uint64_t bytes = bytesRecorded;
    if (ramTake)
        bytes = ramCapacity > bytesRecorded ? ramCapacity - bytesRecorded : 0;
    else if (freeDiskBytes >= 0)
        bytes = uint64_t(freeDiskBytes);
    TakeCounters counters;
    counters.seconds = bytesPerSecond ? uint32_t(bytes / bytesPerSecond) : 0;
    counters.megabytes = double(bytes) / 1048576.0;
    return counters;
}
