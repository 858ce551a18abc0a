#include "EffectHost.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "EditorSize.h"
#include "FailedPlugins.h"
#include "MessageBoxes.h"
#include "PathNames.h"
#include "PerformanceFormat.h"
#include "SlotProcessing.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"
#include "BridgePlugin.h"
#include "BridgeProcess.h"
#include "PeHeader.h"
#include "PluginLibrary.h"
#include "PluginFaultNote.h"
#include "BuiltInFormats.h"
#include "WinInclude.h"

namespace {

EffectHost* g_effectHost = nullptr;

// Answers beyond these are not believed: a plug-in that claims millions of programs
// or parameters is refused rather than allowed to exhaust memory.
const int32_t kMaxPrograms = 4096;
const int32_t kMaxParameters = 65536;
// Ten seconds at the highest rate: a longer delay is no plug-in's true answer.
const int32_t kMaxLatencyFrames = 1920000;

int32_t believedLatency(int32_t frames) { return frames >= 0 && frames <= kMaxLatencyFrames ? frames : 0; }

bool copyPath(char* to, const char* from) {
    const size_t length = std::strlen(from);
    if (length >= size_t(EffectSlot::kPathSize))
        return false;  // never cut: a cut path could name another file
    std::memcpy(to, from, length + 1);
    return true;
}

// What one slot's plug-in tells the host, from any thread: recorded, or posted to
// the UI thread; nothing here waits.
class SlotEvents final : public PluginHostEvents {
public:
    SlotEvents(const EffectHost& host, EffectSlot& slot) : host_(host), slot_(slot) {}

    void parameterEdited(int32_t index, float value) override {
        if (index >= 0 && index < slot_.parameterCount && slot_.parameters)
            __atomic_store(&slot_.parameters[index], &value, __ATOMIC_RELAXED);
    }
    // On the UI thread the size is applied at once; any other thread (a plug-in's
    // processing on the driver thread) only posts it to the editor frame, since
    // resizing there would wait for the UI thread, which may itself be waiting for
    // the driver thread in a pause.
    bool editorResizeRequested(int32_t width, int32_t height) override {
        void* frame = __atomic_load_n(&slot_.editorFrame, __ATOMIC_ACQUIRE);
        if (!frame)
            return false;
        if (GetCurrentThreadId() == host_.uiThread()) {
            resizeEditor(frame, slot_.editorView, width, height);
            return true;
        }
        if (width < 1 || width > 0xFFFF || height < 1 || height > 0xFFFF)
            return false;
        __atomic_store_n(&slot_.askedEditorSize, uint32_t(width) << 16 | uint32_t(height), __ATOMIC_RELEASE);
        // A message already on its way takes the newest size when it is handled.
        if (__atomic_exchange_n(&slot_.editorSizePosted, uint8_t(1), __ATOMIC_ACQ_REL))
            return true;
        if (!PostMessageA(static_cast<HWND>(frame), kEditorSizeMessage, WPARAM(width), LPARAM(height))) {
            __atomic_store_n(&slot_.editorSizePosted, uint8_t(0), __ATOMIC_RELEASE);
            return false;
        }
        return true;
    }
    // Noted for the UI thread, which acts on them at its next tick (applyPluginNews).
    void latencyChanged() override { note(EffectSlot::kNewsLatency); }
    void parametersChanged() override { note(EffectSlot::kNewsParameters); }
    void restartRequested() override { note(EffectSlot::kNewsRestart); }
    // The timer idles every plug-in anyway.
    void uiCallRequested() override {}
    double tempo() const override { return host_.tempo() / 100.0; }

private:
    void note(uint8_t news) { __atomic_fetch_or(&slot_.news, news, __ATOMIC_RELEASE); }

    const EffectHost& host_;
    EffectSlot& slot_;
};

}  // namespace

