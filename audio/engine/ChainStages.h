#pragma once
#include <cstdint>

struct EffectSlot;

// The three places where the live chain hands its signal to other subsystems. Each
// is called on the driver thread once per sub-block of at most 1024 frames; the
// channel buffers are the chain's live buffers (channelCount 0, 1 or 2).

// The effect stage: runs one occupied, not bypassed effect position in place, and
// follows live input's start and stop.
class ChainEffects {
public:
    virtual ~ChainEffects() = default;
    // Driver thread, once per sub-block and position.
    virtual void processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount,
                             int32_t frames) = 0;
    // Driver thread: slot is the next to be processed in this sub-block (a plug-in in
    // another process is woken meanwhile).
    virtual void slotComing(EffectSlot* /*slot*/) {}
    // UI thread, at start of live input after the driver's buffers exist and before the
    // driver starts, in this order.
    virtual void setSampleRate(float rate) = 0;
    virtual void setBlockSize(int32_t size) = 0;
    virtual void resumeAllSlots() = 0;
    // UI thread, at stop of live input, after the last buffer callback has finished.
    virtual void suspendAllSlots() = 0;
};

// Brackets every change to what the chain reads: after pauseProcessing returns no
// sub-block is in progress and none starts until resumeProcessing. UI thread.
class ProcessingControl {
public:
    virtual ~ProcessingControl() = default;
    virtual void pauseProcessing() = 0;
    virtual void resumeProcessing() = 0;
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

// Hears the live input for the tuner: after the DC filter, before the gate and the
// input gain. Driver thread, once per sub-block; allocates nothing, takes no lock.
class ChainTuner {
public:
    virtual ~ChainTuner() = default;
    virtual void tapInput(const float* const* channels, int32_t channelCount, int32_t frames, double rate) = 0;
    // Read once per sub-block: while tuning, the output (and, where the player chose
    // so, the take) is silenced.
    virtual bool mutesOutput() const = 0;
    virtual bool mutesRecording() const = 0;
};

// The MIDI control point: takes what came from the MIDI inputs since the last block
// and applies it before the block's work, so a change is heard in this block.
// Driver thread, once per driver block (before its first sub-block); allocates
// nothing, takes no lock.
class ChainMidi {
public:
    virtual ~ChainMidi() = default;
    virtual void beforeBlock(int32_t frames, double rate) = 0;
};

class LiveSettings;

// The performance switch: a prepared chain of effects put in place at a block
// boundary, and the outgoing chain's effects kept ringing on silence for their tail,
// added to the output while the incoming chain plays.
class ChainSwitch {
public:
    virtual ~ChainSwitch() = default;
    // Driver thread, once per driver block, after the MIDI control point: installs a
    // switch that waits into settings' positions.
    virtual void beforeBlock(LiveSettings& settings, int32_t frames, double rate) = 0;
    // Driver thread, once per sub-block after the effects: dry is the live signal as
    // it entered the effects, channels the effects' output; adds the outgoing chain
    // (and fades the incoming one in across the switch).
    virtual void mixTail(const float* const* dry, float* const* channels, int32_t channelCount, int32_t frames) = 0;
    // Driver thread: whether mixTail needs the dry signal in this sub-block.
    virtual bool wantsDry() const = 0;
};
