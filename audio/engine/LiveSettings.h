#pragma once
#include <cstdint>
#include "Relaxed.h"

struct EffectSlot;

// The user's values for the live chain and the performance. The knob values are
// written by the UI thread and read by the driver thread without locking; the effect
// positions change only while processing is paused.
class LiveSettings {
public:
    static constexpr int kPositions = 8;
    static constexpr int32_t kMinTempo = 6000;   // hundredths of a beat per minute
    static constexpr int32_t kMaxTempo = 20000;

    LiveSettings();
    virtual ~LiveSettings();

    Relaxed<int32_t> tempo{12000};
    Relaxed<uint8_t> metronome{0};
    Relaxed<float> gateAttack{0.0f};
    Relaxed<float> gateRelease{19.0f / 99.0f};  // a closing time of 100 ms
    Relaxed<float> gateThresh{1.0f / 3.0f};     // a threshold of -42 dB
    Relaxed<float> ingain{0.75f};               // 0.75 is 0 dB
    Relaxed<float> outgain{0.75f};
    Relaxed<uint8_t> centerAmp{1};              // DC filter on
    Relaxed<float> accompanimentGain{1.0f};     // 0.0 to 2.0

    // Effect positions: position 0 is processed first.
    EffectSlot* slots[kPositions];
    uint8_t bypass[kPositions];
};
