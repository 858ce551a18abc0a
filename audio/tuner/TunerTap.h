#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "ChainStages.h"
#include "PitchDetector.h"
#include "Relaxed.h"
#include "SampleRing.h"
#include "TunerTracker.h"

// The tuner between the live chain and whoever shows its reading. The driver thread
// taps the input into a ring (both channels summed); one analysis thread (the
// program's or the rig's) runs work, which analyses every hop of about 23 ms; any
// thread reads the latest reading.
class TunerTap : public ChainTuner {
public:
    struct Reading {
        TunerDisplay display;
        double seconds = 0.0;  // of audio heard since listening began
        uint64_t serial = 0;   // grows with every analysis
    };

    TunerTap();
    ~TunerTap() override;
    TunerTap(const TunerTap&) = delete;
    TunerTap& operator=(const TunerTap&) = delete;

    // --- UI thread ---
    // While listening (the tuner is open) the input is analysed and, if chosen, the
    // output muted. Listening anew starts from an empty reading.
    void setListening(bool on);
    bool listening() const { return listening_; }
    void setMuteOutput(bool on) { muteOutput_ = on; }
    void setMuteRecording(bool on) { muteRecording_ = on; }
    void setReferenceA(double hz) { referenceA_ = validReferenceA(hz); }

    // --- ChainTuner: driver thread ---
    void tapInput(const float* const* channels, int32_t channelCount, int32_t frames, double rate) override;
    bool mutesOutput() const override { return listening_ && muteOutput_; }
    bool mutesRecording() const override { return muteRecording_; }

    // --- the analysis thread ---
    // Takes what the ring holds and analyses each hop; false when there was nothing.
    bool work();

    // --- any thread ---
    Reading latest() const;
    // Samples tapped and not yet analysed.
    size_t pendingSamples() const { return ring_.size(); }
    // The reading at each whole second of audio heard, oldest first, for a log (the
    // rig's lines); false when none is waiting. The oldest are let go past kSecondLog.
    bool takeSecondReading(Reading* reading);
    static constexpr int kSecondLog = 64;

private:
    static constexpr size_t kRingSamples = 1 << 15;  // 0.7 s at 44.1 kHz
    static constexpr size_t kChunk = 1024;

    SampleRing<kRingSamples> ring_;
    Relaxed<bool> listening_{false};
    Relaxed<bool> muteOutput_{true};
    Relaxed<bool> muteRecording_{false};
    Relaxed<double> referenceA_{kDefaultReferenceA};
    Relaxed<double> rate_{0.0};
    std::atomic<uint32_t> epoch_{0};  // grows when listening begins
    std::atomic<size_t> listenFrom_{0};  // the ring's written() when it last began

    // The analysis thread's own.
    PitchDetector* detector_ = nullptr;
    double detectorRate_ = 0.0;  // the input rate detector_ was made for
    TunerTracker tracker_;
    uint32_t workEpoch_ = 0;
    double heardSamples_ = 0.0;
    size_t hop_ = 1024;
    float chunk_[kChunk];

    mutable std::mutex latestLock_;  // between the analysis thread and readers
    Reading latest_;
    Reading secondLog_[kSecondLog];
    int secondLogFirst_ = 0, secondLogCount_ = 0;
    double nextSecond_ = 1.0;  // the analysis thread's: the next whole second to log
};
