#pragma once
// The library's entry point: one effect object per loaded library, created by the
// first call and handed out again by later ones. effClose destroys it; the object
// clears the kept pointer as it goes, so the next call creates a fresh one.
//
// Each plug-in library defines its export with one line:
//   extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
//       return pluginEntry<MyEffect>(host);
//   }
#include <new>

#include "AudioEffect.h"

template <class Effect>
AEffect* pluginEntry(audioMasterCallback host) {
    static AudioEffect* kept = nullptr;
    if (!kept) {
        kept = new (std::nothrow) Effect(host);
        if (!kept)
            return nullptr;
        kept->setInstanceHolder(&kept);
    }
    return kept->getAeffect();
}
