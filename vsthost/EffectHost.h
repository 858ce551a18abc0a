#pragma once
#include <cstdint>

#include "ChainStages.h"
#include "EffectSlot.h"
#include "LiveSettings.h"
#include "SlotList.h"
#include "SlotProcessing.h"
#include "VstInterface.h"

// One scanned plug-in library.
struct PluginEntry {
    static constexpr int kPathSize = 263;
    uint8_t favourite;
    char path[kPathSize];
    PluginEntry* next;
};

// The VST 2 host side: loads plug-in libraries into slots, keeps every loaded slot in
// a list in load order, runs a slot on the live signal, and follows live input's
// start and stop. One object exists; the host callback reaches it through
// EffectHost::instance().
class EffectHost : public ChainEffects, public EffectSlots {
public:
    EffectHost();
    ~EffectHost() override;
    EffectHost(const EffectHost&) = delete;
    EffectHost& operator=(const EffectHost&) = delete;

    static EffectHost* instance();

    // --- UI thread ---
    // The tempo that plug-ins are told comes from the user's settings.
    void attachSettings(const LiveSettings* settings) { settings_ = settings; }

    // The plug-in list that loading indexes (filled by the scan, or directly).
    bool addPluginEntry(const char* path, bool favourite = false);
    // Entry index of the list; null when there is none.
    PluginEntry* pluginEntry(int32_t index);
    void clearPluginList();
    const PluginEntry* pluginList() const { return pluginList_; }
    int32_t pluginCount() const { return pluginCount_; }

    // With a path that file is loaded, otherwise entry listIndex of the plug-in list.
    // Null when nothing could be loaded; the new slot is resumed and not suspended.
    EffectSlot* loadPlugin(int32_t listIndex, const char* path) override;
    // Takes the slot out of the list (while processing is paused); unloadSlot then
    // closes and frees it once no lookup from another thread can still reach it.
    void detachSlot(EffectSlot* slot) override;
    bool unloadSlot(EffectSlot* slot) override;
    bool setSlotActive(EffectSlot* slot, bool active) override;
    // Unloads every slot; true when there was one.
    bool unloadAllSlots();
    // Why the last loadPlugin that returned null refused the plug-in: its path and
    // the reason, for the detail of the load-failure box. Empty after a success.
    const char* lastLoadFailure() const { return loadFailure_; }
    // The state of every slot in load order as one byte string: "VSTWRAP_" and a
    // section per slot. Owned by the host and valid until the next build; the
    // length (8 with no slots), or 0 with a null blob when memory ran out.
    int32_t buildStateBlob(const uint8_t** blob);
    // The plug-in's state as a record kept in the slot (stateRecord, stateSize) until
    // releaseState: its chunk when it keeps one, otherwise its parameters. False when
    // the plug-in's chunk answer cannot be trusted (larger than kMaxChunkBytes, or a
    // size without data); answer then holds that size and an empty chunk is kept.
    // False with no record when memory ran out.
    bool captureState(EffectSlot* slot, VstIntPtr* answer = nullptr);
    void releaseState(EffectSlot* slot);
    // Gives a state record back to the plug-in: a chunk with effSetChunk, parameters
    // with setParameter (those the plug-in has). False when the record does not read.
    bool restoreState(EffectSlot* slot, const uint8_t* record, uint32_t size);
    // The plug-in's own name, or the base name of its path; at most 31 characters.
    bool effectName(EffectSlot* slot, char* out);

    EffectSlot* slotList() const { return slots_.first(); }
    // The host callback looks slots up through this, from any thread.
    const SlotList& slots() const { return slots_; }

    // --- ChainEffects: processSlot on the driver thread, the rest on the UI thread ---
    void processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames) override;
    void setSampleRate(float rate) override;
    void setBlockSize(int32_t size) override;
    void resumeAllSlots() override;
    void suspendAllSlots() override;

    // --- read by the host callback, from any thread ---
    float sampleRate() const { return sampleRate_; }
    int32_t blockSize() const { return blockSize_; }
    int32_t tempo() const { return settings_ ? int32_t(settings_->tempo) : 12000; }
    VstTimeInfo* timeInfo() { return &timeInfo_; }
    // The thread that made the host: the one that owns the editor windows.
    unsigned long uiThread() const { return uiThread_; }

private:
    static bool moduleServesASlot(void* module, void* context);
    bool loadLibrary(EffectSlot* slot);
    AEffect* instantiate(EffectSlot* slot);
    void noteLoadFailure(const char* path, const char* reason);
    bool openAndConfigure(EffectSlot* slot);
    bool readProgramNames(EffectSlot* slot);
    bool copyParameters(EffectSlot* slot);
    void releaseSlot(EffectSlot* slot);
    bool resolvePath(int32_t listIndex, const char* path, char* resolved);
    const PluginEntry* sameNamedEntry(const char* path) const;

    PluginEntry* pluginList_ = nullptr;
    PluginEntry** pluginTail_ = &pluginList_;
    int32_t pluginCount_ = 0;
    SlotList slots_;
    const LiveSettings* settings_ = nullptr;
    Relaxed<float> sampleRate_{44100.0f};
    Relaxed<int32_t> blockSize_{1024};
    SlotProcessing* processing_;
    VstTimeInfo timeInfo_;
    unsigned long uiThread_;
    char loadFailure_[EffectSlot::kPathSize + 400] = "";
    uint8_t* blob_ = nullptr;
    uint32_t lastSerial_ = 0;
};

// Posted to an editor frame when a plug-in asks for a new editor size from a thread
// other than the UI thread (wParam width, lParam height): the frame's window
// procedure resizes on the UI thread with resizeEditor (EditorSize.h).
const unsigned kEditorSizeMessage = 0x8000 + 0x615;  // WM_APP + 0x615

// The function every plug-in receives to ask the host for information and services.
VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt);
