// The streaming loop driven block by block over stand-in DirectSound buffers: which
// ring paces it, where it reads and writes, what the host sees, lost-buffer recovery
// and the end of a loop that fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ChannelCopy.h"
#include "FakeDirectSound.h"
#include "MessageBoxRecorder.h"
#include "StreamLoop.h"

namespace {

const long kFrames = 800;
const DWORD kBlockBytes = kFrames * 4;  // 16-bit stereo

// The host side: checks and fills the channel buffers on every bufferSwitch.
struct LoopHost {
    static LoopHost* current;

    uint8_t memory[4][kFrames * 4] = {};
    uint8_t* inputs[2];
    uint8_t* outputs[2];
    ASIOCallbacks callbacks{};
    std::atomic<int> switches{0};
    std::atomic<int> badArguments{0};
    std::atomic<int> dirtyOutputs{0};  // outputs not zeroed before the call
    std::atomic<int> dirtyInputs{0};   // inputs not zeroed before the call
    std::atomic<int> resetRequests{0};
    std::atomic<bool> takesResets{true};
    std::mutex mutex;
    std::vector<std::vector<int16_t>> seenLeft, seenRight;

    LoopHost() {
        inputs[0] = memory[0];
        inputs[1] = memory[1];
        outputs[0] = memory[2];
        outputs[1] = memory[3];
        callbacks.bufferSwitch = &bufferSwitch;
        callbacks.asioMessage = &asioMessage;
        current = this;
    }
    ~LoopHost() { current = nullptr; }

    static int16_t outputSample(int block, int ch, int frame) { return int16_t((block * 1000 + frame) * (ch ? -1 : 1)); }

    static bool allZero(const uint8_t* p) {
        for (long i = 0; i < kFrames * 2; ++i)
            if (p[i])
                return false;
        return true;
    }

    static long asioMessage(long selector, long value, void*, double*) {
        if (selector == kAsioSelectorSupported)
            return value == kAsioResetRequest && current->takesResets;
        if (selector == kAsioResetRequest)
            ++current->resetRequests;
        return selector == kAsioResetRequest;
    }

