// The answers the host gives to a plug-in's own requests. A plug-in may call from the
// UI thread (loading, editors, idle) or from the driver thread (inside process).
#include <cstring>

#include "EditorSize.h"
#include "EffectHost.h"
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

// A new editor size. On the UI thread it is applied at once; any other thread (a
// plug-in's processing on the driver thread) only posts it to the editor frame,
// since resizing there would wait for the UI thread, which may itself be waiting
// for the driver thread in a pause.
void sizeWindow(const EffectHost& host, EffectSlot* slot, int width, int height) {
    void* frame = __atomic_load_n(&slot->editorFrame, __ATOMIC_ACQUIRE);
    if (!frame)
        return;
    if (GetCurrentThreadId() == host.uiThread())
        resizeEditor(frame, slot->editorView, width, height);
    else
        PostMessageA(static_cast<HWND>(frame), kEditorSizeMessage, WPARAM(width), LPARAM(height));
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
    // These three find the caller's slot; each uses it only while its lookup lives.
    case audioMasterNeedIdle: {
        if (!host)
            return 0;
        const SlotList::Lookup lookup(host->slots());
        EffectSlot* slot = lookup.find(effect);
        if (!slot)
            return 0;
        __atomic_store_n(&slot->needsIdle, uint8_t(1), __ATOMIC_RELAXED);
        return 1;
    }
    case audioMasterSizeWindow: {
        if (!host)
            return 0;
        const SlotList::Lookup lookup(host->slots());
        EffectSlot* slot = lookup.find(effect);
        if (!slot)
            return 0;
        sizeWindow(*host, slot, index, int(value));
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
        if (!host)
            return 0;
        const SlotList::Lookup lookup(host->slots());
        EffectSlot* slot = lookup.find(effect);
        // The slot's own text, written at loading: it lives as long as the plug-in.
        return slot ? reinterpret_cast<VstIntPtr>(slot->directory) : 0;
    }
    default:
        return 0;
    }
}
