// The VST3 build of one of our effects: the module's entry points, its factory and
// one object that is component, audio processor and edit controller at once (the
// format's single-component form), around the effect's EffectRunner.
//
// Threads, as the format lays them down: the factory, the component and the
// controller are called on the host's UI thread; process (and set_processing) on
// its audio thread. The controller part never runs on the audio thread and the
// processor part touches the UI side's values only through EffectRunner's atomics.
//
// Every function here is an entry point of the format: each checks its object and
// arguments and answers a failure with the format's result code, never a crash.
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

#include "EffectDescription.h"
#include "EffectRunner.h"
#include "audio_processor.h"
#include "base.h"
#include "bstream.h"
#include "component.h"
#include "edit_controller.h"
#include "factory.h"
#include "view.h"
#if defined(_WIN32)
#include "Vst3View.h"
#endif

#if defined(_WIN32)
#define TALVENOR_VST3_EXPORT extern "C" __declspec(dllexport)
#else
#define TALVENOR_VST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// The program list's parameter id, clear of the effects' parameter indices.
constexpr v3_param_id kProgramParameter = 1000;
// No state of ours comes near this; a stream that goes on is not ours.
constexpr int32_t kMaxStateBytes = 4096;

bool sameId(const v3_tuid a, const v3_tuid b) {
    return std::memcmp(a, b, sizeof(v3_tuid)) == 0;
}

// The class id from its four words, in the byte order of the format on this
// platform (COM's GUID layout on Windows).
void classIdOf(const EffectDescription& d, v3_tuid out) {
    const uint32_t* w = d.vst3ClassWords;
    // The declarations' macro lays the bytes out for this platform; its masked
    // words fit their bytes, which clang cannot tell of values known only at run time.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wc++11-narrowing"
#endif
    const v3_tuid id = V3_ID(w[0], w[1], w[2], w[3]);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    std::memcpy(out, id, sizeof(v3_tuid));
}

void toUtf16(const char* text, int16_t* out, size_t units) {
    size_t i = 0;
    for (; text[i] && i + 1 < units; ++i)
        out[i] = int16_t(uint8_t(text[i]));
    out[i] = 0;
}

int32_t arrangementChannels(v3_speaker_arrangement arrangement) {
    int32_t n = 0;
    for (; arrangement; arrangement &= arrangement - 1)
        ++n;
    return n;
}

v3_speaker_arrangement arrangementOf(int32_t channels) {
    return channels == 1 ? v3_speaker_arrangement(V3_SPEAKER_M) : v3_speaker_arrangement(V3_SPEAKER_L | V3_SPEAKER_R);
}

// --- the effect object ---

struct ComponentTable : v3_funknown {
    v3_plugin_base base;
    v3_component component;
};
struct ProcessorTable : v3_funknown {
    v3_audio_processor processor;
};
struct ControllerTable : v3_funknown {
    v3_plugin_base base;
    v3_edit_controller controller;
};

const ComponentTable& componentTable();
const ProcessorTable& processorTable();
const ControllerTable& controllerTable();

struct Vst3Effect;

// The three interface pointers the host holds the address of, with the way back
// to their object (a plain struct, so the offsets are well defined).
struct Interfaces {
    const ComponentTable* component;
    const ProcessorTable* processor;
    const ControllerTable* controller;
    Vst3Effect* owner;
};

uint32_t addRef(Vst3Effect* e);
uint32_t release(Vst3Effect* e);

#if defined(_WIN32)
// The editor's view of the effect: the controller's values, and the user's edits
// told to the host as the format asks (begin, perform, end through the handler).
class EditorSide final : public Vst3ViewOwner {
public:
    explicit EditorSide(Vst3Effect& effect) : effect_(effect) {}
    int32_t rowCount() const override;
    bool rowName(int32_t row, char* text, size_t size) const override;
    bool rowText(int32_t row, char* text, size_t size) const override;
    float rowValue(int32_t row) const override;
    void beginEdit(int32_t row) override;
    void edit(int32_t row, float value) override;
    void endEdit(int32_t row) override;
    void retain() override;
    void release() override;

private:
    Vst3Effect& effect_;
};
#endif

