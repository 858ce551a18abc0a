#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "RecordingFormat.h"

TEST(RecordingFormat, TheTableOrdersBitsThenChannelsThenRates) {
    RecordingFormatTable table;
    EXPECT_EQ(table.count, 20);
    const uint32_t rates[5] = {22050, 32000, 44100, 48000, 96000};
    for (int i = 0; i < 20; ++i) {
        const FormatRecord& e = table.entries[i];
        EXPECT_EQ(+e.bitsPerSample, i >= 10 ? 24 : 16) << i;
        EXPECT_EQ(+e.channels, (i % 10) >= 5 ? 2 : 1) << i;
        EXPECT_EQ(+e.samplesPerSec, rates[i % 5]) << i;
        EXPECT_EQ(RecordingFormatTable::indexOf(+e.bitsPerSample, +e.channels, +e.samplesPerSec), i);
    }
    EXPECT_EQ(table.entries[20].samplesPerSec, 0u);  // the rest of the room stays empty
    EXPECT_EQ(RecordingFormatTable::indexOf(16, 2, 44100), RecordingFormatTable::kDefaultIndex);
    EXPECT_EQ(RecordingFormatTable::indexOf(8, 2, 44100), -1);
}

TEST(RecordingFormat, TheDefaultTakeIsCdQuality) {
    RecordingFormatTable table;
    const FormatRecord f = recordingFormatFrom(table.entries[RecordingFormatTable::kDefaultIndex]);
    EXPECT_EQ(+f.formatTag, 1);
    EXPECT_EQ(+f.channels, 2);
    EXPECT_EQ(+f.samplesPerSec, 44100u);
    EXPECT_EQ(+f.bitsPerSample, 16);
    EXPECT_EQ(+f.blockAlign, 4);
    EXPECT_EQ(+f.avgBytesPerSec, 176400u);
    const FormatRecord wide = recordingFormatFrom(table.entries[19]);
    EXPECT_EQ(+wide.blockAlign, 6);
    EXPECT_EQ(+wide.avgBytesPerSec, 576000u);
}

TEST(RecordingFormat, HeaderOfAThousandFrameTake) {
    RecordingFormatTable table;
    const FormatRecord f = recordingFormatFrom(table.entries[RecordingFormatTable::kDefaultIndex]);
    uint8_t h[kWaveHeaderBytes];
    buildWaveHeader(f, 1000 * f.blockAlign, h);
    const uint8_t expected[kWaveHeaderBytes] = {
        'R', 'I', 'F', 'F', 0xC4, 0x0F, 0, 0,  // 4036
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
        1, 0, 2, 0, 0x44, 0xAC, 0, 0,          // PCM, stereo, 44100
        0x10, 0xB1, 2, 0,                      // 176400
        4, 0, 16, 0,
        'd', 'a', 't', 'a', 0xA0, 0x0F, 0, 0,  // 4000
    };
    EXPECT_EQ(0, std::memcmp(h, expected, kWaveHeaderBytes));
}

TEST(RecordingFormat, RamTakeCapacityAndItsTime) {
    RecordingFormatTable table;
    EXPECT_EQ(ramTakeCapacity(table.entries[7], 200), 35280000u);
    EXPECT_EQ(ramTakeCapacity(table.entries[19], 600), 345600000u);
    EXPECT_EQ(clampRecordingSeconds(5), 10);
    EXPECT_EQ(clampRecordingSeconds(900), 600);
    EXPECT_EQ(clampRecordingSeconds(200), 200);
}

TEST(RecordingFormat, ATakeStopsBeforeItsSizesWrap) {
    const uint32_t limit = maxTakeDataBytes(6);
    EXPECT_EQ(limit % 6, 0u);
    EXPECT_LE(uint64_t(limit) + 36, uint64_t(UINT32_MAX));
    EXPECT_GT(uint64_t(limit) + 6 + 36, uint64_t(UINT32_MAX)) << "the largest whole number of frames";
    EXPECT_EQ(maxTakeDataBytes(4), 4294967256u);

    EXPECT_EQ(bytesThatFit(0, 6144, limit, 6), 6144u);
    EXPECT_EQ(bytesThatFit(limit - 6144, 6144, limit, 6), 6144u);
    EXPECT_EQ(bytesThatFit(limit - 600, 6144, limit, 6), 600u);
    EXPECT_EQ(bytesThatFit(limit - 601, 6144, limit, 6), 600u) << "whole frames only";
    EXPECT_EQ(bytesThatFit(limit, 6144, limit, 6), 0u);
}

TEST(RecordingFormat, FramesAtAnotherRate) {
    EXPECT_EQ(framesAtRate(44100, 48000.0f, 256, 10240), 235);
    EXPECT_EQ(framesAtRate(22050, 48000.0f, 256, 10240), 117);
    EXPECT_EQ(framesAtRate(48000, 48000.0f, 1024, 10240), 1024);
    EXPECT_EQ(framesAtRate(96000, 8000.0f, 1024, 10240), 10240) << "capped";
    EXPECT_EQ(framesAtRate(44100, 0.0f, 256, 10240), 0);
    EXPECT_EQ(framesAtRate(44100, -48000.0f, 256, 10240), 0);
    EXPECT_EQ(framesAtRate(44100, std::nanf(""), 256, 10240), 0);
    EXPECT_EQ(framesAtRate(44100, 48000.0f, 0, 10240), 0);
}
