#include "OverdriveEffect.h"

#include <cmath>
#include <cstring>

#include "ValueText.h"

const float OverdriveEffect::kBandFrequencies[kNumBands] = {120.0f, 200.0f, 500.0f, 1000.0f, 2000.0f};

namespace {

constexpr float kBandQ = 1.0f;
// A band is never tuned above this share of the sample rate: at or beyond the
// Nyquist frequency the design turns unstable.
constexpr float kHighestShareOfRate = 0.4761905f;
// The smoothing state decays geometrically and would otherwise sink into
// denormals (and stick there) once the input falls silent; far below audibility
// it is set to zero.
constexpr float kSmoothingFloor = 1e-20f;

}  // namespace

OverdriveProgram::OverdriveProgram() : postGain(0.1f), drive(0.5f), smooth(0.25f), brightness(1.0f) {
    std::memset(name, 0, sizeof name);
    std::strcpy(name, "default");
}

OverdriveEffect::OverdriveEffect(audioMasterCallback audioMaster)
    : AudioEffect(audioMaster, kNumPrograms, kNumParams) {
    std::memset(filterState, 0, sizeof filterState);
    // The host should set its rate before processing; until it does, the bands
    // are tuned for the framework's 44100 Hz rather than left undefined.
    computeBandCoefficients();
    setProgram(0);
    setNumInputs(1);
    setNumOutputs(1);
    canProcessReplacing(true);
    setUniqueID(kTalvenorUniqueId);
}

OverdriveEffect::~OverdriveEffect() {}

void OverdriveEffect::computeBandCoefficients() {
    for (int band = 0; band < kNumBands; ++band) {
        float f = kBandFrequencies[band];
        if (f > kHighestShareOfRate * sampleRate)
            f = kHighestShareOfRate * sampleRate;
        const float w = 6.283185307f * f / sampleRate;
        const float alpha = std::sin(w) * 0.5f / kBandQ;
        bands[band] = bandPassFromAlpha(alpha, std::cos(w), kBandQ);
    }
}

float* OverdriveEffect::parameterOfCurrentProgram(VstInt32 index) {
    OverdriveProgram& program = programs[curProgram];
    switch (index) {
    case kDrive:
        return &program.drive;
    case kSmooth:
        return &program.smooth;
    case kBrightness:
        return &program.brightness;
    case kPostGain:
        return &program.postGain;
    default:
        return nullptr;
    }
}

void OverdriveEffect::setParameter(VstInt32 index, float value) {
    if (float* parameter = parameterOfCurrentProgram(index))
        *parameter = clampParameter(value);
}

float OverdriveEffect::getParameter(VstInt32 index) {
    const float* parameter = parameterOfCurrentProgram(index);
    return parameter ? *parameter : 0.0f;
}

void OverdriveEffect::process(float**, float**, VstInt32) {}

void OverdriveEffect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (sampleFrames <= 0)
        return;
    const OverdriveProgram& program = programs[curProgram];
    const float roughness = 1.0f - program.smooth;
    const float smoothing = roughness * roughness * 0.7f + 0.1f;
    const float drive = std::pow(2.0f, 10.0f * program.drive) + 1.0f;
    const float brightWeight = 1.0f + program.brightness;
    const float bandDrive[kNumBands] = {drive * 1.0f, drive * 1.0f, drive * 1.0f, drive * brightWeight,
                                        drive * brightWeight};
    const BandPassCoefficients coefficients[kNumBands] = {bands[0], bands[1], bands[2], bands[3], bands[4]};

    const float* in = inputs[0];
    float* out = outputs[0];
    for (VstInt32 n = 0; n < sampleFrames; ++n) {
        // Read before writing: hosts often pass the same buffer for both.
        const float x = in[n];
        float sum = 0.0f;
        for (int band = 0; band < kNumBands; ++band) {
            float* state = filterState + band * kBandStateFloats;
            const float y = bandPassStep(coefficients[band], state, x);
            const float v = bandDrive[band] * y;
            const float clipped = std::copysign(1.0f - 1.0f / (1.0f + std::fabs(v)), v);
            float s = state[4] + (clipped - state[4]) * smoothing;
            if (std::fabs(s) < kSmoothingFloor)
                s = 0.0f;
            state[4] = s;
            sum += s;
        }
        out[n] = sum * kOutputLevel;
    }
}

void OverdriveEffect::setProgram(VstInt32 program) {
    if (program < 0 || program >= numPrograms)
        return;
    curProgram = program;
    suspend();
}

void OverdriveEffect::getProgramName(char* name) {
    valuetext::copyText(name, programs[curProgram].name);
}

void OverdriveEffect::getParameterLabel(VstInt32 index, char* label) {
    static const char* const labels[kParameterCount] = {"%", "%", "%", "dB"};
    valuetext::copyText(label, index >= 0 && index < kParameterCount ? labels[index] : "");
}

void OverdriveEffect::getParameterDisplay(VstInt32 index, char* text) {
    if (index == kPostGain)
        dB2string(getParameter(index), text);
    else if (index >= 0 && index < kParameterCount)
        valuetext::formatDisplay(text, "%.2f", 100.0f * getParameter(index));
    else
        valuetext::copyText(text, "");
}

void OverdriveEffect::getParameterName(VstInt32 index, char* text) {
    static const char* const names[kParameterCount] = {"Drive", "Smooth", "Brightness", "Post gain"};
    valuetext::copyText(text, index >= 0 && index < kParameterCount ? names[index] : "");
}

void OverdriveEffect::setSampleRate(float rate) {
    AudioEffect::setSampleRate(rate);
    computeBandCoefficients();
    suspend();
}

void OverdriveEffect::suspend() {
    std::memset(filterState, 0, sizeof filterState);
}
