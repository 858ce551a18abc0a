// Measures WaveDeck under the platform's own file I/O and threads (run it under Wine;
// it is not a test):
//   1. mixAccompaniment per 256-frame block: a 44100 Hz 16-bit stereo file through
//      mmio into a 48000 Hz chain;
//   2. recordBlock per 256-frame block of a direct take, 96000 Hz 24-bit stereo from
//      a 96000 Hz chain, the writer thread running (includes the signal to it);
//   3. the writer thread's sustained throughput: a direct take fed as fast as the
//      writer takes it, against plain sequential WriteFile calls of the same bytes in
//      the same folder, in 6144-byte writes (one 1024-frame block each) and in
//      204800-byte writes. Repetitions interleave the three; medians are printed.
//   Each is measured twice: up to the return of the last call (the data then sits in
//   the system's file cache), and up to the end of flushing the file to the disk.
//   files_deck_bench [megabytes] [repetitions] [folder]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DeckTestSupport.h"
#include "ErrorFlags.h"
#include "LiveChannels.h"
#include "MessageBoxRecorder.h"
#include "WaveBuilder.h"
#include "WaveDeck.h"

namespace {

double seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Live : LiveChannels {
    explicit Live(int frames) : LiveChannels(frames) {
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < frames; ++i)
                live[ch][i] = float(0.4 * std::sin(0.01 * i * (ch + 1)));
    }
};

double mixMicroseconds(const std::string& folder) {
    WaveBuilder w;
    w.data.resize(size_t(60) * 176400);
    for (size_t i = 0; i < w.data.size(); ++i)
        w.data[i] = uint8_t(i * 31);
    const std::string path = folder + "\\backing.wav";
    writeWholeFile(path, w.build());
    WaveDeck deck;
    deck.openAccompaniment(path.c_str());
    deck.play();
    Live live(256);
    std::vector<double> batches;
    for (int b = 0; b < 40; ++b) {
        const double start = seconds();
        for (int i = 0; i < 250; ++i)
            deck.mixAccompaniment(live.channels, 2, 256, 48000.0f, 1.0f);
        batches.push_back((seconds() - start) / 250 * 1e6);
    }
    deck.closeAccompaniment();
    DeleteFileA(path.c_str());
    return median(batches);
}

double recordMicroseconds(const std::string& folder) {
    WaveDeck deck;
    deck.startAccompaniment = false;
    deck.formatIndex = int8_t(RecordingFormatTable::indexOf(24, 2, 96000));
    const std::string path = folder + "\\take.wav";
    deck.startRecording(path.c_str());
    Live live(256);
    std::vector<double> batches;
    for (int b = 0; b < 200; ++b) {
        while (deck.isBlockPending())
            Sleep(0);
        const double start = seconds();
        for (int i = 0; i < 100; ++i)  // 100 blocks of 1536 bytes fit the writer's buffer
            deck.recordBlock(live.channels, 2, 256, 96000.0f, 1.0f);
        batches.push_back((seconds() - start) / 100 * 1e6);
    }
    deck.stopRecording();
    DeleteFileA(path.c_str());
    return median(batches);
}

void flushToDisk(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
}

// A direct take of about the given bytes, fed as fast as the writer takes it. The
// blocks are silent (no live channel), which spares their conversion: the feeder's
// cost is measured above, this is the writer's. Returns the seconds from its start
// to the end of stopRecording (and of the flush, toDisk), and the bytes in the take.
double writerSeconds(const std::string& path, uint64_t bytes, uint64_t& written, bool toDisk) {
    WaveDeck deck;
    deck.startAccompaniment = false;
    deck.formatIndex = int8_t(RecordingFormatTable::indexOf(24, 2, 96000));
    static Live live(1024);  // not read: no live channel
    const uint64_t blocks = bytes / 6144;
    clearErrorFlag(kFlagDiskTooSlow);
    const double start = seconds();
    deck.startRecording(path.c_str());
    for (uint64_t b = 0; b < blocks;) {
        deck.recordBlock(live.channels, 0, 1024, 96000.0f, 1.0f);
        if (takeErrorFlag(kFlagDiskTooSlow))
            Sleep(0);  // the buffer is full: let the writer catch up, then hand the block again
        else
            ++b;
    }
    written = deck.recording().readPosition;
    deck.stopRecording();
    if (toDisk)
        flushToDisk(path);
    const double elapsed = seconds() - start;
    written = std::max<uint64_t>(written, blocks * 6144);
    return elapsed;
}

double plainSeconds(const std::string& path, uint64_t bytes, uint32_t writeSize, bool toDisk) {
    std::vector<uint8_t> block(writeSize, 0x5A);
    const double start = seconds();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    WriteFile(file, block.data(), 44, &done, nullptr);
    for (uint64_t left = bytes; left > 0;) {
        const DWORD n = DWORD(std::min<uint64_t>(left, writeSize));
        WriteFile(file, block.data(), n, &done, nullptr);
        left -= n;
    }
    if (toDisk)
        FlushFileBuffers(file);
    CloseHandle(file);
    return seconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 128;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
    ScratchFolder scratch;
    const std::string folder = argc > 3 ? argv[3] : scratch.path();
    MessageBoxRecorder boxes;  // nothing here may stop on a box

    const double mix = mixMicroseconds(folder);
    std::printf("mixAccompaniment, 256 frames of 44100 Hz stereo into 48000 Hz: %.2f us a block "
                "(%.3f %% of the block's 5333 us)\n", mix, mix / 53.33);
    const double record = recordMicroseconds(folder);
    std::printf("recordBlock, 256 frames of 96000 Hz 24-bit stereo, direct: %.2f us a block (%.3f %% of 2667 us)\n",
                record, record / 26.67);

    const uint64_t bytes = megabytes << 20;
    const std::string target = folder + "\\throughput.wav";
    for (bool toDisk : {false, true}) {
        std::vector<double> writer, plainBlocks, plainLarge;
        for (int r = 0; r < repetitions; ++r) {
            uint64_t written = 0;
            const double w = writerSeconds(target, bytes, written, toDisk);
            DeleteFileA(target.c_str());
            const double p = plainSeconds(target, written, 6144, toDisk);
            DeleteFileA(target.c_str());
            const double q = plainSeconds(target, written, 204800, toDisk);
            DeleteFileA(target.c_str());
            writer.push_back(double(written) / w / 1e6);
            plainBlocks.push_back(double(written) / p / 1e6);
            plainLarge.push_back(double(written) / q / 1e6);
            std::printf("  run %d%s: writer %.0f MB/s, plain 6144-byte writes %.0f MB/s, 204800-byte writes %.0f MB/s\n",
                        r + 1, toDisk ? " (flushed)" : "", writer.back(), plainBlocks.back(), plainLarge.back());
        }
        const double mw = median(writer), mp = median(plainBlocks), mq = median(plainLarge);
        std::printf("%s: writer thread %.0f MB/s (median of %d, %llu MB); plain sequential write %.0f MB/s in "
                    "6144-byte writes (ratio %.2f), %.0f MB/s in 204800-byte writes (ratio %.2f)\n",
                    toDisk ? "to the disk (flushed)" : "to the file cache", mw, repetitions,
                    (unsigned long long)megabytes, mp, mw / mp, mq, mw / mq);
    }
    if (boxes.count())
        std::printf("(%u message boxes were shown)\n", unsigned(boxes.count()));
    return 0;
}
