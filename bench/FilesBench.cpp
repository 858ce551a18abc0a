// The deck's work on the driver thread, per 256-frame block of the live chain:
//   - mixing the accompaniment: a 44100 Hz 16-bit stereo file into a 48000 Hz chain,
//     read from a real file on disk through a 1024-byte buffer like mmio's;
//   - taking a block of a direct take at 96000 Hz, 24-bit stereo, from a 96000 Hz
//     chain: conversion, encoding and the hand-off into the writer's queue (the
//     writer's side and the Win32 signal are measured under Wine by files_deck_bench);
//     and the same at 44100 Hz from a 48000 Hz chain, through the rate converter.
// The label gives the block's duration and the bar, 2 % of it, for the time per call.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AccompanimentMix.h"
#include "RecordingFormat.h"
#include "TakeBlock.h"
#include "WaveParser.h"
#include "WriterQueue.h"

namespace {

// A file read through a 1024-byte buffer, as the platform's buffered file I/O does.
class BufferedFile : public RiffFile {
public:
    explicit BufferedFile(const char* path) : fd_(open(path, O_RDONLY)) {}
    ~BufferedFile() override {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    int32_t read(void* buffer, int32_t bytes) override {
        auto* to = static_cast<uint8_t*>(buffer);
        int32_t done = 0;
        while (done < bytes) {
            if (next_ == end_) {
                const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
                if (got < 0)
                    return -1;
                if (got == 0)
                    break;
                next_ = 0;
                end_ = int32_t(got);
            }
            const int32_t n = std::min(bytes - done, end_ - next_);
            std::memcpy(to + done, buffer_ + next_, size_t(n));
            next_ += n;
            done += n;
        }
        return done;
    }
    int32_t write(const void*, int32_t) override { return -1; }
    int32_t seek(int32_t offset, SeekFrom origin) override {
        if (origin == SeekFrom::Current)
            offset -= end_ - next_;  // the buffered bytes are ahead of the file position
        next_ = end_ = 0;
        const off_t to = lseek(fd_, offset, origin == SeekFrom::Start ? SEEK_SET : origin == SeekFrom::Current ? SEEK_CUR : SEEK_END);
        return to < 0 ? -1 : int32_t(to);
    }

private:
    int fd_;
    uint8_t buffer_[1024];
    int32_t next_ = 0, end_ = 0;
};

void setBudgetLabel(benchmark::State& state, int frames, float rate) {
    const double blockMicroseconds = 1e6 * frames / rate;
    char label[64];
    std::snprintf(label, sizeof label, "block %.0f us, bar %.1f us", blockMicroseconds, blockMicroseconds * 0.02);
    state.SetLabel(label);
}

std::string writeBackingTrack(int seconds) {
    std::vector<uint8_t> wav(44 + size_t(seconds) * 44100 * 4);
    FormatRecord f{kFormatPcm, 2, 44100, 176400, 4, 16, 0};
    buildWaveHeader(f, uint32_t(wav.size() - 44), wav.data());
    for (size_t i = 44; i + 1 < wav.size(); i += 2) {
        const int16_t v = int16_t(12000 * std::sin(double(i) * 0.0007));
        std::memcpy(&wav[i], &v, 2);
    }
    char path[] = "/tmp/talvenor-files-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || ::write(fd, wav.data(), wav.size()) != ssize_t(wav.size()))
        std::abort();
    close(fd);
    return path;
}

void BM_MixAccompaniment(benchmark::State& state) {
    const int frames = 256;
    const float hostRate = 48000.0f;
    const std::string path = writeBackingTrack(60);
    auto* file = new BufferedFile(path.c_str());
    WaveLayout layout{};
    if (!file->ok() || parseWave(*file, 44 + 60 * 176400, layout) != WaveOpenResult::Ok) {
        state.SkipWithError("backing track");
        return;
    }
    WaveFileState accompaniment;
    if (!accompaniment.attach(file, layout)) {
        delete file;
        state.SkipWithError("converter tables");
        return;
    }
    DeckBuffers buffers;
    std::vector<float> live[2] = {std::vector<float>(frames, 0.1f), std::vector<float>(frames, -0.1f)};
    float* channels[2] = {live[0].data(), live[1].data()};

    for (auto _ : state) {
        const bool ok = mixAccompanimentFrom(accompaniment, buffers, true, channels, 2, frames, hostRate, 1.0f);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    setBudgetLabel(state, frames, hostRate);
    delete file;
    unlink(path.c_str());
}
BENCHMARK(BM_MixAccompaniment)->Unit(benchmark::kMicrosecond);

void recordBlockDirect(benchmark::State& state, float hostRate, uint32_t takeRate) {
    const int frames = 256;
    RecordingFormatTable table;
    WaveFileState take;
    take.format = recordingFormatFrom(table.entries[RecordingFormatTable::indexOf(24, 2, takeRate)]);
    if (!prepareTakeConverter(take, 0)) {
        state.SkipWithError("converter tables");
        return;
    }
    DeckBuffers buffers;
    WriterQueue queue;
    queue.reset(buffers.blockBytes, DeckBuffers::kByteBufferSize);
    std::vector<float> live[2] = {std::vector<float>(frames), std::vector<float>(frames)};
    for (int i = 0; i < frames; ++i) {
        live[0][i] = float(0.5 * std::sin(0.05 * i));
        live[1][i] = float(0.4 * std::cos(0.03 * i));
    }
    float* channels[2] = {live[0].data(), live[1].data()};

    for (auto _ : state) {
        const int32_t takeFrames = convertForTake(take, buffers, channels, 2, frames, hostRate, 1.0f);
        const uint32_t bytes = uint32_t(takeFrames) * take.format.blockAlign;
        if (bytes <= queue.room()) {
            encodeTakeBlock(take, buffers, takeFrames);
            queue.put(buffers.encoded, bytes);
        }
        state.PauseTiming();  // the writer's side
        queue.discard();
        state.ResumeTiming();
    }
    setBudgetLabel(state, frames, hostRate);
}
void BM_RecordBlockDirect(benchmark::State& state) { recordBlockDirect(state, 96000.0f, 96000); }
BENCHMARK(BM_RecordBlockDirect)->Unit(benchmark::kMicrosecond);

// A take at another rate than the chain's: 44.1 kHz from a 48 kHz chain.
void BM_RecordBlockConverted(benchmark::State& state) { recordBlockDirect(state, 48000.0f, 44100); }
BENCHMARK(BM_RecordBlockConverted)->Unit(benchmark::kMicrosecond);

}  // namespace