struct Vst3Effect {
    Interfaces faces = {&componentTable(), &processorTable(), &controllerTable(), this};
    std::atomic<uint32_t> refs{1};
    EffectRunner runner;
    bool initialised = false;
    v3_component_handler** handler = nullptr;
    EffectRunner::ChangeList changes;  // audio thread
#if defined(_WIN32)
    EditorSide editor{*this};
#endif

    ~Vst3Effect() {
        if (handler)
            v3_cpp_obj_unref(handler);
    }
};

#if defined(_WIN32)
int32_t EditorSide::rowCount() const { return effect_.runner.parameterCount(); }
bool EditorSide::rowName(int32_t row, char* text, size_t size) const {
    return effect_.runner.parameterName(row, text, size);
}
bool EditorSide::rowText(int32_t row, char* text, size_t size) const {
    char shown[128], unit[128];
    if (!effect_.runner.valueText(row, effect_.runner.parameterValue(row), shown, sizeof shown))
        return false;
    effect_.runner.parameterLabel(row, unit, sizeof unit);
    std::snprintf(text, size, unit[0] ? "%s %s" : "%s", shown, unit);
    return true;
}
float EditorSide::rowValue(int32_t row) const { return effect_.runner.parameterValue(row); }
void EditorSide::beginEdit(int32_t row) {
    if (effect_.handler)
        v3_cpp_obj(effect_.handler)->begin_edit(effect_.handler, v3_param_id(row));
}
void EditorSide::edit(int32_t row, float value) {
    // Shown at once; the processor gets it from the host, as every change.
    effect_.runner.setShownValue(row, value);
    if (effect_.handler)
        v3_cpp_obj(effect_.handler)->perform_edit(effect_.handler, v3_param_id(row), value);
}
void EditorSide::endEdit(int32_t row) {
    if (effect_.handler)
        v3_cpp_obj(effect_.handler)->end_edit(effect_.handler, v3_param_id(row));
}
void EditorSide::retain() { addRef(&effect_); }
void EditorSide::release() { ::release(&effect_); }
#endif

Vst3Effect* effectAt(void* self, size_t offset) {
    return self ? reinterpret_cast<Interfaces*>(static_cast<char*>(self) - offset)->owner : nullptr;
}
Vst3Effect* fromComponent(void* self) { return effectAt(self, offsetof(Interfaces, component)); }
Vst3Effect* fromProcessor(void* self) { return effectAt(self, offsetof(Interfaces, processor)); }
Vst3Effect* fromController(void* self) { return effectAt(self, offsetof(Interfaces, controller)); }

v3_result answerInterface(Vst3Effect* e, const v3_tuid iid, void** obj) {
    if (!obj)
        return V3_INVALID_ARG;
    *obj = nullptr;
    if (!e || !iid)
        return V3_INVALID_ARG;
    if (sameId(iid, v3_funknown_iid) || sameId(iid, v3_plugin_base_iid) || sameId(iid, v3_component_iid))
        *obj = &e->faces.component;
    else if (sameId(iid, v3_audio_processor_iid))
        *obj = &e->faces.processor;
    else if (sameId(iid, v3_edit_controller_iid))
        *obj = &e->faces.controller;
    else
        return V3_NO_INTERFACE;
    ++e->refs;
    return V3_OK;
}

uint32_t addRef(Vst3Effect* e) { return e ? ++e->refs : 0; }
uint32_t release(Vst3Effect* e) {
    if (!e)
        return 0;
    const uint32_t left = --e->refs;
    if (left == 0)
        delete e;
    return left;
}

// --- plug-in base (shared by the component's and the controller's table) ---

v3_result initialise(Vst3Effect* e) {
    if (!e)
        return V3_INVALID_ARG;
    e->initialised = true;
    return V3_OK;
}
v3_result terminate(Vst3Effect* e) {
    if (!e)
        return V3_INVALID_ARG;
    e->runner.deactivate();
    e->initialised = false;
    return V3_OK;
}

