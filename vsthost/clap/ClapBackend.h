#pragma once
// The CLAP format beneath the host's seam: recognises .clap files and loads their
// audio effects as ClapPlugin instances. UI thread.
#include "PluginInstance.h"

class ClapBackend final : public PluginFormatBackend {
public:
    const char* formatLabel() const override { return "CLAP"; }
    bool recognises(const char* path) const override;
    // The scan's folders: those CLAP_PATH lists, then the system's and the user's CLAP
    // folders (any thread).
    bool scanFolder(int32_t index, char* path, size_t size) const override;
    PluginInstance* load(const char* path, const char* classId, PluginHostEvents* events, char* failure,
                         size_t failureSize) override;
};
