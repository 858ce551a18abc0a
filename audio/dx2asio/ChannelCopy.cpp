#include "ChannelCopy.h"

#include <cstring>

namespace {

bool copyable(const BlockLayout& layout) {
    return layout.bytesPerSample >= 1 && layout.bytesPerSample <= 4 && layout.frames > 0 && layout.channels > 0 &&
           layout.blockAlign >= layout.channels * layout.bytesPerSample;
}

}  // namespace

void deinterleaveBlock(const uint8_t* block, const BlockLayout& layout, uint8_t* const* channelBuffers) {
    if (!block || !copyable(layout))
        return;
    const int s = layout.bytesPerSample;
    for (int ch = 0; ch < layout.channels; ++ch) {
        uint8_t* out = channelBuffers[ch];
        if (!out)
            continue;
        const uint8_t* in = block + ch * s;
        for (int j = 0; j < layout.frames; ++j, in += layout.blockAlign, out += s)
            std::memcpy(out, in, s);
    }
}

void interleaveBlock(uint8_t* block, const BlockLayout& layout, const uint8_t* const* channelBuffers) {
    if (!block || !copyable(layout))
        return;
    const int s = layout.bytesPerSample;
    for (int ch = 0; ch < layout.channels; ++ch) {
        const uint8_t* in = channelBuffers[ch];
        if (!in)
            continue;
        uint8_t* out = block + ch * s;
        for (int j = 0; j < layout.frames; ++j, out += layout.blockAlign, in += s)
            std::memcpy(out, in, s);
    }
}
