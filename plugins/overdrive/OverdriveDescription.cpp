// What the VST3 and CLAP builds of Overdrive tell their hosts, and how they make it.
#include <new>

#include "OverdriveEffect.h"
#include "EffectDescription.h"

namespace {

AudioEffect* createOverdrive() {
    return new (std::nothrow) OverdriveEffect(nullptr);
}

}  // namespace

const EffectDescription& effectDescription() {
    static const EffectDescription description = {
        "Overdrive",
        "Talvenor Software",
        "",
        TALVENOR_EFFECT_VERSION,
        "com.talvenor.overdrive",
        {"audio-effect", "distortion", "mono", nullptr},
        "Fx|Distortion",
        {0x4F766472, 0x54414C56, 0x20465833, 0x5C27E9A4},
        fourCharCode('O', 'v', 'd', 'r'),
        createOverdrive,
    };
    return description;
}