void takeAskedEditorSize(EffectSlot& slot, int32_t* width, int32_t* height) {
    // Cleared first: a size asked for after this is posted again, not lost.
    __atomic_store_n(&slot.editorSizePosted, uint8_t(0), __ATOMIC_SEQ_CST);
    const uint32_t size = __atomic_load_n(&slot.askedEditorSize, __ATOMIC_ACQUIRE);
    *width = int32_t(size >> 16);
    *height = int32_t(size & 0xFFFF);
}

EffectHost::EffectHost() {
    processing_ = new (std::nothrow) SlotProcessing();
    uiThread_ = GetCurrentThreadId();
    ownBackendCount_ = createBuiltInBackends(&facts_, ownBackends_, kMaxBackends);
    for (int i = 0; i < ownBackendCount_; ++i)
        registerBackend(ownBackends_[i]);
    g_effectHost = this;
}

EffectHost::~EffectHost() {
    unloadAllSlots();
    std::free(blob_);
    clearPluginList();
    delete processing_;
    for (int i = 0; i < ownBackendCount_; ++i)
        delete ownBackends_[i];
    if (g_effectHost == this)
        g_effectHost = nullptr;
}

EffectHost* EffectHost::instance() { return g_effectHost; }

bool EffectHost::registerBackend(PluginFormatBackend* backend) {
    if (!backend || backendCount_ >= kMaxBackends || backendLabelled(backend->formatLabel()))
        return false;
    backends_[backendCount_++] = backend;
    return true;
}

PluginFormatBackend* EffectHost::backend(int32_t index) const {
    return index >= 0 && index < backendCount_ ? backends_[index] : nullptr;
}

PluginFormatBackend* EffectHost::backendFor(const char* path) const {
    for (int32_t i = 0; i < backendCount_ && path; ++i)
        if (backends_[i]->recognises(path))
            return backends_[i];
    return nullptr;
}

PluginFormatBackend* EffectHost::backendLabelled(const char* label) const {
    for (int32_t i = 0; i < backendCount_ && label; ++i)
        if (std::strcmp(backends_[i]->formatLabel(), label) == 0)
            return backends_[i];
    return nullptr;
}

bool EffectHost::addPluginEntry(const char* path, bool favourite, const char* format) {
    if (!path || std::strlen(path) >= size_t(PluginEntry::kPathSize))
        return false;
    if (!format) {
        const PluginFormatBackend* backend = backendFor(path);
        format = backend ? backend->formatLabel() : "";
    }
    auto* entry = static_cast<PluginEntry*>(std::calloc(1, sizeof(PluginEntry)));
    if (!entry)
        return false;
    std::strcpy(entry->path, path);
    std::snprintf(entry->format, sizeof entry->format, "%s", format);
    entry->favourite = favourite ? 1 : 0;
    const LibraryWidth width = PluginLibrary::widthOf(path);
    entry->otherWidth = width != LibraryWidth::Unknown && width != ownWidth() ? 1 : 0;
    *pluginTail_ = entry;
    pluginTail_ = &entry->next;
    ++pluginCount_;
    return true;
}

PluginEntry* EffectHost::pluginEntry(int32_t index) {
    if (index < 0)
        return nullptr;
    PluginEntry* entry = pluginList_;
    for (; entry && index > 0; --index)
        entry = entry->next;
    return entry;
}

void EffectHost::clearPluginList() {
    while (pluginList_) {
        PluginEntry* next = pluginList_->next;
        std::free(pluginList_);
        pluginList_ = next;
    }
    pluginTail_ = &pluginList_;
    pluginCount_ = 0;
}

const PluginEntry* EffectHost::sameNamedEntry(const char* path) const {
    char wanted[32], name[32];
    baseNameOf(path, wanted, sizeof wanted);
    for (const PluginEntry* e = pluginList_; e; e = e->next) {
        baseNameOf(e->path, name, sizeof name);
        if (std::strcmp(wanted, name) == 0)
            return e;
    }
    return nullptr;
}

