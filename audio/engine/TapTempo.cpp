#include "TapTempo.h"

#include <cmath>

#include "LiveSettings.h"

bool TapTempo::tap(double seconds) {
    if (!std::isfinite(seconds))
        return false;
    // A clock going backwards (or a pause) cannot be an interval: a new count.
    if (count_ > 0 && !(seconds - times_[count_ - 1] > 0.0 && seconds - times_[count_ - 1] <= kGapSeconds))
        reset();
    if (count_ == kTapsAveraged) {
        for (int i = 1; i < kTapsAveraged; ++i)
            times_[i - 1] = times_[i];
        --count_;
    }
    times_[count_++] = seconds;
    if (count_ < 2)
        return false;
    const double interval = (times_[count_ - 1] - times_[0]) / double(count_ - 1);
    const double hundredths = 6000.0 / interval;  // 60 / interval beats a minute, x 100
    // Limited in double: a very short interval must not overflow the int.
    if (hundredths <= LiveSettings::kMinTempo)
        tempo_ = LiveSettings::kMinTempo;
    else if (hundredths >= LiveSettings::kMaxTempo)
        tempo_ = LiveSettings::kMaxTempo;
    else
        tempo_ = int32_t(std::lround(hundredths));
    return true;
}

bool TapTempo::tapping(double seconds) const {
    return count_ > 0 && seconds - times_[count_ - 1] >= 0.0 && seconds - times_[count_ - 1] <= kGapSeconds;
}

void TapTempo::reset() {
    count_ = 0;
    tempo_ = 0;
}
