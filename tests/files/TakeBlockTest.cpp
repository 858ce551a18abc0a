#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "LiveChannels.h"
#include "SampleFormat.h"
#include "SineMeasure.h"
#include "RecordingFormat.h"
#include "TakeBlock.h"

namespace {

struct Take : LiveChannels {
    WaveFileState state;
    DeckBuffers buffers;

    Take(int tableIndex, int frames = 1024) : LiveChannels(frames) {
        RecordingFormatTable table;
        state.format = recordingFormatFrom(table.entries[tableIndex]);
        EXPECT_TRUE(prepareTakeConverter(state, 0));
    }
};

int16_t sample16(const uint8_t* bytes, int index) { return int16_t(bytes[2 * index] | bytes[2 * index + 1] << 8); }

}  // namespace

TEST(TakeBlock, A22050TakeOfA48000ChainTakesItsExactShareOfEveryBlock) {
    Take t(RecordingFormatTable::indexOf(16, 2, 22050), 256);
    int32_t total = 0;
    for (int block = 1; block <= 50; ++block) {
        const int32_t frames = convertForTake(t.state, t.buffers, t.channels, 2, 256, 48000.0f, 1.0f);
        EXPECT_TRUE(frames == 117 || frames == 118) << frames;  // 117.6 a block
        EXPECT_EQ(encodeTakeBlock(t.state, t.buffers, frames), uint32_t(frames) * 4);
        total += frames;
        EXPECT_LE(std::abs(total - block * 256 * 147 / 320), 1);
    }
}

TEST(TakeBlock, ChannelsMapOntoTheTakeWithTheGain) {
    Take mono(RecordingFormatTable::indexOf(16, 1, 48000), 4);
    mono.live[0] = {0.1f, 0.2f, 0.3f, 0.4f};
    mono.live[1] = {0.1f, 0.1f, 0.1f, 0.1f};
    ASSERT_EQ(convertForTake(mono.state, mono.buffers, mono.channels, 2, 4, 48000.0f, 0.5f), 4);
    EXPECT_FLOAT_EQ(mono.buffers.decode[0][3], 0.125f) << "a mono take holds the mean";
    encodeTakeBlock(mono.state, mono.buffers, 4);
    EXPECT_EQ(sample16(mono.buffers.encoded, 3), int16_t(0.125f * 32767));

    Take stereo(RecordingFormatTable::indexOf(16, 2, 48000), 4);
    stereo.live[0] = {0.5f, -0.5f, 0.25f, 0.0f};
    ASSERT_EQ(convertForTake(stereo.state, stereo.buffers, stereo.channels, 1, 4, 48000.0f, 1.0f), 4);
    ASSERT_EQ(encodeTakeBlock(stereo.state, stereo.buffers, 4), 16u);
    EXPECT_EQ(sample16(stereo.buffers.encoded, 0), 16383);
    EXPECT_EQ(sample16(stereo.buffers.encoded, 1), 16383) << "one live channel on both sides";
    EXPECT_EQ(sample16(stereo.buffers.encoded, 2), -16383);
    EXPECT_EQ(sample16(stereo.buffers.encoded, 3), -16383);
}

TEST(TakeBlock, NoLiveChannelsRecordSilence) {
    Take t(RecordingFormatTable::indexOf(16, 2, 48000), 8);
    std::fill(t.buffers.decode[0], t.buffers.decode[0] + 8, 1.0f);
    ASSERT_EQ(convertForTake(t.state, t.buffers, t.channels, 0, 8, 48000.0f, 1.0f), 8);
    EXPECT_EQ(t.buffers.decode[0][5], 0.0f);
}

TEST(TakeBlock, TwentyFourBitMonoOfAnOddFrameCountHasAnOddLength) {
    Take t(RecordingFormatTable::indexOf(24, 1, 48000), 3);
    t.live[0] = {0.5f, -0.5f, 1.0f};
    ASSERT_EQ(convertForTake(t.state, t.buffers, t.channels, 1, 3, 48000.0f, 1.0f), 3);
    EXPECT_EQ(encodeTakeBlock(t.state, t.buffers, 3), 9u);
    const uint8_t* b = t.buffers.encoded;
    EXPECT_EQ(b[0] | b[1] << 8 | b[2] << 16, 0x3FFFFF);
    EXPECT_EQ(b[6] | b[7] << 8 | b[8] << 16, int32_t(0.99999f * 8388607.0f)) << "limited to 0.99999";
}