bool EffectHost::resolvePath(int32_t listIndex, const char* path, char* resolved) {
    if (path)
        return copyPath(resolved, path);
    if (listIndex < 0)
        return false;
    const PluginEntry* entry = pluginList_;
    for (int32_t i = 0; entry && i < listIndex; ++i)
        entry = entry->next;
    return entry && copyPath(resolved, entry->path);
}

void EffectHost::noteLoadFailure(const char* path, const char* reason) {
    std::snprintf(loadFailure_, sizeof loadFailure_, "%s: %s", path, reason);
}

PluginInstance* EffectHost::loadInstance(EffectSlot* slot, const char* format, const char* classId,
                                         ProcessChoice where) {
    char reason[400] = "";
    PluginFormatBackend* backend = format ? backendLabelled(format) : backendFor(slot->path);
    PluginInstance* instance = nullptr;
    if (!backend && format)
        std::snprintf(reason, sizeof reason, "this edition of Talvenor Live has no %s support", format);
    else if (!backend)
        std::snprintf(reason, sizeof reason, "%s", "no plug-in format of this program reads such a file");
    else if (!(instance = loadThrough(*backend, slot, classId, where, reason, sizeof reason)) && !reason[0])
        std::snprintf(reason, sizeof reason, "%s", "the plug-in could not be loaded");
    if (instance)
        return instance;
    noteLoadFailure(slot->path, reason);
    // A stored path that no longer exists finds the same plug-in in its new folder.
    const PluginEntry* entry = sameNamedEntry(slot->path);
    if (!entry || std::strcmp(entry->path, slot->path) == 0 || !copyPath(slot->path, entry->path))
        return nullptr;
    if (!format)
        backend = backendFor(slot->path);
    return backend ? loadThrough(*backend, slot, classId, where, reason, sizeof reason) : nullptr;
}

PluginInstance* EffectHost::loadThrough(PluginFormatBackend& backend, EffectSlot* slot, const char* classId,
                                        ProcessChoice where, char* reason, size_t reasonSize) {
    // A plug-in of the other width can only run in a bridge of its width. One that
    // crashed or hung once would do it again: it is given a process of its own unless
    // the user asked for this one.
    const LibraryWidth width = PluginLibrary::widthOf(slot->path);
    const bool otherWidth = width != LibraryWidth::Unknown && width != ownWidth();
    slot->ownProcess = otherWidth || where == ProcessChoice::OwnProcess ||
                       (where == ProcessChoice::Default && (loadInOwnProcess_ || failedBefore(slot->path)));
    if (!slot->ownProcess) {
        // Noted from before it opens: a crash in its loading is its own too.
        notePluginInProcess(slot->path);
        PluginInstance* instance = backend.load(slot->path, classId ? classId : "", slot->events, reason, reasonSize);
        if (!instance)
            notePluginOutOfProcess(slot->path);
        return instance;
    }
    char bridge[EffectSlot::kPathSize];
    if (!bridgeProgramPath(bridge, sizeof bridge, otherWidth)) {
        std::snprintf(reason, reasonSize, "%s", "the program's folder has too long a path for its bridge");
        return nullptr;
    }
    char failure[400] = "";
    PluginInstance* instance =
        loadInBridge(bridge, slot->path, backend.formatLabel(), classId, slot->events, failure, sizeof failure);
    // One that took its process down or stalled it as it opened would take this
    // process with it: it is remembered, so that it is never opened here.
    if (!instance && !otherWidth && bridge::BridgePlugin::failedAsItStarted(failure)) {
        PluginIdentity unknown{};
        rememberFailure(slot->path, unknown, failureWord(failure));
    }
    if (instance || !otherWidth) {
        std::snprintf(reason, reasonSize, "%s", failure);
        return instance;
    }
    const char* name = std::strrchr(bridge, '\\');
    std::snprintf(reason, reasonSize,
                  "it is a %s plug-in, which this %s edition of Talvenor Live runs in %s, and that did not run here "
                  "(this system may not run %s programs): %s",
                  widthName(width), widthName(ownWidth()), name ? name + 1 : bridge, widthName(width), failure);
    return nullptr;
}

