#pragma once
#include <cstdint>

#include "ChainStages.h"
#include "EffectSlot.h"
#include "LiveSettings.h"
#include "PluginInstance.h"
#include "SlotList.h"
#include "SlotProcessing.h"

// One scanned plug-in: a file (or bundle) that a format backend lists as its own.
struct PluginEntry {
    static constexpr int kPathSize = 263;
    static constexpr int kFormatSize = sizeof(PluginIdentity::format);
    uint8_t favourite;
    char path[kPathSize];
    char format[kFormatSize];  // the backend's label, shown beside the name
    // The other Windows width's library (read from its header when listed): it runs
    // in the bridge of that width.
    uint8_t otherWidth;
    PluginEntry* next;
};

// Where a plug-in is loaded: as the host decides (in a process of its own when all
// are, or when it failed there before), or as asked.
enum class ProcessChoice { Default, OwnProcess, ThisProcess };

// The host side of every plug-in format: keeps the format backends (VST 2 always,
// others registered), loads plug-ins into slots through the backend that recognises
// the path, keeps every loaded slot in a list in load order, runs a slot on the live
// signal, and follows live input's start and stop. It speaks to plug-ins only
// through PluginInstance. One object exists; the editors reach it through
// EffectHost::instance().
class EffectHost : public ChainEffects, public EffectSlots {
public:
    static constexpr int kMaxBackends = 8;

    EffectHost();
    ~EffectHost() override;
    EffectHost(const EffectHost&) = delete;
    EffectHost& operator=(const EffectHost&) = delete;

    static EffectHost* instance();

    // --- UI thread ---
    // The tempo that plug-ins are told comes from the user's settings.
    void attachSettings(const LiveSettings* settings) { settings_ = settings; }

    // Another format; the host does not own it and it must outlive every slot it
    // loaded. False when the list is full or a backend of that label is there.
    bool registerBackend(PluginFormatBackend* backend);
    int32_t backendCount() const { return backendCount_; }
    PluginFormatBackend* backend(int32_t index) const;
    // The first backend that recognises path, or the one with that label; null if none.
    PluginFormatBackend* backendFor(const char* path) const;
    PluginFormatBackend* backendLabelled(const char* label) const;

    // The plug-in list that loading indexes (filled by the scan, or directly). Without
    // a format the backend recognising the path is named.
    bool addPluginEntry(const char* path, bool favourite = false, const char* format = nullptr);
    // Entry index of the list; null when there is none.
    PluginEntry* pluginEntry(int32_t index);
    void clearPluginList();
    const PluginEntry* pluginList() const { return pluginList_; }
    int32_t pluginCount() const { return pluginCount_; }

    // With a path that file is loaded, otherwise entry listIndex of the plug-in list.
    // Null when nothing could be loaded; the new slot is resumed and not suspended.
    EffectSlot* loadPlugin(int32_t listIndex, const char* path) override;
    // The same through the backend of that format label (null: the one recognising
    // the path), naming the class within the file (empty or null: its first effect).
    EffectSlot* loadPluginClass(const char* path, const char* format, const char* classId,
                                ProcessChoice where = ProcessChoice::Default);
    // Plug-ins loaded from now on run each in a process of its own (a bridge), or in
    // this one.
    void setLoadInOwnProcess(bool on) { loadInOwnProcess_ = on; }
    // The slot's plug-in loaded afresh, in its own process or in this one, with the
    // state it has now (or, if it failed, the one last kept). Null when it does not
    // load (lastLoadFailure says why); the caller puts the new slot in place of the old.
    EffectSlot* reloadSlot(EffectSlot* slot, bool ownProcess);
    // Takes the slot out of the list (while processing is paused); unloadSlot then
    // closes and frees it.
    void detachSlot(EffectSlot* slot) override;
    bool unloadSlot(EffectSlot* slot) override;
    bool setSlotActive(EffectSlot* slot, bool active) override;
    // Unloads every slot; true when there was one.
    bool unloadAllSlots();
    // Why the last loadPlugin that returned null refused the plug-in: its path and
    // the backend's reason, for the detail of the load-failure box. Empty after a
    // success.
    const char* lastLoadFailure() const { return loadFailure_; }
    // The state of every slot in load order as one byte string: "VSTWRAP_" and a
    // section per slot. Owned by the host and valid until the next build; the
    // length (8 with no slots), or 0 with a null blob when memory ran out. With only,
    // just the slots among its count entries (null entries ignored): the positions'
    // plug-ins without the ones loaded beside them (a next performance, a ringing tail).
    int32_t buildStateBlob(const uint8_t** blob, EffectSlot* const* only = nullptr, int32_t onlyCount = 0);
    // The plug-in's state as a record kept in the slot (slot->state) until
    // releaseState. False when the plug-in's state could not be taken whole: the
    // record then holds what stands in for it, empty when memory ran out, and
    // failure (when given) the end of a sentence that starts with the plug-in's name.
    // A plug-in that failed in its own process (or fails while asked) gives the state
    // last kept for it, when there is one: slot->stateFromKept then says so.
    bool captureState(EffectSlot* slot, char* failure = nullptr, size_t failureSize = 0);
    void releaseState(EffectSlot* slot);
    // Gives a state record back to the plug-in. False when the record does not read.
    bool restoreState(EffectSlot* slot, const uint8_t* record, uint32_t size);
    // The plug-in's own name, or the base name of its path; at most 31 characters.
    bool effectName(EffectSlot* slot, char* out);
    // The parameter the plug-in names so (its own name, whatever the letter case), or
    // given by its index as decimal text; -1 when it has none such.
    int32_t findParameter(EffectSlot* slot, const char* nameOrIndex);
    // Sets a parameter to a normalised value (0 to 1), in the plug-in and in the
    // host's copy. False for an index it does not have or a value outside 0..1.
    bool setParameter(EffectSlot* slot, int32_t index, float value);
    // Its format's label ("VST 2") and its maker as it names itself; empty for an
    // empty slot.
    const char* formatOf(const EffectSlot* slot) const;
    const char* vendorOf(const EffectSlot* slot) const;
    // Acts on what the slot's plug-in asked for since the last call: processing
    // restarted (suspended, configured and resumed as it was, out of the chain
    // meanwhile), its latency and parameter list read again. The kNews bits acted on
    // (a parameter list that could not be read again is left as it was, its bit clear).
    uint8_t applyPluginNews(EffectSlot* slot);
    // The UI thread's periodic call for one slot: its news acted on, then the plug-in's
    // idle. Returns the news as applyPluginNews does.
    uint8_t serviceSlot(EffectSlot* slot);

