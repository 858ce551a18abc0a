// What the VST3 and CLAP builds of Modulane tell their hosts, and how they make it.
#include <new>

#include "VibratoTremoloEffect.h"
#include "EffectDescription.h"

namespace {

AudioEffect* createModulane() {
    return new (std::nothrow) VibratoTremoloEffect(nullptr);
}

}  // namespace

const EffectDescription& effectDescription() {
    static const EffectDescription description = {
        "Modulane",
        "Talvenor Software",
        "",
        TALVENOR_EFFECT_VERSION,
        "com.talvenor.modulane",
        {"audio-effect", "tremolo", "stereo", nullptr},
        "Fx|Modulation",
        {0x4D6F6475, 0x54414C56, 0x20465833, 0x3A91C27E},
        fourCharCode('M', 'o', 'd', 'l'),
        createModulane,
    };
    return description;
}
