#pragma once
// The handshake on one lane: the caller raises the request serial and rings; the
// answering side sets the reply serial to it when done, and rings back if the caller
// has gone to sleep. A caller first looks for a while (a block's answer often comes
// within tens of microseconds), then sleeps on its bell, never past its deadline and
// never for a side that is gone.
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

enum class CallResult { Answered, TimedOut, PeerGone };

// Caller: sends the request already written to the lane.
CallResult callAndWait(Serials& lane, Doorbell& toPeer, Doorbell& fromPeer, uint32_t deadlineMicroseconds);

// Answering side: waits for a request newer than answered; false on time-out or a
// caller that is gone (why says which), whose requests are not served.
bool waitForRequest(const Serials& lane, uint32_t answered, Doorbell& fromCaller, uint32_t timeoutMicroseconds,
                    Doorbell::Wake* why);

// Answering side: the answer is in place (rung for only when the caller sleeps).
void answer(Serials& lane, uint32_t serial, Doorbell& toCaller);

}  // namespace bridge
