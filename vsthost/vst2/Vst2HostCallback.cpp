// The answers the host gives to a VST 2 plug-in's own requests. A plug-in may call
// from the UI thread (loading, editors, idle), from the driver thread (inside
// process) or from a thread of its own, and before it has an instance (inside its
// entry point): what concerns its instance is found through a lookup of the
// instance list and passed on as PluginHostEvents; nothing here waits or allocates.
#include <atomic>
#include <cstring>

#include "Vst2Plugin.h"

namespace {

const char kVendor[] = "Talvenor Software";
const char kProduct[] = "Talvenor Live";
const VstInt32 kHostId = fourCharCode('T', 'v', 'L', '2');

std::atomic<const PluginHostInfo*> g_hostInfo{nullptr};
// The record audioMasterGetTime answers with; the plug-in reads it after the call.
VstTimeInfo g_timeInfo;

bool hostCanDo(const char* text) {
    static const char* const kCanDo[] = {"sizeWindow", "supplyIdle", "sendVstTimeInfo"};
    if (!text)
        return false;
    for (const char* can : kCanDo)
        if (std::strcmp(text, can) == 0)
            return true;
    return false;
}

}  // namespace

void setVst2HostInfo(const PluginHostInfo* info) { g_hostInfo.store(info); }

VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) {
    const PluginHostInfo* host = g_hostInfo.load();
    switch (opcode) {
    case audioMasterVersion:
        return 2;
    case audioMasterCurrentId:
        return kHostId;
    case audioMasterIdle:
        return 70;
    case audioMasterPinConnected:
        return 1;
    case audioMasterGetTime: {
        if (!host)
            return 0;
        std::memset(&g_timeInfo, 0, sizeof g_timeInfo);
        g_timeInfo.sampleRate = host->sampleRate();
        g_timeInfo.tempo = host->tempo();
        g_timeInfo.flags = kVstTempoValid;
        return reinterpret_cast<VstIntPtr>(&g_timeInfo);
    }
    case audioMasterTempoAt:
        // In 10000ths of a beat a minute.
        return host ? VstIntPtr(host->tempo() * 10000.0 + 0.5) : 0;
    // These find the caller's instance; each uses it only while its lookup lives.
    case audioMasterAutomate:
    case audioMasterNeedIdle:
    case audioMasterSizeWindow:
    case audioMasterGetDirectory: {
        const LookupList<Vst2Plugin>::Lookup lookup(Vst2Plugin::instances());
        Vst2Plugin* plugin = lookup.find(effect);
        if (!plugin)
            return 0;
        PluginHostEvents* events = plugin->events();
        if (opcode == audioMasterAutomate) {
            if (events)
                events->parameterEdited(index, opt);
            return 0;
        }
        if (opcode == audioMasterNeedIdle) {
            plugin->noteNeedsIdle();
            if (events)
                events->uiCallRequested();
            return 1;
        }
        if (opcode == audioMasterSizeWindow) {
            if (events)
                events->editorResizeRequested(index, int32_t(value));
            return 1;
        }
        // The instance's own text, written at loading: it lives as long as the plug-in.
        return reinterpret_cast<VstIntPtr>(plugin->directory());
    }
    case audioMasterGetSampleRate:
        return host ? VstIntPtr(host->sampleRate()) : 0;
    case audioMasterGetBlockSize:
        return host ? host->maxBlockFrames() : 0;
    case audioMasterWillReplaceOrAccumulate:
        return 1;
    case audioMasterGetVendorString:
        if (!ptr)
            return 0;
        std::memcpy(ptr, kVendor, sizeof kVendor);
        return 1;
    case audioMasterGetProductString:
        if (!ptr)
            return 0;
        std::memcpy(ptr, kProduct, sizeof kProduct);
        return 1;
    case audioMasterGetVendorVersion:
        return 210;
    case audioMasterCanDo:
        return hostCanDo(static_cast<const char*>(ptr)) ? 1 : 0;
    case audioMasterGetLanguage:
        return 1;  // English
    default:
        return 0;
    }
}
