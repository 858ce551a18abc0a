#include "Vst2Plugin.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "PathNames.h"
#include "PerformanceFormat.h"
#include "SampleFormat.h"
#include "ThreadCheckedPlugin.h"

namespace {

// Answers beyond these are not believed: a plug-in that claims millions of programs
// or parameters is refused rather than allowed to exhaust memory.
const int32_t kMaxPrograms = 4096;
const int32_t kProgramNameSize = 32;

LookupList<Vst2Plugin> g_instances;

// A text of the plug-in's: asked into a buffer far larger than the 8 to 64 bytes VST 2
// allows, so that one writing a few bytes too many does not overwrite the stack.
void copyCut(char* out, size_t size, const char* text, size_t most) {
    if (size == 0)
        return;
    size_t length = std::strlen(text);
    if (length > most)
        length = most;
    if (length >= size)
        length = size - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
}

void say(char* failure, size_t size, const char* format, double number, unsigned cap = 0) {
    if (failure && size)
        std::snprintf(failure, size, format, number, cap);
}

}  // namespace

const LookupList<Vst2Plugin>& Vst2Plugin::instances() { return g_instances; }

Vst2Plugin::Vst2Plugin(AEffect* effect, PluginHostEvents* events, const char* path, Vst2Library* library)
    : effect_(effect), events_(events), library_(library) {
    copyCut(path_, sizeof path_, path ? path : "", sizeof path_ - 1);
    directoryOf(path_, directory_, sizeof directory_);
    clearSamples(scratch_[0], kScratchFrames);
    clearSamples(scratch_[1], kScratchFrames);
    g_instances.append(this);
    dispatch(effOpen);
}

Vst2Plugin::~Vst2Plugin() {
    // Calls the effect makes from here on find no instance: it is closing.
    g_instances.remove(this);
    g_instances.waitForLookups();
    if (editorOpen_)
        dispatch(effEditClose);
    dispatch(effMainsChanged, 0, 0);
    dispatch(effClose);
    delete[] programNames_;
    delete library_;
}

VstIntPtr Vst2Plugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const {
    return effect_ && effect_->dispatcher ? effect_->dispatcher(effect_, opcode, index, value, ptr, opt) : 0;
}

void Vst2Plugin::readIdentity() const {
    if (identityRead_)
        return;
    identityRead_ = true;
    char name[256];
    std::memset(name, 0, sizeof name);
    dispatch(effGetEffectName, 0, 0, name);
    name[sizeof name - 1] = '\0';
    if (name[0])
        copyCut(identity_.name, sizeof identity_.name, name, sizeof identity_.name - 1);
    else
        baseNameOf(path_, identity_.name, sizeof identity_.name);
    std::memset(name, 0, sizeof name);
    dispatch(effGetVendorString, 0, 0, name);
    name[sizeof name - 1] = '\0';
    copyCut(identity_.vendor, sizeof identity_.vendor, name, sizeof identity_.vendor - 1);
    std::snprintf(identity_.format, sizeof identity_.format, "%s", kVst2FormatLabel);
    // The unique id in hexadecimal: the one class a VST 2 library holds.
    const uint32_t id = effect_ ? uint32_t(effect_->uniqueID) : 0;
    std::snprintf(identity_.classId, sizeof identity_.classId, "%08X", unsigned(id));
    identity_.instrument = effect_ && (effect_->flags & effFlagsIsSynth);
}

const PluginIdentity& Vst2Plugin::identity() const {
    readIdentity();
    return identity_;
}

// An effect without any processing function passes the signal: it declares no inputs.
int32_t Vst2Plugin::inputCount() const {
    return effect_ && (effect_->processReplacing || effect_->process) ? effect_->numInputs : 0;
}

int32_t Vst2Plugin::outputCount() const { return effect_ ? effect_->numOutputs : 0; }

bool Vst2Plugin::configure(double sampleRate, int32_t maxBlockFrames) {
    const bool first = sampleRate_ == 0.0;
    if (first || sampleRate != sampleRate_)
        dispatch(effSetSampleRate, 0, 0, nullptr, float(sampleRate));
    if (first || maxBlockFrames != blockFrames_)
        dispatch(effSetBlockSize, 0, maxBlockFrames);
    if (first)
        dispatch(effSetBlockSizeAndSampleRate, 0, maxBlockFrames, nullptr, float(sampleRate));
    sampleRate_ = sampleRate;
    blockFrames_ = maxBlockFrames;
    return true;
}

bool Vst2Plugin::resume() {
    dispatch(effMainsChanged, 0, 1);
    return true;
}

void Vst2Plugin::suspend() { dispatch(effMainsChanged, 0, 0); }

int32_t Vst2Plugin::latencyFrames() const { return effect_ ? effect_->initialDelay : 0; }

