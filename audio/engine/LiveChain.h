#pragma once
#include <cstdint>

#include "ChainStages.h"
#include "DcFilter.h"
#include "FormatRecord.h"
#include "LastValue.h"
#include "LiveSettings.h"
#include "Metronome.h"
#include "NoiseGate.h"
#include "Relaxed.h"

// The per-buffer work of live input: a driver buffer goes in, the processed buffer
// comes out. Owned by LiveEngine, which calls processBlock from the driver's buffer
// callback. Allocates nothing, takes no lock and makes no system call of its own;
// the effect host, recorder and accompaniment it calls keep the same rules.
class LiveChain {
public:
    static constexpr int32_t kMaxSubBlock = 1024;

    // The chain reads the user's values from settings; until they are attached (the
    // shell creates LiveSettings after the engine) it uses the defaults.
    explicit LiveChain(LiveSettings* settings = nullptr);
    virtual ~LiveChain();
    LiveChain(const LiveChain&) = delete;
    LiveChain& operator=(const LiveChain&) = delete;

    // --- UI thread, while the driver is not calling back ---
    void attachSettings(LiveSettings* settings) { settings_ = settings ? settings : &defaults_; }
    LiveSettings& settings() { return *settings_; }
    void attachEffects(ChainEffects* effects) { effects_ = effects; }
    void attachRecorder(ChainRecorder* recorder) { recorder_ = recorder; }
    void attachAccompaniment(ChainAccompaniment* accompaniment) { accompaniment_ = accompaniment; }
    void attachTuner(ChainTuner* tuner) { tuner_ = tuner; }
    // The MIDI control point and the performance switch, each run once per driver
    // block before its work (null: none).
    void attachMidi(ChainMidi* midi) { midi_ = midi; }
    void attachSwitch(ChainSwitch* performanceSwitch) { switch_ = performanceSwitch; }
    void setClick(const int16_t* samples, uint32_t sizeBytes) { metronome_.setClick(samples, sizeBytes); }
    // Start of live input: gate windows sized for the rate and cleared, metronome reset.
    // False when a gate window could not be allocated (the gate then does nothing).
    bool prepareForStart(double sampleRate);
    // Stop of live input: the DC filter forgets; gate state and peaks stay.
    void clearDcFilter() { dcFilter_.clear(); }

    // --- any thread: the driver may announce a new rate from its own thread ---
    void setSampleRate(double rate) { sampleRate_ = rate; }
    double sampleRate() const { return sampleRate_; }

    // --- driver thread ---
    // inputs and outputs: arrays ended by a null position (at most two of each are
    // used); their positions advance by the frames consumed or produced.
    void processBlock(ChannelBuffer* inputs, ChannelBuffer* outputs, int32_t frames);

    // --- read-only values for the meters (any thread) ---
    float inputPeakLeft() const { return peaks_[0]; }
    float inputPeakRight() const { return peaks_[1]; }
    float outputPeakLeft() const { return peaks_[2]; }
    float outputPeakRight() const { return peaks_[3]; }

    const DcFilter& dcFilter() const { return dcFilter_; }
    const NoiseGate& noiseGate() const { return gate_; }
    const Metronome& metronome() const { return metronome_; }

private:
    void processSubBlock(ChannelBuffer* inputs, ChannelBuffer* outputs, int32_t frames);

    LiveSettings defaults_;
    LiveSettings* settings_;
    LastValue<float, float> inGain_, outGain_;  // the gain law's pow() per knob value
    ChainEffects* effects_ = nullptr;
    ChainRecorder* recorder_ = nullptr;
    ChainAccompaniment* accompaniment_ = nullptr;
    ChainTuner* tuner_ = nullptr;
    ChainMidi* midi_ = nullptr;
    ChainSwitch* switch_ = nullptr;
    // The tuner's mute as a gain, ramped across a sub-block when it changes: muting
    // and unmuting do not click.
    float tunerOutputGain_ = 1.0f;
    float tunerRecordingGain_ = 1.0f;

    alignas(16) float live_[2][kMaxSubBlock];
    alignas(16) float output_[2][kMaxSubBlock];
    alignas(16) float dry_[2][kMaxSubBlock];  // the effects' input, while a switch crossfades
    const float* dryChannels_[2];
    float* liveChannels_[2];
    float* outputChannels_[2];

    DcFilter dcFilter_;
    NoiseGate gate_;
    Metronome metronome_;
    Relaxed<double> sampleRate_{44100.0};
    Relaxed<float> peaks_[4];
};

// Both gains follow dB = 80 * v - 60: -60 dB at 0, 0 dB at 0.75, +20 dB at 1.
float gainFactor(float knob);

// The largest absolute sample value, 0.0 for silence.
float peakOf(const float* samples, int32_t count);
