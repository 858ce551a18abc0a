#include "OverdriveEffect.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "ValueText.h"

const float OverdriveEffect::kBandFrequencies[kNumBands] = {120.0f, 200.0f, 500.0f, 1000.0f, 2000.0f};

namespace {

constexpr float kBandQ = 1.0f;
// The smoothing state decays geometrically and would otherwise sink into
// denormals (and stick there) once the input falls silent; far below audibility
// it is set to zero.
constexpr float kSmoothingFloor = 1e-20f;

// Four single-precision lanes, one band each: the compiler's vector extension,
// which GCC and Clang map to SSE on x86 and to plain code elsewhere. Every
// operation acts on each lane as the scalar operation would.
typedef float Lanes __attribute__((vector_size(16)));
typedef int32_t LaneBits __attribute__((vector_size(16)));
constexpr int kLaneCount = 4;

inline Lanes splat(float value) {
    const Lanes lanes = {value, value, value, value};
    return lanes;
}

inline Lanes absolute(Lanes v) {
    return Lanes(LaneBits(v) & 0x7FFFFFFF);
}

// Lanes whose magnitude is below floor become zero.
inline Lanes zeroBelow(Lanes v, float floor) {
    return Lanes(LaneBits(v) & (absolute(v) >= splat(floor)));
}

}  // namespace

OverdriveProgram::OverdriveProgram() : postGain(0.1f), drive(0.5f), smooth(0.25f), brightness(1.0f) {
    std::memset(name, 0, sizeof name);
    std::strcpy(name, "default");
}

OverdriveEffect::OverdriveEffect(audioMasterCallback audioMaster)
    : AudioEffect(audioMaster, kNumPrograms, kNumParams) {
    std::memset(filterState, 0, sizeof filterState);
    // The host should set its rate before processing; until it does, the filters
    // are tuned for the framework's 44100 Hz rather than left undefined.
    computeCoefficients();
    setProgram(0);
    setNumInputs(1);
    setNumOutputs(1);
    canProcessReplacing(true);
    setUniqueID(kTalvenorUniqueId);
}

OverdriveEffect::~OverdriveEffect() {}

void OverdriveEffect::computeCoefficients() {
    for (int band = 0; band < kNumBands; ++band) {
        float f = kBandFrequencies[band];
        if (f > kHighestBandShareOfRate * sampleRate)
            f = kHighestBandShareOfRate * sampleRate;
        bands[band] = bandPassAt(f, sampleRate, kBandQ, 1.0f / kBandQ);
    }
    dcBlocker = dcBlockerAt(kDcBlockerCorner, sampleRate);
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
    const float weights[kNumBands] = {1.0f, 1.0f, 1.0f, brightWeight, brightWeight};

    // The five bands run side by side in two groups of four lanes (the last
    // three lanes are silent bands with zero coefficients), each lane doing
    // exactly the single-precision steps of one band. The state is unpacked
    // from its stored layout for the block and packed again after it.
    Lanes x1[2] = {}, x2[2] = {}, y1[2] = {}, y2[2] = {}, s[2] = {};
    Lanes b0[2] = {}, a1[2] = {}, a2[2] = {}, bandDrive[2] = {};
    for (int band = 0; band < kNumBands; ++band) {
        const float* stored = filterState + band * kBandStateFloats;
        const int group = band / kLaneCount, lane = band % kLaneCount;
        x1[group][lane] = stored[0];
        x2[group][lane] = stored[1];
        y1[group][lane] = stored[2];
        y2[group][lane] = stored[3];
        s[group][lane] = stored[4];
        b0[group][lane] = bands[band].b0;
        a1[group][lane] = bands[band].a1;
        a2[group][lane] = bands[band].a2;
        bandDrive[group][lane] = drive * weights[band];
    }

    // The blocker's state as locals for the block, so that writing the output
    // (which may alias anything) does not force it through memory every sample.
    const DcBlockerCoefficients blocker = dcBlocker;
    float dcState[2] = {filterState[kDcBlockerState], filterState[kDcBlockerState + 1]};

    const float* in = inputs[0];
    float* out = outputs[0];
    for (VstInt32 n = 0; n < sampleFrames; ++n) {
        // Read before writing: hosts often pass the same buffer for both.
        const float x = in[n];
        const Lanes input = splat(x);
        const Lanes flushedInput = splat(flushTiny(x));
        for (int g = 0; g < 2; ++g) {
            const Lanes y = b0[g] * (input - x2[g]) - a1[g] * y1[g] - a2[g] * y2[g];
            x2[g] = x1[g];
            x1[g] = flushedInput;
            y2[g] = y1[g];
            y1[g] = flushTiny(y);
            const Lanes v = bandDrive[g] * y;
            // v / (1 + |v|): odd, bounded by 1, and accurate for small v (the form
            // 1 - 1 / (1 + |v|) loses the low bits of a quiet band to cancellation).
            const Lanes clipped = v / (1.0f + absolute(v));
            const Lanes smoothed = s[g] + (clipped - s[g]) * smoothing;
            s[g] = zeroBelow(smoothed, kSmoothingFloor);
        }
        float sum = 0.0f;
        for (int band = 0; band < kNumBands; ++band)
            sum += s[band / kLaneCount][band % kLaneCount];
        out[n] = dcBlockerStep(blocker, dcState, sum * kOutputLevel);
    }

    for (int band = 0; band < kNumBands; ++band) {
        float* stored = filterState + band * kBandStateFloats;
        const int group = band / kLaneCount, lane = band % kLaneCount;
        stored[0] = x1[group][lane];
        stored[1] = x2[group][lane];
        stored[2] = y1[group][lane];
        stored[3] = y2[group][lane];
        stored[4] = s[group][lane];
    }
    filterState[kDcBlockerState] = dcState[0];
    filterState[kDcBlockerState + 1] = dcState[1];
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
    valuetext::copyTextAt(label, labels, index);
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
    valuetext::copyTextAt(text, names, index);
}

void OverdriveEffect::setSampleRate(float rate) {
    AudioEffect::setSampleRate(rate);
    computeCoefficients();
    suspend();
}

// The DC blocker's state lies in the same array and is cleared with the bands'.
void OverdriveEffect::suspend() {
    std::memset(filterState, 0, sizeof filterState);
}
