#include "ParameterApplier.h"

#include "ControlTargets.h"
#include "EffectHost.h"
#include "EffectSlot.h"
#include "ThreadCheckedPlugin.h"

namespace {

// The same marking as the chain's processing: once a SlotHold is made, the slot's
// parameters and plug-in are the UI thread's until it ends.
class Touching {
public:
    explicit Touching(EffectSlot& slot) : slot_(slot) { __atomic_store_n(&slot_.inProcess, 1, __ATOMIC_SEQ_CST); }
    ~Touching() { __atomic_store_n(&slot_.inProcess, 0, __ATOMIC_RELEASE); }
    bool held() const { return __atomic_load_n(&slot_.held, __ATOMIC_SEQ_CST) != 0; }

private:
    EffectSlot& slot_;
};

EffectSlot* slotOf(LiveSettings& settings, uint32_t target) {
    if (targetGroup(target) != TargetGroup::PluginParameter)
        return nullptr;
    EffectSlot* slot = settings.slots[targetPosition(target)];
    return slot && slot->plugin ? slot : nullptr;
}

// Read under the mark: the parameter list is the UI thread's to replace while it
// holds the slot.
bool hasParameter(const EffectSlot& slot, uint32_t target) {
    return slot.parameters && targetParameterIndex(target) < slot.parameterCount;
}

}  // namespace

bool ParameterApplier::readTarget(uint32_t target, float& value) {
    EffectSlot* slot = slotOf(settings_, target);
    if (!slot)
        return false;
    const Touching touching(*slot);
    if (touching.held() || !hasParameter(*slot, target))
        return false;
    __atomic_load(&slot->parameters[targetParameterIndex(target)], &value, __ATOMIC_RELAXED);
    return true;
}

ControlApplier::Outcome ParameterApplier::applyTarget(uint32_t target, float value) {
    EffectSlot* slot = slotOf(settings_, target);
    if (!slot)
        return Outcome::Refused;
    if (!(value >= 0.0f && value <= 1.0f))
        return Outcome::Refused;
    const Touching touching(*slot);
    if (touching.held())
        return Outcome::Deferred;
    if (!hasParameter(*slot, target))
        return Outcome::Refused;
    const int32_t index = targetParameterIndex(target);
    if (!slot->plugin->setParameterInProcess(index, value))
        return Outcome::Deferred;
    __atomic_store(&slot->parameters[index], &value, __ATOMIC_RELAXED);
    return Outcome::Applied;
}

bool ParameterApplier::setDeferred(EffectHost& host, LiveSettings& settings, uint32_t target, float value) {
    if (targetGroup(target) != TargetGroup::PluginParameter)
        return false;
    EffectSlot* slot = settings.slots[targetPosition(target)];
    return slot && host.setParameter(slot, targetParameterIndex(target), value);
}