EffectSlot* EffectHost::loadPlugin(int32_t listIndex, const char* path) {
    loadFailure_[0] = '\0';
    char resolved[EffectSlot::kPathSize];
    if (!resolvePath(listIndex, path, resolved)) {
        noteLoadFailure(path ? path : "", "the path is too long or names no plug-in of the list");
        return nullptr;
    }
    return loadPluginClass(resolved, nullptr, nullptr);
}

EffectSlot* EffectHost::loadPluginClass(const char* path, const char* format, const char* classId,
                                        ProcessChoice where) {
    loadFailure_[0] = '\0';
    auto* slot = new (std::nothrow) EffectSlot;
    if (!slot)
        return nullptr;
    if (!path || !copyPath(slot->path, path)) {
        noteLoadFailure(path ? path : "", "the path is too long");
        delete slot;
        return nullptr;
    }
    slot->events = new (std::nothrow) SlotEvents(*this, *slot);
    PluginInstance* instance = slot->events ? loadInstance(slot, format, classId, where) : nullptr;
    if (instance) {
        slot->plugin = new (std::nothrow) ThreadCheckedPlugin(instance);
        if (!slot->plugin) {
            delete instance;
            if (!slot->ownProcess)
                notePluginOutOfProcess(slot->path);
        }
    }
    if (!slot->plugin) {
        delete slot->events;
        delete slot;
        return nullptr;
    }
    if (!openAndConfigure(slot)) {
        releaseSlot(slot);
        return nullptr;
    }
    if (++lastSerial_ == 0)
        lastSerial_ = 1;
    slot->serial = lastSerial_;
    slots_.append(slot);
    loadFailure_[0] = '\0';  // the same-name fallback may have found it after a failure
    return slot;
}

bool EffectHost::openAndConfigure(EffectSlot* slot) {
    PluginInstance& plugin = *slot->plugin;
    if (!plugin.configure(double(float(sampleRate_)), blockSize_) || !plugin.resume()) {
        const char* reason = plugin.lastFailure();
        noteLoadFailure(slot->path, reason[0] ? reason : "it refused the sample rate or block size, or to start");
        return false;
    }
    plugin.selectProgram(0);
    slot->latency = believedLatency(plugin.latencyFrames());
    if (plugin.identity().instrument) {
        showError(-kStrPluginIsSynth);
        return false;
    }
    return copyParameters(slot) && readProgramNames(slot);
}

bool EffectHost::copyParameters(EffectSlot* slot) {
    const int32_t count = slot->plugin->parameterCount();
    if (count <= 0)
        return true;
    if (count > kMaxParameters)
        return false;
    slot->parameters = new (std::nothrow) float[size_t(count)];
    if (!slot->parameters)
        return false;
    slot->parameterCount = count;
    refreshParameters(slot);
    return true;
}

int32_t EffectHost::findParameter(EffectSlot* slot, const char* nameOrIndex) {
    if (!slot || !slot->plugin || !nameOrIndex || !nameOrIndex[0])
        return -1;
    const int32_t count = slot->parameterCount;
    for (int32_t i = 0; i < count; ++i) {
        char name[128] = "";
        if (slot->plugin->parameterName(i, name, sizeof name) && _stricmp(name, nameOrIndex) == 0)
            return i;
    }
    char* end = nullptr;
    const long index = std::strtol(nameOrIndex, &end, 10);
    return end && *end == '\0' && index >= 0 && index < count ? int32_t(index) : -1;
}

