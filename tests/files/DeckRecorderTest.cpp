// The recorder half of WaveDeck under Wine: real takes through mmio and the writer
// thread, the boxes through the one error routine, the disk's faults put in front
// of mmio.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "DeckTestSupport.h"
#include "ErrorFlags.h"
#include "LiveChannels.h"
#include "MessageBoxRecorder.h"
#include "WaveBuilder.h"
#include "TakeJournal.h"
#include "WaveDeck.h"

namespace {

// Live blocks whose left channel counts frames in steps of 1/4096 and whose right
// channel is its negation, so every 16-bit sample of a take tells which frame it was.
struct Feeder : LiveChannels {
    int64_t frame = 0;

    static float value(int64_t n) { return float(n % 4096) / 4096.0f; }
    static int16_t expected16(int64_t n) { return int16_t(value(n) * 32767.0f); }

    // Hands one block to the deck, by default after the writer has written the others.
    void feed(WaveDeck& deck, int frames, float rate = 44100.0f, int channelCount = 2, bool waitForWriter = true) {
        while (waitForWriter && deck.isBlockPending())
            Sleep(0);
        for (int i = 0; i < frames; ++i) {
            live[0][i] = value(frame + i);
            live[1][i] = -value(frame + i);
        }
        deck.recordBlock(channels, channelCount, frames, rate, 1.0f);
        frame += frames;
    }
};

// The driver side of the test: a thread that feeds the deck block after block, as fast
// as it can, between the pause protocol's flags, as the driver host does.
class FeedingThread : public ProcessingControl {
public:
    explicit FeedingThread(WaveDeck& deck) : deck_(deck), thread_([this] { run(); }) {}
    ~FeedingThread() override {
        quit_ = true;
        thread_.join();
    }
    void pauseProcessing() override {
        ++pauses;
        pausedWhileRecording += deck_.isRecording();
        enabled_ = false;
        while (inBlock_)
            std::this_thread::yield();
    }
    void resumeProcessing() override { enabled_ = true; }

    std::atomic<int> pauses{0}, pausedWhileRecording{0}, blocks{0};

private:
    void run() {
        Feeder feeder;
        while (!quit_) {
            inBlock_ = true;
            if (enabled_) {
                feeder.feed(deck_, 64, 44100.0f, 2, false);
                ++blocks;
            }
            inBlock_ = false;
            std::this_thread::yield();
        }
    }

    WaveDeck& deck_;
    std::atomic<bool> quit_{false}, enabled_{true}, inBlock_{false};
    std::thread thread_;
};

class DeckRecorder : public ::testing::Test {
protected:
    void SetUp() override {
        clearErrorFlag(0xFFFFFFFF);
        ASSERT_TRUE(deck.valid());
        ASSERT_TRUE(deck.hasWriter());
        deck.startAccompaniment = false;
    }
    // The frames of a 16-bit stereo take, checked against what was fed.
    void expectCountingFrames(const std::vector<uint8_t>& file, uint32_t frames) {
        ASSERT_GE(file.size(), 44u + frames * 4);
        for (uint32_t n = 0; n < frames; ++n) {
            ASSERT_EQ(int16_t(little16(file, 44 + 4 * n)), Feeder::expected16(n)) << "frame " << n;
            ASSERT_EQ(int16_t(little16(file, 46 + 4 * n)), int16_t(-Feeder::expected16(n))) << "frame " << n;
        }
    }

    ScratchFolder folder;
    MessageBoxRecorder boxes;
    WaveDeck deck;
    Feeder feeder;
};

}  // namespace

