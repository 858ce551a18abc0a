// A direct take on a disk that fills up, through the real mmio files: ctest runs this
// under a file-size limit (see CMakeLists.txt), so the platform itself refuses the
// write that would pass it. The take keeps every whole frame that reached the disk.
#include <gtest/gtest.h>

#include "DeckTestSupport.h"
#include "ErrorFlags.h"
#include "MessageBoxRecorder.h"
#include "WaveDeck.h"

TEST(DeckFullDisk, TheTakeKeepsWhatReachedTheDisk) {
    clearErrorFlag(0xFFFFFFFF);
    MessageBoxRecorder boxes;
    ScratchFolder folder;
    WaveDeck deck;
    deck.startAccompaniment = false;
    deck.formatIndex = int8_t(RecordingFormatTable::indexOf(24, 1, 48000));  // 3-byte frames
    const std::string path = folder.file("full.wav");
    ASSERT_TRUE(deck.startRecording(path.c_str()));

    std::vector<float> live(1000);
    float* channels[1] = {live.data()};
    int blocks = 0;
    bool failed = false;
    for (; blocks < 20000 && !failed; ++blocks) {  // 60 MB at most
        for (int i = 0; i < 1000; ++i)
            live[i] = float((blocks * 1000 + i) % 5000) / 10000.0f;
        deck.recordBlock(channels, 1, 1000, 48000.0f, 1.0f);
        while (deck.isBlockPending())
            Sleep(0);
        failed = takeErrorFlag(kFlagRecordError);
    }
    if (!failed) {
        deck.stopRecording();
        GTEST_SKIP() << "no write was refused: run under a file-size limit";
    }
    deck.recordBlock(channels, 1, 1000, 48000.0f, 1.0f);
    EXPECT_FALSE(deck.isBlockPending()) << "no block is taken after the failure";
    EXPECT_FALSE(deck.stopRecording());
    EXPECT_TRUE(takeErrorFlag(kFlagRecordError));
    EXPECT_EQ(boxes.count(), 0u);

    const auto file = readWholeFile(path);
    ASSERT_GT(file.size(), 44u);
    const uint32_t data = little32(file, 40);
    EXPECT_EQ(file.size(), 44u + data) << "the header states exactly what the file holds";
    EXPECT_EQ(data % 3, 0u) << "whole frames";
    EXPECT_GE(data, uint32_t(blocks - 1) * 3000) << "every block before the failing one";
    EXPECT_EQ(little32(file, 4), data + 36);
    for (uint32_t n = 0; n < data / 3; ++n)
        ASSERT_EQ(sample24(file.data() + 44 + 3 * n), int32_t(float(n % 5000) / 10000.0f * 8388607.0f))
            << "frame " << n;
}