    static void bufferSwitch(long index, ASIOBool direct) {
        LoopHost& h = *current;
        if (index != 0 || direct != 1)
            ++h.badArguments;
        const int block = h.switches + 1;
        if (!allZero(h.outputs[0]) || !allZero(h.outputs[1]))
            ++h.dirtyOutputs;
        if (!allZero(h.inputs[0]) || !allZero(h.inputs[1]))
            ++h.dirtyInputs;
        {
            std::lock_guard<std::mutex> lock(h.mutex);
            const int16_t* l = reinterpret_cast<const int16_t*>(h.inputs[0]);
            const int16_t* r = reinterpret_cast<const int16_t*>(h.inputs[1]);
            h.seenLeft.emplace_back(l, l + kFrames);
            h.seenRight.emplace_back(r, r + kFrames);
        }
        // Scribble everywhere, so the loop has to clean what the host must see clean.
        for (int ch = 0; ch < 2; ++ch) {
            int16_t* out = reinterpret_cast<int16_t*>(h.outputs[ch]);
            for (int j = 0; j < kFrames; ++j)
                out[j] = outputSample(block, ch, j);
            std::memset(h.inputs[ch], 0x55, kFrames * 2);
        }
        ++h.switches;
    }
};
LoopHost* LoopHost::current = nullptr;

bool waitUntil(const std::function<bool()>& condition, int ms = 3000) {
    for (int waited = 0; waited < ms; waited += 2) {
        if (condition())
            return true;
        Sleep(2);
    }
    return condition();
}

// Fills block k of a capture ring with L = 100 k + j, R = -(100 k + j) for frame j.
void fillCaptureRing(FakeCaptureBuffer& capture, long blocks) {
    for (long k = 0; k < blocks; ++k) {
        int16_t* s = reinterpret_cast<int16_t*>(capture.ring.data() + k * kBlockBytes);
        for (int j = 0; j < kFrames; ++j) {
            s[2 * j] = int16_t(100 * k + j);
            s[2 * j + 1] = int16_t(-(100 * k + j));
        }
    }
}

bool blockHoldsOutputOf(const FakePlaybackBuffer& playback, DWORD offset, int block) {
    const int16_t* s = reinterpret_cast<const int16_t*>(playback.ring.data() + offset);
    for (int j = 0; j < kFrames; ++j)
        if (s[2 * j] != LoopHost::outputSample(block, 0, j) || s[2 * j + 1] != LoopHost::outputSample(block, 1, j))
            return false;
    return true;
}

std::vector<DWORD> offsetsOf(const std::vector<FakeCall>& calls) {
    std::vector<DWORD> offsets;
    for (const FakeCall& c : calls)
        offsets.push_back(c.offset);
    return offsets;
}

class StreamLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        captureEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        playbackEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        stopLoop();
        CloseHandle(captureEvent_);
        CloseHandle(playbackEvent_);
        CloseHandle(stopEvent_);
    }

    StreamSetup setup(FakeCaptureBuffer* capture, FakePlaybackBuffer* playback, long blocks,
                      bool syncByInput = true, DWORD rate = 44100) {
        capture_ = capture;
        playback_ = playback;
        StreamSetup s;
        std::memset(&s, 0, sizeof s);
        s.captureBuffer = capture;
        s.primaryBuffer = playback ? &primary_ : nullptr;
        s.secondaryBuffer = playback;
        s.captureEvent = captureEvent_;
        s.playbackEvent = playbackEvent_;
        s.syncByInput = syncByInput;
        s.blockFrames = kFrames;
        s.blocks = blocks;
        s.format.wFormatTag = WAVE_FORMAT_PCM;
        s.format.nChannels = 2;
        s.format.nSamplesPerSec = rate;
        s.format.nAvgBytesPerSec = rate * 4;
        s.format.nBlockAlign = 4;
        s.format.wBitsPerSample = 16;
        s.format.cbSize = 18;
        for (int ch = 0; ch < 2; ++ch) {
            s.inputs[ch] = host_.inputs[ch];
            s.outputs[ch] = host_.outputs[ch];
        }
        s.callbacks = &host_.callbacks;
        s.stopRequest = &stop_;
        s.stopEvent = stopEvent_;
        s.counters = &counters_;
        return s;
    }

    void runLoop(const StreamSetup& s) {
        setup_ = s;
        thread_ = std::thread([this] {
            result_ = int(runStreamLoop(setup_));
            ended_ = true;
        });
    }

    void runThreadBody(const StreamSetup& s, HWND window) {
        setup_ = s;
        thread_ = std::thread([this, window] {
            if (noteStreamEnd(runStreamLoop(setup_), setup_, errorText_))
                showStreamFailure(errorText_, window);
            ended_ = true;
        });
    }

    // As the driver stops it: the request, then the stop event (the notification events
    // are left alone, so that nothing but the stop event can wake the loop).
    void stopLoop() {
        if (!thread_.joinable())
            return;
        stop_ = true;
        SetEvent(stopEvent_);
        thread_.join();
    }

    // The devices move on by a number of blocks and notify once (several blocks with
    // one notification: notifications that merged); waits for the block processed.
    bool nextBlock(HANDLE event, DWORD blocks = 1) {
        const int before = host_.switches;
        if (capture_)
            capture_->advance(blocks, kBlockBytes);
        if (playback_)
            playback_->advance(blocks, kBlockBytes);
        SetEvent(event);
        return waitUntil([&] { return host_.switches > before; });
    }

    LoopHost host_;
    FakeCaptureBuffer* capture_ = nullptr;
    FakePlaybackBuffer* playback_ = nullptr;
    FakePlaybackBuffer primary_{0};
    HANDLE captureEvent_ = nullptr;
    HANDLE playbackEvent_ = nullptr;
    HANDLE stopEvent_ = nullptr;
    StreamCounters counters_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> result_{-1};
    StreamSetup setup_{};
    std::thread thread_;
    char errorText_[256] = "Unknown error";
};