// --- state streams ---

bool readStream(v3_bstream** stream, uint8_t* buffer, int32_t capacity, int32_t* size) {
    if (!stream || !*stream)
        return false;
    int32_t used = 0;
    while (used < capacity) {
        int32_t got = 0;
        if (v3_cpp_obj(stream)->read(stream, buffer + used, capacity - used, &got) != V3_OK || got <= 0)
            break;
        used += got;
    }
    *size = used;
    return true;
}

v3_result readState(Vst3Effect* e, v3_bstream** stream, bool apply) {
    if (!e)
        return V3_INVALID_ARG;
    // One byte more than our record may hold tells a longer (foreign) stream apart.
    uint8_t buffer[kMaxStateBytes + 1];
    int32_t size = 0;
    if (!readStream(stream, buffer, kMaxStateBytes + 1, &size))
        return V3_INVALID_ARG;
    const bool read = apply ? e->runner.loadState(buffer, size_t(size)) : e->runner.checkState(buffer, size_t(size));
    return read ? V3_OK : V3_FALSE;
}

v3_result writeState(Vst3Effect* e, v3_bstream** stream) {
    if (!e || !stream || !*stream)
        return V3_INVALID_ARG;
    uint8_t buffer[kMaxStateBytes];
    const size_t size = e->runner.stateSize();
    if (size > sizeof buffer || !e->runner.saveState(buffer, size))
        return V3_INTERNAL_ERR;
    int32_t written = 0;
    if (v3_cpp_obj(stream)->write(stream, buffer, int32_t(size), &written) != V3_OK || written != int32_t(size))
        return V3_FALSE;
    return V3_OK;
}

// --- component ---

v3_result V3_API cQuery(void* self, const v3_tuid iid, void** obj) { return answerInterface(fromComponent(self), iid, obj); }
uint32_t V3_API cRef(void* self) { return addRef(fromComponent(self)); }
uint32_t V3_API cUnref(void* self) { return release(fromComponent(self)); }
v3_result V3_API cInitialise(void* self, v3_funknown**) { return initialise(fromComponent(self)); }
v3_result V3_API cTerminate(void* self) { return terminate(fromComponent(self)); }

v3_result V3_API cControllerClassId(void*, v3_tuid id) {
    // The component is its own controller: there is no separate class.
    if (id)
        std::memset(id, 0, sizeof(v3_tuid));
    return V3_NOT_IMPLEMENTED;
}
v3_result V3_API cSetIoMode(void*, int32_t) { return V3_OK; }
int32_t V3_API cBusCount(void* self, int32_t type, int32_t) {
    return fromComponent(self) && type == V3_AUDIO ? 1 : 0;
}
v3_result V3_API cBusInfo(void* self, int32_t type, int32_t direction, int32_t index, v3_bus_info* info) {
    Vst3Effect* e = fromComponent(self);
    if (!e || !info || type != V3_AUDIO || index != 0 || (direction != V3_INPUT && direction != V3_OUTPUT))
        return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    info->media_type = V3_AUDIO;
    info->direction = direction;
    info->channel_count = direction == V3_INPUT ? e->runner.inputCount() : e->runner.outputCount();
    toUtf16(direction == V3_INPUT ? "Input" : "Output", info->bus_name, 128);
    info->bus_type = V3_MAIN;
    info->flags = V3_DEFAULT_ACTIVE;
    return V3_OK;
}
v3_result V3_API cRoutingInfo(void*, v3_routing_info*, v3_routing_info*) { return V3_NOT_IMPLEMENTED; }
v3_result V3_API cActivateBus(void* self, int32_t type, int32_t, int32_t index, v3_bool) {
    return fromComponent(self) && type == V3_AUDIO && index == 0 ? V3_OK : V3_INVALID_ARG;
}
v3_result V3_API cSetActive(void* self, v3_bool state) {
    Vst3Effect* e = fromComponent(self);
    if (!e)
        return V3_INVALID_ARG;
    if (state)
        e->runner.activate();
    else
        e->runner.deactivate();
    return V3_OK;
}
v3_result V3_API cSetState(void* self, v3_bstream** stream) { return readState(fromComponent(self), stream, true); }
v3_result V3_API cGetState(void* self, v3_bstream** stream) { return writeState(fromComponent(self), stream); }

