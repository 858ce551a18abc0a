#include "BridgeCall.h"

#include <chrono>

#include "BlockRhythm.h"

namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t microsecondsSince(Clock::time_point start) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    return elapsed < 0 ? 0 : elapsed > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(elapsed);
}

// How long a caller looks for its answer before sleeping: a bridge asleep when the
// block came wakes in some 50 us under Wine, and a caller still looking then needs no
// wake-up of its own; longer, its looking would take the core a busy machine's bridge
// needs.
constexpr uint32_t kLookMicroseconds = 120;

// A bell's sleep ends up to a millisecond late (Windows waits in whole milliseconds,
// and Wine's server adds some 200 us): an answering side that wants to be looking at a
// moment sleeps on its bell only until this long before it.
constexpr uint64_t kBellLeadMicroseconds = 1300;

// How long an announced block is looked for: the position before it may take a while,
// but not past this.
constexpr uint64_t kAnnouncedLookMicroseconds = 1500;

// Answering side, before a sleep: asleep, then one more look (the caller stores its
// request before it reads this flag, so either the look sees it or the caller rings).
bool requestWhileFallingAsleep(Serials& lane, uint32_t answered) {
    lane.answererAsleep.store(1, std::memory_order_seq_cst);
    return lane.request.load(std::memory_order_seq_cst) != answered;
}

}  // namespace

CallResult callAndWait(Serials& lane, Doorbell& toPeer, Doorbell& fromPeer, uint32_t deadlineMicroseconds) {
    const uint32_t serial = lane.request.load(std::memory_order_relaxed) + 1;
    lane.askedAt.store(uint32_t(steadyMicroseconds()), std::memory_order_relaxed);
    lane.request.store(serial, std::memory_order_seq_cst);
    if (lane.answererAsleep.load(std::memory_order_seq_cst))
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

uint64_t steadyMicroseconds() {
    const uint64_t us =
        uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count());
    return us ? us : 1;  // 0 stands for "never" where a moment is kept
}

bool waitForRequest(Serials& lane, uint32_t answered, Doorbell& fromCaller, uint32_t timeoutMicroseconds,
                    Doorbell::Wake* why) {
    const Clock::time_point start = Clock::now();
    *why = Doorbell::Wake::Rung;
    bool came = false;
    for (;;) {
        if (requestWhileFallingAsleep(lane, answered)) {
            came = true;
            break;
        }
        const uint32_t waited = microsecondsSince(start);
        if (waited >= timeoutMicroseconds) {
            *why = Doorbell::Wake::TimedOut;
            break;
        }
        const Doorbell::Wake wake = fromCaller.wait(timeoutMicroseconds - waited);
        if (wake == Doorbell::Wake::PeerGone) {
            *why = wake;  // nobody is left to read an answer
            break;
        }
    }
    // Busy with the request now (or gone): a caller that comes meanwhile need not ring,
    // as this side looks again before it sleeps.
    lane.answererAsleep.store(0, std::memory_order_relaxed);
    return came;
}

