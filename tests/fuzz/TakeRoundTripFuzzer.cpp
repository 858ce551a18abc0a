// Any sequence of blocks as a take: whatever the format, the live rate and the block
// lengths, the blocks pass the writer's queue whole and in order, and the file that
// results is one the accompaniment parser accepts with the same format and length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MemoryRiffFile.h"
#include "RecordingFormat.h"
#include "TakeBlock.h"
#include "WaveParser.h"
#include "WriterQueue.h"

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Writes the first stretch waiting, or everything.
void drain(WriterQueue& queue, MemoryRiffFile& file, bool all) {
    do {
        const uint8_t* at = nullptr;
        const uint32_t bytes = queue.peek(at);
        require(file.write(at, int32_t(bytes)) == int32_t(bytes));
        queue.consume(bytes);
    } while (all && queue.waiting() > 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    static DeckBuffers buffers;
    static uint8_t queueBuffer[100000];
    static float live[2][1024];
    float* channels[2] = {live[0], live[1]};

    static const RecordingFormatTable table;
    const float hostRates[6] = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
    WaveFileState take;
    take.format = recordingFormatFrom(table.entries[data[0] % table.count]);
    require(prepareTakeConverter(take, 0));
    const float hostRate = hostRates[data[1] % 6];
    const int liveChannels = data[2] % 3;

    WriterQueue queue;
    queue.reset(queueBuffer, uint32_t(sizeof queueBuffer));
    MemoryRiffFile file;
    const uint8_t placeholder[kWaveHeaderBytes] = {};
    file.write(placeholder, kWaveHeaderBytes);
    std::vector<uint8_t> expected;

    for (size_t at = 3; at + 2 <= size;) {
        const int32_t frames = 1 + (data[at] | data[at + 1] << 8) % 1024;
        const bool drainAll = data[at] & 1;
        at += 2;
        for (int32_t i = 0; i < frames; ++i)  // the input's bytes as samples, -1 to 1
            for (int ch = 0; ch < 2; ++ch)
                live[ch][i] = at < size ? float(int8_t(data[at++])) / 127.0f : 0.0f;
        const int32_t takeFrames = convertForTake(take, buffers, channels, liveChannels, frames, hostRate, 1.0f);
        if (takeFrames <= 0)
            continue;
        const uint32_t bytes = encodeTakeBlock(take, buffers, takeFrames);
        require(bytes == uint32_t(takeFrames) * take.format.blockAlign && bytes <= DeckBuffers::kEncodedSize);
        expected.insert(expected.end(), buffers.encoded, buffers.encoded + bytes);
        while (queue.room() < bytes)
            drain(queue, file, drainAll);
        require(queue.put(buffers.encoded, bytes));
        if (data[at - 1] & 2)
            drain(queue, file, false);
    }
    if (queue.waiting() > 0)
        drain(queue, file, true);
    if (expected.empty())
        return 0;

    uint8_t header[kWaveHeaderBytes];
    buildWaveHeader(take.format, uint32_t(expected.size()), header);
    file.seek(0, SeekFrom::Start);
    file.write(header, kWaveHeaderBytes);

    const std::vector<uint8_t>& bytes = file.bytes();
    require(bytes.size() == kWaveHeaderBytes + expected.size());
    require(std::memcmp(bytes.data() + kWaveHeaderBytes, expected.data(), expected.size()) == 0);
    MemoryRiffFile readBack(bytes);
    WaveLayout layout{};
    require(parseWave(readBack, uint32_t(bytes.size()), layout) == WaveOpenResult::Ok);
    require(layout.dataBytes == expected.size() && layout.dataOffset == int32_t(kWaveHeaderBytes));
    require(std::memcmp(&layout.format, &take.format, sizeof layout.format) == 0);
    return 0;
}