TEST(TakeBlock, ARamTakeStopsAtItsCapacityOnAWholeFrame) {
    Take t(RecordingFormatTable::indexOf(16, 2, 48000), 4);
    t.state.dataBytes = 10 * 4;
    std::vector<uint8_t> memory(t.state.dataBytes + 16, 0xEE);
    for (int i = 0; i < 16; ++i)
        t.buffers.encoded[i] = uint8_t(i + 1);
    EXPECT_EQ(appendToRamTake(t.state, t.buffers, memory.data(), 16), 16u);
    EXPECT_EQ(appendToRamTake(t.state, t.buffers, memory.data(), 16), 16u);
    EXPECT_EQ(appendToRamTake(t.state, t.buffers, memory.data(), 16), 8u);
    EXPECT_EQ(appendToRamTake(t.state, t.buffers, memory.data(), 16), 0u);
    EXPECT_EQ(t.state.readPosition, 40u);
    EXPECT_EQ(memory[39], 8);
    EXPECT_EQ(memory[40], 0xEE) << "nothing written past the capacity";
}

namespace {

// Runs blocks of the chain through a RAM take and decodes what it holds.
std::vector<std::vector<float>> recordAndReadBack(Take& t, int liveChannels, int blocks, float hostRate,
                                                 const double amplitude[2], const double frequency[2]) {
    std::vector<uint8_t> memory(size_t(blocks) * 1100 * t.state.format.blockAlign);
    t.state.dataBytes = uint32_t(memory.size());
    long n = 0;
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < 256; ++i, ++n)
            for (int ch = 0; ch < 2; ++ch)
                t.live[ch][i] = float(amplitude[ch] * std::sin(2.0 * SineMeasure::kPi * frequency[ch] * n / hostRate + ch));
        const int32_t frames = convertForTake(t.state, t.buffers, t.channels, liveChannels, 256, hostRate, 1.0f);
        appendToRamTake(t.state, t.buffers, memory.data(), encodeTakeBlock(t.state, t.buffers, frames));
    }
    const int32_t frames = int32_t(t.state.readPosition / t.state.format.blockAlign);
    std::vector<std::vector<float>> back(t.state.format.channels, std::vector<float>(size_t(frames)));
    float* to[2] = {back[0].data(), back.back().data()};
    EXPECT_TRUE(decodeSamples(memory.data(), to, frames, t.state.format, false));
    return back;
}

}  // namespace

TEST(TakeBlock, A44100TakeOfA48000ChainReadsBackAsCleanTones) {
    Take t(RecordingFormatTable::indexOf(24, 2, 44100), 256);
    const double amplitude[2] = {0.5, 0.25}, frequency[2] = {1000.0, 15000.0};
    const auto back = recordAndReadBack(t, 2, 220, 48000.0f, amplitude, frequency);
    ASSERT_NEAR(double(back[0].size()), 220 * 256 * 44100.0 / 48000.0, 1.0) << "the take lasts as long as the playing";
    for (int ch = 0; ch < 2; ++ch) {
        const SineMeasure m(back[ch].data() + 4410, 44100, frequency[ch], 44100.0);
        EXPECT_GE(m.sinadDb, 100.0) << ch;
        EXPECT_NEAR(m.frequency, frequency[ch], 0.01) << ch;
        EXPECT_NEAR(m.amplitude, amplitude[ch], amplitude[ch] * 0.006) << ch;
    }
}

TEST(TakeBlock, AMonoTakeOfALoudStereoChainDoesNotClip) {
    Take two(RecordingFormatTable::indexOf(16, 1, 48000), 256);
    const double loud[2] = {0.95, 0.95}, frequency[2] = {440.0, 440.0};  // in near phase
    const auto mono = recordAndReadBack(two, 2, 40, 48000.0f, loud, frequency);
    float peak = 0.0f;
    for (float v : mono[0])
        peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 32766 * kStep16) << "nothing at the encoder's limit";
    EXPECT_NEAR(peak, 0.95 * std::cos(0.5), 0.01) << "the mean of the two";

    Take one(RecordingFormatTable::indexOf(16, 1, 48000), 256);
    const auto own = recordAndReadBack(one, 1, 40, 48000.0f, loud, frequency);
    float ownPeak = 0.0f;
    for (float v : own[0])
        ownPeak = std::max(ownPeak, std::fabs(v));
    EXPECT_NEAR(ownPeak, 0.95f, 0.001f) << "one live channel records at its own level";
}
