#include "SlotList.h"

#include <thread>

// The links are read by lookups on other threads while the UI thread changes them, so
// every access to a link from another thread is atomic. A lookup reads the links in
// the same single order as the removal and the count of lookups, so that one which
// began after waitForLookups saw no lookup running cannot see the old link.

void SlotList::append(EffectSlot* slot) {
    slot->next = nullptr;
    EffectSlot** tail = &head_;
    while (EffectSlot* s = *tail)
        tail = &s->next;
    __atomic_store_n(tail, slot, __ATOMIC_RELEASE);
}

bool SlotList::remove(EffectSlot* slot) {
    for (EffectSlot** link = &head_; *link; link = &(*link)->next) {
        if (*link == slot) {
            __atomic_store_n(link, slot->next, __ATOMIC_SEQ_CST);
            return true;
        }
    }
    return false;
}

void SlotList::waitForLookups() const {
    // A lookup that begins after the removal cannot reach the slot; one that began
    // before holds the count above zero until it ends. Lookups are a few loads long.
    while (lookups_.load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
}

SlotList::Lookup::Lookup(const SlotList& list) : list_(list) { list_.lookups_.fetch_add(1, std::memory_order_seq_cst); }

SlotList::Lookup::~Lookup() { list_.lookups_.fetch_sub(1, std::memory_order_release); }

EffectSlot* SlotList::Lookup::find(const AEffect* effect) const {
    for (EffectSlot* s = __atomic_load_n(&list_.head_, __ATOMIC_SEQ_CST); s;
         s = __atomic_load_n(&s->next, __ATOMIC_SEQ_CST))
        if (s->effect == effect)
            return s;
    return nullptr;
}
