#pragma once
#include <cstdint>

// The deck's working buffers, allocated once so that the driver thread never
// allocates. The reader and the recorder share the float buffers, one after the
// other within a block; each has its own byte buffers.
class DeckBuffers {
public:
    static constexpr int32_t kMaxFrames = 10240;        // per channel and block
    static constexpr int32_t kByteBufferSize = 204800;  // file bytes of one block
    static constexpr int32_t kEncodedSize = kMaxFrames * 8;  // a take's block: two samples of at most 32 bits

    DeckBuffers();
    virtual ~DeckBuffers();
    DeckBuffers(const DeckBuffers&) = delete;
    DeckBuffers& operator=(const DeckBuffers&) = delete;

    // False when an allocation failed; the deck then refuses its files.
    bool valid() const { return valid_; }

    float* decode[2];     // decoded file frames, or the take's frames before encoding
    float* converted[2];  // rate-converted channels
    uint8_t* fileBytes;    // the accompaniment's bytes of one block
    uint8_t* encoded;      // the take's block, encoded
    uint8_t* blockBytes;   // the take's blocks waiting for the writer (kByteBufferSize)

private:
    bool valid_;
};