// --- audio processor ---

v3_result V3_API pQuery(void* self, const v3_tuid iid, void** obj) { return answerInterface(fromProcessor(self), iid, obj); }
uint32_t V3_API pRef(void* self) { return addRef(fromProcessor(self)); }
uint32_t V3_API pUnref(void* self) { return release(fromProcessor(self)); }

v3_result V3_API pSetBusArrangements(void* self, v3_speaker_arrangement* ins, int32_t inCount,
                                     v3_speaker_arrangement* outs, int32_t outCount) {
    Vst3Effect* e = fromProcessor(self);
    if (!e || inCount != 1 || outCount != 1 || !ins || !outs)
        return V3_INVALID_ARG;
    if (e->runner.active())
        return V3_FALSE;
    // Our buses are fixed: the host is told so and asks for them as they are.
    return arrangementChannels(ins[0]) == e->runner.inputCount() &&
                   arrangementChannels(outs[0]) == e->runner.outputCount()
               ? V3_OK
               : V3_FALSE;
}
v3_result V3_API pGetBusArrangement(void* self, int32_t direction, int32_t index, v3_speaker_arrangement* arrangement) {
    Vst3Effect* e = fromProcessor(self);
    if (!e || !arrangement || index != 0 || (direction != V3_INPUT && direction != V3_OUTPUT))
        return V3_INVALID_ARG;
    *arrangement = arrangementOf(direction == V3_INPUT ? e->runner.inputCount() : e->runner.outputCount());
    return V3_OK;
}
v3_result V3_API pCanProcessSampleSize(void*, int32_t size) { return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE; }
uint32_t V3_API pLatency(void*) { return 0; }
v3_result V3_API pSetupProcessing(void* self, v3_process_setup* setup) {
    Vst3Effect* e = fromProcessor(self);
    if (!e || !setup || setup->symbolic_sample_size != V3_SAMPLE_32)
        return V3_INVALID_ARG;
    if (e->runner.active())
        return V3_FALSE;
    return e->runner.configure(setup->sample_rate, setup->max_block_size) ? V3_OK : V3_INVALID_ARG;
}
// Processing runs while the component is active; switching it off is always fine.
v3_result V3_API pSetProcessing(void* self, v3_bool state) {
    Vst3Effect* e = fromProcessor(self);
    if (!e)
        return V3_INVALID_ARG;
    return !state || e->runner.active() ? V3_OK : V3_NOT_INITIALIZED;
}

// The host's changes for this block, in frame order, as parameter indices.
void gatherChanges(Vst3Effect* e, v3_param_changes** changes) {
    e->changes.clear();
    if (!changes || !*changes)
        return;
    const int32_t queues = v3_cpp_obj(changes)->get_param_count(changes);
    for (int32_t q = 0; q < queues; ++q) {
        v3_param_value_queue** queue = v3_cpp_obj(changes)->get_param_data(changes, q);
        if (!queue || !*queue)
            continue;
        const v3_param_id id = v3_cpp_obj(queue)->get_param_id(queue);
        int32_t index;
        if (id == kProgramParameter)
            index = EffectRunner::kProgramIndex;
        else if (e->runner.isParameter(int32_t(id)))
            index = int32_t(id);
        else
            continue;  // an id we never gave out
        const int32_t points = v3_cpp_obj(queue)->get_point_count(queue);
        for (int32_t p = 0; p < points; ++p) {
            int32_t offset = 0;
            double value = 0.0;
            if (v3_cpp_obj(queue)->get_point(queue, p, &offset, &value) == V3_OK)
                e->changes.add(offset, index, float(value));
        }
    }
}

