#pragma once
// What a VST3 or CLAP build of one of our effects tells its host about itself, and
// how it makes the effect object. Each effect defines effectDescription() once; the
// VST3 and CLAP entry points around it are the framework's and the same for all.
#include <cstdint>

class AudioEffect;

struct EffectDescription {
    const char* name;            // the file's base name and what hosts list
    const char* vendor;
    const char* url;
    const char* version;         // "1.0.0"
    const char* clapId;          // reverse-domain identifier of the CLAP class
    const char* clapFeatures[4];  // CLAP feature strings, ended by a null
    const char* vst3Categories;  // VST3 sub-categories, "Fx|Filter"
    uint32_t vst3ClassWords[4];  // the VST3 class id as the format writes it (four 32-bit words)
    uint32_t stateTag;           // names the effect inside its state record
    // A fresh effect object (no host callback: our effects never call the host), or
    // null when memory ran out.
    AudioEffect* (*create)();
};

const EffectDescription& effectDescription();
