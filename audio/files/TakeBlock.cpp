#include "TakeBlock.h"

#include <cstring>

#include "RecordingFormat.h"
#include "SampleFormat.h"

bool prepareTakeConverter(WaveFileState& take, uint32_t lastHostRate) {
    return take.converter.prepare(take.format.samplesPerSec, false, lastHostRate, DeckBuffers::kMaxFrames);
}

int32_t convertForTake(WaveFileState& take, DeckBuffers& buffers, float* const* channels, int32_t channelCount,
                       int32_t frames, float hostRate, float gain) {
    RateConverter& converter = take.converter;
    converter.select(hostRate);
    if (!converter.converts() || frames <= 0)
        return 0;
    if (frames > DeckBuffers::kMaxFrames)
        frames = DeckBuffers::kMaxFrames;
    const int32_t live = channelCount > 2 ? 2 : channelCount;
    const int takeChannels = take.format.channels > 2 ? 2 : take.format.channels;
    // The live channels take the take's layout first, at the chain's rate: a mono take
    // of two channels is their mean, so it clips only where the output does.
    for (int ch = 0; ch < takeChannels; ++ch)
        std::memset(buffers.converted[ch], 0, sizeof(float) * size_t(frames));
    const float factor = live == 2 && takeChannels == 1 ? gain * 0.5f : gain;
    mixChannels(channels, live, buffers.converted, takeChannels, frames, factor);

    int32_t takeFrames = rateOutputFor(converter.channel(0), frames);
    if (takeFrames > DeckBuffers::kMaxFrames)
        takeFrames = DeckBuffers::kMaxFrames;
    int32_t written = 0;
    for (int ch = 0; ch < takeChannels; ++ch)
        written = convertRate(buffers.converted[ch], buffers.decode[ch], takeFrames, frames, converter.channel(ch));
    return written;
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
