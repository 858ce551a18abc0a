#include "VibratoTremoloEffect.h"

#include <cstring>

#include "FastMath.h"
#include "ValueText.h"

VibratoTremoloProgram::VibratoTremoloProgram()
    : tremoloDepth(0.0f), tremoloRate(0.2f), vibratoDepth(0.0f), vibratoRate(0.2f) {
    std::memset(name, 0, sizeof name);
    std::strcpy(name, "default");
}

VibratoTremoloEffect::VibratoTremoloEffect(audioMasterCallback audioMaster)
    : AudioEffect(audioMaster, kNumPrograms, kNumParams), tremoloPhase(0.0f), vibratoPhase(0.0f) {
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing(true);
    setUniqueID(kTalvenorUniqueId);
}

VibratoTremoloEffect::~VibratoTremoloEffect() {}

float* VibratoTremoloEffect::parameterOfCurrentProgram(VstInt32 index) {
    VibratoTremoloProgram& program = programs[curProgram];
    switch (index) {
    case kTremoloDepth:
        return &program.tremoloDepth;
    case kTremoloRate:
        return &program.tremoloRate;
    case kVibratoDepth:
        return &program.vibratoDepth;
    case kVibratoRate:
        return &program.vibratoRate;
    default:
        return nullptr;
    }
}

void VibratoTremoloEffect::setParameter(VstInt32 index, float value) {
    if (float* parameter = parameterOfCurrentProgram(index))
        *parameter = clampParameter(value);
}

float VibratoTremoloEffect::getParameter(VstInt32 index) {
    const float* parameter = parameterOfCurrentProgram(index);
    return parameter ? *parameter : 0.0f;
}

void VibratoTremoloEffect::process(float**, float**, VstInt32) {}

void VibratoTremoloEffect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (sampleFrames <= 0)
        return;
    const VibratoTremoloProgram& program = programs[curProgram];
    const float isr = 1.0f / sampleRate;
    const float stepT = isr * program.tremoloRate * kRadiansPerSecondAtFullRate;
    const float stepV = isr * program.vibratoRate * kRadiansPerSecondAtFullRate;
    const float depthT = program.tremoloDepth;
    const float depthV = program.vibratoDepth;

    // Both channels follow the same phase trajectory from the block's starting
    // phases, so the oscillators are evaluated once per frame for both: sin of
    // the tremolo phase dips channel 0, cos dips channel 1, the level swing is
    // shared.
    const float* in0 = inputs[0];
    const float* in1 = inputs[1];
    float* out0 = outputs[0];
    float* out1 = outputs[1];
    float phaseT = tremoloPhase;
    float phaseV = vibratoPhase;
    for (VstInt32 i = 0; i < sampleFrames; ++i) {
        float sinT, cosT;
        fastmath::sinCos(phaseT, sinT, cosT);
        const float gain0 = 1.0f - depthT * (sinT * sinT);
        const float gain1 = 1.0f - depthT * (cosT * cosT);
        phaseT += stepT;
        if (phaseT > kPhaseWrap)
            phaseT = 0.0f;

        const float swing = fastmath::pow10(depthV * fastmath::cos(phaseV));
        phaseV += stepV;
        if (phaseV > kPhaseWrap)
            phaseV = 0.0f;

        const float x0 = in0[i];
        const float x1 = in1[i];
        out0[i] = swing * x0 * gain0;
        out1[i] = swing * x1 * gain1;
    }
    tremoloPhase = phaseT;
    vibratoPhase = phaseV;
}

void VibratoTremoloEffect::setProgram(VstInt32 program) {
    if (program < 0 || program >= numPrograms)
        return;
    curProgram = program;
    suspend();
}

void VibratoTremoloEffect::getProgramName(char* name) {
    valuetext::copyText(name, programs[curProgram].name);
}

void VibratoTremoloEffect::getParameterLabel(VstInt32 index, char* label) {
    static const char* const labels[kNumParams] = {"%", "Hz", "dB", "Hz"};
    valuetext::copyText(label, index >= 0 && index < kNumParams ? labels[index] : "");
}

void VibratoTremoloEffect::getParameterDisplay(VstInt32 index, char* text) {
    static const float scales[kNumParams] = {100.0f, 7.0f, 20.0f, 7.0f};
    if (index < 0 || index >= kNumParams) {
        valuetext::copyText(text, "");
        return;
    }
    valuetext::formatDisplay(text, "%.2f", scales[index] * getParameter(index));
}

void VibratoTremoloEffect::getParameterName(VstInt32 index, char* text) {
    static const char* const names[kNumParams] = {"Tremelo", "Trem. rate", "Vibrato", "Vib. rate"};
    valuetext::copyText(text, index >= 0 && index < kNumParams ? names[index] : "");
}

void VibratoTremoloEffect::setSampleRate(float rate) {
    AudioEffect::setSampleRate(rate);
    suspend();
}

void VibratoTremoloEffect::suspend() {
    tremoloPhase = 0.0f;
    vibratoPhase = 0.0f;
}