TEST_F(StreamLoopTest, CaptureLoopReadsTheLastBlockFirstAndHandsTheHostCleanOutputs) {
    FakeCaptureBuffer capture(2 * kBlockBytes);
    fillCaptureRing(capture, 2);
    runLoop(setup(&capture, nullptr, 2));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    ASSERT_TRUE(nextBlock(captureEvent_));
    ASSERT_TRUE(nextBlock(captureEvent_));
    stopLoop();
    EXPECT_EQ(result_, int(StreamEnd::stopped));

    EXPECT_EQ(capture.calls("Start looping").size(), 1u);
    const std::vector<DWORD> expected{kBlockBytes, 0, kBlockBytes};
    EXPECT_EQ(offsetsOf(capture.calls("Lock")), expected);
    for (const FakeCall& c : capture.calls("Lock"))
        EXPECT_EQ(c.bytes, kBlockBytes);
    EXPECT_EQ(capture.calls("Unlock").size(), 3u);
    // Block 1, then block 0, then block 1 again, split into left and right.
    std::lock_guard<std::mutex> lock(host_.mutex);
    ASSERT_EQ(host_.seenLeft.size(), 3u);
    const int blockOrder[] = {1, 0, 1};
    for (int b = 0; b < 3; ++b)
        for (int j : {0, 1, 399, 799}) {
            EXPECT_EQ(host_.seenLeft[b][j], 100 * blockOrder[b] + j);
            EXPECT_EQ(host_.seenRight[b][j], -(100 * blockOrder[b] + j));
        }
    EXPECT_EQ(host_.dirtyOutputs, 0);
    EXPECT_EQ(host_.badArguments, 0);
}

TEST_F(StreamLoopTest, PlaybackLoopSilencesBlockZeroPlaysAndWritesFromTheSecondBlock) {
    FakePlaybackBuffer playback(2 * kBlockBytes);
    runLoop(setup(nullptr, &playback, 2));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    ASSERT_TRUE(nextBlock(playbackEvent_));
    ASSERT_TRUE(nextBlock(playbackEvent_));
    stopLoop();
    EXPECT_EQ(result_, int(StreamEnd::stopped));

    const std::vector<FakeCall> calls = playback.calls();
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(calls[0].name, "Lock");  // block 0 silenced before playing
    EXPECT_EQ(calls[0].offset, 0u);
    EXPECT_EQ(calls[0].bytes, kBlockBytes);
    EXPECT_EQ(calls[1].name, "Unlock");
    EXPECT_EQ(calls[2].name, "Play looping");
    EXPECT_EQ(calls[3].name, "SetCurrentPosition");
    EXPECT_EQ(calls[3].offset, 0u);
    EXPECT_EQ(calls[4].name, "GetStatus");
    EXPECT_EQ(primary_.calls("Play looping").size(), 1u);

    const std::vector<DWORD> expected{0, kBlockBytes, 0, kBlockBytes};
    EXPECT_EQ(offsetsOf(playback.calls("Lock")), expected);
    EXPECT_TRUE(blockHoldsOutputOf(playback, 0, 2));
    EXPECT_TRUE(blockHoldsOutputOf(playback, kBlockBytes, 3));
    EXPECT_EQ(host_.dirtyInputs, 0);
}

TEST_F(StreamLoopTest, DuplexSyncedByInputWaitsForTheCaptureRingOnly) {
    FakeCaptureBuffer capture(2 * kBlockBytes);
    FakePlaybackBuffer playback(2 * kBlockBytes);
    fillCaptureRing(capture, 2);
    runLoop(setup(&capture, &playback, 2, true));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    SetEvent(playbackEvent_);
    Sleep(150);
    EXPECT_EQ(host_.switches, 1) << "a playback notification moved an input-paced loop";
    ASSERT_TRUE(nextBlock(captureEvent_));
    stopLoop();

    std::lock_guard<std::mutex> lock(host_.mutex);
    EXPECT_EQ(host_.seenLeft[0][5], 105);  // block 1 first
    EXPECT_EQ(host_.seenLeft[1][5], 5);
    EXPECT_TRUE(blockHoldsOutputOf(playback, kBlockBytes, 1));
    EXPECT_TRUE(blockHoldsOutputOf(playback, 0, 2));
    EXPECT_EQ(capture.calls("Start looping").size(), 1u);
    EXPECT_EQ(playback.calls("Play looping").size(), 1u);
}

TEST_F(StreamLoopTest, DuplexSyncedByOutputWaitsForThePlaybackRingOnly) {
    FakeCaptureBuffer capture(4 * kBlockBytes);
    FakePlaybackBuffer playback(4 * kBlockBytes);
    runLoop(setup(&capture, &playback, 4, false));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    SetEvent(captureEvent_);
    Sleep(150);
    EXPECT_EQ(host_.switches, 1) << "a capture notification moved an output-paced loop";
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(nextBlock(playbackEvent_));
    stopLoop();
    // Four blocks per ring: capture from the last block on, playback from the second.
    const std::vector<DWORD> captured{3 * kBlockBytes, 0, kBlockBytes, 2 * kBlockBytes, 3 * kBlockBytes};
    EXPECT_EQ(offsetsOf(capture.calls("Lock")), captured);
    const std::vector<DWORD> played{0, kBlockBytes, 2 * kBlockBytes, 3 * kBlockBytes, 0, kBlockBytes};
    EXPECT_EQ(offsetsOf(playback.calls("Lock")), played);
}

