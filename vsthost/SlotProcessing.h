#pragma once
#include <cstdint>

#include "LiveChain.h"

struct EffectSlot;

// Takes one slot out of processing for its lifetime: once made, the driver thread is
// not in the plug-in's process call and does not enter it (the chain passes the
// signal by) until the hold ends. UI thread; waits at most one sub-block.
class SlotHold {
public:
    explicit SlotHold(EffectSlot& slot);
    ~SlotHold();
    SlotHold(const SlotHold&) = delete;
    SlotHold& operator=(const SlotHold&) = delete;

private:
    EffectSlot& slot_;
};

// Runs one plug-in on the live channels: maps the one or two live channels onto the
// plug-in's inputs and its outputs back, through scratch buffers of the host's own.
// Driver thread only; allocates nothing.
class SlotProcessing {
public:
    // The chain's sub-block: it never hands a slot more frames at once.
    static constexpr int32_t kMaxFrames = LiveChain::kMaxSubBlock;

    SlotProcessing();
    virtual ~SlotProcessing();
    SlotProcessing(const SlotProcessing&) = delete;
    SlotProcessing& operator=(const SlotProcessing&) = delete;

    // Reads and replaces the first channelCount live buffers (frames at most 1024).
    // A plug-in with other than one or two inputs or outputs leaves them untouched.
    void processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames);
    // Driver thread: slot comes next; its plug-in is told, unless the UI thread holds it.
    void slotComing(EffectSlot* slot);

private:
    alignas(16) float scratchIn_[2][kMaxFrames];
    alignas(16) float scratchOut_[2][kMaxFrames];
};
