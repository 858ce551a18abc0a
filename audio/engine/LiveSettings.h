#pragma once
#include <cstdint>
#include "Relaxed.h"

struct EffectSlot;
class ProcessingControl;

// The effect host as the positions see it. UI thread.
class EffectSlots {
public:
    virtual ~EffectSlots() = default;
    // Loads entry listIndex of the plug-in list (or path, when given); null on failure.
    virtual EffectSlot* loadPlugin(int32_t listIndex, const char* path) = 0;
    // Out of every position, the slot is taken out of the host's reach while
    // processing is paused, then closed and freed by unloadSlot after the pause.
    virtual void detachSlot(EffectSlot* slot) = 0;
    virtual bool unloadSlot(EffectSlot* slot) = 0;
    virtual bool setSlotActive(EffectSlot* slot, bool active) = 0;
};

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
    LiveSettings(const LiveSettings&) = delete;
    LiveSettings& operator=(const LiveSettings&) = delete;

    Relaxed<int32_t> tempo{12000};
    Relaxed<uint8_t> metronome{0};
    Relaxed<float> gateAttack{0.0f};
    Relaxed<float> gateRelease{19.0f / 99.0f};  // a closing time of 100 ms
    Relaxed<float> gateThresh{1.0f / 3.0f};     // a threshold of -42 dB
    Relaxed<float> ingain{0.75f};               // 0.75 is 0 dB
    Relaxed<float> outgain{0.75f};
    Relaxed<uint8_t> centerAmp{1};              // DC filter on
    Relaxed<float> accompanimentGain{1.0f};     // 0.0 to 2.0

    // Effect positions: position 0 is processed first. A slot is held by at most one
    // position; the driver thread reads them, so every change is made while
    // processing is paused.
    EffectSlot* slots[kPositions];
    uint8_t bypass[kPositions];

    // --- the performance (UI thread) ---
    static constexpr int kNameSize = 260;
    char performanceName[kNameSize];  // the performance's file; empty for a new one
    // The performance as last opened, saved or emptied: the effect host's state blob
    // (owned; null and 0 when none), the accompaniment's file, and the positions,
    // remembered by the serial number of the slot in each (0 when empty).
    uint8_t* snapshotBlob = nullptr;
    int32_t snapshotLength = 0;
    char snapshotAccompaniment[kNameSize];
    uint32_t snapshotSlots[kPositions];
    uint8_t snapshotBypass[kPositions];

    // --- position operations (UI thread) ---
    void connectPositions(EffectSlots* host, ProcessingControl* processing);
    // Below 0 reads position 0, above 7 reads position 7.
    EffectSlot* slotAt(int32_t index) const;
    // Loads while processing goes on; only the exchange happens paused. The bypass
    // byte of the position keeps its value (a bypassed position gets a suspended plug-in).
    bool loadIntoPosition(int32_t position, int32_t listIndex);
    bool loadPathIntoPosition(int32_t position, const char* path);
    bool unloadPosition(int32_t position);
    bool moveUp(int32_t position);
    bool moveDown(int32_t position);
    void toggleBypass(int32_t position);
    // Puts a slot loaded elsewhere in the position; the one there before is unloaded.
    bool replacePosition(int32_t position, EffectSlot* slot) {
        return position >= 0 && position < kPositions && installInPosition(position, slot);
    }

private:
    bool installInPosition(int32_t position, EffectSlot* slot);
    void swapPositions(int32_t a, int32_t b);

    EffectSlots* effectHost_ = nullptr;
    ProcessingControl* processing_ = nullptr;
};
