#pragma once
#include <atomic>
#include <cstdint>

#include "ChainStages.h"
#include "LiveSettings.h"

struct EffectSlot;

// A chain of effects ready to be put in place: the positions' slots (loaded, given
// their states and resumed off the audio thread) and their bypass.
struct SwitchSet {
    EffectSlot* slots[LiveSettings::kPositions] = {};
    uint8_t bypass[LiveSettings::kPositions] = {};
};

// The audio thread's half of a performance switch (PerformanceSwitcher is the UI
// thread's). The UI thread posts a prepared set; at the next block boundary the
// driver thread puts it into the positions and keeps the set it replaced running on
// silence for the tail, added to the output, faded out over its last 50 ms. The
// outgoing chain also hears the live signal, fading, across the first 10 ms while
// the incoming chain fades in: no step appears that the signal itself does not have.
// A tail that ended (or was cut by a later switch, faded over one block) is handed
// back to the UI thread, which unloads its slots. Lock-free and allocation-free on
// the driver thread.
class SwitchPoint : public ChainSwitch {
public:
    static constexpr int kPositions = LiveSettings::kPositions;
    static constexpr double kCrossfadeSeconds = 0.010;
    static constexpr double kTailFadeSeconds = 0.050;
    static constexpr uint32_t kRetiredCapacity = 4;

    explicit SwitchPoint(ChainEffects* effects = nullptr) : effects_(effects) {}
    SwitchPoint(const SwitchPoint&) = delete;
    SwitchPoint& operator=(const SwitchPoint&) = delete;

    // --- UI thread ---
    void attachEffects(ChainEffects* effects) { effects_ = effects; }
    // Hands set (kept alive by the caller until switchesInstalled passes the count
    // returned in installedAs) to the driver thread with the outgoing chain's tail in
    // seconds (0 to 10). False while an earlier switch still waits.
    bool post(const SwitchSet* set, double tailSeconds, uint32_t& installedAs);
    // Switches put in place since the start.
    uint32_t switchesInstalled() const { return installed_.load(std::memory_order_acquire); }
    // The frame (counted in blocks handled here) the last switch was put in place at.
    uint64_t lastSwitchFrame() const { return switchFrame_.load(std::memory_order_acquire); }
    // An outgoing set whose tail is over: its slots are out of the driver thread's
    // reach and can be unloaded. False when none.
    bool takeRetired(SwitchSet& set);
    // Whether a tail is ringing now.
    bool tailRinging() const { return ringing_.load(std::memory_order_acquire); }

    // --- driver thread (ChainSwitch) ---
    void beforeBlock(LiveSettings& settings, int32_t frames, double rate) override;
    void mixTail(const float* const* dry, float* const* channels, int32_t channelCount, int32_t frames) override;
    bool wantsDry() const override { return tailActive_ && crossfadeLeft_ > 0; }

private:
    bool retire(const SwitchSet& set);

    ChainEffects* effects_;
    std::atomic<const SwitchSet*> pending_{nullptr};
    std::atomic<uint32_t> pendingTailMs_{0};  // the posted switch's tail, milliseconds
    std::atomic<uint32_t> installed_{0};
    std::atomic<uint32_t> posted_{0};
    std::atomic<uint64_t> switchFrame_{0};
    std::atomic<bool> ringing_{false};

    // Driver thread: the outgoing chain and its progress.
    SwitchSet tail_;
    bool tailActive_ = false;
    uint64_t tailLeft_ = 0;       // frames of tail still to run
    uint64_t tailFade_ = 1;       // frames of the fade at its end
    int32_t crossfadeLeft_ = 0;   // frames of live signal it still hears
    int32_t crossfadeLength_ = 1;
    SwitchSet cut_;               // a tail cut by a newer switch, faded out over one block
    bool cutActive_ = false;
    uint64_t frames_ = 0;
    alignas(16) float scratch_[2][1024];

    // Driver thread to UI thread: ended tails.
    SwitchSet retired_[kRetiredCapacity];
    std::atomic<uint32_t> retiredHead_{0};
    std::atomic<uint32_t> retiredTail_{0};
};
