#pragma once
// The VST3 declarations this backend uses (the C declarations from Debian's
// dpf-source, found by the build), pinned by compile-time checks for the width being
// built, and the helpers through which every call into a plug-in is made: each checks
// the object, its vtable and the method before calling.
#include <cstddef>
#include <cstdint>

#include "audio_processor.h"
#include "base.h"
#include "bstream.h"
#include "component.h"
#include "edit_controller.h"
#include "events.h"
#include "factory.h"
#include "host.h"
#include "message.h"
#include "unit.h"
#include "view.h"

namespace vst3abi {

// The byte order of interface IDs: on Windows the COM order (the first 32-bit word and
// the two halves of the second little-endian, the rest as written), as the plug-ins'
// factories compare them byte for byte.
#if defined(_WIN32)
static_assert(V3_COM_COMPAT == 1, "Windows plug-ins compare interface IDs in COM byte order");
// IUnknown must be COM's own {00000000-0000-0000-C000-000000000046}.
static_assert(v3_funknown_iid[8] == 0xC0 && v3_funknown_iid[15] == 0x46 && v3_funknown_iid[0] == 0, "IUnknown");
// IComponent E831FF31-F2D54301-928EBBEE-25697802: words 1 and 2 swapped into COM order.
static_assert(v3_component_iid[0] == 0x31 && v3_component_iid[1] == 0xFF && v3_component_iid[2] == 0x31 &&
                  v3_component_iid[3] == 0xE8 && v3_component_iid[4] == 0xD5 && v3_component_iid[5] == 0xF2 &&
                  v3_component_iid[6] == 0x01 && v3_component_iid[7] == 0x43 && v3_component_iid[8] == 0x92 &&
                  v3_component_iid[15] == 0x02,
              "IComponent in COM byte order");
static_assert(v3_edit_controller_iid[0] == 0xE3 && v3_edit_controller_iid[3] == 0xDC &&
                  v3_edit_controller_iid[4] == 0x42 && v3_edit_controller_iid[6] == 0x8D &&
                  v3_edit_controller_iid[8] == 0xA8,
              "IEditController in COM byte order");
static_assert(v3_audio_processor_iid[0] == 0x99 && v3_audio_processor_iid[3] == 0x42 &&
                  v3_audio_processor_iid[4] == 0xDA && v3_audio_processor_iid[5] == 0xB7 &&
                  v3_audio_processor_iid[6] == 0x3C && v3_audio_processor_iid[7] == 0x45,
              "IAudioProcessor in COM byte order");
#endif

// The structures passed by pointer, as the plug-ins' compilers lay them out.
static_assert(sizeof(v3_tuid) == 16, "TUID");
static_assert(sizeof(v3_process_setup) == 24 && offsetof(v3_process_setup, max_block_size) == 8 &&
                  offsetof(v3_process_setup, sample_rate) == 16,
              "ProcessSetup");
static_assert(offsetof(v3_audio_bus_buffers, channel_silence_bitset) == 8 &&
                  offsetof(v3_audio_bus_buffers, channel_buffers_32) == 16 && sizeof(v3_audio_bus_buffers) == 24,
              "AudioBusBuffers");
#if defined(_WIN64) || (!defined(_WIN32) && UINTPTR_MAX > 0xFFFFFFFFu)
static_assert(offsetof(v3_process_data, inputs) == 24 && offsetof(v3_process_data, input_params) == 40 &&
                  offsetof(v3_process_data, ctx) == 72 && sizeof(v3_process_data) == 80,
              "ProcessData (64-bit)");
#else
static_assert(offsetof(v3_process_data, inputs) == 20 && offsetof(v3_process_data, input_params) == 28 &&
                  offsetof(v3_process_data, ctx) == 44 && sizeof(v3_process_data) == 48,
              "ProcessData (32-bit)");
#endif
static_assert(offsetof(v3_param_info, title) == 4 && offsetof(v3_param_info, step_count) == 772 &&
                  offsetof(v3_param_info, default_normalised_value) == 776 && offsetof(v3_param_info, flags) == 788 &&
                  sizeof(v3_param_info) == 792,
              "ParameterInfo");
static_assert(sizeof(v3_view_rect) == 16 && offsetof(v3_view_rect, bottom) == 12, "ViewRect");
static_assert(sizeof(v3_class_info) == 116 && sizeof(v3_class_info_2) == 440, "PClassInfo, PClassInfo2");
static_assert(sizeof(v3_bus_info) == 276, "BusInfo");

// The method table of obj, or null when the object or its table is missing.
template <class I>
I* methods(I** obj) {
    return obj && *obj ? v3_cpp_obj(obj) : nullptr;
}

// Calls obj's method field with args, or answers fallback when the object, its table
// or the method is missing.
template <class I, class Fn, class R, class... A>
R call(I** obj, Fn I::*field, R fallback, A... args) {
    I* table = methods(obj);
    if (!table)
        return fallback;
    Fn fn = table->*field;
    if (!fn)
        return fallback;
    return fn(obj, args...);
}

inline v3_funknown* unknownOf(void* obj) {
    return obj && *static_cast<void**>(obj) ? *static_cast<v3_funknown**>(obj) : nullptr;
}

// The interface iid of obj (a counted reference), or null.
inline void* query(void* obj, const v3_tuid iid) {
    v3_funknown* table = unknownOf(obj);
    if (!table || !table->query_interface)
        return nullptr;
    void* answer = nullptr;
    if (table->query_interface(obj, iid, &answer) != V3_OK || !answer || !*static_cast<void**>(answer))
        return nullptr;
    return answer;
}

inline void release(void* obj) {
    v3_funknown* table = unknownOf(obj);
    if (table && table->unref)
        table->unref(obj);
}

inline void addRef(void* obj) {
    v3_funknown* table = unknownOf(obj);
    if (table && table->ref)
        table->ref(obj);
}

// One counted reference to a plug-in object, released with the holder.
template <class I>
class Ref {
public:
    Ref() = default;
    explicit Ref(I** adopted) : obj_(adopted) {}
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    I** get() const { return obj_; }
    explicit operator bool() const { return obj_ != nullptr; }
    void reset(I** adopted = nullptr) {
        if (obj_)
            release(obj_);
        obj_ = adopted;
    }
    // The object's interface J as a reference of its own.
    template <class J>
    J** as(const v3_tuid iid) const {
        return static_cast<J**>(query(obj_, iid));
    }

private:
    I** obj_ = nullptr;
};

}  // namespace vst3abi
