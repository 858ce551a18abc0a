#pragma once
// The VST3 builds' editor (Windows): an IPlugView around the framework's drawn
// ParameterView, embedded in the host's HWND and resized as the host resizes it.
#include "ParameterView.h"
#include "base.h"
#include "view.h"

// The effect side of a view: what it shows, whom it tells, and a reference on the
// effect for as long as the view lives.
class Vst3ViewOwner : public ParameterViewModel {
public:
    virtual void retain() = 0;
    virtual void release() = 0;
};

// A new view with one reference, or null when memory ran out. UI thread.
v3_plugin_view** createVst3View(Vst3ViewOwner& owner);
