#pragma once
// The host's objects a VST3 plug-in talks to: the host application (its name, and
// messages with attribute lists for the component and controller to exchange), the
// component handler and the editor's frame (both forwarding to the instance), and the
// empty event list of an effect's block.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Vst3Abi.h"

// The host application: one for the process, never freed. Any thread.
class Vst3HostApplication {
public:
    // The object handed to initialize and to the factory's host context.
    static v3_funknown** context();
    // Messages and attribute lists alive now (for tests of the balance of counts).
    static int liveObjects();
};

// What the component handler and the frame pass on. Each names its thread.
class Vst3HandlerTarget {
public:
    virtual ~Vst3HandlerTarget() = default;
    // From the controller (UI thread by the format's rules; checked by the target).
    virtual v3_result beginEdit(v3_param_id id) = 0;
    virtual v3_result performEdit(v3_param_id id, double value) = 0;
    virtual v3_result endEdit(v3_param_id id) = 0;
    virtual v3_result restartComponent(int32_t flags) = 0;
    // From the view (UI thread).
    virtual v3_result resizeView(v3_plugin_view** view, v3_view_rect* rect) = 0;
};

// IComponentHandler of one instance. Owned by the instance; the plug-in's counts are
// kept so that a reference left behind is seen.
class Vst3ComponentHandler {
public:
    explicit Vst3ComponentHandler(Vst3HandlerTarget* target) : target_(target) {}
    v3_component_handler** handler() { return static_cast<v3_component_handler**>(static_cast<void*>(&table_)); }
    uint32_t references() const { return refs_.load(); }

    struct Table : v3_funknown {
        v3_component_handler handler;
    };

private:
    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj);
    static uint32_t V3_API addRef(void* self);
    static uint32_t V3_API unref(void* self);
    static v3_result V3_API beginEdit(void* self, v3_param_id id);
    static v3_result V3_API performEdit(void* self, v3_param_id id, double value);
    static v3_result V3_API endEdit(void* self, v3_param_id id);
    static v3_result V3_API restartComponent(void* self, int32_t flags);
    static Vst3ComponentHandler* of(void* self) { return reinterpret_cast<Vst3ComponentHandler*>(self); }

    static const Table kTable;
    const Table* table_ = &kTable;  // first member: the object's address is its interface pointer
    std::atomic<uint32_t> refs_{0};
    Vst3HandlerTarget* target_;
};

// IPlugFrame of one instance's editor.
class Vst3PlugFrame {
public:
    explicit Vst3PlugFrame(Vst3HandlerTarget* target) : target_(target) {}
    v3_plugin_frame** frame() { return static_cast<v3_plugin_frame**>(static_cast<void*>(&table_)); }
    uint32_t references() const { return refs_.load(); }

    struct Table : v3_funknown {
        v3_plugin_frame frame;
    };

private:
    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj);
    static uint32_t V3_API addRef(void* self);
    static uint32_t V3_API unref(void* self);
    static v3_result V3_API resizeView(void* self, v3_plugin_view** view, v3_view_rect* rect);
    static Vst3PlugFrame* of(void* self) { return reinterpret_cast<Vst3PlugFrame*>(self); }

    static const Table kTable;
    const Table* table_ = &kTable;  // first member, as above
    std::atomic<uint32_t> refs_{0};
    Vst3HandlerTarget* target_;
};

// The input and output event lists of an effect's block: always empty. Audio thread.
class Vst3EmptyEvents {
public:
    v3_event_list** list() { return static_cast<v3_event_list**>(static_cast<void*>(&table_)); }

    struct Table : v3_funknown {
        v3_event_list list;
    };

private:
    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj);
    static uint32_t V3_API noCount(void*);
    static uint32_t V3_API count(void*);
    static v3_result V3_API get(void*, int32_t, v3_event*);
    static v3_result V3_API add(void*, v3_event*);

    static const Table kTable;
    const Table* table_ = &kTable;
};