void Vst2Plugin::process(float* const* inputs, float* const* outputs, int32_t frames) {
    const int32_t ins = inputCount();
    const int32_t outs = outputCount();
    if (ins < 1 || ins > 2 || outs < 1 || outs > 2)
        return;
    // VST 2 does not promise that an effect may write over its inputs, and an
    // accumulating one adds to its outputs: either way the outputs are buffers of
    // our own when they are the inputs.
    bool sameBuffers = false;
    for (int32_t o = 0; o < outs; ++o)
        for (int32_t i = 0; i < ins; ++i)
            sameBuffers = sameBuffers || outputs[o] == inputs[i];
    const bool replacing = (effect_->flags & effFlagsCanReplacing) && effect_->processReplacing;
    for (int32_t done = 0; done < frames;) {
        const int32_t n = frames - done < kScratchFrames ? frames - done : kScratchFrames;
        float* in[2] = {inputs[0] + done, ins > 1 ? inputs[1] + done : nullptr};
        float* out[2];
        for (int32_t o = 0; o < outs; ++o)
            out[o] = sameBuffers ? scratch_[o] : outputs[o] + done;
        if (outs == 1)
            out[1] = scratch_[1];  // for effects that write a second output anyway
        if (replacing) {
            effect_->processReplacing(effect_, in, out, n);
        } else {
            for (int32_t o = 0; o < outs; ++o)
                clearSamples(out[o], n);
            effect_->process(effect_, in, out, n);
        }
        if (sameBuffers)
            for (int32_t o = 0; o < outs; ++o)
                std::memcpy(outputs[o] + done, scratch_[o], sizeof(float) * size_t(n));
        done += n;
    }
}

int32_t Vst2Plugin::parameterCount() const {
    // As declared: the host judges a count too large to believe.
    const int32_t count = effect_ ? effect_->numParams : 0;
    return count > 0 && effect_->getParameter ? count : 0;
}

bool Vst2Plugin::text(VstInt32 opcode, int32_t index, char* out, size_t size) const {
    char answer[100];
    std::memset(answer, 0, sizeof answer);
    dispatch(opcode, index, 0, answer);
    answer[sizeof answer - 1] = '\0';
    copyCut(out, size, answer, sizeof answer - 1);
    return true;
}

bool Vst2Plugin::parameterName(int32_t index, char* out, size_t size) const {
    return text(effGetParamName, index, out, size);
}

float Vst2Plugin::parameterValue(int32_t index) const {
    return index >= 0 && index < parameterCount() ? effect_->getParameter(effect_, index) : 0.0f;
}

bool Vst2Plugin::parameterValueText(int32_t index, char* out, size_t size) const {
    return text(effGetParamDisplay, index, out, size);
}

bool Vst2Plugin::parameterUnit(int32_t index, char* out, size_t size) const {
    return text(effGetParamLabel, index, out, size);
}

void Vst2Plugin::setParameterValue(int32_t index, float value) {
    if (index >= 0 && index < (effect_ ? effect_->numParams : 0) && effect_->setParameter)
        effect_->setParameter(effect_, index, value);
}

bool Vst2Plugin::setParameterInProcess(int32_t index, float value) {
    if (index < 0 || index >= (effect_ ? effect_->numParams : 0) || !effect_->setParameter)
        return false;
    effect_->setParameter(effect_, index, value);
    return true;
}

int32_t Vst2Plugin::programCount() const {
    const int32_t count = effect_ ? effect_->numPrograms : 0;
    return count > 0 ? count : 0;
}

// Every name at once, as loading asks for them: a program whose indexed name is
// empty is selected to ask for its current name, and program 0 is selected again
// after them.
bool Vst2Plugin::readProgramNames() const {
    const int32_t count = programCount();
    if (count > kMaxPrograms)
        return false;
    if (programNamesRead_ == count)
        return programNames_ != nullptr || count == 0;
    delete[] programNames_;
    programNames_ = new (std::nothrow) char[size_t(count) * kProgramNameSize];
    if (!programNames_)
        return false;
    programNamesRead_ = count;
    char name[1024];
    bool selectedAnother = false;
    for (int32_t i = 0; i < count; ++i) {
        std::memset(name, 0, sizeof name);
        dispatch(effGetProgramNameIndexed, i, -1, name);
        if (!name[0]) {
            dispatch(effSetProgram, 0, i);
            selectedAnother = true;
            dispatch(effGetProgramName, 0, 0, name);
        }
        name[sizeof name - 1] = '\0';
        copyCut(programNames_ + i * kProgramNameSize, kProgramNameSize, name[0] ? name : "no name",
                kProgramNameSize - 1);
    }
    if (selectedAnother)
        dispatch(effSetProgram, 0, 0);
    return true;
}

