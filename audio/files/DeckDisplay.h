#pragma once
#include <cstddef>
#include <cstdint>

// What the accompaniment's navigation bar and the recording dialog show and how they
// read the user's input: plain decisions, kept apart from the windows.

// The name the navigation bar shows: the part after the last backslash, cut at its
// last ".", at most 31 characters. out holds at least 32 bytes.
constexpr size_t kDisplayedNameLength = 31;
void accompanimentDisplayName(const char* path, char* out, size_t outSize);

// The areas of the navigation bar that answer a press, in client pixels.
enum class NavigationArea { None, Play, Pause, Rewind, Slider };
NavigationArea navigationAreaAt(int x, int y);
// The thumb's left edge for a position fraction.
int thumbX(double fraction);
// The fraction a press at client x in the slider asks for.
float sliderFraction(int x);
// While dragging: the playback position moved by the cursor's offset from the
// press, a hundredth per pixel, held within 0..1.
float dragFraction(double position, int cursorX, int originX);

// The leading decimal number of the maximum-time field, held within 10..600.
uint16_t parseMaximumRecordingTime(const char* text);

// The two counters while a take runs. They show what is left: of the RAM take's
// memory, or of the disk under a direct take's folder (freeDiskBytes; negative when
// unknown, then what was recorded is shown instead). bytesPerSecond 0 shows 0 seconds.
struct TakeCounters {
    uint32_t seconds;
    double megabytes;
};
TakeCounters takeCountersLeft(bool ramTake, uint32_t bytesRecorded, uint32_t ramCapacity, int64_t freeDiskBytes,
                              uint32_t bytesPerSecond);
