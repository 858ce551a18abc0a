#pragma once
#include <cstdint>

#include "FormatRecord.h"

// The formats a take can be recorded in, the 44-byte header of the file written,
// and the arithmetic of a take's size.

// The table the recording dialog lists: 16 then 24 bits; within each, mono then
// stereo; within each, 22050, 32000, 44100, 48000 and 96000 Hz. Only channels,
// rate and bits are set in an entry.
struct RecordingFormatTable {
    static constexpr int32_t kSlots = 50;
    static constexpr int32_t kFilled = 20;
    static constexpr int32_t kDefaultIndex = 7;  // 44100 Hz, 16 bits, stereo

    FormatRecord entries[kSlots];
    int32_t count;

    RecordingFormatTable();
    // index = 10 x (bits is 24) + 5 x (channels - 1) + position of the rate.
    static int32_t indexOf(uint16_t bits, uint16_t channels, uint32_t rate);
};

// The PCM format of a take made from a table entry.
FormatRecord recordingFormatFrom(const FormatRecord& entry);

// The RAM take's longest time in seconds: 10 to 600.
uint16_t clampRecordingSeconds(uint16_t seconds);

// Bytes a RAM take of that many seconds holds in that format.
uint32_t ramTakeCapacity(const FormatRecord& entry, uint16_t seconds);

constexpr uint32_t kWaveHeaderBytes = 44;

// The header of a PCM take: RIFF size = data + 36, a 16-byte "fmt " chunk, then the
// "data" chunk header. No pad byte follows odd data and no other chunk is written.
void buildWaveHeader(const FormatRecord& format, uint32_t dataBytes, uint8_t header[kWaveHeaderBytes]);

// The longest sample data whose RIFF size (data + 36) still fits 32 bits, in whole
// frames of the given block align.
uint32_t maxTakeDataBytes(uint16_t blockAlign);

// How many of a block's bytes a take may still hold: all of them, or the whole frames
// that bring it up to the limit.
uint32_t bytesThatFit(uint32_t recorded, uint32_t blockBytes, uint32_t limit, uint16_t blockAlign);

// Frames of a stream at rate that span frames frames of the live chain at hostRate:
// (rate / hostRate) x frames truncated toward zero, at most cap. 0 for a host rate
// that is not a positive number.
int32_t framesAtRate(uint32_t rate, float hostRate, int32_t frames, int32_t cap);
