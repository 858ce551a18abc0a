#pragma once
#include <atomic>
#include <thread>

// A list in insertion order that only one thread (the UI thread) changes and any
// thread may search: a caller from another thread (a plug-in calling its host from
// its processing, its editor or a thread of its own) holds a Lookup while it uses
// what it found. A removed node may be freed once waitForLookups has returned: no
// lookup can reach it then. Node has a `Node* next` link and a `lookupKey()`.
//
// The links are read by lookups on other threads while the UI thread changes them, so
// every access to a link from another thread is atomic. A lookup reads the links in
// the same single order as the removal and the count of lookups, so that one which
// began after waitForLookups saw no lookup running cannot see the old link.
template <typename Node>
class LookupList {
public:
    LookupList() = default;
    LookupList(const LookupList&) = delete;
    LookupList& operator=(const LookupList&) = delete;

    // --- UI thread ---
    Node* first() const { return __atomic_load_n(&head_, __ATOMIC_ACQUIRE); }
    // The node is whole before it becomes reachable.
    void append(Node* node) {
        node->next = nullptr;
        Node** tail = &head_;
        while (Node* n = *tail)
            tail = &n->next;
        __atomic_store_n(tail, node, __ATOMIC_RELEASE);
    }
    // True when the node was in the list.
    bool remove(Node* node) {
        for (Node** link = &head_; *link; link = &(*link)->next) {
            if (*link == node) {
                __atomic_store_n(link, node->next, __ATOMIC_SEQ_CST);
                return true;
            }
        }
        return false;
    }
    // Returns once every lookup that might have reached a removed node has ended. A
    // lookup that begins after the removal cannot reach it; one that began before
    // holds the count above zero until it ends. Lookups are a few loads long.
    void waitForLookups() const {
        while (lookups_.load(std::memory_order_seq_cst) != 0)
            std::this_thread::yield();
    }

    // --- any thread ---
    class Lookup {
    public:
        explicit Lookup(const LookupList& list) : list_(list) {
            list_.lookups_.fetch_add(1, std::memory_order_seq_cst);
        }
        ~Lookup() { list_.lookups_.fetch_sub(1, std::memory_order_release); }
        Lookup(const Lookup&) = delete;
        Lookup& operator=(const Lookup&) = delete;
        // The node whose key is key; valid while this lookup lives.
        template <typename Key>
        Node* find(const Key* key) const {
            if (!key)
                return nullptr;
            for (Node* n = __atomic_load_n(&list_.head_, __ATOMIC_SEQ_CST); n;
                 n = __atomic_load_n(&n->next, __ATOMIC_SEQ_CST))
                if (n->lookupKey() == key)
                    return n;
            return nullptr;
        }

    private:
        const LookupList& list_;
    };

private:
    Node* head_ = nullptr;
    mutable std::atomic<int> lookups_{0};
};