TEST_F(StreamLoopTest, ALostPlaybackRingIsRestoredEveryTenMsThenRefilledAndPlayedAgain) {
    FakePlaybackBuffer playback(4 * kBlockBytes);
    runLoop(setup(nullptr, &playback, 4));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    ASSERT_TRUE(nextBlock(playbackEvent_));
    // Lost after two blocks; the first two restores fail.
    playback.restoreFailures = 2;
    playback.lostStatusReports = 1;
    ASSERT_TRUE(nextBlock(playbackEvent_));
    stopLoop();
    EXPECT_EQ(result_, int(StreamEnd::stopped));

    const std::vector<FakeCall> restores = playback.calls("Restore");
    ASSERT_EQ(restores.size(), 3u);
    for (size_t i = 1; i < restores.size(); ++i)
        EXPECT_GE(restores[i].ms - restores[i - 1].ms, 9.0) << "restores retried without a pause";
    // After the restore: the whole ring silenced, played again from its start, and the
    // next block written to the second block (not where the lost ring left off).
    const std::vector<DWORD> locks = offsetsOf(playback.calls("Lock"));
    const std::vector<DWORD> expected{0, kBlockBytes, 2 * kBlockBytes, 0, kBlockBytes};
    EXPECT_EQ(locks, expected);
    EXPECT_EQ(playback.calls("Lock")[3].bytes, 4 * kBlockBytes);
    EXPECT_EQ(playback.calls("Play looping").size(), 2u);
    EXPECT_EQ(playback.calls("SetCurrentPosition").size(), 2u);
    EXPECT_TRUE(blockHoldsOutputOf(playback, kBlockBytes, 3));
    for (DWORD i = 2 * kBlockBytes; i < 4 * kBlockBytes; ++i)
        ASSERT_EQ(playback.ring[i], 0) << "the restored ring was not refilled at byte " << i;
}

TEST_F(StreamLoopTest, AStopDuringRestoreRetriesEndsTheLoopQuietly) {
    MessageBoxRecorder boxes;
    FakePlaybackBuffer playback(2 * kBlockBytes);
    playback.lostStatusReports = 1;
    playback.restoreFailures = 1000000;
    runThreadBody(setup(nullptr, &playback, 2), nullptr);
    ASSERT_TRUE(waitUntil([&] { return playback.calls("Restore").size() >= 3; }));
    const DWORD asked = GetTickCount();
    stopLoop();
    EXPECT_LT(GetTickCount() - asked, 200u);
    EXPECT_EQ(host_.switches, 0);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_STREQ(errorText_, "Unknown error");
}

TEST_F(StreamLoopTest, AFailingLockEndsTheLoopWithItsMessageBox) {
    MessageBoxRecorder boxes;
    HWND owner = reinterpret_cast<HWND>(0x4321);
    for (int side = 0; side < 2; ++side) {
        SCOPED_TRACE(side == 0 ? "playback lock" : "capture lock");
        boxes.clear();
        ended_ = false;
        host_.switches = 0;
        std::strcpy(errorText_, "Unknown error");
        FakeCaptureBuffer capture(2 * kBlockBytes);
        FakePlaybackBuffer playback(2 * kBlockBytes);
        if (side == 0)
            playback.failLockAt = 2;  // lock 0 silences block 0; the second cycle's lock fails
        else
            capture.failLockAt = 1;
        runThreadBody(setup(&capture, &playback, 2), owner);
        ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
        SetEvent(captureEvent_);
        ASSERT_TRUE(waitUntil([&] { return ended_.load(); })) << "the loop did not end by itself";
        thread_.join();
        EXPECT_EQ(host_.switches, 1);
        const char* message = "There was an error occured when trying to start the buffer's loop.\n The loop now will stop";
        EXPECT_STREQ(errorText_, message);
        const auto shown = boxes.boxes();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, message);
        EXPECT_EQ(shown[0].caption, "Talvenor ZerevaZ-2-UDID");
        EXPECT_EQ(shown[0].flags & MB_ICONMASK, UINT(MB_ICONERROR));
        EXPECT_EQ(shown[0].owner, owner);
        EXPECT_EQ(host_.resetRequests, 0) << "a failing call is no stall: the host is not asked for a reset";
        // A lock that failed is never unlocked; every lock that succeeded is.
        EXPECT_EQ(capture.calls("Unlock").size() + playback.calls("Unlock").size(),
                  capture.calls("Lock").size() + playback.calls("Lock").size() - 1);
    }
}

