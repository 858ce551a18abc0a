#pragma once
// The plug-in's editor embedded in a host window (the win32 api, never floating):
// created, sized, parented and shown in the format's order, resized through the
// plug-in's own adjustment. UI thread.
#include <cstdint>

#include "ClapAbi.h"

class ClapEditor {
public:
    // gui may be null (no editor); it must offer the functions the host calls.
    static bool usable(const clap_plugin_gui_t* gui);
    void attach(const clap_plugin_t* plugin, const clap_plugin_gui_t* gui) {
        plugin_ = plugin;
        gui_ = usable(gui) ? gui : nullptr;
    }

    bool available() const;
    bool open(void* parent, int32_t* width, int32_t* height);
    void close();
    bool resize(int32_t* width, int32_t* height);
    bool isOpen() const { return open_; }

    static constexpr uint32_t kMaxSide = 16384;
    static bool saneSide(uint32_t v) { return v >= 1 && v <= kMaxSide; }

private:
    bool currentSize(int32_t* width, int32_t* height) const;
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_gui_t* gui_ = nullptr;
    bool open_ = false;
};
