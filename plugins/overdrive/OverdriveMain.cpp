// The library's entry point; the .def file also exports it as `main`.
#include "OverdriveEffect.h"
#include "PluginEntry.h"

extern "C" AEffect* VSTCALLBACK VSTPluginMain(audioMasterCallback host) {
    return pluginEntry<OverdriveEffect>(host);
}