TEST_F(DeckRecorder, AThousandFrameTakeAtTheDefaultFormat) {
    const std::string path = folder.file("take.wav");
    ASSERT_TRUE(deck.startRecording(path.c_str()));
    EXPECT_TRUE(deck.isRecording());
    EXPECT_TRUE(deck.startRecording(path.c_str())) << "already recording";
    for (int i = 0; i < 4; ++i)
        feeder.feed(deck, 250);
    EXPECT_TRUE(deck.stopRecording());
    EXPECT_FALSE(deck.isRecording());
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(errorFlags(), 0u);

    const auto file = readWholeFile(path);
    ASSERT_EQ(file.size(), 4044u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(little32(file, 4), 4036u);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(little32(file, 16), 16u);
    EXPECT_EQ(little16(file, 20), 1);
    EXPECT_EQ(little16(file, 22), 2);
    EXPECT_EQ(little32(file, 24), 44100u);
    EXPECT_EQ(little32(file, 28), 176400u);
    EXPECT_EQ(little16(file, 32), 4);
    EXPECT_EQ(little16(file, 34), 16);
    EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
    EXPECT_EQ(little32(file, 40), 4000u);
    expectCountingFrames(file, 1000);
}

// Takes started and stopped while the driver thread keeps recording blocks: the tap
// closes inside a pause, so that no recordBlock still writes into the take's file or
// memory when they are released. Every direct take holds whole frames.
TEST_F(DeckRecorder, TakesStopWhileTheDriverThreadRecords) {
    FeedingThread driver(deck);
    deck.attachProcessing(&driver);
    boxes.setAnswer(IDNO);  // RAM takes are not stored
    const int rounds = 20;
    for (int round = 0; round < rounds; ++round) {
        deck.ramMode = round % 2 == 1;
        deck.maximumRecordingTime = 10;
        const std::string path = folder.file("live" + std::to_string(round) + ".wav");
        ASSERT_TRUE(deck.startRecording(path.c_str())) << round;
        const int before = driver.blocks;
        while (driver.blocks < before + 20)
            Sleep(1);
        deck.stopRecording();
        EXPECT_FALSE(deck.isRecording());
        if (!deck.ramMode) {
            const auto file = readWholeFile(path);
            ASSERT_GT(file.size(), 44u) << round;
            EXPECT_EQ(little32(file, 40), file.size() - 44) << round;
            EXPECT_EQ((file.size() - 44) % 4, 0u) << round;
        }
    }
    deck.attachProcessing(nullptr);
    EXPECT_EQ(driver.pausedWhileRecording.load(), rounds) << "the tap was not closed inside a pause";
    EXPECT_EQ(driver.pauses.load(), rounds);
    EXPECT_EQ(errorFlags() & ~kFlagDiskTooSlow, 0u);
}

TEST_F(DeckRecorder, ATakeWithNoBlocksLeavesNoFileAndReportsAnError) {
    const std::string path = folder.file("empty.wav");
    ASSERT_TRUE(deck.startRecording(path.c_str()));
    EXPECT_TRUE(fileExists(path));
    deck.stopRecording();
    EXPECT_FALSE(fileExists(path));
    EXPECT_TRUE(takeErrorFlag(kFlagRecordError));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DeckRecorder, FormatsAndRatesOfATake) {
    deck.formatIndex = int8_t(RecordingFormatTable::indexOf(24, 1, 48000));
    const std::string odd = folder.file("odd.wav");
    ASSERT_TRUE(deck.startRecording(odd.c_str()));
    feeder.feed(deck, 1000, 48000.0f);
    feeder.feed(deck, 1, 48000.0f);
    ASSERT_TRUE(deck.stopRecording());
    auto file = readWholeFile(odd);
    EXPECT_EQ(file.size(), 44u + 3003) << "odd data and no pad byte";
    EXPECT_EQ(little32(file, 4), 3039u);
    EXPECT_EQ(little32(file, 40), 3003u);
    EXPECT_EQ(little16(file, 32), 3);

    deck.formatIndex = int8_t(RecordingFormatTable::indexOf(16, 2, 22050));
    const std::string low = folder.file("low.wav");
    ASSERT_TRUE(deck.startRecording(low.c_str()));
    for (int i = 0; i < 10; ++i)
        feeder.feed(deck, 256, 48000.0f);
    ASSERT_TRUE(deck.stopRecording());
    file = readWholeFile(low);
    EXPECT_EQ(little32(file, 40), 1176u * 4) << "117.6 frames of each 256-frame block, none lost";
    EXPECT_EQ(little32(file, 24), 22050u);

    deck.formatIndex = 99;  // beyond the table: the last entry
    ASSERT_TRUE(deck.startRecording(folder.file("last.wav").c_str()));
    EXPECT_EQ(deck.formatIndex, 19);
    EXPECT_EQ(deck.recording().format.samplesPerSec, 96000u);
    deck.formatIndex = -5;
    deck.stopRecording();
    ASSERT_TRUE(deck.startRecording(folder.file("first.wav").c_str()));
    EXPECT_EQ(deck.formatIndex, 0);
    deck.stopRecording();
}

TEST_F(DeckRecorder, RamTakeCapacityAndItsClampedTime) {
    deck.ramMode = true;
    ASSERT_TRUE(deck.startRecording(folder.file("ram.wav").c_str()));
    EXPECT_EQ(deck.recording().dataBytes, 35280000u);
    boxes.setAnswer(IDNO);
    deck.stopRecording();

    deck.maximumRecordingTime = 5;
    ASSERT_TRUE(deck.startRecording(folder.file("ram.wav").c_str()));
    EXPECT_EQ(deck.maximumRecordingTime, 10);
    EXPECT_EQ(deck.recording().dataBytes, 1764000u);
    deck.stopRecording();

    deck.maximumRecordingTime = 900;
    ASSERT_TRUE(deck.startRecording(folder.file("ram.wav").c_str()));
    EXPECT_EQ(deck.maximumRecordingTime, 600);
    deck.stopRecording();
}

TEST_F(DeckRecorder, AnsweringNoDiscardsARamTakeWithoutAMessage) {
    deck.ramMode = true;
    const std::string path = folder.file("ram.wav");
    ASSERT_TRUE(deck.startRecording(path.c_str()));
    EXPECT_FALSE(fileExists(path)) << "a RAM take makes its file at the end";
    for (int i = 0; i < 10; ++i)
        feeder.feed(deck, 1024);
    boxes.setAnswer(IDNO);
    EXPECT_TRUE(deck.stopRecording());
    ASSERT_EQ(boxes.count(), 1u);
    const auto box = boxes.boxes()[0];
    EXPECT_EQ(box.caption, "Record");
    EXPECT_EQ(box.text, "The record now should be stored to disk.\nContinue?");
    EXPECT_EQ(box.flags, UINT(MB_ICONQUESTION | MB_YESNO));
    EXPECT_FALSE(fileExists(path));
    EXPECT_EQ(errorFlags(), 0u);
}

TEST_F(DeckRecorder, AnsweringYesStoresTheRamTakeUntilItIsFull) {
    deck.ramMode = true;
    deck.maximumRecordingTime = 10;
    const std::string path = folder.file("ram.wav");
    ASSERT_TRUE(deck.startRecording(path.c_str()));
    int blocks = 0;
    while (!deck.isRamTakeFull() && blocks < 1000)
        feeder.feed(deck, 1000), ++blocks;
    EXPECT_EQ(blocks, 441) << "ten seconds at 44100 Hz";
    feeder.feed(deck, 1000);  // a full take takes no more
    EXPECT_EQ(deck.recording().readPosition, 1764000u);
    boxes.setAnswer(IDYES);
    EXPECT_TRUE(deck.stopRecording());
    EXPECT_FALSE(deck.isRamTakeFull());
    const auto file = readWholeFile(path);
    ASSERT_EQ(file.size(), 44u + 1764000);
    EXPECT_EQ(little32(file, 40), 1764000u);
    expectCountingFrames(file, 441000);
}

// The writer stuck in a write: blocks wait in the block buffer until it is full; the
// next one is dropped and reported, and the take goes on without it.
TEST_F(DeckRecorder, ABlockArrivingWhileTheWriterIsFarBehindIsDropped) {
    FaultyFiles files;
    WaveDeck gated(&files);
    gated.startAccompaniment = false;
    const std::string path = folder.file("slow.wav");
    ASSERT_TRUE(gated.startRecording(path.c_str()));
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    files.writing.writeGate = gate;
    for (int i = 0; i < 50; ++i)  // 50 blocks of 4096 bytes fill the 204800 bytes
        feeder.feed(gated, 1024, 44100.0f, 2, false);
    EXPECT_EQ(errorFlags() & kFlagDiskTooSlow, 0u);
    gated.recordBlock(feeder.channels, 2, 1024, 44100.0f, 1.0f);
    EXPECT_TRUE(takeErrorFlag(kFlagDiskTooSlow));
    SetEvent(gate);
    feeder.frame += 1024;
    feeder.feed(gated, 1024);
    EXPECT_TRUE(gated.stopRecording());
    files.writing.writeGate = nullptr;
    CloseHandle(gate);
    const auto file = readWholeFile(path);
    EXPECT_EQ(little32(file, 40), 51u * 4096) << "the recording continues without the dropped block";
    expectCountingFrames(file, 50 * 1024);
    EXPECT_EQ(int16_t(little16(file, 44 + 50 * 4096)), Feeder::expected16(51 * 1024));
}

TEST_F(DeckRecorder, TheAccompanimentIsNeverTheTakesFileWhateverThePathsLetterCase) {
    const WaveBuilder w = WaveBuilder::counting(1000);
    const std::string backing = folder.file("Backing.wav");
    ASSERT_TRUE(writeWholeFile(backing, w.build()));
    ASSERT_TRUE(deck.openAccompaniment(backing.c_str()));

    std::string upper = backing;
    for (char& c : upper)
        c = char(toupper(static_cast<unsigned char>(c)));
    const std::string dotted = folder.path() + "\\.\\backing.WAV";
    for (const std::string& path : {backing, upper, dotted}) {
        boxes.clear();
        EXPECT_FALSE(deck.startRecording(path.c_str())) << path;
        EXPECT_EQ(boxes.errorIds(), std::vector<int>{27}) << path;
        EXPECT_FALSE(deck.isRecording());
    }
    EXPECT_EQ(readWholeFile(backing), w.build()) << "the backing track is untouched";

    boxes.clear();
    ASSERT_TRUE(deck.startRecording(folder.file("take.wav").c_str()));
    EXPECT_EQ(boxes.count(), 0u);
    deck.stopRecording();
    deck.closeAccompaniment();
    ASSERT_TRUE(deck.startRecording(backing.c_str())) << "once closed, the file may be recorded over";
    feeder.feed(deck, 10);
    deck.stopRecording();
}

TEST_F(DeckRecorder, StartingATakeRestartsTheAccompanimentOnlyWhenAskedTo) {
    const WaveBuilder w = WaveBuilder::counting(1000);
    const std::string backing = folder.file("backing.wav");
    ASSERT_TRUE(writeWholeFile(backing, w.build()));
    ASSERT_TRUE(deck.openAccompaniment(backing.c_str()));
    deck.seekPlayback(0.5f);
    ASSERT_TRUE(deck.startRecording(folder.file("a.wav").c_str()));
    EXPECT_FALSE(deck.isPlaying());
    EXPECT_EQ(deck.playbackPosition(), 0.5);
    deck.stopRecording();

    deck.startAccompaniment = true;
    ASSERT_TRUE(deck.startRecording(folder.file("b.wav").c_str()));
    EXPECT_TRUE(deck.isPlaying());
    EXPECT_EQ(deck.playbackPosition(), 0.0);
    deck.stopRecording();
}

TEST_F(DeckRecorder, AFileThatCannotBeCreatedIsRefused) {
    EXPECT_FALSE(deck.startRecording(folder.file("no such folder\\take.wav").c_str()));
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{29});
    EXPECT_FALSE(deck.isRecording());
    boxes.clear();
    const std::string tooLong = folder.path() + "\\" + std::string(300, 'x') + ".wav";
    EXPECT_FALSE(deck.startRecording(tooLong.c_str()));
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{29});
}

