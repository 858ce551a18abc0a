// The accompaniment half of WaveDeck under Wine: real files through mmio, the error
// boxes through the one error routine, the open command around the chain's pause.
#include <gtest/gtest.h>

#include <cmath>

#include "AccompanimentCommands.h"
#include "DeckTestSupport.h"
#include "ErrorFlags.h"
#include "LiveChannels.h"
#include "MessageBoxRecorder.h"
#include "WaveBuilder.h"
#include "WaveDeck.h"

namespace {

struct LiveBlock : LiveChannels {
    bool mix(WaveDeck& deck, int frames, float rate, int channelCount = 2, float gain = 1.0f) {
        silence();
        return deck.mixAccompaniment(channels, channelCount, frames, rate, gain);
    }
};

class DeckAccompaniment : public ::testing::Test {
protected:
    void SetUp() override {
        clearErrorFlag(0xFFFFFFFF);
        ASSERT_TRUE(deck.valid());
    }
    std::string write(const std::string& name, const WaveBuilder& w) {
        const std::string path = folder.file(name);
        EXPECT_TRUE(writeWholeFile(path, w.build()));
        return path;
    }
    uint32_t frames() const { return deck.accompaniment().readPosition / deck.accompaniment().format.blockAlign; }

    ScratchFolder folder;
    MessageBoxRecorder boxes;
    WaveDeck deck;
    LiveBlock block;
};

struct CountingPauses : ProcessingControl {
    int pauses = 0, resumes = 0;
    size_t boxesWhilePaused = 0;
    MessageBoxRecorder* boxes = nullptr;
    void pauseProcessing() override { ++pauses; }
    void resumeProcessing() override {
        ++resumes;
        boxesWhilePaused = boxes->count();
    }
};

}  // namespace

TEST_F(DeckAccompaniment, OpensAPlainFileSilently) {
    ASSERT_TRUE(deck.openAccompaniment(write("a.wav", WaveBuilder::counting(1000)).c_str()));
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_TRUE(deck.isAccompanimentOpen());
    EXPECT_EQ(deck.accompaniment().dataBytes, 4000u);
    EXPECT_EQ(deck.playbackPosition(), 0.0);
    EXPECT_FALSE(deck.isPlaying());
}

TEST_F(DeckAccompaniment, EachRefusalShowsItsMessageAndLeavesNothingOpen) {
    struct Case {
        const char* name;
        WaveBuilder wave;
        int message;
    };
    std::vector<Case> cases;
    cases.push_back({"zero.wav", WaveBuilder::counting(0), 21});
    WaveBuilder dataFirst = WaveBuilder::counting(100);  // samples before their format
    dataFirst.chunksBeforeFormat = WaveBuilder::chunk("data", std::string(8, '\0'));
    cases.push_back({"data-first.wav", dataFirst, 20});
    WaveBuilder past = WaveBuilder::counting(100);
    past.dataSizeField = 800;
    cases.push_back({"past.wav", past, 19});
    WaveBuilder three = WaveBuilder::counting(100);
    three.channels = 3;
    three.data.resize(600);
    cases.push_back({"three.wav", three, 22});
    WaveBuilder twelve = WaveBuilder::counting(100, 1);
    twelve.bits = 12;
    twelve.blockAlign = 2;
    cases.push_back({"twelve.wav", twelve, 22});
    WaveBuilder half = WaveBuilder::counting(100);
    half.formatTag = 3;
    cases.push_back({"float16.wav", half, 22});

    const std::string good = write("good.wav", WaveBuilder::counting(1000));
    for (const Case& c : cases) {
        ASSERT_TRUE(deck.openAccompaniment(good.c_str()));
        boxes.clear();
        EXPECT_FALSE(deck.openAccompaniment(write(c.name, c.wave).c_str())) << c.name;
        EXPECT_EQ(boxes.errorIds(), std::vector<int>{c.message}) << c.name;
        EXPECT_FALSE(deck.isAccompanimentOpen()) << c.name << ": the earlier file is closed too";
    }
    boxes.clear();
    EXPECT_FALSE(deck.openAccompaniment((folder.path() + "\\" + std::string(300, 'a') + ".wav").c_str()));
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{19}) << "a path too long for the state";
    boxes.clear();
    EXPECT_FALSE(deck.openAccompaniment(folder.file("missing.wav").c_str()));
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{19});
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "The file is already opened or disk error");
}

