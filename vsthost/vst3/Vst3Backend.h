#pragma once
// The VST3 format behind the plug-in seam: bundle folders (X.vst3\Contents\<arch>\X.vst3)
// and the older single-file .vst3. UI thread.
#include "PluginInstance.h"

class Vst3Backend final : public PluginFormatBackend {
public:
    const char* formatLabel() const override { return "VST3"; }
    bool recognises(const char* path) const override;
    // The scan's questions (any thread; they read nothing that loading changes): the
    // system's VST3 folder (index 0 only), and a .vst3 directory as one plug-in.
    bool scanFolder(int32_t index, char* path, size_t size) const override;
    bool isBundle(const char* directoryPath) const override;
    PluginInstance* load(const char* path, const char* classId, PluginHostEvents* events, char* failure,
                         size_t failureSize) override;
};
