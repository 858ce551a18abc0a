// The answers the host gives to a plug-in's own requests. A plug-in may call from the
// UI thread (loading, editors, idle) or from the driver thread (inside process).
#include <cstring>

#include "EffectHost.h"
#include "PathNames.h"
#include "WinInclude.h"

namespace {

const char kVendor[] = "Talvenor Software";
const char kProduct[] = "Talvenor Live";
const VstInt32 kHostId = fourCharCode('T', 'v', 'L', '2');

bool hostCanDo(const char* text) {
    static const char* const kCanDo[] = {"sizeWindow", "supplyIdle", "sendVstTimeInfo"};
    if (!text)
        return false;
    for (const char* can : kCanDo)
        if (std::strcmp(text, can) == 0)
            return true;
    return false;
}

// The editor frame and its view follow the plug-in's new editor size.
void resizeEditor(EffectSlot* slot, int width, int height) {
    if (!slot->editorFrame)
        return;
    const int frame = GetSystemMetrics(SM_CXDLGFRAME);
    SetWindowPos(static_cast<HWND>(slot->editorFrame), nullptr, 0, 0, width + 2 * frame + 20,
                 height + GetSystemMetrics(SM_CYCAPTION) + frame, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (slot->editorView)
        SetWindowPos(static_cast<HWND>(slot->editorView), nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float /*opt*/) {
    EffectHost* host = EffectHost::instance();
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
        VstTimeInfo* time = host->timeInfo();
        time->samplePos = 0.0;
        time->sampleRate = double(host->sampleRate());
        time->tempo = host->tempo() / 100.0;
        time->flags = kVstTempoValid;
        return reinterpret_cast<VstIntPtr>(time);
    }
    case audioMasterTempoAt:
        return host ? VstIntPtr(host->tempo()) * 100 : 0;
    case audioMasterNeedIdle: {
        EffectSlot* slot = host ? host->findSlot(effect) : nullptr;
        if (!slot)
            return 0;
        slot->needsIdle = 1;
        return 1;
    }
    case audioMasterSizeWindow: {
        EffectSlot* slot = host ? host->findSlot(effect) : nullptr;
        if (!slot)
            return 0;
        resizeEditor(slot, index, int(value));
        return 1;
    }
    case audioMasterGetSampleRate:
        return host ? VstIntPtr(host->sampleRate()) : 0;
    case audioMasterGetBlockSize:
        return host ? host->blockSize() : 0;
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
    case audioMasterGetDirectory: {
        EffectSlot* slot = host ? host->findSlot(effect) : nullptr;
        if (!slot)
            return 0;
        // The text must outlive the call; the host keeps it until the next request.
        directoryOf(slot->path, host->directoryText(), EffectSlot::kPathSize);
        return reinterpret_cast<VstIntPtr>(host->directoryText());
    }
    default:
        return 0;
    }
}