TEST_F(DeckAccompaniment, AFileHeldOpenByAnotherHandleIsRefused) {
    const std::string path = write("held.wav", WaveBuilder::counting(1000));
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(deck.openAccompaniment(path.c_str()));
    CloseHandle(other);
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{19});
    EXPECT_TRUE(deck.openAccompaniment(path.c_str()));
}

TEST_F(DeckAccompaniment, TheOpenCommandPausesTheChainAndAddsString18) {
    CountingPauses pauses;
    pauses.boxes = &boxes;
    EXPECT_FALSE(openAccompanimentPaused(deck, &pauses, write("zero.wav", WaveBuilder::counting(0)).c_str()));
    EXPECT_EQ(boxes.errorIds(), (std::vector<int>{21, 18}));
    EXPECT_EQ(boxes.boxes()[1].text, "Failed to open the accompaniment file");
    EXPECT_EQ(pauses.pauses, 1);
    EXPECT_EQ(pauses.resumes, 1);
    EXPECT_EQ(pauses.boxesWhilePaused, 1u) << "string 18 follows the resume";

    boxes.clear();
    EXPECT_TRUE(openAccompanimentPaused(deck, &pauses, write("a.wav", WaveBuilder::counting(100)).c_str()));
    EXPECT_TRUE(openAccompanimentPaused(deck, nullptr, write("b.wav", WaveBuilder::counting(100)).c_str()))
        << "no driver loaded";
    EXPECT_EQ(boxes.count(), 0u);
    closeAccompanimentPaused(deck, &pauses);
    EXPECT_EQ(pauses.pauses, 3);
    EXPECT_FALSE(deck.isAccompanimentOpen());
}

TEST_F(DeckAccompaniment, PlayBeforeOpenStartsAtOnceAndCloseStops) {
    deck.play();
    EXPECT_TRUE(block.mix(deck, 256, 44100.0f)) << "playing with no file mixes nothing";
    ASSERT_TRUE(deck.openAccompaniment(write("a.wav", WaveBuilder::counting(1000)).c_str()));
    ASSERT_TRUE(block.mix(deck, 256, 44100.0f));
    EXPECT_EQ(block.frameAt(100), 100);
    EXPECT_EQ(frames(), 256u);
    ASSERT_TRUE(deck.openAccompaniment(write("b.wav", WaveBuilder::counting(1000)).c_str()));
    EXPECT_TRUE(deck.isPlaying()) << "another file replaces this one and plays on from its start";
    EXPECT_EQ(frames(), 0u);
    deck.closeAccompaniment();
    EXPECT_FALSE(deck.isPlaying());
    EXPECT_EQ(deck.playbackPosition(), 0.0);
}

// Plain, and as other programs write it (a broadcast bext and a JUNK reserve before
// the format, LIST/INFO and fact chunks of odd sizes before the samples): the seek and
// the loop land on the samples' own frames.
TEST_F(DeckAccompaniment, TheLoopContinuesWithinTheBlockAndThePositionJumpsToZero) {
    WaveBuilder foreign = WaveBuilder::counting(1000);
    foreign.chunksBeforeFormat = WaveBuilder::chunk("bext", std::string(603, 'b')) +
                                 WaveBuilder::chunk("JUNK", std::string(28, '\0'));
    foreign.chunkBeforeData = WaveBuilder::chunk("LIST", std::string("INFOISFT\x05\x00\x00\x00sox 1\0", 18)) +
                              WaveBuilder::chunk("fact", std::string("\xE8\x03\x00\x00", 4));
    for (const WaveBuilder& shape : {WaveBuilder::counting(1000), foreign}) {
        SCOPED_TRACE(shape.chunksBeforeFormat.empty() ? "plain" : "as other programs write it");
        ASSERT_TRUE(deck.openAccompaniment(write("a.wav", shape).c_str()));
        EXPECT_EQ(boxes.count(), 0u);
        deck.play();
        ASSERT_TRUE(block.mix(deck, 16, 44100.0f));
        EXPECT_EQ(block.frameAt(0), 0);
        EXPECT_EQ(block.frameAt(15), 15);
        deck.seekPlayback(0.75f);
        EXPECT_DOUBLE_EQ(deck.playbackPosition(), 0.75) << "the pending target";
        ASSERT_TRUE(block.mix(deck, 256, 44100.0f));
        EXPECT_EQ(block.frameAt(0), 750);
        EXPECT_EQ(block.frameAt(249), 999);
        EXPECT_EQ(block.frameAt(250), 0);
        EXPECT_EQ(block.frameAt(255), 5);
        EXPECT_DOUBLE_EQ(deck.playbackPosition(), 0.006);
        deck.closeAccompaniment();
    }
}