bool waitForBlock(Serials& lane, uint32_t answered, Doorbell& fromCaller, Idler& idler, BlockRhythm& rhythm,
                  uint32_t timeoutMicroseconds, Doorbell::Wake* why) {
    const uint64_t start = steadyMicroseconds();
    const uint32_t nap = idler.napMicroseconds();
    // When the next block is expected: the pace changes only as a block arrives.
    uint64_t from = 0, until = 0;
    const bool paced = rhythm.window(&from, &until);
    const uint64_t awakeUntil = rhythm.stayAwakeUntil();
    bool slept = false;  // on the bell or in a nap: how long the block then waited tells
    uint64_t announcedAt = 0;
    bool looking = false;  // holding one of the looking slots
    bool wholeGap = false;  // and granted it for the whole gap to the next block
    auto end = [&](bool came, Doorbell::Wake wake) {
        if (looking)
            idler.stopLooking();
        looking = wholeGap = false;
        lane.answererAsleep.store(0, std::memory_order_relaxed);
        if (came) {
            const uint64_t now = steadyMicroseconds();
            // The caller's moment came before the request (the clock is the machine's).
            const uint32_t waited = uint32_t(now) - lane.askedAt.load(std::memory_order_relaxed);
            rhythm.arrived(now, slept && waited < 0x80000000u ? waited : 0);
        }
        *why = wake;
        return came;
    };
    // Asleep, then one more look for a request, or an announcement not yet looked for.
    auto newsWhileFallingAsleep = [&] {
        return requestWhileFallingAsleep(lane, answered) ||
               (announcedAt == 0 && lane.coming.load(std::memory_order_seq_cst) == answered + 1);
    };
    auto stopLooking = [&] {
        if (looking)
            idler.stopLooking();
        looking = wholeGap = false;
    };
    // Asleep on the bell for at most microseconds (and the time left); false when the
    // caller is gone.
    auto sleepOnBell = [&](uint64_t now, uint64_t microseconds) {
        const uint64_t left = timeoutMicroseconds - (now - start);
        slept = true;
        return fromCaller.wait(uint32_t(microseconds < left ? microseconds : left)) != Doorbell::Wake::PeerGone;
    };
    auto lookAwake = [&](bool napping) {
        lane.answererAsleep.store(0, std::memory_order_seq_cst);
        if (napping) {
            slept = true;
            idler.nap();
        } else {
            idler.relax();
        }
    };
    for (;;) {
        if (lane.request.load(std::memory_order_acquire) != answered)
            return end(true, Doorbell::Wake::Rung);
        const uint64_t now = steadyMicroseconds();
        if (now - start >= timeoutMicroseconds)
            return end(false, Doorbell::Wake::TimedOut);
        // Announced: the block comes once the positions before it are done.
        bool announced = false;
        if (lane.coming.load(std::memory_order_acquire) == answered + 1) {
            if (announcedAt == 0)
                announcedAt = now;
            announced = now - announcedAt < kAnnouncedLookMicroseconds;
        }
        // Else expected by the pace of the last blocks. Or, where sleeping has cost
        // blocks their time, looked for awake from one to the next.
        const bool expected = !announced && paced && now < until;
        const uint64_t ahead = expected && from > now ? from - now : 0;
        if (looking && !idler.mayKeepLooking())
            stopLooking();  // a block is being processed meanwhile: its core
        // A slot taken to look near a block is no grant of the whole gap: asked for apart.
        if (now < awakeUntil && !wholeGap && idler.startLooking(true))
            looking = wholeGap = true;
        const bool awake = now < awakeUntil && wholeGap;
        if (expected && !awake && ahead >= kBellLeadMicroseconds + 1000) {
            // Far off: asleep on the bell for whole milliseconds, rung if it comes early.
            stopLooking();
            if (newsWhileFallingAsleep())
                continue;
            if (!sleepOnBell(now, (ahead - kBellLeadMicroseconds) / 1000 * 1000))
                return end(false, Doorbell::Wake::PeerGone);
            continue;
        }
        const bool near = announced || (expected && ahead <= BlockRhythm::kLeadMicroseconds);
        if (near || awake) {
            // Near: looked for awake, by as many bridges at once as there are cores to
            // spare (the others sleep on the bell). Awake, the caller needs no ring.
            if (!looking)
                looking = idler.startLooking(false);
            if (looking) {
                lookAwake(false);
                continue;
            }
            // No core to spare: napping here would only take more from the busy ones.
        } else if (expected && nap != 0 && idler.spareCore()) {
            // Nearing it in naps, while there is a core to look with.
            stopLooking();
            lookAwake(true);
            continue;
        }
        stopLooking();
        // Neither announced nor expected (nor a way to wait for it awake): the bell.
        if (newsWhileFallingAsleep())
            continue;
        if (!sleepOnBell(now, timeoutMicroseconds))
            return end(false, Doorbell::Wake::PeerGone);
    }
}

void announce(Serials& lane) {
    lane.coming.store(lane.request.load(std::memory_order_relaxed) + 1, std::memory_order_seq_cst);
}

void answer(Serials& lane, uint32_t serial, Doorbell& toCaller) {
    lane.reply.store(serial, std::memory_order_seq_cst);
    if (lane.callerAsleep.load(std::memory_order_seq_cst))
        toCaller.ring();
}

}  // namespace bridge