bool Vst2Plugin::programName(int32_t index, char* out, size_t size) const {
    if (index < 0 || index >= programCount() || !readProgramNames())
        return false;
    copyCut(out, size, programNames_ + index * kProgramNameSize, kProgramNameSize - 1);
    return true;
}

int32_t Vst2Plugin::currentProgram() const { return int32_t(dispatch(effGetProgram)); }

bool Vst2Plugin::selectProgram(int32_t index) {
    dispatch(effSetProgram, 0, index);
    return true;
}

bool Vst2Plugin::saveState(ByteRecord& record, char* failure, size_t failureSize) {
    record.clear();
    if (failure && failureSize)
        failure[0] = '\0';
    if (effect_->flags & effFlagsProgramChunks) {
        void* chunk = nullptr;
        // Index 1: the current program only.
        VstIntPtr size = dispatch(effGetChunk, 1, 0, &chunk);
        const VstIntPtr answer = size;
        if (size < 0)
            size = 0;
        const bool trusted = size <= VstIntPtr(kMaxChunkBytes) && (size == 0 || chunk);
        // A chunk the host refuses to read stands as an empty one.
        const uint32_t kept = trusted ? uint32_t(size) : 0;
        uint8_t header[kStateRecordHeader];
        writeStateRecordHeader(header, StateForm::Chunk, kept);
        if (!record.append(header, sizeof header, kStateRecordHeader + kMaxChunkBytes) ||
            !record.append(chunk, kept, kStateRecordHeader + kMaxChunkBytes)) {
            record.clear();
            return false;
        }
        if (!trusted && answer <= VstIntPtr(kMaxChunkBytes))
            say(failure, failureSize, "gave a state of %.0f bytes without its data.", double(answer));
        else if (!trusted)
            say(failure, failureSize, "gave a state of %.0f bytes; at most %u MiB can be kept.", double(answer),
                unsigned(kMaxChunkBytes >> 20));
        return trusted;
    }
    int32_t count = effect_->numParams;
    if (count < 0 || !effect_->getParameter)
        count = 0;
    if (count > kMaxStateParameters)
        count = kMaxStateParameters;
    uint8_t header[kStateRecordHeader];
    writeStateRecordHeader(header, StateForm::Parameters, uint32_t(count));
    bool kept = record.append(header, sizeof header);
    for (int32_t i = 0; i < count && kept; ++i) {
        uint8_t bytes[4];
        writeStateParameter(bytes, effect_->getParameter(effect_, i));
        kept = record.append(bytes, sizeof bytes);
    }
    if (!kept)
        record.clear();
    return kept;
}

bool Vst2Plugin::restoreState(const uint8_t* data, size_t size) {
    StateView view;
    if (!readStateRecord(data, size, view))
        return false;
    if (view.form == StateForm::Chunk) {
        // The plug-in may keep the pointer only for the call; it gets its own copy.
        uint8_t* chunk = new (std::nothrow) uint8_t[view.chunkBytes + 1];
        if (!chunk)
            return false;
        if (view.chunkBytes)
            std::memcpy(chunk, view.data, view.chunkBytes);
        dispatch(effSetChunk, 1, VstIntPtr(view.chunkBytes), chunk);
        delete[] chunk;
    } else if (effect_->setParameter) {
        const int32_t count = view.count < effect_->numParams ? view.count : effect_->numParams;
        for (int32_t i = 0; i < count; ++i)
            effect_->setParameter(effect_, i, parameterAt(view, i));
    }
    return true;
}

bool Vst2Plugin::hasEditor() const { return effect_ && (effect_->flags & effFlagsHasEditor); }

bool Vst2Plugin::openEditor(void* parent, int32_t* width, int32_t* height) {
    if (!hasEditor() || editorOpen_ || dispatch(effEditOpen, 0, 0, parent) == 0)
        return false;
    editorOpen_ = true;
    ERect* rect = nullptr;
    dispatch(effEditGetRect, 0, 0, &rect);
    if (rect) {
        *width = rect->right - rect->left;
        *height = rect->bottom - rect->top;
    }
    return true;
}

void Vst2Plugin::closeEditor() {
    if (!editorOpen_)
        return;
    editorOpen_ = false;
    dispatch(effEditClose);
}

// VST 2 editors have one size of their own; the host's frame follows their requests.
bool Vst2Plugin::resizeEditor(int32_t* /*width*/, int32_t* /*height*/) { return false; }

void Vst2Plugin::uiIdle() {
    if (editorOpen_)
        dispatch(effEditIdle);
    if (needsIdle())
        dispatch(effIdle);
}

Vst2Plugin* vst2PluginOf(const ThreadCheckedPlugin* plugin) {
    const PluginInstance* inner = plugin ? plugin->inner() : nullptr;
    for (Vst2Plugin* p = g_instances.first(); p && inner; p = p->next)
        if (static_cast<const PluginInstance*>(p) == inner)
            return p;
    return nullptr;
}