bool EffectHost::setParameter(EffectSlot* slot, int32_t index, float value) {
    if (!slot || !slot->plugin || index < 0 || index >= slot->parameterCount || !(value >= 0.0f && value <= 1.0f))
        return false;
    slot->plugin->setParameterValue(index, value);
    // The driver thread reads the copy for MIDI control (ParameterApplier).
    __atomic_store(&slot->parameters[index], &value, __ATOMIC_RELAXED);
    return true;
}

uint8_t EffectHost::applyPluginNews(EffectSlot* slot) {
    uint8_t news = slot ? __atomic_exchange_n(&slot->news, 0, __ATOMIC_ACQUIRE) : 0;
    if (!news)
        return 0;
    // The plug-in is out of processing for what follows; the chain passes its signal by.
    const SlotHold hold(*slot);
    if (news & EffectSlot::kNewsRestart) {
        ThreadCheckedPlugin& plugin = *slot->plugin;
        const bool running = plugin.resumed();
        plugin.suspend();
        plugin.configure(double(float(sampleRate_)), blockSize_);
        if (running)
            plugin.resume();
        // What it says while restarting is what it now is: taken here, not at the next
        // tick, so that a plug-in that asks again from its own activation cannot keep
        // itself restarting. Its latency and parameters are read again below.
        __atomic_exchange_n(&slot->news, 0, __ATOMIC_ACQUIRE);
        news |= EffectSlot::kNewsLatency | EffectSlot::kNewsParameters;
    }
    if (news & EffectSlot::kNewsLatency)
        slot->latency = believedLatency(slot->plugin->latencyFrames());
    if ((news & EffectSlot::kNewsParameters) && !rereadParameters(slot))
        news &= uint8_t(~EffectSlot::kNewsParameters);
    return news;
}

uint8_t EffectHost::serviceSlot(EffectSlot* slot) {
    if (!slot || !slot->plugin)
        return 0;
    const uint8_t news = applyPluginNews(slot);
    slot->plugin->uiIdle();
    rememberIfFailed(slot);
    keepStateNowAndThen(slot);
    return news;
}

void EffectHost::rememberIfFailed(EffectSlot* slot) {
    char how[160];
    if (slot->failureRemembered || !slot->plugin->failed(how, sizeof how))
        return;
    slot->failureRemembered = true;
    rememberFailure(slot->path, slot->plugin->identity(), failureWord(how));
}

void EffectHost::keepStateNowAndThen(EffectSlot* slot) {
    // A plug-in in its own process may crash: its state is kept every few seconds, so
    // that a restart brings back what it was playing, not what was last saved.
    constexpr uint32_t kKeepEveryMs = 5000;
    const uint32_t now = uint32_t(GetTickCount());
    if (!slot->ownProcess || slot->plugin->failed(nullptr, 0) ||
        (slot->kept.size() && now - slot->keptAtTick < kKeepEveryMs))
        return;
    slot->keptAtTick = now;
    ByteRecord state;
    char ignored[8];
    if (slot->plugin->saveState(state, ignored, sizeof ignored) && state.size()) {
        slot->kept.clear();
        if (!slot->kept.append(state.data(), state.size()))
            slot->kept.release();
    }
}

EffectSlot* EffectHost::reloadSlot(EffectSlot* slot, bool ownProcess) {
    if (!slot || !slot->plugin)
        return nullptr;
    const PluginIdentity identity = slot->plugin->identity();
    char path[EffectSlot::kPathSize];
    std::snprintf(path, sizeof path, "%s", slot->path);
    // The state to give the new one: the plug-in's own now, or the last kept if it failed.
    ByteRecord state;
    char ignored[8];
    const bool failed = slot->plugin->failed(nullptr, 0);
    if (failed || !slot->plugin->saveState(state, ignored, sizeof ignored)) {
        state.clear();
        state.append(slot->kept.data(), slot->kept.size());
    }
    EffectSlot* fresh = loadPluginClass(path, identity.format, identity.classId,
                                        ownProcess ? ProcessChoice::OwnProcess : ProcessChoice::ThisProcess);
    if (fresh && state.size())
        restoreState(fresh, state.data(), uint32_t(state.size()));
    return fresh;
}

