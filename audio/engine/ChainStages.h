#pragma once
#include <cstdint>

struct EffectSlot;

// The three places where the live chain hands its signal to other subsystems. Each
// is called on the driver thread once per sub-block of at most 1024 frames; the
// channel buffers are the chain's live buffers (channelCount 0, 1 or 2).

// Runs one occupied, not bypassed effect position in place.
class ChainEffects {
public:
    virtual ~ChainEffects() = default;
    virtual void processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount,
                             int32_t frames) = 0;
};

// Takes the signal for the recording; gain is the output gain factor.
class ChainRecorder {
public:
    virtual ~ChainRecorder() = default;
    // True when the take holds the playing alone, tapped before the accompaniment.
    virtual bool tapsBeforeAccompaniment() const = 0;
    virtual void recordBlock(float* const* channels, int32_t channelCount, int32_t frames,
                             float hostRate, float gain) = 0;
};

// Adds the next stretch of the backing track. False once a read error is set.
class ChainAccompaniment {
public:
    virtual ~ChainAccompaniment() = default;
    virtual bool mixAccompaniment(float* const* channels, int32_t channelCount, int32_t frames,
                                  float hostRate, float gain) = 0;
};