v3_result V3_API pProcess(void* self, v3_process_data* data) {
    Vst3Effect* e = fromProcessor(self);
    if (!e || !data)
        return V3_INVALID_ARG;
    if (!e->runner.active())
        return V3_NOT_INITIALIZED;
    if (data->symbolic_sample_size != V3_SAMPLE_32 || data->nframes < 0)
        return V3_INVALID_ARG;
    gatherChanges(e, data->input_params);
    if (data->nframes == 0 || data->num_input_buses < 1 || data->num_output_buses < 1 || !data->inputs ||
        !data->outputs) {
        // A call that only carries changes (the format's "flush").
        EffectRunner::ChangeList& changes = e->changes;
        for (int32_t i = 0; i < changes.count(); ++i)
            e->runner.apply(changes.data()[i].index, changes.data()[i].value);
        return data->nframes == 0 ? V3_OK : V3_INVALID_ARG;
    }
    const v3_audio_bus_buffers& in = data->inputs[0];
    const v3_audio_bus_buffers& out = data->outputs[0];
    if (in.num_channels < e->runner.inputCount() || out.num_channels < e->runner.outputCount() ||
        !in.channel_buffers_32 || !out.channel_buffers_32)
        return V3_INVALID_ARG;
    const bool processed = e->runner.process(in.channel_buffers_32, out.channel_buffers_32, data->nframes, e->changes);
    data->outputs[0].channel_silence_bitset = 0;
    return processed ? V3_OK : V3_INVALID_ARG;
}
uint32_t V3_API pTail(void*) { return 0; }

// --- edit controller ---

v3_result V3_API eQuery(void* self, const v3_tuid iid, void** obj) { return answerInterface(fromController(self), iid, obj); }
uint32_t V3_API eRef(void* self) { return addRef(fromController(self)); }
uint32_t V3_API eUnref(void* self) { return release(fromController(self)); }
v3_result V3_API eInitialise(void* self, v3_funknown**) { return initialise(fromController(self)); }
v3_result V3_API eTerminate(void* self) { return terminate(fromController(self)); }

// The component's state already reached this same object; it is only checked.
v3_result V3_API eSetComponentState(void* self, v3_bstream** stream) {
    return readState(fromController(self), stream, false);
}
// The controller keeps nothing of its own.
v3_result V3_API eSetState(void* self, v3_bstream**) { return fromController(self) ? V3_OK : V3_INVALID_ARG; }
v3_result V3_API eGetState(void* self, v3_bstream**) { return fromController(self) ? V3_OK : V3_INVALID_ARG; }

