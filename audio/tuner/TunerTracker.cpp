#include "TunerTracker.h"

#include <cmath>

namespace {
double centsApart(double a, double b) { return std::fabs(1200.0 * std::log2(a / b)); }
}  // namespace

void TunerTracker::reset() {
    recentCount_ = 0;
    previous_ = 0.0;
    lastPitchedAt_ = -1e9;
    display_ = TunerDisplay();
}

TunerDisplay TunerTracker::update(const PitchEstimate& estimate, double seconds) {
    if (!estimate.pitched || !(estimate.frequency > 0.0)) {
        previous_ = 0.0;
        if (seconds - lastPitchedAt_ > kHoldSeconds) {
            display_.showing = false;
            recentCount_ = 0;
        }
        return display_;
    }
    const double f = estimate.frequency;
    const bool agrees = previous_ > 0.0 && centsApart(f, previous_) <= kAgreeCents;
    previous_ = f;
    if (!agrees) {
        // A first hearing of what may be a new note: the shown one holds meanwhile.
        if (seconds - lastPitchedAt_ > kHoldSeconds)
            display_.showing = false;
        return display_;
    }
    lastPitchedAt_ = seconds;
    // Keep the estimates that agree with the newest, then add it, the oldest leaving.
    int kept = 0;
    for (int i = 0; i < recentCount_; ++i)
        if (centsApart(recent_[i], f) <= kSameCents)
            recent_[kept++] = recent_[i];
    if (kept == kMeanOf) {
        for (int i = 1; i < kMeanOf; ++i)
            recent_[i - 1] = recent_[i];
        --kept;
    }
    recent_[kept++] = f;
    recentCount_ = kept;
    double logSum = 0.0;
    for (int i = 0; i < recentCount_; ++i)
        logSum += std::log(recent_[i]);
    const double mean = std::exp(logSum / recentCount_);
    TunerDisplay shown;
    if (readNote(mean, referenceA_, &shown.note)) {
        shown.showing = true;
        shown.frequency = mean;
    }
    display_ = shown;
    return display_;
}
