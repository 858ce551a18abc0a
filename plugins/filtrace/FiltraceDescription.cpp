// What the VST3 and CLAP builds of Filtrace tell their hosts, and how they make it.
#include <new>

#include "WahEffect.h"
#include "EffectDescription.h"

namespace {

AudioEffect* createFiltrace() {
    return new (std::nothrow) WahEffect(nullptr);
}

}  // namespace

const EffectDescription& effectDescription() {
    static const EffectDescription description = {
        "Filtrace",
        "Talvenor Software",
        "",
        TALVENOR_EFFECT_VERSION,
        "com.talvenor.filtrace",
        {"audio-effect", "filter", "stereo", nullptr},
        "Fx|Filter",
        {0x46696C74, 0x54414C56, 0x20465833, 0x8B0D4F13},
        fourCharCode('F', 'i', 'l', 't'),
        createFiltrace,
    };
    return description;
}