TEST_F(StreamLoopTest, AfterMergedNotificationsTwoBlockRingsGetBackInStep) {
    FakeCaptureBuffer capture(2 * kBlockBytes);
    FakePlaybackBuffer playback(2 * kBlockBytes);
    fillCaptureRing(capture, 2);
    runLoop(setup(&capture, &playback, 2, true));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    ASSERT_TRUE(nextBlock(captureEvent_));
    ASSERT_TRUE(nextBlock(captureEvent_, 2));  // two blocks, one notification
    ASSERT_TRUE(nextBlock(captureEvent_));
    stopLoop();
    // Counting on would read block 1 while it is captured over and write block 1 while
    // it plays; instead the loop reads the newest whole block and writes the other one.
    const std::vector<DWORD> captured{kBlockBytes, 0, 0, kBlockBytes};
    EXPECT_EQ(offsetsOf(capture.calls("Lock")), captured);
    const std::vector<DWORD> played{0, kBlockBytes, 0, 0, kBlockBytes};
    EXPECT_EQ(offsetsOf(playback.calls("Lock")), played);
    std::lock_guard<std::mutex> lock(host_.mutex);
    ASSERT_EQ(host_.seenLeft.size(), 4u);
    EXPECT_EQ(host_.seenLeft[2][7], 7);
    EXPECT_TRUE(blockHoldsOutputOf(playback, 0, 3));
    EXPECT_TRUE(blockHoldsOutputOf(playback, kBlockBytes, 4));
}

TEST_F(StreamLoopTest, WithLongerRingsABlockBehindIsKeptWhileItIsSafe) {
    FakeCaptureBuffer capture(4 * kBlockBytes);
    fillCaptureRing(capture, 4);
    runLoop(setup(&capture, nullptr, 4));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    ASSERT_TRUE(nextBlock(captureEvent_, 2));
    ASSERT_TRUE(nextBlock(captureEvent_));
    stopLoop();
    // Blocks 0 and 1 are whole and not yet captured over: read in order, none lost.
    const std::vector<DWORD> captured{3 * kBlockBytes, 0, kBlockBytes};
    EXPECT_EQ(offsetsOf(capture.calls("Lock")), captured);
}

TEST_F(StreamLoopTest, ABlockAlreadyBeingMixedIsNotWritten) {
    FakePlaybackBuffer playback(4 * kBlockBytes);
    playback.writeLead = kBlockBytes / 2;
    runLoop(setup(nullptr, &playback, 4));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    // The play cursor three quarters into block 1: the write cursor is inside block 2,
    // the one the loop would write next.
    playback.cursor = kBlockBytes + 3 * kBlockBytes / 4;
    const int before = host_.switches;
    SetEvent(playbackEvent_);
    ASSERT_TRUE(waitUntil([&] { return host_.switches > before; }));
    stopLoop();
    const std::vector<DWORD> played{0, kBlockBytes, 3 * kBlockBytes};
    EXPECT_EQ(offsetsOf(playback.calls("Lock")), played);
}

TEST_F(StreamLoopTest, WithRoomInTheRingsACorrectionKeepsABlockOfMargin) {
    FakeCaptureBuffer capture(8 * kBlockBytes);
    FakePlaybackBuffer playback(8 * kBlockBytes);
    playback.writeLead = kBlockBytes / 2;
    runLoop(setup(&capture, &playback, 8, false));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    ASSERT_TRUE(nextBlock(playbackEvent_));
    // The playback moves on, the capture does not: the block to read is not whole.
    // The playback's write cursor is inside the block to write.
    playback.cursor = 2 * kBlockBytes + 3 * kBlockBytes / 4;
    const int before = host_.switches;
    SetEvent(playbackEvent_);
    ASSERT_TRUE(waitUntil([&] { return host_.switches > before; }));
    stopLoop();
    // Capture: block 7, block 0, then back to block 7 (not 0): the newest whole block
    // is 0, and one more keeps a block of margin. Playback: blocks 1, 2, then 5 (the
    // write cursor is inside block 3; block 4 is the first untouched, 5 the margin).
    const std::vector<DWORD> captured{7 * kBlockBytes, 0, 7 * kBlockBytes};
    EXPECT_EQ(offsetsOf(capture.calls("Lock")), captured);
    const std::vector<DWORD> played{0, kBlockBytes, 2 * kBlockBytes, 5 * kBlockBytes};
    EXPECT_EQ(offsetsOf(playback.calls("Lock")), played);
}

