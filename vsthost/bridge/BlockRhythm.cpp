#include "BlockRhythm.h"

#include <algorithm>

namespace bridge {

void BlockRhythm::arrived(uint64_t now) {
    if (started_ && now >= last_) {
        gaps_[next_] = now - last_;
        next_ = (next_ + 1) % kGapsKept;
        if (gapCount_ < kGapsKept)
            ++gapCount_;
    }
    last_ = now;
    started_ = true;
}

bool BlockRhythm::window(uint64_t* lookFrom, uint64_t* lookUntil) const {
    if (gapCount_ < kGapsKept)
        return false;
    uint64_t gaps[kGapsKept];
    for (int i = 0; i < kGapsKept; ++i)
        gaps[i] = gaps_[i];
    std::sort(gaps, gaps + kGapsKept);
    // A pace that swings by more than its own length and a millisecond is no pace (a
    // driver that starts and stops, a render that stalls): the bell then.
    if (gaps[kGapsKept - 1] > 2 * gaps[0] + 1000)
        return false;
    // Looked for from a little before the usual gap (a block that comes sooner rings or
    // is seen at the next look) until a little after a late one.
    const uint64_t usual = gaps[kGapsKept / 2 - 1], late = gaps[kGapsKept - 2];
    const uint64_t from = last_ + (usual > kLeadMicroseconds ? usual - kLeadMicroseconds : 0);
    uint64_t until = last_ + late + kLagMicroseconds;
    uint64_t most = usual / 4 + kLeadMicroseconds;
    most = most < kMostLookMicroseconds ? most : kMostLookMicroseconds;
    if (until > from + most)
        until = from + most;
    *lookFrom = from;
    *lookUntil = until;
    return true;
}

}  // namespace bridge
