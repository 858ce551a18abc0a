#pragma once
// The handshake on one lane: the caller raises the request serial and rings; the
// answering side sets the reply serial to it when done and rings back. A caller
// first spins a little (a block's answer often comes within microseconds), then
// waits on its bell, never past its deadline and never for a side that is gone.
#include <atomic>
#include <cstdint>

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
CallResult callAndWait(std::atomic<uint32_t>& request, std::atomic<uint32_t>& reply, Doorbell& toPeer,
                       Doorbell& fromPeer, uint32_t deadlineMicroseconds);

// Answering side: waits for a request newer than answered; false on time-out or a
// caller that is gone (why says which), whose requests are not served.
bool waitForRequest(const std::atomic<uint32_t>& request, uint32_t answered, Doorbell& fromCaller,
                    uint32_t timeoutMicroseconds, Doorbell::Wake* why);

// Answering side: the answer is in place.
void answer(std::atomic<uint32_t>& reply, uint32_t serial, Doorbell& toCaller);

}  // namespace bridge