    EffectSlot* slotList() const { return slots_.first(); }
    const SlotList& slots() const { return slots_; }

    // --- ChainEffects: processSlot on the driver thread, the rest on the UI thread ---
    void processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames) override;
    void slotComing(EffectSlot* slot) override;
    void setSampleRate(float rate) override;
    void setBlockSize(int32_t size) override;
    void resumeAllSlots() override;
    void suspendAllSlots() override;

    // --- any thread ---
    float sampleRate() const { return sampleRate_; }
    int32_t blockSize() const { return blockSize_; }
    // In hundredths of a beat a minute, as the settings keep it.
    int32_t tempo() const { return settings_ ? int32_t(settings_->tempo) : 12000; }
    // The thread that made the host: the one that owns the editor windows.
    unsigned long uiThread() const { return uiThread_; }

private:
    // What the VST 2 callback answers every plug-in; any thread.
    class Facts : public PluginHostInfo {
    public:
        explicit Facts(const EffectHost& host) : host_(host) {}
        double sampleRate() const override { return double(host_.sampleRate()); }
        int32_t maxBlockFrames() const override { return host_.blockSize(); }
        double tempo() const override { return host_.tempo() / 100.0; }

    private:
        const EffectHost& host_;
    };

    PluginInstance* loadInstance(EffectSlot* slot, const char* format, const char* classId, ProcessChoice where);
    void keepStateNowAndThen(EffectSlot* slot);
    void rememberIfFailed(EffectSlot* slot);
    PluginInstance* loadThrough(PluginFormatBackend& backend, EffectSlot* slot, const char* classId,
                                ProcessChoice where, char* reason, size_t reasonSize);
    void noteLoadFailure(const char* path, const char* reason);
    bool openAndConfigure(EffectSlot* slot);
    bool readProgramNames(EffectSlot* slot);
    bool copyParameters(EffectSlot* slot);
    void refreshParameters(EffectSlot* slot);
    bool rereadParameters(EffectSlot* slot);
    void releaseSlot(EffectSlot* slot);
    bool resolvePath(int32_t listIndex, const char* path, char* resolved);
    const PluginEntry* sameNamedEntry(const char* path) const;

    Facts facts_{*this};
    PluginFormatBackend* ownBackends_[kMaxBackends] = {};  // made here, deleted here
    int ownBackendCount_ = 0;
    PluginFormatBackend* backends_[kMaxBackends] = {};
    int32_t backendCount_ = 0;
    PluginEntry* pluginList_ = nullptr;
    PluginEntry** pluginTail_ = &pluginList_;
    int32_t pluginCount_ = 0;
    SlotList slots_;
    const LiveSettings* settings_ = nullptr;
    Relaxed<float> sampleRate_{44100.0f};
    Relaxed<int32_t> blockSize_{1024};
    SlotProcessing* processing_;
    unsigned long uiThread_;
    bool loadInOwnProcess_ = false;
    char loadFailure_[EffectSlot::kPathSize + 400] = "";
    uint8_t* blob_ = nullptr;
    uint32_t lastSerial_ = 0;
};

// Posted to an editor frame when a plug-in asks for a new editor size from a thread
// other than the UI thread (wParam width, lParam height, as asked when posted): the
// frame's window procedure takes the latest size asked with takeAskedEditorSize and
// resizes on the UI thread with resizeEditor (EditorSize.h).
const unsigned kEditorSizeMessage = 0x8000 + 0x615;  // WM_APP + 0x615

// UI thread, on kEditorSizeMessage: the most recent size the slot's plug-in asked for
// from another thread; from now on a new request is posted again.
void takeAskedEditorSize(EffectSlot& slot, int32_t* width, int32_t* height);
