#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FormatRecord.h"

// Builds WAV files byte by byte, including the malformed ones.
struct WaveBuilder {
    uint16_t formatTag = 1;
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    int32_t blockAlign = -1;       // -1: channels x bits / 8
    int64_t avgBytesPerSec = -1;   // -1: block align x rate
    int64_t formatSize = -1;       // -1: 16 + extra format bytes
    uint32_t extraFormatBytes = 0; // body bytes after the 16 format fields (zeros, or extension's)
    int64_t dataSizeField = -1;    // -1: the real data length
    std::vector<uint8_t> data;
    std::string chunksBeforeFormat; // whole chunks after "WAVE", e.g. "JUNK" or "bext"
    std::string chunkBeforeData;   // e.g. a whole "LIST" chunk
    std::vector<uint8_t> trailing; // bytes after the data chunk
    std::vector<uint8_t> extension; // the first extra format bytes
    std::string riff = "RIFF", wave = "WAVE", fmt = "fmt ", dataTag = "data";

    uint16_t align() const { return uint16_t(blockAlign >= 0 ? blockAlign : channels * bits / 8); }

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> out;
        auto tag = [&](const std::string& t) { out.insert(out.end(), t.begin(), t.begin() + 4); };
        auto u16 = [&](uint32_t v) { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); };
        auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
        tag(riff);
        u32(0);  // patched below
        tag(wave);
        out.insert(out.end(), chunksBeforeFormat.begin(), chunksBeforeFormat.end());
        tag(fmt);
        u32(uint32_t(formatSize >= 0 ? formatSize : 16 + extraFormatBytes));
        u16(formatTag);
        u16(channels);
        u32(rate);
        u32(uint32_t(avgBytesPerSec >= 0 ? avgBytesPerSec : int64_t(align()) * rate));
        u16(align());
        u16(bits);
        for (uint32_t i = 0; i < extraFormatBytes; ++i)
            out.push_back(i < extension.size() ? extension[i] : 0);
        out.insert(out.end(), chunkBeforeData.begin(), chunkBeforeData.end());
        tag(dataTag);
        u32(uint32_t(dataSizeField >= 0 ? dataSizeField : int64_t(data.size())));
        out.insert(out.end(), data.begin(), data.end());
        out.insert(out.end(), trailing.begin(), trailing.end());
        const uint32_t riffSize = uint32_t(out.size() - 8);
        std::memcpy(out.data() + 4, &riffSize, 4);
        return out;
    }

    // One whole chunk: its id, its size and body, and the pad byte an odd size needs.
    static std::string chunk(const char* id, const std::string& body) {
        std::string out(id, 4);
        const uint32_t size = uint32_t(body.size());
        for (int i = 0; i < 4; ++i) out.push_back(char(uint8_t(size >> (8 * i))));
        out += body;
        if (size & 1u) out.push_back('\0');
        return out;
    }

    // An extensible format (tag 0xFFFE) over the sub-format subTag (1 PCM, 3 float),
    // with ten frames of silence.
    static WaveBuilder extensible(uint16_t subTag, uint16_t bits, uint16_t validBits, uint16_t channels = 2) {
        WaveBuilder w;
        w.formatTag = 0xFFFE;
        w.channels = channels;
        w.bits = bits;
        w.extraFormatBytes = 24;
        const uint8_t guidTail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        w.extension = {22, 0, uint8_t(validBits), uint8_t(validBits >> 8), 3, 0, 0, 0, uint8_t(subTag), uint8_t(subTag >> 8)};
        w.extension.insert(w.extension.end(), guidTail, guidTail + 14);
        w.data.assign(size_t(w.align()) * 10, 0);
        return w;
    }

    // A plain 16-bit PCM file of countingFrames16.
    static WaveBuilder counting(int frames, int channels = 2, uint32_t rate = 44100) {
        WaveBuilder w;
        w.channels = uint16_t(channels);
        w.rate = rate;
        w.data = countingFrames16(frames, channels);
        return w;
    }

    // 16-bit PCM frames whose left sample is the frame number and right its negation,
    // so a frame read back tells where in the data it came from.
    static std::vector<uint8_t> countingFrames16(int frames, int channels) {
        std::vector<uint8_t> bytes;
        for (int i = 0; i < frames; ++i)
            for (int ch = 0; ch < channels; ++ch) {
                const int16_t v = int16_t(ch == 0 ? i : -i);
                bytes.push_back(uint8_t(v));
                bytes.push_back(uint8_t(uint16_t(v) >> 8));
            }
        return bytes;
    }
};
