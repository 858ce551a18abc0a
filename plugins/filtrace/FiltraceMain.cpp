// The library's entry point; the .def file also exports it as `main`.
#include "PluginEntry.h"
#include "WahEffect.h"

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
    return pluginEntry<WahEffect>(host);
}
