#include "BridgeCall.h"

#include <chrono>

namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t microsecondsSince(Clock::time_point start) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    return elapsed < 0 ? 0 : elapsed > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(elapsed);
}

// About 20 us of looking before sleeping: a fast answer then costs no wake-up.
constexpr int kSpins = 2000;

}  // namespace

CallResult callAndWait(std::atomic<uint32_t>& request, std::atomic<uint32_t>& reply, Doorbell& toPeer,
                       Doorbell& fromPeer, uint32_t deadlineMicroseconds) {
    const uint32_t serial = request.load(std::memory_order_relaxed) + 1;
    request.store(serial, std::memory_order_release);
    toPeer.ring();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kSpins; ++i)
        if (reply.load(std::memory_order_acquire) == serial)
            return CallResult::Answered;
    for (;;) {
        if (reply.load(std::memory_order_acquire) == serial)
            return CallResult::Answered;
        const uint32_t waited = microsecondsSince(start);
        if (waited >= deadlineMicroseconds)
            return CallResult::TimedOut;
        if (fromPeer.wait(deadlineMicroseconds - waited) == Doorbell::Wake::PeerGone)
            return reply.load(std::memory_order_acquire) == serial ? CallResult::Answered : CallResult::PeerGone;
    }
}

bool waitForRequest(const std::atomic<uint32_t>& request, uint32_t answered, Doorbell& fromCaller,
                    uint32_t timeoutMicroseconds, Doorbell::Wake* why) {
    const Clock::time_point start = Clock::now();
    *why = Doorbell::Wake::Rung;
    for (;;) {
        if (request.load(std::memory_order_acquire) != answered)
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

void answer(std::atomic<uint32_t>& reply, uint32_t serial, Doorbell& toCaller) {
    reply.store(serial, std::memory_order_release);
    toCaller.ring();
}

}  // namespace bridge
