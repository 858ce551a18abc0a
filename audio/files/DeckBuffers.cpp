#include "DeckBuffers.h"

#include <cstring>
#include <new>

DeckBuffers::DeckBuffers()
    : decode{}, converted{}, fileBytes(nullptr), encoded(nullptr), blockBytes(nullptr), valid_(true) {
    for (int ch = 0; ch < 2; ++ch) {
        decode[ch] = new (std::nothrow) float[kMaxFrames];
        converted[ch] = new (std::nothrow) float[kMaxFrames];
        valid_ = valid_ && decode[ch] && converted[ch];
    }
    fileBytes = new (std::nothrow) uint8_t[kByteBufferSize];
    encoded = new (std::nothrow) uint8_t[kEncodedSize];
    blockBytes = new (std::nothrow) uint8_t[kByteBufferSize];
    valid_ = valid_ && fileBytes && encoded && blockBytes;
    if (valid_) {
        for (int ch = 0; ch < 2; ++ch) {
            std::memset(decode[ch], 0, sizeof(float) * kMaxFrames);
            std::memset(converted[ch], 0, sizeof(float) * kMaxFrames);
        }
        std::memset(fileBytes, 0, kByteBufferSize);
        std::memset(encoded, 0, kEncodedSize);
        std::memset(blockBytes, 0, kByteBufferSize);
    }
}

DeckBuffers::~DeckBuffers() {
    for (int ch = 0; ch < 2; ++ch) {
        delete[] decode[ch];
        delete[] converted[ch];
    }
    delete[] fileBytes;
    delete[] encoded;
    delete[] blockBytes;
}
