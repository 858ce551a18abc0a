#pragma once
// When the next block is likely to reach a bridge. A driver asks for blocks at its own
// steady pace, so the gap between one request and the next is known after a few; the
// bridge can then be looking for the block when it comes instead of asleep on its bell.
// Where a wake-up is dear (under Wine it is a trip through its server and the other
// core waking, some 50 us), that is most of what a block costs in its own process.
// Portable.
#include <cstdint>

namespace bridge {

class BlockRhythm {
public:
    // A request came at this moment (microseconds of any steady clock), having waited
    // this long for the bridge to see it.
    void arrived(uint64_t nowMicroseconds, uint64_t waitedMicroseconds = 0);

    // Where to look for the next request: from lookFrom until lookUntil. False until the
    // pace is known (and after a pause far longer than it), when the bell is the way.
    bool window(uint64_t* lookFrom, uint64_t* lookUntil) const;

    // Looking starts this long before the usual gap since the last request is up.
    static constexpr uint64_t kLeadMicroseconds = 150;
    // And goes on this long after a late one; but never more than a quarter of the gap,
    // nor kMostLookMicroseconds, so a waiting bridge costs little of a core.
    static constexpr uint64_t kLagMicroseconds = 100;
    static constexpr uint64_t kMostLookMicroseconds = 1000;
    static constexpr int kGapsKept = 8;
    // Of them, this many may stray far past the usual gap with the pace still held.
    static constexpr int kStrayGaps = 2;

    // Until when to look for every block awake, from one to the next, rather than sleep
    // between them: on a machine where a sleeping thread has been seen to wake late (a
    // request waited kLateWakeMicroseconds or an eighth of the gap on a bridge that
    // slept, as under a virtual machine's scheduler), for kStayAwakeMicroseconds after
    // the last such wake, while blocks keep their pace. 0 when waking is to be trusted,
    // as it is where the audio threads' priority is honoured; the idler still decides
    // whether a core can be spared for it.
    uint64_t stayAwakeUntil() const;
    static constexpr uint64_t kLateWakeMicroseconds = 500;
    static constexpr uint64_t kStayAwakeMicroseconds = 30000000;

private:
    uint64_t last_ = 0;
    uint64_t gaps_[kGapsKept] = {};
    int gapCount_ = 0;  // of kGapsKept, filled
    int next_ = 0;
    bool started_ = false;
    uint64_t awakeUntil_ = 0;

    bool usualGap(uint64_t* usual, uint64_t* late) const;
};

}  // namespace bridge
