#pragma once
#include <atomic>

#include "EffectSlot.h"

// The loaded slots in load order. Only the UI thread appends and removes; any thread
// may look a slot up (a plug-in calls the host from its processing, its editor or a
// thread of its own), through a Lookup held while the slot found is used. A removed
// slot may be freed once waitForLookups has returned: no lookup can reach it then.
class SlotList {
public:
    SlotList() = default;
    virtual ~SlotList() = default;
    SlotList(const SlotList&) = delete;
    SlotList& operator=(const SlotList&) = delete;

    // --- UI thread ---
    EffectSlot* first() const { return __atomic_load_n(&head_, __ATOMIC_ACQUIRE); }
    // The slot is whole before it becomes reachable.
    void append(EffectSlot* slot);
    // True when the slot was in the list.
    bool remove(EffectSlot* slot);
    // Returns once every lookup that might have reached a removed slot has ended.
    void waitForLookups() const;

    // --- any thread ---
    class Lookup {
    public:
        explicit Lookup(const SlotList& list);
        ~Lookup();
        Lookup(const Lookup&) = delete;
        Lookup& operator=(const Lookup&) = delete;
        // The slot holding effect; valid while this lookup lives.
        EffectSlot* find(const AEffect* effect) const;

    private:
        const SlotList& list_;
    };

private:
    EffectSlot* head_ = nullptr;
    mutable std::atomic<int> lookups_{0};
};
