#include "DemoSounds.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const int kRate = 44100;
const double kPi = 3.14159265358979323846;

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

bool writeStereo16(const std::string& path, const std::vector<double>& mono) {
    const uint32_t dataBytes = uint32_t(mono.size() * 4);
    std::vector<uint8_t> bytes;
    bytes.reserve(44 + dataBytes);
    bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
    putU32(bytes, dataBytes + 36);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putU32(bytes, 16);
    putU16(bytes, 1);
    putU16(bytes, 2);
    putU32(bytes, kRate);
    putU32(bytes, kRate * 4);
    putU16(bytes, 4);
    putU16(bytes, 16);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    putU32(bytes, dataBytes);
    for (double v : mono) {
        const double clipped = v > 1.0 ? 1.0 : v < -1.0 ? -1.0 : v;
        const int16_t s = int16_t(std::lround(clipped * 32767.0));
        putU16(bytes, uint16_t(s));
        putU16(bytes, uint16_t(s));
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace

bool writeDemoRiff(const std::string& path, double seconds) {
    const size_t frames = size_t(seconds * kRate);
    // Eighth notes at 120 bpm: A2, A2, E3, A2, G2, A2, C3, D3 (frequencies in Hz).
    const double notes[] = {110.0, 110.0, 164.81, 110.0, 98.0, 110.0, 130.81, 146.83};
    const size_t noteLength = kRate / 4;
    std::vector<double> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        const size_t note = i / noteLength;
        const double f = notes[note % 8];
        const double t = double(i % noteLength) / kRate;
        // A plucked string: fundamental and a few overtones, decaying.
        double v = std::sin(2 * kPi * f * t) + 0.5 * std::sin(4 * kPi * f * t) + 0.25 * std::sin(6 * kPi * f * t);
        v *= std::exp(-t * 6.0) * (1.0 - std::exp(-t * 800.0));
        out[i] = 0.3 * v;
    }
    return writeStereo16(path, out);
}

bool writeDemoBacking(const std::string& path, double seconds) {
    const size_t frames = size_t(seconds * kRate);
    std::vector<double> out(frames);
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double swell = 0.75 + 0.25 * std::sin(2 * kPi * 0.25 * t);
        const double chord =
            std::sin(2 * kPi * 220.0 * t) + std::sin(2 * kPi * 261.63 * t) + std::sin(2 * kPi * 329.63 * t);
        out[i] = 0.033 * swell * chord;
    }
    return writeStereo16(path, out);
}
