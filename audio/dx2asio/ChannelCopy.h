#pragma once
// Moves samples between an interleaved DirectSound block and the host's per-channel
// buffers. Samples keep their width and byte order (8, 16, 24 packed or 32 bits,
// little-endian), so a sample is a run of bytesPerSample bytes copied as it is.
#include <cstdint>

struct BlockLayout {
    int frames;          // frames in the block
    int channels;        // channels of the device format (1 or 2)
    int bytesPerSample;  // 1..4; nothing is copied otherwise
    int blockAlign;      // bytes from one frame to the next in the interleaved block
};

// channelBuffers[ch] receives frames x bytesPerSample bytes for channel ch.
void deinterleaveBlock(const uint8_t* block, const BlockLayout& layout, uint8_t* const* channelBuffers);
// channelBuffers[ch] supplies frames x bytesPerSample bytes for channel ch.
void interleaveBlock(uint8_t* block, const BlockLayout& layout, const uint8_t* const* channelBuffers);