// A full disk in the middle of a direct take: the blocks up to the failure stay, with
// a header that states exactly the whole frames in the file.
TEST_F(DeckRecorder, AWriteFailureKeepsWhatReachedTheDisk) {
    FaultyFiles files;
    WaveDeck deck2(&files);
    deck2.startAccompaniment = false;
    const std::string path = folder.file("full.wav");
    files.writing.sizeLimit = 44 + 2 * 4096 + 1001;  // the third block fits 250 frames and a bit
    ASSERT_TRUE(deck2.startRecording(path.c_str()));
    for (int i = 0; i < 6; ++i)
        feeder.feed(deck2, 1024);
    EXPECT_TRUE(takeErrorFlag(kFlagRecordError)) << "raised when the write failed";
    EXPECT_EQ(files.writing.writes, 4) << "placeholder and three blocks: none taken after the failure";
    EXPECT_FALSE(deck2.stopRecording());
    EXPECT_TRUE(takeErrorFlag(kFlagRecordError)) << "and reported at stop";

    const auto file = readWholeFile(path);
    const uint32_t frames = 2 * 1024 + 250;
    ASSERT_EQ(file.size(), 44u + frames * 4) << "the part of a frame is cut off";
    EXPECT_EQ(little32(file, 40), frames * 4);
    EXPECT_EQ(little32(file, 4), frames * 4 + 36);
    expectCountingFrames(file, frames);
}