bool EffectHost::rereadParameters(EffectSlot* slot) {
    const int32_t count = slot->plugin->parameterCount();
    if (count < 0 || count > kMaxParameters)
        return false;  // an answer not believed: the host's list stays as it was
    if (count != slot->parameterCount) {
        float* values = count ? new (std::nothrow) float[size_t(count)] : nullptr;
        if (count && !values)
            return false;
        delete[] slot->parameters;
        slot->parameters = values;
        slot->parameterCount = count;
    }
    refreshParameters(slot);
    return true;
}

void EffectHost::refreshParameters(EffectSlot* slot) {
    for (int32_t i = 0; i < slot->parameterCount; ++i)
        slot->parameters[i] = slot->plugin->parameterValue(i);
}

bool EffectHost::readProgramNames(EffectSlot* slot) {
    const int32_t count = slot->plugin->programCount();
    if (count <= 0)
        return true;
    if (count > kMaxPrograms)
        return false;
    slot->programNames = new (std::nothrow) char[size_t(count) * EffectSlot::kProgramNameSize];
    if (!slot->programNames)
        return false;
    slot->programCount = count;
    for (int32_t i = 0; i < count; ++i) {
        char* stored = slot->programNames + i * EffectSlot::kProgramNameSize;
        if (!slot->plugin->programName(i, stored, EffectSlot::kProgramNameSize) || !stored[0])
            std::snprintf(stored, EffectSlot::kProgramNameSize, "%s", "no name");
    }
    return true;
}

void EffectHost::releaseSlot(EffectSlot* slot) {
    delete slot->plugin;  // switches the plug-in off and closes it
    if (!slot->ownProcess)
        notePluginOutOfProcess(slot->path);
    delete slot->events;
    delete[] slot->parameters;
    delete[] slot->programNames;
    delete slot;
}

void EffectHost::detachSlot(EffectSlot* slot) {
    if (slot)
        slots_.remove(slot);
}

bool EffectHost::unloadSlot(EffectSlot* slot) {
    if (!slot)
        return true;
    slots_.remove(slot);
    slots_.waitForLookups();
    if (slot->editorFrame) {
        // The frame no longer names the slot when it goes, so the plug-in's editor
        // is closed once.
        HWND frame = static_cast<HWND>(slot->editorFrame);
        slot->editorFrame = nullptr;
        slot->editorView = nullptr;
        slot->plugin->closeEditor();
        DestroyWindow(frame);
    }
    releaseSlot(slot);
    return true;
}

bool EffectHost::unloadAllSlots() {
    const bool any = slots_.first() != nullptr;
    while (EffectSlot* slot = slots_.first())
        unloadSlot(slot);
    return any;
}

bool EffectHost::setSlotActive(EffectSlot* slot, bool active) {
    if (!slot || (slot->suspended == 0) == active)
        return true;
    __atomic_store_n(&slot->suspended, uint8_t(active ? 0 : 1), __ATOMIC_RELAXED);  // MIDI control reads it
    if (active)
        slot->plugin->resume();
    else
        slot->plugin->suspend();
    return true;
}

bool EffectHost::effectName(EffectSlot* slot, char* out) {
    if (!slot || !slot->plugin)
        return false;
    const char* name = slot->plugin->identity().name;
    if (name[0])
        std::snprintf(out, 32, "%s", name);
    else
        baseNameOf(slot->path, out, 32);
    return true;
}

const char* EffectHost::formatOf(const EffectSlot* slot) const {
    return slot && slot->plugin ? slot->plugin->identity().format : "";
}

const char* EffectHost::vendorOf(const EffectSlot* slot) const {
    return slot && slot->plugin ? slot->plugin->identity().vendor : "";
}

