#include "ClapEvents.h"

#include <cmath>
#include <cstring>

bool ClapParamQueue::push(const ClapParamChange& change) {
    const uint32_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) >= kCapacity)
        return false;
    slots_[tail % kCapacity] = change;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

bool ClapParamQueue::pop(ClapParamChange& change) {
    const uint32_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire))
        return false;
    change = slots_[head % kCapacity];
    head_.store(head + 1, std::memory_order_release);
    return true;
}

ClapInputEvents::ClapInputEvents() : list_{this, size, get} { std::memset(events_, 0, sizeof events_); }

void ClapInputEvents::takeFrom(ClapParamQueue& queue) {
    ClapParamChange change;
    while (count_ < ClapParamQueue::kCapacity && queue.pop(change)) {
        clap_event_param_value_t& e = events_[count_++];
        e.header.size = sizeof e;
        e.header.time = 0;
        e.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
        e.header.type = CLAP_EVENT_PARAM_VALUE;
        e.header.flags = CLAP_EVENT_IS_LIVE;
        e.param_id = change.id;
        e.cookie = change.cookie;
        e.note_id = -1;
        e.port_index = -1;
        e.channel = -1;
        e.key = -1;
        e.value = change.value;
    }
}

uint32_t ClapInputEvents::size(const clap_input_events_t* list) {
    return list && list->ctx ? static_cast<const ClapInputEvents*>(list->ctx)->count_ : 0;
}

const clap_event_header_t* ClapInputEvents::get(const clap_input_events_t* list, uint32_t index) {
    if (!list || !list->ctx)
        return nullptr;
    const ClapInputEvents* self = static_cast<const ClapInputEvents*>(list->ctx);
    return index < self->count_ ? &self->events_[index].header : nullptr;
}

ClapOutputEvents::ClapOutputEvents(Sink sink, void* context) : list_{this, tryPush}, sink_(sink), context_(context) {}

bool ClapOutputEvents::tryPush(const clap_output_events_t* list, const clap_event_header_t* event) {
    if (!list || !list->ctx)
        return false;
    ClapOutputEvents* self = static_cast<ClapOutputEvents*>(list->ctx);
    clap_event_header_t header;
    if (!event) {
        self->refused_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    std::memcpy(&header, event, sizeof header);  // the plug-in's event may be unaligned
    if (header.size < sizeof header || header.size > kMaxEventSize) {
        self->refused_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (header.space_id != CLAP_CORE_EVENT_SPACE_ID || header.type != CLAP_EVENT_PARAM_VALUE)
        return true;  // gestures, notes, other spaces: nothing the seam carries
    if (header.size < sizeof(clap_event_param_value_t)) {
        self->refused_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    clap_event_param_value_t value;
    std::memcpy(&value, event, sizeof value);
    if (!std::isfinite(value.value)) {
        self->refused_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (self->sink_)
        self->sink_(self->context_, value.param_id, value.value);
    return true;
}
