#include "BridgeCall.h"

#include <chrono>

namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t microsecondsSince(Clock::time_point start) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    return elapsed < 0 ? 0 : elapsed > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(elapsed);
}

// How long a caller looks for its answer before sleeping: most blocks are answered
// within it, and then neither side pays for a wake-up.
constexpr uint32_t kLookMicroseconds = 60;

}  // namespace

CallResult callAndWait(Serials& lane, Doorbell& toPeer, Doorbell& fromPeer, uint32_t deadlineMicroseconds) {
    const uint32_t serial = lane.request.load(std::memory_order_relaxed) + 1;
    lane.request.store(serial, std::memory_order_release);
    toPeer.ring();
    const Clock::time_point start = Clock::now();
    const uint32_t look = deadlineMicroseconds < kLookMicroseconds ? deadlineMicroseconds : kLookMicroseconds;
    for (int i = 0;; ++i) {
        if (lane.reply.load(std::memory_order_acquire) == serial)
            return CallResult::Answered;
        if ((i & 63) == 63 && microsecondsSince(start) >= look)
            break;
    }
    for (;;) {
        // Asleep, then one more look: with both sides' order strict, either this look
        // sees the answer or the answering side sees the caller asleep and rings.
        lane.callerAsleep.store(1, std::memory_order_seq_cst);
        if (lane.reply.load(std::memory_order_seq_cst) == serial) {
            lane.callerAsleep.store(0, std::memory_order_relaxed);
            return CallResult::Answered;
        }
        const uint32_t waited = microsecondsSince(start);
        const Doorbell::Wake wake =
            waited >= deadlineMicroseconds ? Doorbell::Wake::TimedOut : fromPeer.wait(deadlineMicroseconds - waited);
        lane.callerAsleep.store(0, std::memory_order_relaxed);
        if (lane.reply.load(std::memory_order_acquire) == serial)
            return CallResult::Answered;
        if (wake == Doorbell::Wake::PeerGone)
            return CallResult::PeerGone;
        if (microsecondsSince(start) >= deadlineMicroseconds)
            return CallResult::TimedOut;
    }
}

bool waitForRequest(const Serials& lane, uint32_t answered, Doorbell& fromCaller, uint32_t timeoutMicroseconds,
                    Doorbell::Wake* why) {
    const Clock::time_point start = Clock::now();
    *why = Doorbell::Wake::Rung;
    for (;;) {
        if (lane.request.load(std::memory_order_acquire) != answered)
            return true;
        const uint32_t waited = microsecondsSince(start);
        if (waited >= timeoutMicroseconds) {
            *why = Doorbell::Wake::TimedOut;
            return false;
        }
        const Doorbell::Wake wake = fromCaller.wait(timeoutMicroseconds - waited);
        if (wake == Doorbell::Wake::PeerGone) {
            *why = wake;  // nobody is left to read an answer
            return false;
        }
    }
}

void answer(Serials& lane, uint32_t serial, Doorbell& toCaller) {
    lane.reply.store(serial, std::memory_order_seq_cst);
    if (lane.callerAsleep.load(std::memory_order_seq_cst))
        toCaller.ring();
}

}  // namespace bridge
