#pragma once
#include <cstdint>

// The metronome's tempo from taps on a key or a button: the mean interval of the
// last few taps. A pause longer than kGapSeconds starts a new count, so a player who
// taps again later is not averaged with the old taps. Times are the caller's clock
// in seconds (the UI's message times).
class TapTempo {
public:
    static constexpr int kTapsAveraged = 4;  // 3 intervals
    static constexpr double kGapSeconds = 2.0;

    // Records a tap; true when the tempo is known from it (the second tap on).
    bool tap(double seconds);
    // Hundredths of a beat per minute, limited to the metronome's 60..200 BPM;
    // 0 before two taps.
    int32_t tempo() const { return tempo_; }
    // Taps in the current count (1 after a fresh start).
    int taps() const { return count_; }
    // True while the last tap is recent enough to be continued.
    bool tapping(double seconds) const;
    void reset();

private:
    double times_[kTapsAveraged] = {};  // the latest taps, oldest first
    int count_ = 0;
    int32_t tempo_ = 0;
};
