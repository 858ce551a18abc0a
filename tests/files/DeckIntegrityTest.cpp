// Long takes: ten minutes of 96000 Hz 24-bit stereo through the writer thread, read
// back sample for sample; and a take that reaches the largest size a WAV file can
// state.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "DeckTestSupport.h"
#include "DeckBuffers.h"
#include "ErrorFlags.h"
#include "MessageBoxRecorder.h"
#include "WaveDeck.h"

namespace {

const int kRate = 96000;
const int kBlock = 1024;
const int kBlocks = 600 * kRate / kBlock;          // ten minutes
const int kRealTimeBlocks = 5 * kRate / kBlock;    // the first five seconds at real-time pace
const int kFastPace = 32;                          // then 32 times real time

// A 24-bit sample for every frame and channel of the take, from the frame's number.
float sampleOf(uint32_t frame, int channel) {
    uint32_t h = frame * 2654435761u ^ uint32_t(channel) * 0x9E3779B9u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return float(int32_t(h & 0x7FFFFF) - 0x400000) / 8388608.0f;  // -0.5 to 0.5, exact
}

int32_t encoded24(float v) { return int32_t(v * 8388607.0f); }

double now(const LARGE_INTEGER& frequency) {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

// The machine's own stalls while the take runs at real-time pace: a thread of the
// writer's priority that asks to wake every millisecond notes each time it was kept
// from running for longer than the writer's queue can bridge. A block lost then is
// the machine's doing, not the writer's; any other lost block is the writer's.
struct StallProbe {
    double slack = 0.0;     // seconds of blocks the writer's queue holds
    double period = 0.0;    // seconds per block
    std::atomic<bool> stop{false};
    int excusedBlocks = 0;  // blocks a stall longer than the slack may have cost
    double longestStall = 0.0;

    void run() {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        double last = now(frequency);
        while (!stop) {
            Sleep(1);
            const double t = now(frequency);
            const double stall = t - last;
            last = t;
            longestStall = std::max(longestStall, stall);
            if (stall > slack)
                excusedBlocks += int((stall - slack) / period) + 2;
        }
    }
};

// Acts as the driver thread: blocks at a fixed pace, whatever the writer does.
struct PacedFeeder {
    std::vector<char> dropped = std::vector<char>(kBlocks, 0);
    int droppedAtRealTime = 0, droppedFast = 0;
    bool recordError = false;

    void run(WaveDeck& deck, StallProbe& probe) {
        std::vector<float> left(kBlock), right(kBlock);
        float* channels[2] = {left.data(), right.data()};
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        const double period = double(kBlock) / kRate;
        double due = now(frequency);
        for (int b = 0; b < kBlocks; ++b) {
            for (int i = 0; i < kBlock; ++i) {
                left[i] = sampleOf(uint32_t(b * kBlock + i), 0);
                right[i] = sampleOf(uint32_t(b * kBlock + i), 1);
            }
            due += b < kRealTimeBlocks ? period : period / kFastPace;
            for (double left_ = due - now(frequency); left_ > 0; left_ = due - now(frequency))
                Sleep(left_ > 0.002 ? DWORD(left_ * 1000) - 1 : 0);
            if (b == kRealTimeBlocks)
                probe.stop = true;
            deck.recordBlock(channels, 2, kBlock, float(kRate), 1.0f);
            if (takeErrorFlag(kFlagDiskTooSlow)) {
                dropped[b] = 1;
                ++(b < kRealTimeBlocks ? droppedAtRealTime : droppedFast);
            }
        }
        recordError = takeErrorFlag(kFlagRecordError);
    }
};

}  // namespace

TEST(DeckIntegrity, TenMinutesAt96000Hz24BitStereoComeBackSampleForSample) {
    clearErrorFlag(0xFFFFFFFF);
    MessageBoxRecorder boxes;
    ScratchFolder folder;
    WaveDeck deck;
    deck.startAccompaniment = false;
    deck.formatIndex = int8_t(RecordingFormatTable::indexOf(24, 2, kRate));
    const std::string path = folder.file("long.wav");
    ASSERT_TRUE(deck.startRecording(path.c_str()));

    PacedFeeder feeder;
    StallProbe probe;
    probe.period = double(kBlock) / kRate;
    probe.slack = double(DeckBuffers::kByteBufferSize / (kBlock * 6)) * probe.period;
    std::thread machine([&] { probe.run(); });
    std::thread driver([&] { feeder.run(deck, probe); });
    driver.join();
    machine.join();
    ASSERT_TRUE(deck.stopRecording());
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_FALSE(feeder.recordError);
    // No block may be lost at real-time pace, but for those the machine itself cost by
    // stopping every thread for longer than the queue's slack.
    std::printf("real-time pace: longest stall of a time-critical thread %.0f ms (queue slack %.0f ms), "
                "%d blocks lost, %d excused\n",
                probe.longestStall * 1000, probe.slack * 1000, feeder.droppedAtRealTime, probe.excusedBlocks);
    EXPECT_LE(feeder.droppedAtRealTime, probe.excusedBlocks) << "blocks lost at real-time pace";
    std::printf("blocks dropped at %d times real time: %d of %d\n", kFastPace, feeder.droppedFast,
                kBlocks - kRealTimeBlocks);

    const uint32_t kept = uint32_t(kBlocks - feeder.droppedAtRealTime - feeder.droppedFast);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    EXPECT_EQ(uint64_t(size.QuadPart), 44u + uint64_t(kept) * kBlock * 6);

    std::vector<uint8_t> bytes(kBlock * 6 * 256);
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(file, bytes.data(), 44, &got, nullptr) && got == 44);
    EXPECT_EQ(little32(bytes, 40), kept * kBlock * 6);
    EXPECT_EQ(little32(bytes, 4), kept * kBlock * 6 + 36);
    EXPECT_EQ(little16(bytes, 32), 6);

