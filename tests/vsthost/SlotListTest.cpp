// The effect host's slot list, looked up from another thread (a plug-in calling the
// host from its processing or a thread of its own) while the UI thread adds and
// removes slots. Natively this runs under AddressSanitizer (and ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "SlotList.h"

namespace {

EffectSlot* newSlot(AEffect* effect) {
    auto* slot = static_cast<EffectSlot*>(std::calloc(1, sizeof(EffectSlot)));
    slot->effect = effect;
    return slot;
}

}  // namespace

// A removed slot is scribbled over and freed as soon as waitForLookups returns: a
// lookup that could still reach it would follow its scribbled link (or be reported
// by the sanitizer). Lookups of the slot that stays always find it.
TEST(SlotList, LookupsFromAnotherThreadNeverReachARemovedSlotOnceItIsFreed) {
    SlotList list;
    AEffect effects[3] = {};
    EffectSlot* staying = newSlot(&effects[0]);
    list.append(staying);
    std::atomic<bool> stop{false};
    std::atomic<long> lookups{0}, lost{0};
    std::thread plugin([&] {
        while (!stop.load()) {
            const SlotList::Lookup lookup(list);
            lost += lookup.find(&effects[0]) != staying;
            lookup.find(&effects[2]);  // never listed: walks the whole list
            ++lookups;
        }
    });
    for (int round = 0; round < 20000; ++round) {
        EffectSlot* passing = newSlot(&effects[1]);
        list.append(passing);
        if (round % 2)
            std::this_thread::yield();
        ASSERT_TRUE(list.remove(passing));
        EXPECT_FALSE(list.remove(passing));
        list.waitForLookups();
        std::memset(static_cast<void*>(passing), 0xEE, sizeof(EffectSlot));
        std::free(passing);
    }
    stop = true;
    plugin.join();
    EXPECT_GT(lookups.load(), 0);
    EXPECT_EQ(lost.load(), 0);
    EXPECT_EQ(list.first(), staying);
    EXPECT_EQ(SlotList::Lookup(list).find(&effects[1]), nullptr);
    ASSERT_TRUE(list.remove(staying));
    EXPECT_EQ(list.first(), nullptr);
    std::free(staying);
}
