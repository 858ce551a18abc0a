#pragma once
// The parameter changes of one block (IParameterChanges and its IParamValueQueues), of
// fixed capacity so that the audio thread fills and reads them without allocating, and
// the hand-over that carries changes from any other thread into the next block without
// a lock. Portable.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Vst3Abi.h"

class Vst3ParameterChanges {
public:
    static constexpr int32_t kMaxQueues = 64;
    static constexpr int32_t kMaxPoints = 16;

    Vst3ParameterChanges();
    Vst3ParameterChanges(const Vst3ParameterChanges&) = delete;
    Vst3ParameterChanges& operator=(const Vst3ParameterChanges&) = delete;

    v3_param_changes** changes() { return static_cast<v3_param_changes**>(static_cast<void*>(&table_)); }
    void clear() { used_ = 0; }
    // The host's side: a point for id at offset (a later point at the same offset
    // replaces the value). False when the block has no room for it.
    bool add(v3_param_id id, int32_t offset, double value);
    int32_t queueCount() const { return used_; }
    v3_param_id queueId(int32_t queue) const { return queues_[queue].id; }
    int32_t pointCount(int32_t queue) const { return queues_[queue].count; }
    // The last value of a queue: what the parameter ends the block at.
    double lastValue(int32_t queue) const { return queues_[queue].values[queues_[queue].count - 1]; }
    double pointValue(int32_t queue, int32_t point) const { return queues_[queue].values[point]; }
    int32_t pointOffset(int32_t queue, int32_t point) const { return queues_[queue].offsets[point]; }

    struct ChangesTable : v3_funknown {
        v3_param_changes changes;
    };
    struct QueueTable : v3_funknown {
        v3_param_value_queue queue;
    };

private:
    struct Queue {
        const QueueTable* table;  // first member: the queue's address is its interface pointer
        v3_param_id id;
        int32_t count;
        int32_t offsets[kMaxPoints];
        double values[kMaxPoints];
    };
    Queue* queueFor(v3_param_id id, int32_t* index);
    static bool addPoint(Queue& queue, int32_t offset, double value, int32_t* index);

    static v3_result V3_API queryChanges(void* self, const v3_tuid iid, void** obj);
    static v3_result V3_API queryQueue(void* self, const v3_tuid iid, void** obj);
    static uint32_t V3_API noCount(void*);
    static int32_t V3_API getParamCount(void* self);
    static v3_param_value_queue** V3_API getParamData(void* self, int32_t index);
    static v3_param_value_queue** V3_API addParamData(void* self, v3_param_id* id, int32_t* index);
    static v3_param_id V3_API getParamId(void* self);
    static int32_t V3_API getPointCount(void* self);
    static v3_result V3_API getPoint(void* self, int32_t index, int32_t* offset, double* value);
    static v3_result V3_API addPointCall(void* self, int32_t offset, double value, int32_t* index);

    static const ChangesTable kChangesTable;
    static const QueueTable kQueueTable;
    const ChangesTable* table_ = &kChangesTable;  // first member, as above
    int32_t used_ = 0;
    Queue queues_[kMaxQueues];
};

// Changes from one thread to another without a lock: a bounded ring that any thread
// pushes into and one thread takes from (the audio thread for the host's and the
// editor's changes; the UI thread for the processor's own on their way to the
// controller).
class Vst3ParameterHandover {
public:
    static constexpr uint32_t kCapacity = 1024;  // a power of two

    Vst3ParameterHandover();
    // Any thread. False when the ring is full (the change is dropped).
    bool push(v3_param_id id, double value);
    // The taking thread: moves every waiting change into block at offset 0, as far as
    // it has room; a change that does not fit waits for the next block.
    void drainInto(Vst3ParameterChanges& block);
    // The taking thread: true when nothing waits.
    bool empty() const;

private:
    struct Slot {
        std::atomic<uint32_t> sequence;
        v3_param_id id;
        double value;
    };
    bool pop(v3_param_id* id, double* value);
    Slot slots_[kCapacity];
    alignas(64) std::atomic<uint32_t> head_{0};  // next to push
    alignas(64) std::atomic<uint32_t> tail_{0};  // next to take (the taking thread only)
    bool holding_ = false;                        // a change taken that did not fit
    v3_param_id heldId_ = 0;
    double heldValue_ = 0;
};