// A playback device whose write cursor runs 3.5 blocks ahead of its play cursor (small
// blocks): every block from the one playing to the one under the write cursor is the
// device's, and a block written there is heard only a whole ring later. Each written
// block is heard after its distance from the play cursor, plus a ring when it lay in
// that span; that, with the block read a block after it was captured, is the round
// trip, which must stay within the latency the driver reports (N + 1 blocks).
TEST_F(StreamLoopTest, WithTheWriteCursorFarAheadOutputStaysWithinTheReportedLatency) {
    const long blocks = 8;
    const DWORD ring = blocks * kBlockBytes;
    const DWORD lead = 7 * kBlockBytes / 2;
    FakePlaybackBuffer playback(ring);
    playback.writeLead = lead;
    runLoop(setup(nullptr, &playback, blocks));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    std::vector<DWORD> cursors{0};
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(nextBlock(playbackEvent_));
        cursors.push_back(playback.cursor);
    }
    stopLoop();
    const std::vector<DWORD> locks = offsetsOf(playback.calls("Lock"));
    ASSERT_EQ(locks.size(), cursors.size() + 1);  // the first silences block 0
    double worstMs = 0.0;
    for (size_t i = 0; i < cursors.size(); ++i) {
        const DWORD distance = (locks[i + 1] + ring - cursors[i]) % ring;
        const DWORD heardAfter = distance < lead ? distance + ring : distance;
        worstMs = std::max(worstMs, 1000.0 * (heardAfter / 4 + kFrames) / 44100.0);
        EXPECT_GE(distance, lead) << "cycle " << i << " wrote inside the device's span";
    }
    const double reportedMs = 1000.0 * double((blocks + 1) * kFrames) / 44100.0;
    std::printf("[ latency  ] write lead 3.5 blocks: round trip up to %.1f ms, reported %.1f ms\n", worstMs,
                reportedMs);
    EXPECT_LE(worstMs, reportedMs);
}

// A loop that has fallen behind its capture (notifications that merged: the capture
// moves two blocks a cycle) does not stay behind: what it reads is kept within a
// block of margin of the newest whole block, not left to lag up to a ring.
TEST_F(StreamLoopTest, ALoopFallenBehindItsCaptureCatchesUp) {
    const long blocks = 8;
    FakeCaptureBuffer capture(blocks * kBlockBytes);
    runLoop(setup(&capture, nullptr, blocks));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(nextBlock(captureEvent_, 2));
    stopLoop();
    const std::vector<FakeCall> locks = capture.calls("Lock");
    ASSERT_EQ(locks.size(), 11u);
    int worst = 0;
    for (size_t i = 1; i < locks.size(); ++i) {
        const DWORD capturing = DWORD(2 * i) % blocks;
        const int behind = int((capturing + blocks - locks[i].offset / kBlockBytes) % blocks);
        worst = std::max(worst, behind);
        EXPECT_GE(behind, 1) << "read the block being captured";
    }
    EXPECT_LE(worst, 3) << "fell behind by " << worst << " blocks";
}

TEST_F(StreamLoopTest, AFailingPositionReadEndsTheLoop) {
    FakePlaybackBuffer playback(2 * kBlockBytes);
    runLoop(setup(nullptr, &playback, 2));
    ASSERT_TRUE(waitUntil([&] { return host_.switches == 1; }));
    playback.failPosition = true;
    SetEvent(playbackEvent_);
    ASSERT_TRUE(waitUntil([&] { return ended_.load(); }));
    thread_.join();
    EXPECT_EQ(result_, int(StreamEnd::failed));
    EXPECT_EQ(host_.switches, 1);
}

// Devices that move on by themselves in real time and miss notifications, as Wine's
// does under load. 800-frame blocks at 8 kHz are 100 ms long: long enough that a stop
// woken at once is told apart from one that waits out a bounded wait.
const DWORD kSlowRate = 8000;
const double kSlowBlockMs = 100.0;

DWORD blockAt(DWORD offset) { return offset / kBlockBytes; }

