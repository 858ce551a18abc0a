#include "WavFiles.h"

#include <cmath>
#include <cstdio>
#include <cstring>

void putLittle(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

uint32_t getLittle(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return v;
}

bool writeWav16(const std::string& path, uint32_t sampleRate, const std::vector<std::vector<float>>& samples) {
    const uint16_t channels = uint16_t(samples.size());
    const size_t frames = samples.empty() ? 0 : samples[0].size();
    const uint32_t dataBytes = uint32_t(frames * channels * 2);
    std::vector<uint8_t> bytes;
    bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
    putLittle(bytes, dataBytes + 36, 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLittle(bytes, 16, 4);
    putLittle(bytes, 1, 2);
    putLittle(bytes, channels, 2);
    putLittle(bytes, sampleRate, 4);
    putLittle(bytes, sampleRate * channels * 2, 4);
    putLittle(bytes, channels * 2u, 2);
    putLittle(bytes, 16, 2);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    putLittle(bytes, dataBytes, 4);
    for (size_t i = 0; i < frames; ++i)
        for (uint16_t ch = 0; ch < channels; ++ch) {
            const float v = samples[ch][i] > 1.0f ? 1.0f : samples[ch][i] < -1.0f ? -1.0f : samples[ch][i];
            putLittle(bytes, uint32_t(int32_t(std::lround(v * 32767.0f))), 2);
        }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool readWav(const std::string& path, WavContent& content) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(&bytes[8], "WAVE", 4))
        return false;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
        const uint32_t size = getLittle(&bytes[pos + 4], 4);
        const size_t body = pos + 8;
        if (!std::memcmp(&bytes[pos], "fmt ", 4) && body + 16 <= bytes.size()) {
            content.formatTag = uint16_t(getLittle(&bytes[body], 2));
            content.channels = uint16_t(getLittle(&bytes[body + 2], 2));
            content.sampleRate = getLittle(&bytes[body + 4], 4);
            content.bitsPerSample = uint16_t(getLittle(&bytes[body + 14], 2));
        } else if (!std::memcmp(&bytes[pos], "data", 4)) {
            data = &bytes[body];
            dataSize = std::min<size_t>(size, bytes.size() - body);
        }
        if (size > bytes.size() - body)
            break;
        pos = body + size + (size & 1);
    }
    const int width = content.bitsPerSample / 8;
    if (!data || content.formatTag != 1 || content.channels == 0 || (width != 2 && width != 3))
        return false;
    const size_t frames = dataSize / (size_t(width) * content.channels);
    content.samples.assign(content.channels, std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i)
        for (uint16_t ch = 0; ch < content.channels; ++ch) {
            const uint8_t* p = data + (i * content.channels + ch) * width;
            const int32_t v = int32_t(getLittle(p, width) << (32 - 8 * width)) >> (32 - 8 * width);
            content.samples[ch][i] = float(v) / float(1 << (8 * width - 1));
        }
    return true;
}
