#include "SettingsApplier.h"

namespace {

Relaxed<float>* knob(LiveSettings& s, uint8_t item) {
    switch (ProgramControl(item)) {
    case ProgramControl::InputGain: return &s.ingain;
    case ProgramControl::OutputGain: return &s.outgain;
    case ProgramControl::GateThreshold: return &s.gateThresh;
    case ProgramControl::GateAttack: return &s.gateAttack;
    case ProgramControl::GateRelease: return &s.gateRelease;
    default: return nullptr;
    }
}

float clampUnit(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

}  // namespace

bool SettingsApplier::readTarget(uint32_t target, float& value) {
    const uint8_t item = targetItem(target);
    switch (targetBehaviourKind(target) == TargetBehaviourKind::None ? TargetGroup::None : targetGroup(target)) {
    case TargetGroup::Control:
        if (ProgramControl(item) == ProgramControl::AccompanimentVolume) {
            value = clampUnit(float(settings_.accompanimentGain) * 0.5f);  // 0 to 2 as 0 to 1
            return true;
        }
        value = clampUnit(*knob(settings_, item));
        return true;
    case TargetGroup::Switch:
        value = ProgramSwitch(item) == ProgramSwitch::DcFilter ? (settings_.centerAmp ? 1.0f : 0.0f)
                                                               : (settings_.metronome ? 1.0f : 0.0f);
        return true;
    case TargetGroup::Bypass: {
        // Read as the chain reads it: the byte changes under the pause or here.
        const int p = targetPosition(target);
        if (!settings_.slots[p])
            return false;
        value = __atomic_load_n(&settings_.bypass[p], __ATOMIC_RELAXED) ? 1.0f : 0.0f;
        return true;
    }
    default:
        return false;
    }
}

ControlApplier::Outcome SettingsApplier::applyTarget(uint32_t target, float value) {
    const uint8_t item = targetItem(target);
    value = clampUnit(value);
    const bool on = value >= 0.5f;
    switch (targetBehaviourKind(target) == TargetBehaviourKind::None ? TargetGroup::None : targetGroup(target)) {
    case TargetGroup::Control:
        if (ProgramControl(item) == ProgramControl::AccompanimentVolume)
            settings_.accompanimentGain = value * 2.0f;
        else
            *knob(settings_, item) = value;
        return Outcome::Applied;
    case TargetGroup::Switch:
        if (ProgramSwitch(item) == ProgramSwitch::DcFilter)
            settings_.centerAmp = on ? 1 : 0;
        else
            settings_.metronome = on ? 1 : 0;
        return Outcome::Applied;
    case TargetGroup::Bypass: {
        const int p = targetPosition(target);
        EffectSlot* slot = settings_.slots[p];
        if (!slot)
            return Outcome::Refused;
        if (!on && suspended_ && suspended_(slot))
            return Outcome::Deferred;
        __atomic_store_n(&settings_.bypass[p], uint8_t(on ? 1 : 0), __ATOMIC_RELAXED);
        return Outcome::Applied;
    }
    default:
        return Outcome::Refused;
    }
}
