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

namespace {

// Frames whose gains are evaluated together.
constexpr int kChunkFrames = 32;

struct ChunkGains {
    float tremoloPhase[kChunkFrames];
    float vibratoPhase[kChunkFrames];
    float tremolo0[kChunkFrames];  // 1 - T sin^2
    float tremolo1[kChunkFrames];  // 1 - T cos^2
    float swing[kChunkFrames];     // 10^(V cos)
};

// A stage at zero depth has a gain of exactly 1 (1 - 0 x s^2, and 10^0), so its
// oscillator is stepped but not evaluated: the output is the same to the bit.
inline void evaluateTremolo(ChunkGains& gains, int frames, float depthT) {
    for (int i = 0; i < frames; ++i) {
        float sinT, cosT;
        fastmath::sinCos(gains.tremoloPhase[i], sinT, cosT);
        gains.tremolo0[i] = 1.0f - depthT * (sinT * sinT);
        gains.tremolo1[i] = 1.0f - depthT * (cosT * cosT);
    }
}

inline void evaluateSwing(ChunkGains& gains, int frames, float depthV) {
    for (int i = 0; i < frames; ++i)
        gains.swing[i] = fastmath::pow10(depthV * fastmath::cos(gains.vibratoPhase[i]));
}

inline void unityGains(float* gains, int frames) {
    for (int i = 0; i < frames; ++i)
        gains[i] = 1.0f;
}

// A whole chunk is evaluated with a constant count, which the compiler vectorises
// without a remainder loop.
inline void evaluateGains(ChunkGains& gains, int n, float depthT, float depthV) {
    if (depthT != 0.0f) {
        if (n == kChunkFrames)
            evaluateTremolo(gains, kChunkFrames, depthT);
        else
            evaluateTremolo(gains, n, depthT);
    } else {
        unityGains(gains.tremolo0, n);
        unityGains(gains.tremolo1, n);
    }
    if (depthV != 0.0f) {
        if (n == kChunkFrames)
            evaluateSwing(gains, kChunkFrames, depthV);
        else
            evaluateSwing(gains, n, depthV);
    } else {
        unityGains(gains.swing, n);
    }
}

// One step of an oscillator; a phase stepping past the wrap restarts at exactly 0.
inline float nextPhase(float phase, float step) {
    phase += step;
    return phase > VibratoTremoloEffect::kPhaseWrap ? 0.0f : phase;
}

}  // namespace

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
    // shared. Per chunk, the phases are stepped first (a serial recurrence), then
    // the gains are evaluated over the chunk in a loop the compiler vectorises.
    float phaseT = tremoloPhase;
    float phaseV = vibratoPhase;
    if (depthT == 0.0f && depthV == 0.0f) {
        // Both stages at zero depth: the signal passes unchanged (to the bit, as it
        // would through unity gains) and only the oscillators run on.
        for (VstInt32 i = 0; i < sampleFrames; ++i) {
            phaseT = nextPhase(phaseT, stepT);
            phaseV = nextPhase(phaseV, stepV);
        }
        for (int ch = 0; ch < 2; ++ch)
            if (outputs[ch] != inputs[ch])
                std::memmove(outputs[ch], inputs[ch], sizeof(float) * size_t(sampleFrames));
        tremoloPhase = phaseT;
        vibratoPhase = phaseV;
        return;
    }
    for (VstInt32 start = 0; start < sampleFrames; start += kChunkFrames) {
        const VstInt32 remaining = sampleFrames - start;
        const int n = remaining < kChunkFrames ? int(remaining) : kChunkFrames;
        ChunkGains gains;
        for (int i = 0; i < n; ++i) {
            gains.tremoloPhase[i] = phaseT;
            phaseT = nextPhase(phaseT, stepT);
            gains.vibratoPhase[i] = phaseV;
            phaseV = nextPhase(phaseV, stepV);
        }
        evaluateGains(gains, n, depthT, depthV);

        const float* in0 = inputs[0] + start;
        const float* in1 = inputs[1] + start;
        float* out0 = outputs[0] + start;
        float* out1 = outputs[1] + start;
        for (int i = 0; i < n; ++i) {
            const float x0 = in0[i];
            const float x1 = in1[i];
            out0[i] = gains.swing[i] * x0 * gains.tremolo0[i];
            out1[i] = gains.swing[i] * x1 * gains.tremolo1[i];
        }
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
    valuetext::copyTextAt(label, labels, index);
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
    valuetext::copyTextAt(text, names, index);
}

void VibratoTremoloEffect::setSampleRate(float rate) {
    AudioEffect::setSampleRate(rate);
    suspend();
}

void VibratoTremoloEffect::suspend() {
    tremoloPhase = 0.0f;
    vibratoPhase = 0.0f;
}
