#pragma once
// The effect benchmarks' input: a guitar-like signal, a few harmonics with a slow
// amplitude wobble and some noise, peaking near full scale; the same on every run.
#include <cmath>
#include <vector>

inline std::vector<float> loudSignal(size_t frames, int channel, double rate = 48000.0) {
    std::vector<float> out(frames);
    unsigned noise = 12345u + unsigned(channel);
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (double(noise >> 8) / double(1u << 23) - 1.0) * 0.02;
        const double tone = 0.5 * std::sin(2 * M_PI * 196.0 * t) + 0.25 * std::sin(2 * M_PI * 392.0 * t + channel) +
                            0.15 * std::sin(2 * M_PI * 1177.0 * t);
        out[i] = float((0.8 + 0.2 * std::sin(2 * M_PI * 3.0 * t)) * tone + hiss);
    }
    return out;
}
