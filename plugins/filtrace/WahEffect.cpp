#include "WahEffect.h"

#include <cmath>
#include <cstring>

#include "FastMath.h"
#include "ValueText.h"

namespace {

// The sweep never tunes below this (nor above the band-pass's share of the rate).
constexpr float kLowestFrequency = 20.0f;

}  // namespace

WahProgram::WahProgram() : wet(0.5f), centre(0.2f), rate(0.2f), range(0.5f), resonance(0.4f), gain(0.2f) {
    std::memset(name, 0, sizeof name);
}

WahEffect::WahEffect(audioMasterCallback audioMaster)
    : AudioEffect(audioMaster, kNumPrograms, kNumParams), lfoPhase(0.0f) {
    setNumInputs(2);
    setNumOutputs(2);
    canProcessReplacing(true);
    setUniqueID(kTalvenorUniqueId);
    std::memset(filterState, 0, sizeof filterState);
}

WahEffect::~WahEffect() {}

float* WahEffect::parameterOfCurrentProgram(VstInt32 index) {
    WahProgram& program = programs[curProgram];
    switch (index) {
    case kCentre:
        return &program.centre;
    case kResonance:
        return &program.resonance;
    case kRate:
        return &program.rate;
    case kRange:
        return &program.range;
    case kWet:
        return &program.wet;
    case kGain:
        return &program.gain;
    default:
        return nullptr;
    }
}

void WahEffect::setParameter(VstInt32 index, float value) {
    if (float* parameter = parameterOfCurrentProgram(index))
        *parameter = clampParameter(value);
}

float WahEffect::getParameter(VstInt32 index) {
    const float* parameter = parameterOfCurrentProgram(index);
    return parameter ? *parameter : 0.0f;
}

void WahEffect::process(float**, float**, VstInt32) {}

WahEffect::Sweep WahEffect::sweepOfCurrentProgram() const {
    const WahProgram& program = programs[curProgram];
    Sweep sweep;
    sweep.centre = 200.0f + 1800.0f * program.centre;
    sweep.octaves = 0.2f + 1.3f * program.range;
    sweep.q = 1.0f + 11.0f * program.resonance;
    sweep.invQ = 1.0f / sweep.q;
    return sweep;
}

// Worked out several times a block: fastmath rather than the library (see bandPassAtSwept).
float WahEffect::sweptFrequency(const Sweep& sweep) const {
    float f = sweep.centre * fastmath::pow10(0.30103f * sweep.octaves * fastmath::cos(lfoPhase));
    if (f < kLowestFrequency)
        f = kLowestFrequency;
    if (f > kHighestBandShareOfRate * sampleRate)
        f = kHighestBandShareOfRate * sampleRate;
    return f;
}

BandPassCoefficients WahEffect::coefficientsFor(const Sweep& sweep) const {
    return bandPassAtSwept(sweptFrequency(sweep), sampleRate, sweep.q, sweep.invQ);
}

float WahEffect::sweptCentreFrequency() const {
    return sweptFrequency(sweepOfCurrentProgram());
}

BandPassCoefficients WahEffect::coefficientsAtCurrentPhase() const {
    return coefficientsFor(sweepOfCurrentProgram());
}

void WahEffect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (sampleFrames <= 0)
        return;
    const WahProgram& program = programs[curProgram];
    const float wet = program.wet;
    const float dry = 1.0f - wet;
    const float outputGain = 4.0f * program.gain;
    const float step = (1.0f + 49.0f * program.rate) / sampleRate;
    const Sweep sweep = sweepOfCurrentProgram();

    // The two channels are independent filters; running them side by side lets
    // their recursions overlap. Their state lives in locals for the block.
    float state0[4], state1[4];
    std::memcpy(state0, filterState, sizeof state0);
    std::memcpy(state1, filterState + kChannelStateStride, sizeof state1);
    for (VstInt32 pos = 0; pos < sampleFrames; pos += kChunkFrames) {
        const BandPassCoefficients c = coefficientsFor(sweep);
        const VstInt32 remaining = sampleFrames - pos;
        const VstInt32 n = remaining < kChunkFrames ? remaining : kChunkFrames;
        const float* in0 = inputs[0] + pos;
        const float* in1 = inputs[1] + pos;
        float* out0 = outputs[0] + pos;
        float* out1 = outputs[1] + pos;
        for (VstInt32 i = 0; i < n; ++i) {
            const float x0 = in0[i];
            const float x1 = in1[i];
            const float y0 = bandPassStep(c, state0, x0);
            const float y1 = bandPassStep(c, state1, x1);
            out0[i] = outputGain * (wet * y0 + dry * x0);
            out1[i] = outputGain * (wet * y1 + dry * x1);
        }
        lfoPhase = lfoPhase + float(n) * step;
        if (lfoPhase > kTwoPi)
            lfoPhase -= kTwoPi;
    }
    std::memcpy(filterState, state0, sizeof state0);
    std::memcpy(filterState + kChannelStateStride, state1, sizeof state1);
}

void WahEffect::setProgram(VstInt32 program) {
    if (program >= 0 && program < numPrograms)
        curProgram = program;
}

void WahEffect::getProgramName(char* name) {
    valuetext::copyText(name, programs[curProgram].name);
}

void WahEffect::getParameterLabel(VstInt32 index, char* label) {
    static const char* const labels[kNumParams] = {"Hz", "%", "Hz", "oct.", "%", "dB"};
    valuetext::copyTextAt(label, labels, index);
}

void WahEffect::getParameterDisplay(VstInt32 index, char* text) {
    const float v = getParameter(index);
    switch (index) {
    case kCentre:
        valuetext::formatDisplay(text, "%.2f", 200.0f + 1800.0f * v);
        break;
    case kResonance:
    case kWet:
        valuetext::formatDisplay(text, "%.2f", 100.0f * v);
        break;
    case kRate:
        valuetext::formatDisplay(text, "%.2f", 1.0f + 49.0f * v);
        break;
    case kRange:
        valuetext::formatDisplay(text, "%.2f", 0.2f + 1.3f * v);
        break;
    case kGain:
        dB2string(4.0f * v, text);
        break;
    default:
        valuetext::copyText(text, "");
        break;
    }
}

void WahEffect::getParameterName(VstInt32 index, char* text) {
    static const char* const names[kNumParams] = {"Center freq.", "Resonance", "Rate",
                                                  "Freq. range",  "Wet mix",   "Gain"};
    valuetext::copyTextAt(text, names, index);
}

void WahEffect::setSampleRate(float rate) {
    AudioEffect::setSampleRate(rate);
    suspend();
}

void WahEffect::suspend() {
    lfoPhase = 0.0f;
    std::memset(filterState, 0, sizeof filterState);
}