TEST_F(DeckRecorder, ARamTakeStoredShortKeepsWhatWasWritten) {
    FaultyFiles files;
    WaveDeck deck2(&files);
    deck2.startAccompaniment = false;
    deck2.ramMode = true;
    deck2.maximumRecordingTime = 10;
    const std::string path = folder.file("ram.wav");
    ASSERT_TRUE(deck2.startRecording(path.c_str()));
    for (int i = 0; i < 8; ++i)
        feeder.feed(deck2, 1024);
    files.writing.sizeLimit = 44 + 10002;
    boxes.setAnswer(IDYES);
    EXPECT_FALSE(deck2.stopRecording());
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{30});
    EXPECT_EQ(boxes.captions().front(), "Record");
    EXPECT_TRUE(takeErrorFlag(kFlagRecordError));
    const auto file = readWholeFile(path);
    ASSERT_EQ(file.size(), 44u + 10000);
    EXPECT_EQ(little32(file, 40), 10000u);
    expectCountingFrames(file, 2500);

    boxes.clear();
    deck2.maximumRecordingTime = 10;
    ASSERT_TRUE(deck2.startRecording(folder.file("gone\\ram.wav").c_str()));
    feeder.feed(deck2, 1024);
    EXPECT_FALSE(deck2.stopRecording());
    EXPECT_EQ(boxes.errorIds(), std::vector<int>{29}) << "the store cannot create its file";
    EXPECT_TRUE(takeErrorFlag(kFlagRecordError));
}

