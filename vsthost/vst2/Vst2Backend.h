#pragma once
// The VST 2 format behind the seam: recognises "*.dll" libraries and loads them
// (a private copy where the library already serves an instance), finds the entry
// point, checks that the answer is a VST 2 effect and hands it to a Vst2Plugin.
// Windows; one exists at a time, made by the effect host.
#include "PluginInstance.h"

class Vst2Backend final : public PluginFormatBackend {
public:
    // info answers the host callback's questions about rate, block size and tempo.
    explicit Vst2Backend(const PluginHostInfo* info);
    ~Vst2Backend() override;
    Vst2Backend(const Vst2Backend&) = delete;
    Vst2Backend& operator=(const Vst2Backend&) = delete;

    const char* formatLabel() const override;
    // Any path ending in ".dll", whatever its case.
    bool recognises(const char* path) const override;
    // The scan lists "name.dll" with exactly these lower-case letters after the last dot.
    bool scanLists(const char* fileName) const override;
    PluginInstance* load(const char* path, const char* classId, PluginHostEvents* events, char* failure,
                         size_t failureSize) override;
};
