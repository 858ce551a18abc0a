#include "Vst3ParameterChanges.h"

const Vst3ParameterChanges::ChangesTable Vst3ParameterChanges::kChangesTable = {
    {&Vst3ParameterChanges::queryChanges, &Vst3ParameterChanges::noCount, &Vst3ParameterChanges::noCount},
    {&Vst3ParameterChanges::getParamCount, &Vst3ParameterChanges::getParamData, &Vst3ParameterChanges::addParamData}};

const Vst3ParameterChanges::QueueTable Vst3ParameterChanges::kQueueTable = {
    {&Vst3ParameterChanges::queryQueue, &Vst3ParameterChanges::noCount, &Vst3ParameterChanges::noCount},
    {&Vst3ParameterChanges::getParamId, &Vst3ParameterChanges::getPointCount, &Vst3ParameterChanges::getPoint,
     &Vst3ParameterChanges::addPointCall}};

namespace {
Vst3ParameterChanges* changesOf(void* self) { return reinterpret_cast<Vst3ParameterChanges*>(self); }
}  // namespace

Vst3ParameterChanges::Vst3ParameterChanges() {
    for (Queue& queue : queues_) {
        queue.table = &kQueueTable;
        queue.id = 0;
        queue.count = 0;
    }
}

Vst3ParameterChanges::Queue* Vst3ParameterChanges::queueFor(v3_param_id id, int32_t* index) {
    for (int32_t i = 0; i < used_; ++i) {
        if (queues_[i].id == id) {
            *index = i;
            return &queues_[i];
        }
    }
    if (used_ == kMaxQueues)
        return nullptr;
    Queue& queue = queues_[used_];
    queue.id = id;
    queue.count = 0;
    *index = used_++;
    return &queue;
}

bool Vst3ParameterChanges::addPoint(Queue& queue, int32_t offset, double value, int32_t* index) {
    if (offset < 0)
        return false;
    // Points stay in the order of their offsets.
    int32_t at = queue.count;
    while (at > 0 && queue.offsets[at - 1] > offset)
        --at;
    if (at > 0 && queue.offsets[at - 1] == offset) {
        queue.values[at - 1] = value;
        *index = at - 1;
        return true;
    }
    if (queue.count == kMaxPoints)
        return false;
    for (int32_t i = queue.count; i > at; --i) {
        queue.offsets[i] = queue.offsets[i - 1];
        queue.values[i] = queue.values[i - 1];
    }
    queue.offsets[at] = offset;
    queue.values[at] = value;
    ++queue.count;
    *index = at;
    return true;
}

bool Vst3ParameterChanges::add(v3_param_id id, int32_t offset, double value) {
    int32_t index = 0;
    Queue* queue = queueFor(id, &index);
    if (!queue)
        return false;
    int32_t point = 0;
    const bool added = addPoint(*queue, offset, value, &point);
    if (queue->count == 0 && index == used_ - 1)
        --used_;  // no empty queue is left behind
    return added;
}

v3_result V3_API Vst3ParameterChanges::queryChanges(void* self, const v3_tuid iid, void** obj) {
    if (!obj)
        return V3_INVALID_ARG;
    const bool known = v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_param_changes_iid);
    *obj = known ? self : nullptr;
    return known ? V3_OK : V3_NO_INTERFACE;
}

v3_result V3_API Vst3ParameterChanges::queryQueue(void* self, const v3_tuid iid, void** obj) {
    if (!obj)
        return V3_INVALID_ARG;
    const bool known = v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_param_value_queue_iid);
    *obj = known ? self : nullptr;
    return known ? V3_OK : V3_NO_INTERFACE;
}

// The host owns these objects for the whole life of the instance: counts are not kept.
uint32_t V3_API Vst3ParameterChanges::noCount(void*) { return 1; }

int32_t V3_API Vst3ParameterChanges::getParamCount(void* self) { return changesOf(self)->used_; }

v3_param_value_queue** V3_API Vst3ParameterChanges::getParamData(void* self, int32_t index) {
    Vst3ParameterChanges* c = changesOf(self);
    if (index < 0 || index >= c->used_)
        return nullptr;
    return static_cast<v3_param_value_queue**>(static_cast<void*>(&c->queues_[index].table));
}

v3_param_value_queue** V3_API Vst3ParameterChanges::addParamData(void* self, v3_param_id* id, int32_t* index) {
    Vst3ParameterChanges* c = changesOf(self);
    if (!id)
        return nullptr;
    int32_t at = 0;
    Queue* queue = c->queueFor(*id, &at);
    if (!queue)
        return nullptr;
    if (index)
        *index = at;
    return static_cast<v3_param_value_queue**>(static_cast<void*>(&queue->table));
}

v3_param_id V3_API Vst3ParameterChanges::getParamId(void* self) { return reinterpret_cast<Queue*>(self)->id; }

int32_t V3_API Vst3ParameterChanges::getPointCount(void* self) { return reinterpret_cast<Queue*>(self)->count; }

v3_result V3_API Vst3ParameterChanges::getPoint(void* self, int32_t index, int32_t* offset, double* value) {
    const Queue* queue = reinterpret_cast<Queue*>(self);
    if (index < 0 || index >= queue->count || !offset || !value)
        return V3_INVALID_ARG;
    *offset = queue->offsets[index];
    *value = queue->values[index];
    return V3_OK;
}

v3_result V3_API Vst3ParameterChanges::addPointCall(void* self, int32_t offset, double value, int32_t* index) {
    int32_t at = 0;
    if (!addPoint(*reinterpret_cast<Queue*>(self), offset, value, &at))
        return V3_INVALID_ARG;
    if (index)
        *index = at;
    return V3_OK;
}

Vst3ParameterHandover::Vst3ParameterHandover() {
    for (uint32_t i = 0; i < kCapacity; ++i)
        slots_[i].sequence.store(i, std::memory_order_relaxed);
}

bool Vst3ParameterHandover::push(v3_param_id id, double value) {
    uint32_t position = head_.load(std::memory_order_relaxed);
    for (;;) {
        Slot& slot = slots_[position & (kCapacity - 1)];
        const uint32_t sequence = slot.sequence.load(std::memory_order_acquire);
        const int32_t lag = int32_t(sequence - position);
        if (lag == 0) {
            if (head_.compare_exchange_weak(position, position + 1, std::memory_order_relaxed)) {
                slot.id = id;
                slot.value = value;
                slot.sequence.store(position + 1, std::memory_order_release);
                return true;
            }
        } else if (lag < 0) {
            return false;  // full
        } else {
            position = head_.load(std::memory_order_relaxed);
        }
    }
}

bool Vst3ParameterHandover::pop(v3_param_id* id, double* value) {
    const uint32_t position = tail_.load(std::memory_order_relaxed);
    Slot& slot = slots_[position & (kCapacity - 1)];
    if (slot.sequence.load(std::memory_order_acquire) != position + 1)
        return false;
    *id = slot.id;
    *value = slot.value;
    slot.sequence.store(position + kCapacity, std::memory_order_release);
    tail_.store(position + 1, std::memory_order_relaxed);
    return true;
}

void Vst3ParameterHandover::drainInto(Vst3ParameterChanges& block) {
    if (holding_) {
        if (!block.add(heldId_, 0, heldValue_))
            return;
        holding_ = false;
    }
    v3_param_id id;
    double value;
    while (pop(&id, &value)) {
        if (!block.add(id, 0, value)) {
            holding_ = true;
            heldId_ = id;
            heldValue_ = value;
            return;
        }
    }
}

bool Vst3ParameterHandover::empty() const {
    return !holding_ && head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
}
