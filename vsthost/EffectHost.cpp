#include "EffectHost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "MessageBoxes.h"
#include "PathNames.h"
#include "PerformanceFormat.h"
#include "PluginLibrary.h"
#include "StringIds.h"
#include "WinInclude.h"

namespace {

EffectHost* g_effectHost = nullptr;

// Answers beyond these are not believed: a plug-in that claims millions of programs
// or parameters is refused rather than allowed to exhaust memory.
const int32_t kMaxPrograms = 4096;
const int32_t kMaxParameters = 65536;

VstIntPtr dispatch(EffectSlot* slot, VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                   float opt = 0.0f) {
    AEffect* e = slot->effect;
    return e->dispatcher(e, opcode, index, value, ptr, opt);
}

bool copyPath(char* to, const char* from) {
    const size_t length = std::strlen(from);
    if (length >= size_t(EffectSlot::kPathSize))
        return false;  // never cut: a cut path could name another file
    std::memcpy(to, from, length + 1);
    return true;
}

}  // namespace

EffectHost::EffectHost() {
    processing_ = new (std::nothrow) SlotProcessing();
    std::memset(&timeInfo_, 0, sizeof timeInfo_);
    uiThread_ = GetCurrentThreadId();
    PluginLibrary::removeStaleCopies();
    g_effectHost = this;
}

EffectHost::~EffectHost() {
    unloadAllSlots();
    std::free(blob_);
    clearPluginList();
    delete processing_;
    if (g_effectHost == this)
        g_effectHost = nullptr;
}

EffectHost* EffectHost::instance() { return g_effectHost; }

