#include "AudioEffect.h"

#include <cmath>
#include <cstring>

#include "ValueText.h"

namespace {

constexpr VstInt32 kDefaultUniqueId = fourCharCode('N', 'o', 'E', 'f');

AudioEffect* objectOf(AEffect* record) {
    return record ? static_cast<AudioEffect*>(record->object) : nullptr;
}

// The five functions the record points to. Each reaches the object through the
// record; effClose ends the object's life here, after it has seen the opcode.
VstIntPtr VSTCALLBACK dispatchEntry(AEffect* record, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                    float opt) {
    AudioEffect* effect = objectOf(record);
    if (!effect)
        return 0;
    const VstIntPtr result = effect->dispatcher(opcode, index, value, ptr, opt);
    if (opcode == effClose) {
        delete effect;
        return 1;
    }
    return result;
}

void VSTCALLBACK processEntry(AEffect* record, float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (AudioEffect* effect = objectOf(record))
        effect->process(inputs, outputs, sampleFrames);
}

void VSTCALLBACK processReplacingEntry(AEffect* record, float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (AudioEffect* effect = objectOf(record))
        effect->processReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK setParameterEntry(AEffect* record, VstInt32 index, float value) {
    if (AudioEffect* effect = objectOf(record))
        effect->setParameter(index, value);
}

float VSTCALLBACK getParameterEntry(AEffect* record, VstInt32 index) {
    AudioEffect* effect = objectOf(record);
    return effect ? effect->getParameter(index) : 0.0f;
}

}  // namespace

bool isUsableSampleRate(float rate) {
    return std::isfinite(rate) && rate > 0.0f;
}

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : sampleRate(44100.0f),
      editor(nullptr),
      audioMaster(audioMaster),
      numPrograms(numPrograms),
      numParams(numParams),
      curProgram(0),
      blockSize(1024),
      instanceHolder(nullptr) {
    std::memset(&cEffect, 0, sizeof cEffect);
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEntry;
    cEffect.process = processEntry;
    cEffect.setParameter = setParameterEntry;
    cEffect.getParameter = getParameterEntry;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = kDefaultUniqueId;
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingEntry;
}

AudioEffect::~AudioEffect() {
    delete editor;
    if (instanceHolder && *instanceHolder == this)
        *instanceHolder = nullptr;
}

void AudioEffect::setParameter(VstInt32, float) {}

float AudioEffect::getParameter(VstInt32) {
    return 0.0f;
}

VstIntPtr AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    return callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::processReplacing(float**, float**, VstInt32) {}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        // A number outside the program list would index past the programs.
        if (value >= 0 && value < numPrograms)
            setProgram(VstInt32(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(text);
        return 0;
    case effGetProgramName:
        getProgramName(text);
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, text);
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, text);
        return 0;
    case effGetParamName:
        getParameterName(index, text);
        return 0;
    case effGetVu: {
        const double vu = double(getVu()) * 32767.0;
        if (!(vu > -2147483648.0 && vu < 2147483647.0))  // NaN and overflow answer nothing usable
            return 0;
        return VstIntPtr(VstInt32(vu));
    }
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(VstInt32(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect:
        return editor ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
    case effEditOpen:
        return editor ? editor->open(ptr) : 0;
    case effEditClose:
        if (editor)
            editor->close();
        return 0;
    case effEditIdle:
        if (editor)
            editor->idle();
        return 0;
    case effIdentify:
        return kEffectIdentifyAnswer;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, VstInt32(value), index != 0);
    default:
        // The VST 2.0 base only: everything else, including every opcode above 24.
        return 0;
    }
}

void AudioEffect::open() {}

void AudioEffect::close() {}

VstInt32 AudioEffect::getProgram() {
    return curProgram;
}

void AudioEffect::setProgram(VstInt32 program) {
    curProgram = program;
}

void AudioEffect::setProgramName(char* name) {
    if (name)
        name[0] = '\0';
}

void AudioEffect::getProgramName(char* name) {
    valuetext::copyText(name, "");
}

void AudioEffect::getParameterLabel(VstInt32, char* label) {
    valuetext::copyText(label, "");
}

void AudioEffect::getParameterDisplay(VstInt32, char* text) {
    valuetext::copyText(text, "");
}

void AudioEffect::getParameterName(VstInt32, char* text) {
    valuetext::copyText(text, "");
}

float AudioEffect::getVu() {
    return 0.0f;
}

VstInt32 AudioEffect::getChunk(void**, bool) {
    return 0;
}

VstInt32 AudioEffect::setChunk(void*, VstInt32, bool) {
    return 0;
}

void AudioEffect::setSampleRate(float rate) {
    if (isUsableSampleRate(rate))
        sampleRate = rate;
}

void AudioEffect::setBlockSize(VstInt32 size) {
    blockSize = size;
}

void AudioEffect::suspend() {}

void AudioEffect::resume() {}

void AudioEffect::setUniqueID(VstInt32 id) {
    cEffect.uniqueID = id;
}

void AudioEffect::setNumInputs(VstInt32 inputs) {
    cEffect.numInputs = inputs;
}

void AudioEffect::setNumOutputs(VstInt32 outputs) {
    cEffect.numOutputs = outputs;
}

void AudioEffect::setFlag(VstInt32 flag, bool state) {
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

void AudioEffect::hasVu(bool state) {
    setFlag(effFlagsHasVu, state);
}

void AudioEffect::hasClip(bool state) {
    setFlag(effFlagsHasClip, state);
}

void AudioEffect::canMono(bool state) {
    setFlag(effFlagsCanMono, state);
}

void AudioEffect::canProcessReplacing(bool state) {
    setFlag(effFlagsCanReplacing, state);
}

void AudioEffect::programsAreChunks(bool state) {
    setFlag(effFlagsProgramChunks, state);
}

void AudioEffect::setRealtimeQualities(VstInt32 qualities) {
    cEffect.realQualities = qualities;
}

void AudioEffect::setOfflineQualities(VstInt32 qualities) {
    cEffect.offQualities = qualities;
}

void AudioEffect::setInitialDelay(VstInt32 delay) {
    cEffect.initialDelay = delay;
}

float AudioEffect::getSampleRate() {
    return sampleRate;
}

VstInt32 AudioEffect::getBlockSize() {
    return blockSize;
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

VstInt32 AudioEffect::getMasterVersion() {
    const VstInt32 version = VstInt32(callHost(audioMasterVersion));
    return version != 0 ? version : 1;
}

VstInt32 AudioEffect::getCurrentUniqueId() {
    return VstInt32(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle() {
    callHost(audioMasterIdle);
}

bool AudioEffect::isInputConnected(VstInt32 input) {
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(VstInt32 output) {
    return callHost(audioMasterPinConnected, output, 1) == 0;
}

void AudioEffect::dB2string(float value, char* text) {
    valuetext::dB2string(value, text);
}

void AudioEffect::Hz2string(float samples, char* text) {
    valuetext::Hz2string(sampleRate, samples, text);
}

void AudioEffect::ms2string(float samples, char* text) {
    valuetext::ms2string(sampleRate, samples, text);
}

void AudioEffect::float2string(float value, char* text) {
    valuetext::float2string(value, text);
}

void AudioEffect::long2string(VstInt32 value, char* text) {
    valuetext::long2string(value, text);
}