int32_t V3_API eParameterCount(void* self) {
    Vst3Effect* e = fromController(self);
    return e ? e->runner.parameterCount() + 1 : 0;
}
v3_result V3_API eParameterInfo(void* self, int32_t index, v3_param_info* info) {
    Vst3Effect* e = fromController(self);
    if (!e || !info || index < 0 || index > e->runner.parameterCount())
        return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    if (index == e->runner.parameterCount()) {
        info->param_id = kProgramParameter;
        toUtf16("Program", info->title, 128);
        toUtf16("Program", info->short_title, 128);
        info->step_count = e->runner.programCount() - 1;
        info->flags = V3_PARAM_PROGRAM_CHANGE | V3_PARAM_IS_LIST;
        return V3_OK;
    }
    char text[128];
    info->param_id = v3_param_id(index);
    e->runner.parameterName(index, text, sizeof text);
    toUtf16(text, info->title, 128);
    toUtf16(text, info->short_title, 128);
    e->runner.parameterLabel(index, text, sizeof text);
    toUtf16(text, info->units, 128);
    info->default_normalised_value = e->runner.defaultValue(index);
    info->flags = V3_PARAM_CAN_AUTOMATE;
    return V3_OK;
}
v3_result V3_API eStringForValue(void* self, v3_param_id id, double value, v3_str_128 out) {
    Vst3Effect* e = fromController(self);
    if (!e || !out)
        return V3_INVALID_ARG;
    char text[128];
    bool known;
    if (id == kProgramParameter) {
        const int32_t last = e->runner.programCount() - 1;
        const int32_t program = value <= 0.0 ? 0 : value >= 1.0 ? last : int32_t(value * last + 0.5);
        known = e->runner.programName(program, text, sizeof text);
    } else {
        known = e->runner.isParameter(int32_t(id)) && e->runner.valueText(int32_t(id), float(value), text, sizeof text);
    }
    if (!known)
        return V3_INVALID_ARG;
    toUtf16(text, out, 128);
    return V3_OK;
}
v3_result V3_API eValueForString(void*, v3_param_id, int16_t*, double*) { return V3_NOT_IMPLEMENTED; }
double V3_API eToPlain(void* self, v3_param_id id, double value) {
    Vst3Effect* e = fromController(self);
    return e && id == kProgramParameter ? value * (e->runner.programCount() - 1) : value;
}
double V3_API eToNormalised(void* self, v3_param_id id, double value) {
    Vst3Effect* e = fromController(self);
    return e && id == kProgramParameter && e->runner.programCount() > 1 ? value / (e->runner.programCount() - 1) : value;
}
double V3_API eGetNormalised(void* self, v3_param_id id) {
    Vst3Effect* e = fromController(self);
    if (!e)
        return 0.0;
    if (id == kProgramParameter)
        return e->runner.programCount() > 1 ? double(e->runner.currentProgram()) / (e->runner.programCount() - 1) : 0.0;
    return e->runner.parameterValue(int32_t(id));
}
v3_result V3_API eSetNormalised(void* self, v3_param_id id, double value) {
    Vst3Effect* e = fromController(self);
    if (!e)
        return V3_INVALID_ARG;
    // The controller's value only: the processor takes the host's changes from its
    // queues, at their frames (applying this at the next block would put automation
    // ahead of its place).
    if (id == kProgramParameter) {
        const int32_t last = e->runner.programCount() - 1;
        const int32_t program = !(value > 0.0) ? 0 : value >= 1.0 ? last : int32_t(value * last + 0.5);
        return e->runner.setShownProgram(program) ? V3_OK : V3_INVALID_ARG;
    }
    return e->runner.isParameter(int32_t(id)) && e->runner.setShownValue(int32_t(id), float(value)) ? V3_OK
                                                                                                 : V3_INVALID_ARG;
}
v3_result V3_API eSetHandler(void* self, v3_component_handler** handler) {
    Vst3Effect* e = fromController(self);
    if (!e)
        return V3_INVALID_ARG;
    if (handler)
        v3_cpp_obj_ref(handler);
    if (e->handler)
        v3_cpp_obj_unref(e->handler);
    e->handler = handler;
    return V3_OK;
}
// The drawn parameter editor on Windows; elsewhere none (the host shows its own view).
v3_plugin_view** V3_API eCreateView(void* self, const char* name) {
    Vst3Effect* e = fromController(self);
    if (!e || !name || std::strcmp(name, "editor") != 0)
        return nullptr;
#if defined(_WIN32)
    return createVst3View(e->editor);
#else
    return nullptr;
#endif
}

const ComponentTable kComponentTable = {
    {cQuery, cRef, cUnref},
    {cInitialise, cTerminate},
    {cControllerClassId, cSetIoMode, cBusCount, cBusInfo, cRoutingInfo, cActivateBus, cSetActive, cSetState,
     cGetState}};
const ProcessorTable kProcessorTable = {{pQuery, pRef, pUnref},
                                        {pSetBusArrangements, pGetBusArrangement, pCanProcessSampleSize, pLatency,
                                         pSetupProcessing, pSetProcessing, pProcess, pTail}};
const ControllerTable kControllerTable = {
    {eQuery, eRef, eUnref},
    {eInitialise, eTerminate},
    {eSetComponentState, eSetState, eGetState, eParameterCount, eParameterInfo, eStringForValue, eValueForString,
     eToPlain, eToNormalised, eGetNormalised, eSetNormalised, eSetHandler, eCreateView}};

const ComponentTable& componentTable() { return kComponentTable; }
const ProcessorTable& processorTable() { return kProcessorTable; }
const ControllerTable& controllerTable() { return kControllerTable; }

// --- the factory ---

