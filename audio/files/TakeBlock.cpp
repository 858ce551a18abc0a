#include "TakeBlock.h"

#include <cstring>

#include "RecordingFormat.h"
#include "SampleFormat.h"

int32_t convertForTake(WaveFileState& take, DeckBuffers& buffers, float* const* channels, int32_t channelCount,
                       int32_t frames, float hostRate, float gain) {
    const int32_t takeFrames = framesAtRate(take.format.samplesPerSec, hostRate, frames, DeckBuffers::kMaxFrames);
    if (takeFrames <= 0)
        return 0;
    const int32_t live = channelCount > 2 ? 2 : channelCount;
    for (int32_t ch = 0; ch < live; ++ch) {
        std::memset(buffers.converted[ch], 0, sizeof(float) * size_t(takeFrames));
        convertRate(channels[ch], buffers.converted[ch], takeFrames, frames, take.converters[ch]);
    }
    for (int ch = 0; ch < take.format.channels; ++ch)
        std::memset(buffers.decode[ch], 0, sizeof(float) * size_t(takeFrames));
    mixChannels(buffers.converted, live, buffers.decode, take.format.channels, takeFrames, gain);
    return takeFrames;
}

uint32_t encodeTakeBlock(const WaveFileState& take, DeckBuffers& buffers, int32_t frames) {
    encodeSamples(buffers.decode, buffers.encoded, frames, take.format, false);
    return uint32_t(frames) * take.format.blockAlign;
}

uint32_t appendToRamTake(WaveFileState& take, const DeckBuffers& buffers, uint8_t* ramTake, uint32_t blockBytes) {
    const uint32_t recorded = take.readPosition;
    if (!ramTake || take.dataBytes == 0)
        return 0;
    const uint32_t bytes = bytesThatFit(recorded, blockBytes, take.dataBytes, take.format.blockAlign);
    std::memcpy(ramTake + recorded, buffers.encoded, bytes);
    take.readPosition = recorded + bytes;
    return bytes;
}
