#pragma once
#include "LiveSettings.h"
#include "MidiControl.h"

// The program's own targets in the user's settings: the knobs, the DC filter and the
// metronome, each position's bypass. Driver thread (MidiControl::beforeBlock).
//
// A bypass switched on at the block leaves its plug-in running (merely not called);
// switching one off whose plug-in the UI thread suspended is deferred to the UI
// thread, which resumes it first (LiveSettings::toggleBypass).
class SettingsApplier : public ControlApplier {
public:
    // suspended tells whether the UI thread switched a slot's plug-in off (the effect
    // host's slot->suspended, read atomically); null: never.
    using SuspendedTest = bool (*)(const EffectSlot* slot);
    explicit SettingsApplier(LiveSettings& settings, SuspendedTest suspended = nullptr)
        : settings_(settings), suspended_(suspended) {}
    bool readTarget(uint32_t target, float& value) override;
    Outcome applyTarget(uint32_t target, float value) override;

private:
    LiveSettings& settings_;
    SuspendedTest suspended_;
};