    int b = 0;
    size_t mismatches = 0;
    while (b < kBlocks) {
        // Read up to 256 kept blocks, then walk the fed blocks they stand for.
        int blocks = 0, first = b, last = b;
        while (last < kBlocks && blocks < 256)
            blocks += !feeder.dropped[last++];
        ASSERT_TRUE(ReadFile(file, bytes.data(), DWORD(blocks * kBlock * 6), &got, nullptr));
        ASSERT_EQ(got, DWORD(blocks * kBlock * 6));
        const uint8_t* p = bytes.data();
        for (b = first; b < last; ++b) {
            if (feeder.dropped[b])
                continue;
            for (int i = 0; i < kBlock; ++i)
                for (int ch = 0; ch < 2; ++ch, p += 3)
                    mismatches += sample24(p) != encoded24(sampleOf(uint32_t(b * kBlock + i), ch));
        }
    }
    CloseHandle(file);
    EXPECT_EQ(mismatches, 0u);
}

namespace {

// A take's file that keeps only its header: lets a take reach 4 GiB without the disk.
class HeaderOnlyFile : public RiffFile {
public:
    explicit HeaderOnlyFile(uint8_t* header) : header_(header) {}
    int32_t read(void*, int32_t) override { return -1; }
    int32_t write(const void* buffer, int32_t bytes) override {
        if (position_ < 44)
            std::memcpy(header_ + position_, buffer, size_t(std::min<int64_t>(bytes, 44 - position_)));
        position_ += bytes;
        return bytes;
    }
    int32_t seek(int32_t offset, SeekFrom origin) override {
        if (origin != SeekFrom::Start)
            return -1;  // like mmio's 32-bit offsets beyond 2 GiB
        position_ = offset;
        return offset;
    }

private:
    uint8_t* header_;
    int64_t position_ = 0;
};

struct HeaderOnlyFiles : RiffFileFactory {
    uint8_t header[44] = {};
    RiffFile* openForReading(const char*) override { return nullptr; }
    RiffFile* createForWriting(const char*) override { return new HeaderOnlyFile(header); }
};

}  // namespace

TEST(DeckIntegrity, ATakeStopsBeforeItsSizesWouldWrap) {
    clearErrorFlag(0xFFFFFFFF);
    MessageBoxRecorder boxes;
    HeaderOnlyFiles files;
    WaveDeck deck(&files);
    deck.startAccompaniment = false;
    deck.formatIndex = int8_t(RecordingFormatTable::indexOf(24, 2, kRate));
    ASSERT_TRUE(deck.startRecording("C:\\long.wav"));

    // 1024 frames of a 9600 Hz chain are 10240 frames of the take: 61440 bytes a block
    // (of silence: no live channel, which spares the rate conversion).
    float* channels[2] = {nullptr, nullptr};
    const uint32_t limit = maxTakeDataBytes(6);
    const uint32_t fullBlocks = limit / 61440;
    uint32_t blocks = 0;
    for (; blocks < fullBlocks + 10; ++blocks) {
        if (blocks % 3 == 0)  // three blocks fit the writer's buffer
            while (deck.isBlockPending())
                Sleep(0);
        deck.recordBlock(channels, 0, kBlock, 9600.0f, 1.0f);
        if (takeErrorFlag(kFlagRecordError))
            break;
    }
    EXPECT_EQ(blocks, fullBlocks) << "reported with the block that reached the limit";
    while (deck.isBlockPending())
        Sleep(0);
    EXPECT_EQ(deck.recording().readPosition, limit) << "the whole frames that fit";
    deck.recordBlock(channels, 0, kBlock, 9600.0f, 1.0f);
    Sleep(1);
    EXPECT_EQ(deck.recording().readPosition, limit) << "nothing more is taken";
    EXPECT_FALSE(takeErrorFlag(kFlagDiskTooSlow));

    EXPECT_TRUE(deck.stopRecording()) << "a full take is a good take";
    EXPECT_FALSE(takeErrorFlag(kFlagRecordError)) << "reported once";
    std::vector<uint8_t> header(files.header, files.header + 44);
    EXPECT_EQ(little32(header, 40), limit);
    EXPECT_EQ(little32(header, 4), limit + 36) << "no wrap";
    EXPECT_GE(little32(header, 4), limit);
    EXPECT_EQ(boxes.count(), 0u);
}
