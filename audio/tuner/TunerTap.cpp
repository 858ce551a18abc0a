#include "TunerTap.h"

#include <cmath>
#include <new>

#include "LiveChain.h"

TunerTap::TunerTap() = default;

TunerTap::~TunerTap() { delete detector_; }

void TunerTap::setListening(bool on) {
    if (on && !listening_) {
        // The reading empties now, under the lock an analysis publishes under, so no
        // note from the earlier listening can show after this returns.
        std::lock_guard<std::mutex> hold(latestLock_);
        listenFrom_.store(ring_.written(), std::memory_order_relaxed);
        epoch_.fetch_add(1, std::memory_order_release);
        latest_ = Reading{TunerDisplay(), 0.0, latest_.serial + 1};
        secondLogCount_ = 0;
    }
    listening_ = on;
}

void TunerTap::tapInput(const float* const* channels, int32_t channelCount, int32_t frames, double rate) {
    if (!listening_ || frames <= 0 || channelCount <= 0 || !channels)
        return;
    rate_ = rate;
    float mono[LiveChain::kMaxSubBlock];
    const int32_t n = frames < LiveChain::kMaxSubBlock ? frames : LiveChain::kMaxSubBlock;
    if (channelCount >= 2) {
        for (int32_t i = 0; i < n; ++i)
            mono[i] = 0.5f * (channels[0][i] + channels[1][i]);
        ring_.push(mono, size_t(n));
    } else {
        ring_.push(channels[0], size_t(n));
    }
}

// About 23 ms of input between analyses (1024 frames at 44.1 kHz).
static size_t hopFor(double rate) {
    const double frames = rate * 0.0232;
    return frames < 256.0 ? 256 : size_t(frames);
}

bool TunerTap::work() {
    const uint32_t epoch = epoch_.load(std::memory_order_acquire);
    const double rate = rate_;
    if (epoch != workEpoch_ || rate != detectorRate_) {
        // Listening began anew, or the input's rate changed: a fresh start.
        delete detector_;
        detector_ = rate > 0.0 ? new (std::nothrow) PitchDetector(rate) : nullptr;
        detectorRate_ = rate;
        workEpoch_ = epoch;
        tracker_.reset();
        heardSamples_ = 0.0;
        nextSecond_ = 1.0;
        hop_ = hopFor(rate);
        // What the earlier listening left in the ring is not this one's to hear.
        ring_.discardUntil(listenFrom_.load(std::memory_order_relaxed));
        std::lock_guard<std::mutex> hold(latestLock_);
        latest_ = Reading{TunerDisplay(), 0.0, latest_.serial + 1};
        secondLogCount_ = 0;
    }
    tracker_.setReferenceA(referenceA_);
    const bool analysing = detector_ && detector_->ok();
    bool did = false;
    for (;;) {
        if (epoch_.load(std::memory_order_acquire) != workEpoch_)
            break;  // listening began anew: the next call starts fresh
        size_t wanted = kChunk;
        if (analysing && hop_ - detector_->fedSinceAnalysis() < wanted)
            wanted = hop_ - detector_->fedSinceAnalysis();
        const size_t n = ring_.pop(chunk_, wanted);
        if (n == 0)
            break;
        did = true;
        heardSamples_ += double(n);
        if (!analysing)
            continue;
        detector_->feed(chunk_, n);
        if (detector_->fedSinceAnalysis() < hop_)
            continue;
        const double seconds = heardSamples_ / rate;
        const TunerDisplay shown = tracker_.update(detector_->analyse(), seconds);
        std::lock_guard<std::mutex> hold(latestLock_);
        if (epoch_.load(std::memory_order_relaxed) != workEpoch_)
            break;
        latest_ = Reading{shown, seconds, latest_.serial + 1};
        if (seconds >= nextSecond_) {
            if (secondLogCount_ == kSecondLog) {
                secondLogFirst_ = (secondLogFirst_ + 1) % kSecondLog;
                --secondLogCount_;
            }
            Reading& logged = secondLog_[(secondLogFirst_ + secondLogCount_++) % kSecondLog];
            logged = latest_;
            logged.seconds = nextSecond_;
            nextSecond_ = std::floor(seconds) + 1.0;
        }
    }
    return did;
}

bool TunerTap::takeSecondReading(Reading* reading) {
    std::lock_guard<std::mutex> hold(latestLock_);
    if (secondLogCount_ == 0 || !reading)
        return false;
    *reading = secondLog_[secondLogFirst_];
    secondLogFirst_ = (secondLogFirst_ + 1) % kSecondLog;
    --secondLogCount_;
    return true;
}

TunerTap::Reading TunerTap::latest() const {
    std::lock_guard<std::mutex> hold(latestLock_);
    return latest_;
}