bool EffectHost::addPluginEntry(const char* path, bool favourite) {
    if (!path || std::strlen(path) >= size_t(PluginEntry::kPathSize))
        return false;
    auto* entry = static_cast<PluginEntry*>(std::calloc(1, sizeof(PluginEntry)));
    if (!entry)
        return false;
    std::strcpy(entry->path, path);
    entry->favourite = favourite ? 1 : 0;
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

bool EffectHost::moduleServesASlot(void* module, void* context) {
    for (EffectSlot* s = static_cast<EffectHost*>(context)->slots_.first(); s; s = s->next)
        if (s->library == module)
            return true;
    return false;
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

bool EffectHost::loadLibrary(EffectSlot* slot) {
    slot->library = PluginLibrary::load(slot->path, moduleServesASlot, this, slot->privateCopy);
    if (!slot->library) {
        PluginLibrary::describeLoadFailure(slot->path, GetLastError(), loadFailure_, sizeof loadFailure_);
        // A stored path that no longer exists finds the same plug-in in its new folder.
        const PluginEntry* entry = sameNamedEntry(slot->path);
        if (entry && copyPath(slot->path, entry->path))
            slot->library = PluginLibrary::load(slot->path, moduleServesASlot, this, slot->privateCopy);
    }
    return slot->library != nullptr;
}

AEffect* EffectHost::instantiate(EffectSlot* slot) {
    VstEntryProc entry = PluginLibrary::entryPoint(static_cast<HMODULE>(slot->library));
    if (!entry) {
        noteLoadFailure(slot->path, "the library exports no VST 2 entry point");
        return nullptr;
    }
    AEffect* effect = entry(hostCallback);
    // Never let two slots hold one record: the second would call into an instance
    // that the first one's unloading closes.
    if (!effect || SlotList::Lookup(slots_).find(effect) || !effect->dispatcher || effect->magic != kEffectMagic ||
        effect->dispatcher(effect, effIdentify, 0, 0, nullptr, 0.0f) != kEffectIdentifyAnswer) {
        noteLoadFailure(slot->path, "the library did not answer as a VST 2 effect");
        return nullptr;
    }
    return effect;
}

EffectSlot* EffectHost::loadPlugin(int32_t listIndex, const char* path) {
    loadFailure_[0] = '\0';
    auto* slot = static_cast<EffectSlot*>(std::calloc(1, sizeof(EffectSlot)));
    if (!slot)
        return nullptr;
    if (!resolvePath(listIndex, path, slot->path)) {
        noteLoadFailure(path ? path : "", "the path is too long or names no plug-in of the list");
    } else if (loadLibrary(slot)) {
        directoryOf(slot->path, slot->directory, EffectSlot::kPathSize);
        slot->effect = instantiate(slot);
    }
    if (!slot->effect) {
        // Refused before it was opened: nothing to switch off or close.
        PluginLibrary::release(static_cast<HMODULE>(slot->library), slot->privateCopy);
        std::free(slot);
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
    const float rate = sampleRate_;
    const int32_t block = blockSize_;
    dispatch(slot, effOpen);
    dispatch(slot, effSetSampleRate, 0, 0, nullptr, rate);
    dispatch(slot, effSetBlockSize, 0, block);
    dispatch(slot, effSetBlockSizeAndSampleRate, 0, block, nullptr, rate);
    dispatch(slot, effMainsChanged, 0, 1);

    if (slot->effect->flags & effFlagsIsSynth) {
        showError(-kStrPluginIsSynth);
        return false;
    }
    dispatch(slot, effSetProgram, 0, 0);
    return copyParameters(slot) && readProgramNames(slot);
}

bool EffectHost::copyParameters(EffectSlot* slot) {
    const int32_t count = slot->effect->numParams;
    if (count <= 0)
        return true;
    if (count > kMaxParameters || !slot->effect->getParameter)
        return false;
    slot->parameters = static_cast<float*>(std::calloc(size_t(count), sizeof(float)));
    if (!slot->parameters)
        return false;
    slot->parameterCount = count;
    for (int32_t i = 0; i < count; ++i)
        slot->parameters[i] = slot->effect->getParameter(slot->effect, i);
    return true;
}

bool EffectHost::readProgramNames(EffectSlot* slot) {
    const int32_t count = slot->effect->numPrograms;
    if (count <= 0)
        return true;
    if (count > kMaxPrograms)
        return false;
    slot->programNames = static_cast<char*>(std::calloc(size_t(count), EffectSlot::kProgramNameSize));
    if (!slot->programNames)
        return false;
    slot->programCount = count;
    // The plug-in is asked for 128 bytes; the buffer is larger so that one writing a
    // few bytes too many does not overwrite the stack.
    char name[1024];
    bool selectedAnother = false;
    for (int32_t i = 0; i < count; ++i) {
        std::memset(name, 0, sizeof name);
        dispatch(slot, effGetProgramNameIndexed, i, -1, name);
        if (!name[0]) {
            dispatch(slot, effSetProgram, 0, i);
            selectedAnother = true;
            dispatch(slot, effGetProgramName, 0, 0, name);
        }
        name[sizeof name - 1] = '\0';
        char* stored = slot->programNames + i * EffectSlot::kProgramNameSize;
        std::strncpy(stored, name[0] ? name : "no name", EffectSlot::kProgramNameSize - 1);
        stored[EffectSlot::kProgramNameSize - 1] = '\0';
    }
    if (selectedAnother)
        dispatch(slot, effSetProgram, 0, 0);
    return true;
}

void EffectHost::releaseSlot(EffectSlot* slot) {
    if (slot->effect) {
        dispatch(slot, effMainsChanged, 0, 0);
        dispatch(slot, effClose);
    }
    PluginLibrary::release(static_cast<HMODULE>(slot->library), slot->privateCopy);
    std::free(slot->parameters);
    std::free(slot->programNames);
    std::free(slot->stateRecord);
    std::free(slot);
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
        // hears effEditClose once.
        HWND frame = static_cast<HWND>(slot->editorFrame);
        slot->editorFrame = nullptr;
        slot->editorView = nullptr;
        dispatch(slot, effEditClose);
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
    slot->suspended = active ? 0 : 1;
    dispatch(slot, effMainsChanged, 0, active ? 1 : 0);
    return true;
}

bool EffectHost::effectName(EffectSlot* slot, char* out) {
    if (!slot || !slot->effect || !slot->effect->dispatcher)
        return false;
    char name[256];
    std::memset(name, 0, sizeof name);
    dispatch(slot, effGetEffectName, 0, 0, name);
    name[31] = '\0';
    if (name[0])
        std::strcpy(out, name);
    else
        baseNameOf(slot->path, out, 32);
    return true;
}

void EffectHost::processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames) {
    if (processing_)
        processing_->processSlot(slot, channels, channelCount, frames);
}

void EffectHost::setSampleRate(float rate) {
    // Compared in double precision: in single precision 44100 - 0.001 is 44100 itself,
    // and the tolerance would vanish.
    const double stored = sampleRate_.load();
    if (stored - 0.001 < double(rate) && double(rate) < stored + 0.001)
        return;
    sampleRate_ = rate;
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        dispatch(s, effSetSampleRate, 0, 0, nullptr, rate);
}

void EffectHost::setBlockSize(int32_t size) {
    if (size == blockSize_)
        return;
    blockSize_ = size;
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        dispatch(s, effSetBlockSize, 0, size);
}

void EffectHost::resumeAllSlots() {
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        if (!s->suspended)
            dispatch(s, effMainsChanged, 0, 1);
}

void EffectHost::suspendAllSlots() {
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        dispatch(s, effMainsChanged, 0, 0);
}

bool EffectHost::captureState(EffectSlot* slot, VstIntPtr* answer) {
    releaseState(slot);
    AEffect* effect = slot->effect;
    if (effect->flags & effFlagsProgramChunks) {
        void* chunk = nullptr;
        // Index 1: the current program only.
        VstIntPtr size = dispatch(slot, effGetChunk, 1, 0, &chunk);
        if (answer)
            *answer = size;
        if (size < 0)
            size = 0;
        const bool trusted = size <= VstIntPtr(kMaxChunkBytes) && (size == 0 || chunk);
        const uint32_t kept = trusted ? uint32_t(size) : 0;
        slot->stateRecord = static_cast<uint8_t*>(std::malloc(chunkRecordSize(kept)));
        if (!slot->stateRecord)
            return false;
        writeChunkRecord(slot->stateRecord, chunk, kept);
        slot->stateSize = int32_t(chunkRecordSize(kept));
        return trusted;
    }
    int32_t count = effect->numParams;
    if (count < 0 || !effect->getParameter)
        count = 0;
    if (count > kMaxStateParameters)
        count = kMaxStateParameters;
    float* values = static_cast<float*>(std::malloc(size_t(count) * sizeof(float) + 1));
    slot->stateRecord = static_cast<uint8_t*>(std::malloc(parameterRecordSize(count)));
    if (!values || !slot->stateRecord) {
        std::free(values);
        releaseState(slot);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        values[i] = effect->getParameter(effect, i);
        if (i < slot->parameterCount)
            slot->parameters[i] = values[i];
    }
    writeParameterRecord(slot->stateRecord, values, count);
    slot->stateSize = int32_t(parameterRecordSize(count));
    std::free(values);
    return true;
}

void EffectHost::releaseState(EffectSlot* slot) {
    std::free(slot->stateRecord);
    slot->stateRecord = nullptr;
    slot->stateSize = 0;
}

bool EffectHost::restoreState(EffectSlot* slot, const uint8_t* record, uint32_t size) {
    StateView view;
    if (!slot || !readStateRecord(record, size, view))
        return false;
    AEffect* effect = slot->effect;
    if (view.form == StateForm::Chunk) {
        // The plug-in may keep the pointer only for the call; it gets its own copy.
        void* chunk = std::malloc(view.chunkBytes + 1);
        if (!chunk)
            return false;
        if (view.chunkBytes)
            std::memcpy(chunk, view.data, view.chunkBytes);
        dispatch(slot, effSetChunk, 1, VstIntPtr(view.chunkBytes), chunk);
        std::free(chunk);
    } else if (effect->setParameter) {
        const int32_t count = view.count < effect->numParams ? view.count : effect->numParams;
        for (int32_t i = 0; i < count; ++i)
            effect->setParameter(effect, i, parameterAt(view, i));
    }
    // The host's copy follows what the plug-in now reports.
    if (effect->getParameter)
        for (int32_t i = 0; i < slot->parameterCount; ++i)
            slot->parameters[i] = effect->getParameter(effect, i);
    return true;
}

int32_t EffectHost::buildStateBlob(const uint8_t** blob) {
    std::free(blob_);
    blob_ = nullptr;
    *blob = nullptr;
    size_t total = kStateBlobTagSize;
    bool complete = true;
    for (EffectSlot* s = slots_.first(); s; s = s->next) {
        // A chunk the host refuses to read counts as an empty one here; saving says so.
        captureState(s);
        if (!s->stateRecord)
            complete = false;
        else
            total += stateSectionSize(std::strlen(s->path), size_t(s->stateSize));
    }
    if (complete && total <= size_t(INT32_MAX))
        blob_ = static_cast<uint8_t*>(std::malloc(total));
    if (blob_) {
        writeStateBlobTag(blob_);
        uint8_t* at = blob_ + kStateBlobTagSize;
        for (EffectSlot* s = slots_.first(); s; s = s->next)
            at = writeStateSection(at, s->path, std::strlen(s->path), s->stateRecord, size_t(s->stateSize),
                                   s->reserved);
    }
    for (EffectSlot* s = slots_.first(); s; s = s->next)
        releaseState(s);
    *blob = blob_;
    return blob_ ? int32_t(total) : 0;
}
