#pragma once
// The handshake on one lane: the caller raises the request serial and rings if the
// answering side sleeps; the answering side sets the reply serial to it when done, and
// rings back if the caller has gone to sleep. A caller first looks for a while (a
// block's answer often comes within tens of microseconds), then sleeps on its bell,
// never past its deadline and never for a side that is gone. The audio lane's answering
// side may look for a block it expects (BlockRhythm) rather than sleep.
#include <atomic>
#include <cstdint>

#include "BridgeRegion.h"

namespace bridge {

// Wakes the other side of one direction of one lane, and waits to be woken. A ring
// before the wait is kept for it (an auto-reset event), so no wake-up is lost.
class Doorbell {
public:
    enum class Wake { Rung, TimedOut, PeerGone };
    virtual ~Doorbell() = default;
    virtual void ring() = 0;
    virtual Wake wait(uint32_t microseconds) = 0;
};

// How a side that looks for a request passes the time: napping where a short sleep is
// short, else giving way to other threads between looks; and whether it may look for
// a block it only expects (LookingSlots), which keeps a core busy.
class Idler {
public:
    virtual ~Idler() = default;
    // What one nap takes here in microseconds; 0 where a sleep is too coarse to nap.
    virtual uint32_t napMicroseconds() const = 0;
    virtual void nap() = 0;
    virtual void relax() = 0;
    // False when the cores to spare are busy; wholeGap: to look until the block comes,
    // however far off (fewer may do that at once).
    virtual bool startLooking(bool wholeGap) = 0;
    virtual bool mayKeepLooking() = 0;
    virtual bool spareCore() = 0;  // whether one more could look now
    virtual void stopLooking() = 0;
    // Processing a block (the cores it takes are not there for looking).
    virtual void startWorking() = 0;
    virtual void stopWorking() = 0;
};

class BlockRhythm;

enum class CallResult { Answered, TimedOut, PeerGone };

// Microseconds of the steady clock, never 0 (which a kept moment uses for none).
uint64_t steadyMicroseconds();

// Caller: sends the request already written to the lane.
CallResult callAndWait(Serials& lane, Doorbell& toPeer, Doorbell& fromPeer, uint32_t deadlineMicroseconds);

// Answering side: waits for a request newer than answered; false on time-out or a
// caller that is gone (why says which), whose requests are not served.
bool waitForRequest(Serials& lane, uint32_t answered, Doorbell& fromCaller, uint32_t timeoutMicroseconds,
                    Doorbell::Wake* why);

// The audio lane's answering side: as waitForRequest, but when rhythm knows when the
// next block comes, asleep on the bell only until shortly before, then napping and
// looking until it comes (and on while it is announced as coming), as far as the idler
// lets it; so that most blocks need no wake-up. Records each request's arrival in rhythm.
bool waitForBlock(Serials& lane, uint32_t answered, Doorbell& fromCaller, Idler& idler, BlockRhythm& rhythm,
                  uint32_t timeoutMicroseconds, Doorbell::Wake* why);

// Caller: the next request on this lane will come soon. Not rung: a bridge asleep is
// left asleep (woken for nothing it would take a core from the busy ones on a small
// machine); one awake, looking for its block or napping toward it, looks on.
void announce(Serials& lane);

// Answering side: the answer is in place (rung for only when the caller sleeps).
void answer(Serials& lane, uint32_t serial, Doorbell& toCaller);

}  // namespace bridge
