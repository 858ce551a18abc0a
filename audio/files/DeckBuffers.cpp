#include "DeckBuffers.h"

#include <new>

// Zero-filled here, on the UI thread, so that the driver thread's first blocks find
// their pages in memory.
DeckBuffers::DeckBuffers()
    : decode{}, converted{}, fileBytes(nullptr), encoded(nullptr), blockBytes(nullptr), valid_(true) {
    for (int ch = 0; ch < 2; ++ch) {
        decode[ch] = new (std::nothrow) float[kMaxFrames]();
        converted[ch] = new (std::nothrow) float[kMaxFrames]();
        valid_ = valid_ && decode[ch] && converted[ch];
    }
    fileBytes = new (std::nothrow) uint8_t[kByteBufferSize]();
    encoded = new (std::nothrow) uint8_t[kEncodedSize]();
    blockBytes = new (std::nothrow) uint8_t[kByteBufferSize]();
    valid_ = valid_ && fileBytes && encoded && blockBytes;
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
