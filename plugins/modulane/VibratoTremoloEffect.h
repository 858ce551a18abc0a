#pragma once
// Modulane: stereo tremolo (opposite phase on the two channels) and a level swing
// in decibels ("Vibrato"). Both act on amplitude only.
#include "AudioEffect.h"

class VibratoTremoloProgram {
public:
    VibratoTremoloProgram();
    virtual ~VibratoTremoloProgram() {}

    float tremoloDepth;
    float tremoloRate;
    float vibratoDepth;
    float vibratoRate;
    char name[32];
};

class VibratoTremoloEffect : public AudioEffect {
public:
    enum Parameter : VstInt32 { kTremoloDepth, kTremoloRate, kVibratoDepth, kVibratoRate, kNumParams };
    static constexpr VstInt32 kNumPrograms = 16;
    // 2 pi x 7: a knob at 1.0 runs an oscillator at 7 Hz.
    static constexpr float kRadiansPerSecondAtFullRate = 43.982296f;
    // A phase stepping past this restarts at exactly 0.
    static constexpr float kPhaseWrap = 6.2831850f;

    explicit VibratoTremoloEffect(audioMasterCallback audioMaster);
    ~VibratoTremoloEffect() override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    // Host audio thread. The accumulating form does nothing: the record announces
    // processReplacing.
    void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void setProgram(VstInt32 program) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    void setSampleRate(float sampleRate) override;
    void suspend() override;

    float getTremoloPhase() const { return tremoloPhase; }
    float getVibratoPhase() const { return vibratoPhase; }

protected:
    float* parameterOfCurrentProgram(VstInt32 index);

    VibratoTremoloProgram programs[kNumPrograms];
    float tremoloPhase;
    float vibratoPhase;
};
