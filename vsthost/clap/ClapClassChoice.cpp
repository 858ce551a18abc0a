#include "ClapClassChoice.h"

#include "ClapFailure.h"
#include "ClapText.h"

namespace {

constexpr uint32_t kMaxClasses = 4096;      // more than any module holds
constexpr size_t kMaxFeatures = 128;
constexpr size_t kMaxIdRead = 1024;

bool usable(const clap_plugin_descriptor_t* d) {
    return d && clapVersionAccepted(d->clap_version) && d->id && d->id[0] && d->name;
}

// By id, a class is refused only when it is an instrument or note effect and not
// also an effect; without an id, only a class that says it is an effect is taken.
bool isEffect(const clap_plugin_descriptor_t* d) { return clapClassHasFeature(d, CLAP_PLUGIN_FEATURE_AUDIO_EFFECT); }
bool isNotEffectKind(const clap_plugin_descriptor_t* d) {
    return clapClassHasFeature(d, CLAP_PLUGIN_FEATURE_INSTRUMENT) ||
           clapClassHasFeature(d, CLAP_PLUGIN_FEATURE_NOTE_EFFECT);
}

}  // namespace

bool clapClassHasFeature(const clap_plugin_descriptor_t* descriptor, const char* feature) {
    if (!descriptor || !descriptor->features)
        return false;
    for (size_t i = 0; i < kMaxFeatures && descriptor->features[i]; ++i)
        if (pluginTextIs(descriptor->features[i], feature, 256))
            return true;
    return false;
}

const clap_plugin_descriptor_t* chooseClapClass(const clap_plugin_factory_t* factory, const char* classId,
                                                char* failure, size_t failureSize) {
    if (!factory) {
        describeClapFailure(ClapFailure::NoFactory, nullptr, failure, failureSize);
        return nullptr;
    }
    uint32_t count = factory->get_plugin_count(factory);
    if (count > kMaxClasses)
        count = kMaxClasses;
    const bool byId = classId && classId[0];
    for (uint32_t i = 0; i < count; ++i) {
        const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, i);
        if (!usable(d))
            continue;
        if (byId) {
            if (!pluginTextIs(d->id, classId, kMaxIdRead))
                continue;
            if (isNotEffectKind(d) && !isEffect(d)) {
                describeClapFailure(ClapFailure::NotAnEffect, classId, failure, failureSize);
                return nullptr;
            }
            return d;
        }
        if (isEffect(d))
            return d;
    }
    describeClapFailure(byId ? ClapFailure::NoSuchClass : ClapFailure::NoEffectClass, classId, failure, failureSize);
    return nullptr;
}
