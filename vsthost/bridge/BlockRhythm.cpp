#include "BlockRhythm.h"

#include <algorithm>

namespace bridge {

void BlockRhythm::arrived(uint64_t now, uint64_t waited) {
    uint64_t usual = 0, late = 0;
    if (waited > 0 && usualGap(&usual, &late) && (waited > kLateWakeMicroseconds || waited > usual / 8))
        awakeUntil_ = now + kStayAwakeMicroseconds;
    if (started_ && now >= last_) {
        gaps_[next_] = now - last_;
        next_ = (next_ + 1) % kGapsKept;
        if (gapCount_ < kGapsKept)
            ++gapCount_;
    }
    last_ = now;
    started_ = true;
}

bool BlockRhythm::usualGap(uint64_t* usual, uint64_t* late) const {
    if (gapCount_ < kGapsKept)
        return false;
    uint64_t gaps[kGapsKept];
    for (int i = 0; i < kGapsKept; ++i)
        gaps[i] = gaps_[i];
    std::sort(gaps, gaps + kGapsKept);
    const uint64_t median = gaps[kGapsKept / 2 - 1];
    // A pace that swings by more than its own length and a millisecond is no pace (a
    // driver that starts and stops, a render that stalls): the bell then. But a block
    // of its own that came late, and the ones after it that came sooner to catch up,
    // keep it: that is when the next wake-up matters most.
    const uint64_t longest = 2 * median + 1000;
    int inPace = kGapsKept;
    while (inPace > 0 && gaps[inPace - 1] > longest)
        --inPace;
    if (inPace < kGapsKept - kStrayGaps)
        return false;
    *usual = median;
    *late = gaps[inPace - 1];
    return true;
}

uint64_t BlockRhythm::stayAwakeUntil() const {
    uint64_t usual = 0, late = 0;
    if (awakeUntil_ == 0 || !usualGap(&usual, &late))
        return 0;
    // A driver that stops leaves the bridge to its bell after two of its gaps.
    const uint64_t paceKept = last_ + 2 * late + 1000;
    return paceKept < awakeUntil_ ? paceKept : awakeUntil_;
}

bool BlockRhythm::window(uint64_t* lookFrom, uint64_t* lookUntil) const {
    uint64_t usual = 0, late = 0;
    if (!usualGap(&usual, &late))
        return false;
    // Looked for from a little before the usual gap (a block that comes sooner rings or
    // is seen at the next look) until a little after a late one.
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
