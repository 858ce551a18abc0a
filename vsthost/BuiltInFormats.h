#pragma once
#include "PluginInstance.h"

// The plug-in formats this build loads, made for the effect host (the one place that
// names them). Fills backends with up to max new backends, the first format being
// the one a performance's plain effect positions hold; the caller deletes them.
int createBuiltInBackends(const PluginHostInfo* info, PluginFormatBackend** backends, int max);