TEST_F(DeckAccompaniment, SeekingAndRewinding) {
    ASSERT_TRUE(deck.openAccompaniment(write("a.wav", WaveBuilder::counting(1001)).c_str()));
    deck.play();
    deck.seekPlayback(1.0f);
    EXPECT_EQ(deck.playbackPosition(), 0.0) << "the end is the start";
    deck.seekPlayback(0.5f);
    EXPECT_EQ(deck.accompaniment().seekTarget, 500u * 4) << "whole frames, truncated";
    ASSERT_TRUE(block.mix(deck, 10, 44100.0f));
    EXPECT_EQ(block.frameAt(0), 500);
    deck.rewind();
    ASSERT_TRUE(block.mix(deck, 10, 44100.0f));
    EXPECT_EQ(block.frameAt(0), 0);
    deck.seekPlayback(-3.0f);
    EXPECT_EQ(deck.playbackPosition(), 0.0);
}

TEST_F(DeckAccompaniment, AReadErrorIsReportedOnceUntilAnotherOpen) {
    FaultyFiles files;
    WaveDeck faulty(&files);
    const std::string path = write("a.wav", WaveBuilder::counting(10000));
    ASSERT_TRUE(faulty.openAccompaniment(path.c_str()));
    faulty.play();
    ASSERT_TRUE(block.mix(faulty, 256, 44100.0f));
    files.reading.readsBeforeError = 0;
    EXPECT_FALSE(block.mix(faulty, 256, 44100.0f));
    EXPECT_TRUE(takeErrorFlag(kFlagAccompReadError));
    files.reading.readsBeforeError = -1;
    faulty.play();  // Play after the error has no audible effect
    EXPECT_FALSE(block.mix(faulty, 256, 44100.0f));
    EXPECT_EQ(block.live[0][10], 0.0f);
    EXPECT_FALSE(takeErrorFlag(kFlagAccompReadError)) << "raised once";

    ASSERT_TRUE(faulty.openAccompaniment(path.c_str()));
    EXPECT_TRUE(block.mix(faulty, 256, 44100.0f)) << "another open leaves the error behind";
    EXPECT_EQ(block.frameAt(10), 10);
}

TEST_F(DeckAccompaniment, AFileCutShorterWhileOpenIsAReadErrorNotStaleAudio) {
    const std::string path = write("a.wav", WaveBuilder::counting(20000));
    ASSERT_TRUE(deck.openAccompaniment(path.c_str()));
    deck.play();
    ASSERT_TRUE(block.mix(deck, 1024, 44100.0f));
    HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "the platform does not let another handle cut the file";
    LARGE_INTEGER at;
    at.QuadPart = 44 + 1500 * 4;
    ASSERT_TRUE(SetFilePointerEx(other, at, nullptr, FILE_BEGIN) && SetEndOfFile(other));
    CloseHandle(other);
    bool failed = false;
    for (int i = 0; i < 4 && !failed; ++i)
        failed = !block.mix(deck, 1024, 44100.0f);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(takeErrorFlag(kFlagAccompReadError));
}