struct FactoryTable : v3_funknown {
    v3_plugin_factory v1;
    v3_plugin_factory_2 v2;
};
struct Factory {
    const FactoryTable* table;
};

v3_result V3_API fQuery(void* self, const v3_tuid iid, void** obj) {
    if (!obj)
        return V3_INVALID_ARG;
    if (iid && (sameId(iid, v3_funknown_iid) || sameId(iid, v3_plugin_factory_iid) ||
                sameId(iid, v3_plugin_factory_2_iid))) {
        *obj = self;
        return V3_OK;
    }
    *obj = nullptr;
    return V3_NO_INTERFACE;
}
// The factory is static: counting references changes nothing.
uint32_t V3_API fRef(void*) { return 1; }
v3_result V3_API fInfo(void*, v3_factory_info* info) {
    if (!info)
        return V3_INVALID_ARG;
    const EffectDescription& d = effectDescription();
    std::memset(info, 0, sizeof *info);
    std::snprintf(info->vendor, sizeof info->vendor, "%s", d.vendor);
    std::snprintf(info->url, sizeof info->url, "%s", d.url);
    return V3_OK;
}
int32_t V3_API fClasses(void*) { return 1; }
v3_result V3_API fClassInfo2(void*, int32_t index, v3_class_info_2* info) {
    if (index != 0 || !info)
        return V3_INVALID_ARG;
    const EffectDescription& d = effectDescription();
    std::memset(info, 0, sizeof *info);
    classIdOf(d, info->class_id);
    info->cardinality = 0x7FFFFFFF;
    std::snprintf(info->category, sizeof info->category, "Audio Module Class");
    std::snprintf(info->name, sizeof info->name, "%s", d.name);
    info->class_flags = 0;  // component and controller are one object
    std::snprintf(info->sub_categories, sizeof info->sub_categories, "%s", d.vst3Categories);
    std::snprintf(info->vendor, sizeof info->vendor, "%s", d.vendor);
    std::snprintf(info->version, sizeof info->version, "%s", d.version);
    std::snprintf(info->sdk_version, sizeof info->sdk_version, "VST 3.7");
    return V3_OK;
}
v3_result V3_API fClassInfo(void* self, int32_t index, v3_class_info* info) {
    v3_class_info_2 full;
    if (!info || fClassInfo2(self, index, &full) != V3_OK)
        return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->class_id, full.class_id, sizeof(v3_tuid));
    info->cardinality = full.cardinality;
    std::memcpy(info->category, full.category, sizeof info->category);
    std::memcpy(info->name, full.name, sizeof info->name);
    return V3_OK;
}
v3_result V3_API fCreate(void*, const v3_tuid cid, const v3_tuid iid, void** obj) {
    if (!obj)
        return V3_INVALID_ARG;
    *obj = nullptr;
    v3_tuid ours;
    classIdOf(effectDescription(), ours);
    if (!cid || !iid || !sameId(cid, ours))
        return V3_NO_INTERFACE;
    Vst3Effect* e = new (std::nothrow) Vst3Effect;
    if (!e)
        return V3_NOMEM;
    if (!e->runner.create(effectDescription())) {
        release(e);
        return V3_NOMEM;
    }
    const v3_result result = answerInterface(e, iid, obj);
    release(e);  // the answer holds the one reference left, or none
    return result;
}

const FactoryTable kFactoryTable = {{fQuery, fRef, fRef}, {fInfo, fClasses, fClassInfo, fCreate}, {fClassInfo2}};
Factory gFactory = {&kFactoryTable};

}  // namespace

// --- the module's entry points ---

TALVENOR_VST3_EXPORT v3_plugin_factory** V3_API GetPluginFactory() {
    return static_cast<v3_plugin_factory**>(static_cast<void*>(&gFactory.table));
}

#if defined(_WIN32)
TALVENOR_VST3_EXPORT bool InitDll() { return true; }
TALVENOR_VST3_EXPORT bool ExitDll() { return true; }
#else
TALVENOR_VST3_EXPORT bool ModuleEntry(void*) { return true; }
TALVENOR_VST3_EXPORT bool ModuleExit() { return true; }
#endif