void EffectHost::processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames) {
    if (processing_)
        processing_->processSlot(slot, channels, channelCount, frames);
}

void EffectHost::slotComing(EffectSlot* slot) {
    if (processing_)
        processing_->slotComing(slot);
}

void EffectHost::setSampleRate(float rate) {
    // Compared in double precision: in single precision 44100 - 0.001 is 44100 itself,
    // and the tolerance would vanish.
    const double stored = sampleRate_.load();
    if (stored - 0.001 < double(rate) && double(rate) < stored + 0.001)
        return;
    sampleRate_ = rate;
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        s->plugin->configure(double(rate), blockSize_);
}

void EffectHost::setBlockSize(int32_t size) {
    if (size == blockSize_)
        return;
    blockSize_ = size;
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        s->plugin->configure(double(float(sampleRate_)), size);
}

void EffectHost::resumeAllSlots() {
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        if (!s->suspended)
            s->plugin->resume();
}

void EffectHost::suspendAllSlots() {
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        s->plugin->suspend();
}

bool EffectHost::captureState(EffectSlot* slot, char* failure, size_t failureSize) {
    char reason[300] = "";
    const bool whole = slot->plugin->saveState(slot->state, reason, sizeof reason);
    slot->stateFromKept = false;
    if (!whole && slot->ownProcess && slot->plugin->failed(nullptr, 0) && slot->kept.size()) {
        slot->state.clear();
        slot->stateFromKept = slot->state.append(slot->kept.data(), slot->kept.size());
        if (slot->stateFromKept)
            return true;
    }
    if (failure && failureSize)
        std::snprintf(failure, failureSize, "%s", reason);
    // The host's copy follows what was read.
    refreshParameters(slot);
    return whole && slot->state.size() > 0;
}

void EffectHost::releaseState(EffectSlot* slot) { slot->state.release(); }

bool EffectHost::restoreState(EffectSlot* slot, const uint8_t* record, uint32_t size) {
    if (!slot || !slot->plugin->restoreState(record, size))
        return false;
    // What it was given is the state kept for it until it gives one of its own.
    if (slot->ownProcess) {
        slot->kept.clear();
        if (!slot->kept.append(record, size))
            slot->kept.release();
        slot->keptAtTick = uint32_t(GetTickCount());
    }
    // The host's copy follows what the plug-in now reports.
    refreshParameters(slot);
    return true;
}

namespace {

bool amongSlots(const EffectSlot* slot, EffectSlot* const* only, int32_t count) {
    if (!only)
        return true;
    for (int32_t i = 0; i < count; ++i)
        if (only[i] == slot)
            return true;
    return false;
}

}  // namespace

int32_t EffectHost::buildStateBlob(const uint8_t** blob, EffectSlot* const* only, int32_t onlyCount) {
    std::free(blob_);
    blob_ = nullptr;
    *blob = nullptr;
    size_t total = kStateBlobTagSize;
    bool complete = true;
    for (EffectSlot* s = slots_.first(); s; s = s->next) {
        if (!amongSlots(s, only, onlyCount))
            continue;
        // A chunk the host refuses to read counts as an empty one here; saving says so.
        captureState(s);
        if (s->state.size() == 0)
            complete = false;
        else
            total += stateSectionSize(std::strlen(s->path), s->state.size());
    }
    if (complete && total <= size_t(INT32_MAX))
        blob_ = static_cast<uint8_t*>(std::malloc(total));
    if (blob_) {
        writeStateBlobTag(blob_);
        uint8_t* at = blob_ + kStateBlobTagSize;
        for (EffectSlot* s = slots_.first(); s; s = s->next)
            if (amongSlots(s, only, onlyCount))
                at = writeStateSection(at, s->path, std::strlen(s->path), s->state.data(), s->state.size(), s->reserved);
    }
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        releaseState(s);
    *blob = blob_;
    return blob_ ? int32_t(total) : 0;
}