// The first header cannot be written: no take, no file. The final one cannot: the
// take keeps its file, whose header (valid since the start) the next start repairs.
TEST_F(DeckRecorder, AHeaderThatCannotBeWrittenLeavesNoFileUnlessSomethingWasRecorded) {
    FaultyFiles files;
    WaveDeck deck2(&files);
    deck2.startAccompaniment = false;
    const std::string path = folder.file("header.wav");
    files.writing.sizeLimit = 20;  // not even the placeholder fits
    EXPECT_FALSE(deck2.startRecording(path.c_str()));
    EXPECT_EQ(boxes.count(), 0u) << "no message of the recorder's own";
    EXPECT_FALSE(fileExists(path));

    files.writing.sizeLimit = -1;
    ASSERT_TRUE(deck2.startRecording(path.c_str()));
    feeder.feed(deck2, 1024);
    files.writing.failSeeks = true;  // the final header cannot go to offset 0
    while (deck2.isBlockPending())
        Sleep(0);
    EXPECT_FALSE(deck2.stopRecording());
    EXPECT_TRUE(takeErrorFlag(kFlagRecordError));
    ASSERT_TRUE(fileExists(path)) << "what was recorded is kept";
    std::vector<uint8_t> file = readWholeFile(path);
    ASSERT_EQ(file.size(), 44u + 4096u);
    EXPECT_EQ(little32(file, 40), 0u) << "the header of the take's start";
    char report[1024];
    EXPECT_EQ(repairTakesLeftInProgress(report, sizeof report), 1);
    file = readWholeFile(path);
    EXPECT_EQ(little32(file, 40), 4096u);
    EXPECT_EQ(little32(file, 4), 4096u + 36);
    expectCountingFrames(file, 1024);
}

