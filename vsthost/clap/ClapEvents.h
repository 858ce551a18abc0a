#pragma once
// The events between host and plug-in around one process (or flush) call. Fixed
// sizes, no allocation after construction: they live on the audio thread.
#include <atomic>
#include <cstdint>

#include "ClapAbi.h"

// A parameter value the host set, travelling from the UI thread to the next process
// call. Single producer (UI thread), single consumer (whoever calls the plug-in:
// process on the audio thread, or flush on the UI thread while inactive).
struct ClapParamChange {
    clap_id id;
    void* cookie;
    double value;  // plain value, in the parameter's own range
};

class ClapParamQueue {
public:
    static constexpr uint32_t kCapacity = 512;
    bool push(const ClapParamChange& change);  // false (and nothing queued) when full
    bool pop(ClapParamChange& change);
    bool empty() const { return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire); }

private:
    ClapParamChange slots_[kCapacity] = {};
    std::atomic<uint32_t> head_{0};  // next to pop; written by the consumer
    std::atomic<uint32_t> tail_{0};  // next to push; written by the producer
};

// The input events of one call: parameter values, all at sample offset 0 and in the
// order they were set.
class ClapInputEvents {
public:
    ClapInputEvents();
    ClapInputEvents(const ClapInputEvents&) = delete;
    ClapInputEvents& operator=(const ClapInputEvents&) = delete;
    void clear() { count_ = 0; }
    // Moves everything queued into the list; what does not fit stays queued.
    void takeFrom(ClapParamQueue& queue);
    uint32_t count() const { return count_; }
    const clap_input_events_t* list() const { return &list_; }

private:
    static uint32_t size(const clap_input_events_t* list);
    static const clap_event_header_t* get(const clap_input_events_t* list, uint32_t index);
    clap_input_events_t list_;
    clap_event_param_value_t events_[ClapParamQueue::kCapacity];
    uint32_t count_ = 0;
};

// The plug-in's output events: each is checked before a byte of it is believed, and
// parameter values go to the sink; everything else is accepted and dropped.
class ClapOutputEvents {
public:
    using Sink = void (*)(void* context, clap_id id, double value);
    ClapOutputEvents(Sink sink, void* context);
    ClapOutputEvents(const ClapOutputEvents&) = delete;
    ClapOutputEvents& operator=(const ClapOutputEvents&) = delete;
    const clap_output_events_t* list() const { return &list_; }
    // Events refused as malformed since construction (any thread may read).
    uint32_t refused() const { return refused_.load(std::memory_order_relaxed); }

    static constexpr uint32_t kMaxEventSize = 1u << 16;  // larger than any CLAP event

private:
    static bool tryPush(const clap_output_events_t* list, const clap_event_header_t* event);
    clap_output_events_t list_;
    Sink sink_;
    void* context_;
    std::atomic<uint32_t> refused_{0};
};
