#pragma once
#include <cstdint>

#include "LastValue.h"

// Noise gate of the live channels. The level is the mean absolute value over the
// last 50 ms; below the threshold the gate closes along a linear ramp, at or above
// it opens along another. Each change of direction restarts its ramp from its own
// beginning: a gate that opens during a closing ramp starts opening at gain 0.
class NoiseGate {
public:
    struct Settings {
        float thresh;   // knob 0..1; 0.00001 or less switches the gate off
        float attack;   // opening ramp knob 0..1 (5 to 500 ms)
        float release;  // closing ramp knob 0..1 (5 to 500 ms)
    };

    struct Channel {
        float sum = 0.0f;
        float* window = nullptr;
        int32_t position = 0;
        int32_t length = 0;  // L, samples in the window
        int32_t ramp = 0;    // K: >0 closing progress, <0 opening progress
    };

    NoiseGate() = default;
    virtual ~NoiseGate();
    NoiseGate(const NoiseGate&) = delete;
    NoiseGate& operator=(const NoiseGate&) = delete;

    // At start of live input (UI thread): windows of 50 ms at this rate, cleared.
    // False when a window could not be allocated (the gate then stays transparent).
    bool prepare(double sampleRate);

    // Driver thread, in place.
    void process(float* const* channels, int32_t channelCount, int32_t frames, const Settings& settings,
                 double sampleRate);

    const Channel& channel(int i) const { return channels_[i]; }

private:
    static float thresholdFor(float knob);

    Channel channels_[2];
    LastValue<float, float> threshold_;  // the threshold's pow() per knob value
};
