#pragma once
// Overdrive: a mono distortion. Five overlapping band-passes, each driven into a
// soft clipper and smoothed by a one-pole low-pass, summed at a fixed level. The
// clipped bands of an asymmetric waveform carry DC, which a high-pass at 2 Hz takes
// off the sum, so that bypassing the effect does not thump and later effects keep
// their headroom.
#include "AudioEffect.h"
#include "BandPass.h"
#include "DcBlocker.h"

class OverdriveProgram {
public:
    OverdriveProgram();
    virtual ~OverdriveProgram() {}

    float postGain;
    float drive;
    float smooth;
    float brightness;
    char name[32];
};

class OverdriveEffect : public AudioEffect {
public:
    // Hosts are offered only Drive and Smooth; Brightness and Post gain answer to
    // their indices all the same.
    enum Parameter : VstInt32 { kDrive, kSmooth, kBrightness, kPostGain, kParameterCount };
    static constexpr VstInt32 kNumParams = 2;
    static constexpr VstInt32 kNumPrograms = 16;
    static constexpr int kNumBands = 5;
    // Per band: x1, x2, y1, y2, then the smoothing state; after the bands, the
    // DC blocker's x1 and y1.
    static constexpr int kBandStateFloats = 5;
    static constexpr int kDcBlockerState = kNumBands * kBandStateFloats;
    static constexpr int kStateFloats = 100;
    static constexpr float kOutputLevel = 0.1f;
    // Low enough that the level at 20 Hz drops by less than 0.05 dB.
    static constexpr float kDcBlockerCorner = 2.0f;

    explicit OverdriveEffect(audioMasterCallback audioMaster);
    ~OverdriveEffect() override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    // Host audio thread. The accumulating form does nothing: the record announces
    // processReplacing. Only the first input and output channel are used.
    void process(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // Changing the program clears the filters.
    void setProgram(VstInt32 program) override;
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    void setSampleRate(float sampleRate) override;
    void suspend() override;

    static const float kBandFrequencies[kNumBands];
    const BandPassCoefficients& bandCoefficients(int band) const { return bands[band]; }
    const DcBlockerCoefficients& dcBlockerCoefficients() const { return dcBlocker; }
    const float* filterStateFloats() const { return filterState; }

protected:
    // The bands and the DC blocker for the current sample rate.
    void computeCoefficients();
    float* parameterOfCurrentProgram(VstInt32 index);

    OverdriveProgram programs[kNumPrograms];
    BandPassCoefficients bands[kNumBands];
    DcBlockerCoefficients dcBlocker;
    float filterState[kStateFloats];
};
