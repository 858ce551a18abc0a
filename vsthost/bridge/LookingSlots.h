#pragma once
// How many bridges may look for their next block at once. A bridge that looks keeps a
// core busy; with more busy than cores to spare it takes the core from the program or
// from the bridge that has a block, and every block comes later. So the bridges of one
// program (across processes, either width) share a table of who looks and who is
// processing a block (one at a time: the program runs its positions in turn), and a
// bridge looks only while lookers and the one processing are fewer than the cores to
// spare. A holder is a process id; one that ended while holding is passed over once
// its entry is older than kStaleMilliseconds (a holder refreshes it as it goes on).
// Looking for a whole gap between blocks, not only the moments around one, keeps a core
// busy all the time: a third of the spare cores at most may be held so, and only by a
// bridge whose program's bridges have not taken turns at processing for
// kSharedMilliseconds (the others' wake-ups would want the core it keeps). Portable.
#include <atomic>
#include <cstdint>

namespace bridge {

struct LookingSlotTable {
    static constexpr int kSlots = 8;
    std::atomic<uint32_t> holder[kSlots];  // 0 when free
    std::atomic<uint32_t> since[kSlots];   // a millisecond clock's low 32 bits
    std::atomic<uint32_t> worker;          // the bridge processing a block, or 0
    std::atomic<uint32_t> workerSince;
    std::atomic<uint32_t> lastWorker;    // the bridge that processed a block last
    std::atomic<uint32_t> turnsTakenAt;  // when another bridge last followed it, 0 for never
};
static_assert(sizeof(LookingSlotTable) == 80, "the same in both widths");

class LookingSlots {
public:
    static constexpr uint32_t kStaleMilliseconds = 20;
    static constexpr uint32_t kSharedMilliseconds = 1000;

    // table shared (null: never looks); usable: the cores to spare (1 to kSlots).
    LookingSlots(LookingSlotTable* table, int usable, uint32_t self)
        : table_(table), usable_(usable < 1 ? 1 : usable > LookingSlotTable::kSlots ? LookingSlotTable::kSlots : usable),
          self_(self ? self : 1) {}

    // Takes a slot to look in; false when the spare cores are taken. nowMs is the
    // shared millisecond clock. wholeGap: to look until the block comes, however far.
    bool take(uint32_t nowMs, bool wholeGap = false) {
        if (!table_)
            return false;
        if (wholeGap && othersWorkedLately(nowMs))
            return false;
        if (held_ >= 0)
            return !wholeGap || held_ < wholeGapSlots();
        if (crowded(nowMs))
            return false;
        const int slots = wholeGap ? wholeGapSlots() : usable_;
        for (int i = 0; i < slots; ++i) {
            uint32_t holder = table_->holder[i].load(std::memory_order_acquire);
            if (holder != 0 && !stale(table_->since[i], nowMs))
                continue;
            if (table_->holder[i].compare_exchange_strong(holder, self_, std::memory_order_acq_rel)) {
                table_->since[i].store(nowMs, std::memory_order_relaxed);
                held_ = i;
                return true;
            }
        }
        return false;
    }
    // Whether a holder may go on looking: not once a block is being processed elsewhere
    // (or others look) and the cores are all busy.
    bool mayKeep(uint32_t nowMs) {
        if (held_ < 0 || crowded(nowMs))
            return false;
        table_->since[held_].store(nowMs, std::memory_order_relaxed);
        return true;
    }
    // Whether a core is spare for one more to look.
    bool spare(uint32_t nowMs) const { return table_ && !crowded(nowMs); }
    void give() {
        if (held_ < 0)
            return;
        uint32_t mine = self_;
        table_->holder[held_].compare_exchange_strong(mine, 0, std::memory_order_acq_rel);
        held_ = -1;
    }

    // Processing a block, and done.
    void startWork(uint32_t nowMs) {
        if (!table_)
            return;
        table_->workerSince.store(nowMs, std::memory_order_relaxed);
        table_->worker.store(self_, std::memory_order_release);
        const uint32_t before = table_->lastWorker.exchange(self_, std::memory_order_relaxed);
        if (before != 0 && before != self_)
            table_->turnsTakenAt.store(nowMs ? nowMs : 1, std::memory_order_relaxed);
    }
    void stopWork() {
        if (!table_)
            return;
        uint32_t mine = self_;
        table_->worker.compare_exchange_strong(mine, 0, std::memory_order_acq_rel);
    }

private:
    int wholeGapSlots() const { return (usable_ + 2) / 3; }
    bool othersWorkedLately(uint32_t nowMs) const {
        const uint32_t at = table_->turnsTakenAt.load(std::memory_order_relaxed);
        return at != 0 && nowMs - at < kSharedMilliseconds;
    }
    static bool stale(const std::atomic<uint32_t>& since, uint32_t nowMs) {
        return nowMs - since.load(std::memory_order_relaxed) > kStaleMilliseconds;
    }
    // Others looking or processing, as many as the cores to spare.
    bool crowded(uint32_t nowMs) const {
        int busy = 0;
        for (int i = 0; i < LookingSlotTable::kSlots; ++i) {
            const uint32_t holder = table_->holder[i].load(std::memory_order_acquire);
            busy += holder != 0 && holder != self_ && !stale(table_->since[i], nowMs);
        }
        const uint32_t worker = table_->worker.load(std::memory_order_acquire);
        busy += worker != 0 && worker != self_ && !stale(table_->workerSince, nowMs);
        return busy >= usable_;
    }

    LookingSlotTable* table_;
    int usable_;
    uint32_t self_;
    int held_ = -1;
};

}  // namespace bridge
