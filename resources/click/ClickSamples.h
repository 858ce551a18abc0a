#pragma once
#include <cstdint>

// The metronome click as built into the program's resources, for code that runs
// without them (native tests, benchmarks, the headless demo).
constexpr int kClickSampleCount = 6528;
extern const int16_t kClickSamples[kClickSampleCount];
