#pragma once
#include <cstdint>

// Describes a driver channel or the "fmt " chunk of a WAV file. Laid out like the
// Windows WAVEFORMATEX record (18 bytes, no padding) so it can be handed to the
// platform as is.
#pragma pack(push, 1)
struct FormatRecord {
    uint16_t formatTag;       // 1 = integer PCM, 3 = IEEE float
    uint16_t channels;        // interleaved channels (1 for a driver channel)
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;  // blockAlign * samplesPerSec
    uint16_t blockAlign;      // bytes from one frame to the next
    uint16_t bitsPerSample;
    uint16_t extraSize;
};
#pragma pack(pop)
static_assert(sizeof(FormatRecord) == 18, "FormatRecord must match WAVEFORMATEX");

enum : uint16_t { kFormatPcm = 1, kFormatFloat = 3 };

// One used driver channel in one buffer callback. A null position ends an array.
struct ChannelBuffer {
    FormatRecord format;
    uint8_t bigEndian;
    uint8_t* position;  // this callback's data in the driver's half-buffer
};
