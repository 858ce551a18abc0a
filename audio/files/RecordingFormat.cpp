#include "RecordingFormat.h"

#include <cstring>

namespace {

const uint32_t kRates[5] = {22050, 32000, 44100, 48000, 96000};

void putLittle16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void putLittle32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

RecordingFormatTable::RecordingFormatTable() : count(kFilled) {
    std::memset(entries, 0, sizeof entries);
    for (int wide = 0; wide < 2; ++wide)
        for (int channels = 1; channels <= 2; ++channels)
            for (int rate = 0; rate < 5; ++rate) {
                FormatRecord& e = entries[10 * wide + 5 * (channels - 1) + rate];
                e.channels = uint16_t(channels);
                e.samplesPerSec = kRates[rate];
                e.bitsPerSample = wide ? 24 : 16;
            }
}

int32_t RecordingFormatTable::indexOf(uint16_t bits, uint16_t channels, uint32_t rate) {
    for (int32_t r = 0; r < 5; ++r)
        if (kRates[r] == rate && (bits == 16 || bits == 24) && (channels == 1 || channels == 2))
            return 10 * (bits == 24) + 5 * (channels - 1) + r;
    return -1;
}

FormatRecord recordingFormatFrom(const FormatRecord& entry) {
    FormatRecord f{};
    f.formatTag = kFormatPcm;
    f.channels = entry.channels;
    f.samplesPerSec = entry.samplesPerSec;
    f.bitsPerSample = entry.bitsPerSample;
    f.blockAlign = uint16_t(entry.bitsPerSample / 8 * entry.channels);
    f.avgBytesPerSec = uint32_t(f.blockAlign) * f.samplesPerSec;
    return f;
}

uint16_t clampRecordingSeconds(uint16_t seconds) {
    return seconds < 10 ? uint16_t(10) : seconds > 600 ? uint16_t(600) : seconds;
}

uint32_t ramTakeCapacity(const FormatRecord& entry, uint16_t seconds) {
    const uint64_t bytes = uint64_t(entry.channels) * entry.samplesPerSec * (entry.bitsPerSample / 8) * seconds;
    return bytes > UINT32_MAX ? 0u : uint32_t(bytes);  // no table entry comes near; 0 refuses the take
}

void buildWaveHeader(const FormatRecord& format, uint32_t dataBytes, uint8_t header[kWaveHeaderBytes]) {
    std::memcpy(header, "RIFF", 4);
    putLittle32(header + 4, dataBytes + 36);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLittle32(header + 16, 16);
    putLittle16(header + 20, format.formatTag);
    putLittle16(header + 22, format.channels);
    putLittle32(header + 24, format.samplesPerSec);
    putLittle32(header + 28, format.avgBytesPerSec);
    putLittle16(header + 32, format.blockAlign);
    putLittle16(header + 34, format.bitsPerSample);
    std::memcpy(header + 36, "data", 4);
    putLittle32(header + 40, dataBytes);
}

uint32_t maxTakeDataBytes(uint16_t blockAlign) {
    const uint32_t most = UINT32_MAX - 36;
    return blockAlign ? most - most % blockAlign : 0u;
}

uint32_t bytesThatFit(uint32_t recorded, uint32_t blockBytes, uint32_t limit, uint16_t blockAlign) {
    if (recorded >= limit || blockAlign == 0)
        return 0;
    const uint32_t room = limit - recorded;
    if (blockBytes <= room)
        return blockBytes;
    return room - room % blockAlign;
}

int32_t framesAtRate(uint32_t rate, float hostRate, int32_t frames, int32_t cap) {
    if (!(hostRate >= 1.0f) || frames <= 0)  // also refuses NaN
        return 0;
    const float exact = float(rate) / hostRate * float(frames);
    if (!(exact < float(cap)))
        return cap;
    return int32_t(exact);
}
