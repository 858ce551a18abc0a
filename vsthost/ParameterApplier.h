#pragma once
#include "LiveSettings.h"
#include "MidiControl.h"

struct EffectSlot;

// The plug-in parameters of the effect positions as MIDI control's targets. Driver
// thread (MidiControl::beforeBlock). A VST 2 plug-in takes the value at once, before
// its next process call; a plug-in of another format, or one the UI thread holds out
// of processing right now, is left to the UI thread (EffectHost::setParameter) and
// its value is not read here, so its binding keeps its own idea of it.
class ParameterApplier : public ControlApplier {
public:
    explicit ParameterApplier(LiveSettings& settings) : settings_(settings) {}
    bool readTarget(uint32_t target, float& value) override;
    Outcome applyTarget(uint32_t target, float value) override;

    // UI thread: the value a change the mailbox brought as Deferred is set to.
    static bool setDeferred(class EffectHost& host, LiveSettings& settings, uint32_t target, float value);

private:
    LiveSettings& settings_;
};
