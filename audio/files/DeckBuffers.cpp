#include "DeckBuffers.h"

#include <cstring>
#include <new>

DeckBuffers::DeckBuffers() : decode{}, converted{}, fileBytes(nullptr), blockBytes(nullptr), valid_(true) {
    for (int ch = 0; ch < 2; ++ch) {
        decode[ch] = new (std::nothrow) float[kMaxFrames];
        converted[ch] = new (std::nothrow) float[kMaxFrames];
        valid_ = valid_ && decode[ch] && converted[ch];
    }
    fileBytes = new (std::nothrow) uint8_t[kByteBufferSize];
    blockBytes = new (std::nothrow) uint8_t[kByteBufferSize];
    valid_ = valid_ && fileBytes && blockBytes;
    if (valid_) {
        for (int ch = 0; ch < 2; ++ch) {
            std::memset(decode[ch], 0, sizeof(float) * kMaxFrames);
            std::memset(converted[ch], 0, sizeof(float) * kMaxFrames);
        }
        std::memset(fileBytes, 0, kByteBufferSize);
        std::memset(blockBytes, 0, kByteBufferSize);
    }
}

DeckBuffers::~DeckBuffers() {
    for (int ch = 0; ch < 2; ++ch) {
        delete[] decode[ch];
        delete[] converted[ch];
    }
    delete[] fileBytes;
    delete[] blockBytes;
}
