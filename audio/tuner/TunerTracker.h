#pragma once
#include "NoteNames.h"
#include "PitchDetector.h"

// What the tuner shows.
struct TunerDisplay {
    bool showing = false;    // false: a dash, no note
    double frequency = 0.0;  // Hz
    NoteReading note;
};

// Turns the detector's estimates into a steady reading: a note is shown once two
// estimates in a row agree on it, its value is the mean of the latest estimates that
// agree with the newest (so a new note starts afresh), and it stays a moment after
// the estimates stop, so that the end of a decaying note does not flicker.
class TunerTracker {
public:
    static constexpr int kMeanOf = 4;
    static constexpr double kAgreeCents = 35.0;  // two estimates of one note
    static constexpr double kSameCents = 8.0;    // estimates averaged together
    static constexpr double kHoldSeconds = 0.2;

    void setReferenceA(double hz) { referenceA_ = validReferenceA(hz); }
    double referenceA() const { return referenceA_; }
    // Once per estimate; seconds is the time of the audio it was made from.
    TunerDisplay update(const PitchEstimate& estimate, double seconds);
    void reset();

private:
    double referenceA_ = kDefaultReferenceA;
    double recent_[kMeanOf] = {};
    int recentCount_ = 0;
    double previous_ = 0.0;  // the last pitched estimate, 0 after an unpitched one
    double lastPitchedAt_ = -1e9;
    TunerDisplay display_;
};