TEST_F(StreamLoopTest, MissedNotificationsDoNotHoldTheLoopAndAStopEndsItAtOnce) {
    struct Case {
        const char* what;
        int dropped;   // notifications in a row that never come
        bool dropAll;  // none for about half a second
    };
    const Case cases[] = {{"one missed", 1, false}, {"five in a row", 5, false}, {"all for half a second", 0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stop_ = false;
        host_.switches = 0;
        counters_.clear();
        ResetEvent(stopEvent_);
        const long blocks = 4;
        FakeCaptureBuffer capture(blocks * kBlockBytes);
        FakePlaybackBuffer playback(blocks * kBlockBytes);
        fillCaptureRing(capture, blocks);
        FakeDeviceClock clock({{&capture, captureEvent_}, {&playback, playbackEvent_}}, kBlockBytes, kSlowBlockMs);
        runLoop(setup(&capture, &playback, blocks, true, kSlowRate));
        clock.start();
        ASSERT_TRUE(waitUntil([&] { return host_.switches >= 1; }));
        clock.waitTicks(3);
        if (c.dropAll)
            clock.dropAll = true;
        else
            clock.dropNext = c.dropped;
        clock.waitTicks(c.dropAll ? 5 : c.dropped);
        const int duringDrop = host_.switches;
        clock.dropAll = false;
        clock.waitTicks(4);
        const int beforeStop = host_.switches;
        const int moved = clock.ticks;
        ASSERT_GE(beforeStop, duringDrop + 3) << "the loop did not stream on once notifications came again";

        const double asked = FakeCallLog::nowMs();
        stopLoop();
        const double stopMs = FakeCallLog::nowMs() - asked;
        clock.stop();
        std::printf("[ missed   ] %s: %d blocks moved, %d unnotified; %d processed, %u time-outs, %u from the "
                    "cursors, %u late notifications skipped; stop took %.1f ms\n",
                    c.what, moved, clock.droppedTicks.load(), beforeStop, counters_.timeouts.load(),
                    counters_.recoveries.load(), counters_.skipped.load(), stopMs);
        EXPECT_EQ(result_, int(StreamEnd::stopped));
        EXPECT_EQ(counters_.stalls, 0u);
        EXPECT_EQ(host_.resetRequests, 0);
        EXPECT_LT(stopMs, kSlowBlockMs) << "stop did not end the wait at once";
        // Blocks are kept up with, not lost for good: at most two missed per gap.
        EXPECT_GE(beforeStop, moved - 3);
        if (c.dropped > 1 || c.dropAll) {
            EXPECT_GE(counters_.timeouts, 1u);
            EXPECT_GE(counters_.recoveries, 1u);
        }
        // Going on from the cursors never reads the block being captured.
        for (const FakeCall& lock : capture.calls("Lock"))
            EXPECT_NE(blockAt(lock.offset), blockAt(lock.cursor)) << "read the block being captured at " << lock.ms;
        ended_ = false;
    }
}

// A host that takes the reset opens the driver again: no box. One that cannot is told
// by the box that the loop has stopped.
TEST_F(StreamLoopTest, ACursorThatStandsStillEndsTheLoopAndAsksTheHostForAReset) {
    HWND owner = reinterpret_cast<HWND>(0x4321);
    for (int side = 0; side < 2; ++side) {
        SCOPED_TRACE(side == 0 ? "the capture cursor (pacing), a host that takes resets"
                               : "the playback cursor (not pacing), a host without resets");
        MessageBoxRecorder boxes;
        stop_ = false;
        ended_ = false;
        host_.switches = 0;
        host_.resetRequests = 0;
        host_.takesResets = side == 0;
        counters_.clear();
        std::strcpy(errorText_, "Unknown error");
        const long blocks = 4;
        FakeCaptureBuffer capture(blocks * kBlockBytes);
        FakePlaybackBuffer playback(blocks * kBlockBytes);
        FakeDeviceClock clock({{&capture, captureEvent_}, {&playback, playbackEvent_}}, kBlockBytes, kSlowBlockMs);
        runThreadBody(setup(&capture, &playback, blocks, true, kSlowRate), owner);
        clock.start();
        ASSERT_TRUE(waitUntil([&] { return host_.switches >= 3; }));
        (side == 0 ? static_cast<FakeRing&>(capture) : static_cast<FakeRing&>(playback)).standsStill = true;
        const double stoodStill = FakeCallLog::nowMs();
        ASSERT_TRUE(waitUntil([&] { return ended_.load(); }, 5000)) << "a device that stands still held the loop";
        const double endedAfter = FakeCallLog::nowMs() - stoodStill;
        thread_.join();
        clock.stop();
        std::printf("[ stall    ] %s: the loop ended %.0f ms after it stood still\n",
                    side == 0 ? "capture" : "playback", endedAfter);
        // About half a second: not at the first late block, not much later either.
        EXPECT_GE(endedAfter, 500.0 - kSlowBlockMs);
        EXPECT_LE(endedAfter, 1500.0);
        EXPECT_EQ(counters_.stalls, 1u);
        EXPECT_EQ(side == 0 ? counters_.captureStalls.load() : counters_.playbackStalls.load(), 1u);
        EXPECT_EQ(side == 0 ? counters_.playbackStalls.load() : counters_.captureStalls.load(), 0u);
        EXPECT_EQ(host_.resetRequests, side == 0 ? 1 : 0);
        EXPECT_STREQ(errorText_,
                     "There was an error occured when trying to start the buffer's loop.\n The loop now will stop");
        const auto shown = boxes.boxes();
        ASSERT_EQ(shown.size(), side == 0 ? 0u : 1u);
        if (side == 1) {
            EXPECT_EQ(shown[0].owner, owner);
            EXPECT_EQ(shown[0].caption, "Talvenor ZerevaZ-2-UDID");
        }
    }
    host_.takesResets = true;
}

TEST(StreamNotifications, EachBlockNotifiesAtItsLastByte) {
    FakeNotify notify;
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(setBlockNotifications(&notify, event, 3200, 2));
    ASSERT_EQ(notify.positions.size(), 2u);
    EXPECT_EQ(notify.positions[0].dwOffset, 3199u);
    EXPECT_EQ(notify.positions[1].dwOffset, 6399u);
    EXPECT_EQ(notify.positions[0].hEventNotify, event);
    EXPECT_EQ(notify.positions[1].hEventNotify, event);

    ASSERT_TRUE(setBlockNotifications(&notify, event, 6, 64));
    ASSERT_EQ(notify.positions.size(), 64u);
    EXPECT_EQ(notify.positions[63].dwOffset, 383u);
    EXPECT_FALSE(setBlockNotifications(&notify, event, 6, 65));
    EXPECT_FALSE(setBlockNotifications(&notify, event, 6, 0));
    CloseHandle(event);
}

TEST(ChannelCopy, SplitsAndJoinsPacked24BitStereo) {
    const int frames = 3;
    uint8_t block[frames * 6];
    for (int i = 0; i < frames * 6; ++i)
        block[i] = uint8_t(i + 1);
    uint8_t left[frames * 3], right[frames * 3];
    uint8_t* channels[2] = {left, right};
    const BlockLayout layout{frames, 2, 3, 6};
    deinterleaveBlock(block, layout, channels);
    const uint8_t expectedLeft[] = {1, 2, 3, 7, 8, 9, 13, 14, 15};
    const uint8_t expectedRight[] = {4, 5, 6, 10, 11, 12, 16, 17, 18};
    EXPECT_EQ(0, std::memcmp(left, expectedLeft, sizeof left));
    EXPECT_EQ(0, std::memcmp(right, expectedRight, sizeof right));

    uint8_t joined[frames * 6] = {};
    const uint8_t* sources[2] = {left, right};
    interleaveBlock(joined, layout, sources);
    EXPECT_EQ(0, std::memcmp(joined, block, sizeof block));
}

TEST(ChannelCopy, MonoUsesTheFirstBufferOnlyAndOddWidthsCopyNothing) {
    uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t left[8] = {}, right[8] = {};
    uint8_t* channels[2] = {left, right};
    deinterleaveBlock(block, BlockLayout{4, 1, 2, 2}, channels);
    EXPECT_EQ(0, std::memcmp(left, block, 8));
    EXPECT_EQ(right[0], 0);

    uint8_t untouched[8] = {};
    uint8_t* target[2] = {untouched, untouched};
    deinterleaveBlock(block, BlockLayout{1, 1, 5, 5}, target);  // 40-bit samples are not copied
    deinterleaveBlock(block, BlockLayout{1, 2, 4, 4}, target);  // frames narrower than their samples
    for (uint8_t b : untouched)
        EXPECT_EQ(b, 0);
}

}  // namespace
