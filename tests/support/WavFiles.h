#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Plain WAV files for tests: written as 16-bit PCM, read back as floats.
struct WavContent {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
    std::vector<std::vector<float>> samples;  // one vector per channel
    size_t frames() const { return samples.empty() ? 0 : samples[0].size(); }
};

// Little-endian integers of 1 to 4 bytes, as RIFF files hold them.
void putLittle(std::vector<uint8_t>& out, uint32_t value, int bytes);
uint32_t getLittle(const uint8_t* p, int bytes);

// Interleaved-by-channel input: samples[channel][frame], full scale +-1.0.
bool writeWav16(const std::string& path, uint32_t sampleRate, const std::vector<std::vector<float>>& samples);
// Reads 16- or 24-bit PCM (the chunk walk accepts any chunk order).
bool readWav(const std::string& path, WavContent& content);