// While a direct take runs, the file on disk is a valid WAV file at every moment: its
// header states what the writer had written at its last second, and no take is left
// listed for repair once it is stopped. A copy taken at any moment (what a crash
// leaves) is repaired to all it holds, once; files of others listed are left alone.
TEST_F(DeckRecorder, ATakeOnDiskIsValidAtEveryMomentAndACutOffCopyIsRepaired) {
    char report[1024];
    repairTakesLeftInProgress(report, sizeof report);  // whatever earlier runs left
    const std::string path = folder.file("live.wav");
    const std::string cutOff = folder.file("cut-off.wav");
    ASSERT_TRUE(deck.startRecording(path.c_str()));
    uint32_t largestLag = 0;
    for (int block = 0; block < 200; ++block) {  // 4.6 seconds of 1024-frame blocks
        feeder.feed(deck, 1024);
        while (deck.isBlockPending())
            Sleep(0);
        const std::vector<uint8_t> file = readWholeFile(path);
        ASSERT_GE(file.size(), 44u);
        const uint32_t stated = little32(file, 40);
        ASSERT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
        ASSERT_EQ(little32(file, 4), stated + 36);
        ASSERT_LE(stated, file.size() - 44);
        largestLag = std::max(largestLag, uint32_t(file.size() - 44 - stated));
        if (block == 137) {
            ASSERT_TRUE(CopyFileA(path.c_str(), cutOff.c_str(), FALSE));
        }
    }
    EXPECT_LE(largestLag, 176400u) << "no more than a second behind";
    EXPECT_GT(largestLag, 0u) << "brought up to date once a second, not at every block";
    EXPECT_EQ(repairTakesLeftInProgress(report, sizeof report), 0) << "a take still written is left alone";
    EXPECT_TRUE(deck.stopRecording());
    EXPECT_TRUE(headerMatchesLengthOf(readWholeFile(path)));

    // The copy, as a crash leaves the take: listed, repaired once, with its length said.
    const WaveBuilder foreignWave = WaveBuilder::counting(100);
    const std::string foreign = folder.file("foreign.wav");
    ASSERT_TRUE(writeWholeFile(foreign, foreignWave.build()));
    for (const std::string& listed : {cutOff, foreign, folder.file("gone.wav")})
        registryTakeJournal().noteStarted(listed.c_str());
    EXPECT_EQ(repairTakesLeftInProgress(report, sizeof report), 1);
    EXPECT_NE(std::string(report).find("cut-off.wav: 0 min 3 sec"), std::string::npos) << report;
    const std::vector<uint8_t> repaired = readWholeFile(cutOff);
    EXPECT_TRUE(headerMatchesLengthOf(repaired));
    EXPECT_EQ(little32(repaired, 40), 138u * 1024 * 4);
    expectCountingFrames(repaired, 138 * 1024);
    EXPECT_EQ(readWholeFile(foreign), foreignWave.build()) << "another program's file is not touched";
    EXPECT_EQ(repairTakesLeftInProgress(report, sizeof report), 0) << "each is forgotten after its visit";
}
