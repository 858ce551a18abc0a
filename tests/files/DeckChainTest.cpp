// The deck in the live chain: the accompaniment reaches the outputs, and the take
// holds the playing with or without the accompaniment, never the click.
#include <gtest/gtest.h>

#include <cmath>

#include "ClickSamples.h"
#include "DeckTestSupport.h"
#include "ErrorFlags.h"
#include "LiveChain.h"
#include "MessageBoxRecorder.h"
#include "SampleFormat.h"
#include "WavFiles.h"
#include "WaveDeck.h"

namespace {

const int kRate = 48000;
const int kPiece = 480;  // 10 ms driver buffers
const float kPlaying = 0.125f;
const float kBacking = 0.25f;  // 8192 as a 16-bit sample

class DeckInChain : public ::testing::Test {
protected:
    void SetUp() override {
        clearErrorFlag(0xFFFFFFFF);
        settings.gateThresh = 0.0f;
        settings.centerAmp = 0;
        settings.metronome = 1;  // a loud click on every beat
        chain.setClick(kClickSamples, sizeof kClickSamples);
        ASSERT_TRUE(chain.prepareForStart(kRate));
        chain.attachRecorder(&deck);
        chain.attachAccompaniment(&deck);
        formatFromSampleType(kAsioFloat32LSB, format, kRate);

        const std::string path = folder.file("backing.wav");
        ASSERT_TRUE(writeWav16(path, kRate, {std::vector<float>(kRate, kBacking)}));  // one second, mono
        ASSERT_TRUE(deck.openAccompaniment(path.c_str()));
        deck.formatIndex = int8_t(RecordingFormatTable::indexOf(16, 2, kRate));
    }

    // One second of one live input through the chain into two outputs, as a driver
    // would call it, each buffer after the writer has taken the last block.
    void runOneSecond() {
        std::vector<float> input(kPiece, kPlaying), left(kPiece), right(kPiece);
        outputPeak = 0.0f;
        for (int done = 0; done < kRate; done += kPiece) {
            while (deck.isBlockPending())
                Sleep(0);
            ChannelBuffer ins[2] = {{format, 0, reinterpret_cast<uint8_t*>(input.data())}, {}};
            ChannelBuffer outs[3] = {{format, 0, reinterpret_cast<uint8_t*>(left.data())},
                                     {format, 0, reinterpret_cast<uint8_t*>(right.data())}, {}};
            chain.processBlock(ins, outs, kPiece);
            for (float v : left)
                outputPeak = std::max(outputPeak, std::fabs(v - (kPlaying + 0.25f)));
        }
    }

    std::vector<uint8_t> take(bool playingOnly) {
        const std::string path = folder.file(playingOnly ? "alone.wav" : "with.wav");
        deck.playingOnly = playingOnly;
        EXPECT_TRUE(deck.startRecording(path.c_str()));
        runOneSecond();
        EXPECT_TRUE(deck.stopRecording());
        return readWholeFile(path);
    }

    ScratchFolder folder;
    MessageBoxRecorder boxes;
    LiveSettings settings;
    LiveChain chain{&settings};
    WaveDeck deck;
    FormatRecord format{};
    float outputPeak = 0.0f;
};

void expectEveryFrame(const std::vector<uint8_t>& file, int16_t value) {
    ASSERT_EQ(file.size(), 44u + kRate * 4);
    for (size_t at = 44; at < file.size(); at += 2)
        ASSERT_EQ(int16_t(little16(file, at)), value) << "byte " << at;
}

}  // namespace

TEST_F(DeckInChain, TheTakeHoldsPlayingAndAccompanimentButNotTheClick) {
    const auto file = take(false);
    expectEveryFrame(file, int16_t((kPlaying + 0.25f) * 32767.0f));
    EXPECT_GT(outputPeak, 0.1f) << "the click was there, in the outputs";
    EXPECT_EQ(errorFlags(), 0u);
}

TEST_F(DeckInChain, PlayingOnlyTapsBeforeTheAccompaniment) {
    const auto file = take(true);
    expectEveryFrame(file, int16_t(kPlaying * 32767.0f));
    EXPECT_GT(outputPeak, 0.1f);
    EXPECT_EQ(deck.playbackPosition(), 0.0) << "the whole second of backing was played";
    EXPECT_EQ(errorFlags(), 0u);
}
