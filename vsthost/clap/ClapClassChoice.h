#pragma once
// Which class of a module's factory the host loads: the one asked for by id, or else
// the first audio effect. Instruments and note effects are refused.
#include <cstddef>

#include "ClapAbi.h"

// The descriptor of the chosen class, or null with the reason in failure. The
// descriptor's strings are the plug-in's: read them bounded.
const clap_plugin_descriptor_t* chooseClapClass(const clap_plugin_factory_t* factory, const char* classId,
                                                char* failure, size_t failureSize);

// The class's features include feature (the list read bounded).
bool clapClassHasFeature(const clap_plugin_descriptor_t* descriptor, const char* feature);
