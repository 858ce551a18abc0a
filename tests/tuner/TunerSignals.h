#pragma once
// Synthesised instrument signals for the tuner's tests and benchmarks.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

struct PluckedNote {
    double frequency = 110.0;
    double seconds = 1.0;
    double level = 0.5;             // peak of the attack, full scale 1
    double decaySeconds = 1.5;      // time constant of the fundamental's decay
    double fundamentalDb = 0.0;     // the fundamental against the second harmonic
    int harmonics = 12;
    double noiseDb = -200.0;        // white noise against the note's level
    double humDb = -200.0;          // mains hum (50 Hz and its third harmonic)
    uint32_t seed = 1;
};

// A plucked string: harmonics falling off with their number and decaying faster the
// higher they are, with a short attack, plus noise and hum where asked.
inline std::vector<float> pluck(const PluckedNote& note, double rate, double startPhase = 0.0) {
    const double twoPi = 2.0 * 3.14159265358979323846;
    const size_t count = size_t(note.seconds * rate);
    std::vector<float> out(count);
    uint32_t state = note.seed * 2654435761u + 1u;
    const double noise = note.level * std::pow(10.0, note.noiseDb / 20.0);
    const double hum = note.level * std::pow(10.0, note.humDb / 20.0);
    std::vector<double> amplitude(size_t(std::max(note.harmonics, 2)) + 1, 0.0);
    for (int h = 1; h <= note.harmonics; ++h)
        amplitude[size_t(h)] = 1.0 / h;
    amplitude[1] = 0.5 * std::pow(10.0, note.fundamentalDb / 20.0);  // against the second's 1/2
    double sum = 0.0;
    for (int h = 1; h <= note.harmonics; ++h)
        sum += amplitude[size_t(h)];
    for (size_t n = 0; n < count; ++n) {
        const double t = double(n) / rate;
        const double attack = std::min(1.0, t / 0.004);
        double x = 0.0;
        for (int h = 1; h <= note.harmonics; ++h) {
            if (note.frequency * h >= rate * 0.45)
                break;
            const double decay = std::exp(-t * (1.0 + 0.3 * (h - 1)) / note.decaySeconds);
            x += amplitude[size_t(h)] * decay * std::sin(twoPi * note.frequency * h * t + startPhase * h);
        }
        state = state * 1664525u + 1013904223u;
        const double white = (double(state >> 8) / double(1u << 24)) * 2.0 - 1.0;
        const double mains = std::sin(twoPi * 50.0 * t) + 0.3 * std::sin(twoPi * 150.0 * t);
        out[n] = float(note.level * attack * x / sum + noise * white * 1.732 + hum * mains);
    }
    return out;
}

inline double centsBetween(double measured, double truth) { return 1200.0 * std::log2(measured / truth); }
