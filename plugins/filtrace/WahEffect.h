#pragma once
// Filtrace: a stereo auto-wah. A resonant band-pass swept exponentially around a
// centre frequency by a sine oscillator, mixed with the dry signal. The filter is
// re-tuned once per 44-sample chunk.
#include "AudioEffect.h"
#include "BandPass.h"

class WahProgram {
public:
    WahProgram();
    virtual ~WahProgram() {}

    float wet;
    float centre;
    float rate;
    float range;
    float resonance;
    float gain;
    char name[32];
};

class WahEffect : public AudioEffect {
public:
    enum Parameter : VstInt32 { kCentre, kResonance, kRate, kRange, kWet, kGain, kNumParams };
    static constexpr VstInt32 kNumPrograms = 16;
    // Samples processed with one set of filter coefficients.
    static constexpr VstInt32 kChunkFrames = 44;
    static constexpr float kTwoPi = 6.2831855f;
    // Per-channel filter state: x1, x2, y1, y2 at the start of each stride.
    static constexpr int kStateFloats = 50;
    static constexpr int kChannelStateStride = 8;

    explicit WahEffect(audioMasterCallback audioMaster);
    ~WahEffect() override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    // Host audio thread. The accumulating form does nothing: the record announces
    // processReplacing.
    void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // Changing the program keeps the sweep and the filter running.
    void setProgram(VstInt32 program) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    void setSampleRate(float sampleRate) override;
    void suspend() override;

    float getLfoPhase() const { return lfoPhase; }
    // Where the sweep tunes the filter at the current phase with the current program.
    float sweptCentreFrequency() const;
    BandPassCoefficients coefficientsAtCurrentPhase() const;

protected:
    // The program's values that shape the sweep, read once per block.
    struct Sweep {
        float centre;   // Hz
        float octaves;  // either side of the centre
        float q;
        float invQ;
    };
    Sweep sweepOfCurrentProgram() const;
    float sweptFrequency(const Sweep& sweep) const;
    BandPassCoefficients coefficientsFor(const Sweep& sweep) const;
    float* parameterOfCurrentProgram(VstInt32 index);

    WahProgram programs[kNumPrograms];
    float lfoPhase;
    float filterState[kStateFloats];
};
