// An adversarial VST3 gain effect for the backend's tests: a component (with its audio
// processor) and a separate edit controller, which record every call the host makes
// and the thread it came on ("@U" the thread that loaded the module, "@A" any other),
// and write a line "VIOLATION: ..." whenever a call breaks the format's order or
// threading. Hooks exported beside the entry points let a test act as the plug-in's
// editor. Variants by compile definitions:
//   V3T_MONO           accepts only mono buses
//   V3T_REFUSE_BUSES   accepts no bus arrangement
//   V3T_NO_FACTORY     GetPluginFactory answers none
//   V3T_FACTORY_FAILS  the factory creates nothing
//   V3T_NO_EFFECT      the factory names only the controller class
//   V3T_INSTRUMENT     the class is an instrument
//   V3T_NO_CONTROLLER  the controller cannot be created
//   V3T_ABSURD         the controller claims a billion parameters
//   V3T_LYING_BUSES    accepts every arrangement, then says its buses have six channels
//   V3T_SINGLE_OBJECT  the component is its own edit controller (asked for by queryInterface)
#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "audio_processor.h"
#include "base.h"
#include "bstream.h"
#include "component.h"
#include "edit_controller.h"
#include "factory.h"
#include "host.h"
#include "message.h"
#include "view.h"

#define V3T_EXPORT extern "C" __declspec(dllexport)

// Some variants leave parts of the effect unused.
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-variable"

namespace {

// --- the log ---

CRITICAL_SECTION gLogLock;
char gLog[1 << 16];
size_t gLogUsed = 0;
bool gLogging = true;
DWORD gUiThread = 0;
std::atomic<int> gLive{0};

bool onUiThread() { return GetCurrentThreadId() == gUiThread; }

void logLine(const char* format, ...) {
    if (!gLogging)
        return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    EnterCriticalSection(&gLogLock);
    const int written = std::snprintf(gLog + gLogUsed, sizeof gLog - gLogUsed, "%s@%c\n", line, onUiThread() ? 'U' : 'A');
    if (written > 0 && gLogUsed + size_t(written) < sizeof gLog)
        gLogUsed += size_t(written);
    LeaveCriticalSection(&gLogLock);
}

std::atomic<int> gViolations{0};

// Counted always; logged while the log is on (a benchmark turns it off).
void violation(const char* what) {
    ++gViolations;
    if (gLogging)
        logLine("VIOLATION: %s", what);
}

// A call of the controller or the view must come on the UI thread.
void uiOnly(const char* call) {
    logLine("%s", call);
    if (!onUiThread()) {
        char text[128];
        std::snprintf(text, sizeof text, "%s off the UI thread", call);
        violation(text);
    }
}

template <class T>
T* from(void* self, size_t offset) {
    return reinterpret_cast<T*>(static_cast<char*>(self) - offset);
}

bool matches(const v3_tuid a, const v3_tuid b) { return std::memcmp(a, b, 16) == 0; }

constexpr v3_tuid kComponentId = V3_ID(0x54414C56, 0x47414E31, 0x00000000, 0x00000001);
constexpr v3_tuid kControllerId = V3_ID(0x54414C56, 0x47414E31, 0x00000000, 0x00000002);
constexpr v3_param_id kGain = 7;
constexpr v3_param_id kMeter = 42;
constexpr v3_param_id kProgram = 100;
const char* const kProgramNames[] = {"Clean", "Warm", "Hot"};
constexpr uint8_t kComponentMagic[8] = {'G', 'A', 'I', 'N', 'v', '1', 0, 0};
constexpr uint8_t kControllerMagic[8] = {'C', 'T', 'R', 'L', 'v', '1', 0, 0};

std::atomic<uint32_t> gLatency{0};

void toUtf16(const char* text, int16_t* out, size_t units) {
    size_t i = 0;
    for (; text[i] && i + 1 < units; ++i)
        out[i] = int16_t(text[i]);
    out[i] = 0;
}

bool readAll(v3_bstream** stream, void* buffer, int32_t size) {
    int32_t done = 0;
    return stream && *stream && v3_cpp_obj(stream)->read(stream, buffer, size, &done) == V3_OK && done == size;
}

bool writeAll(v3_bstream** stream, const void* buffer, int32_t size) {
    int32_t done = 0;
    return stream && *stream &&
           v3_cpp_obj(stream)->write(stream, const_cast<void*>(buffer), size, &done) == V3_OK && done == size;
}

// --- the component and its audio processor ---

// The controller a single-object component answers for itself (defined below).
struct Controller;
Controller* createEmbeddedController();
v3_result answerController(Controller* c, const v3_tuid iid, void** obj);
void releaseController(Controller* c);
void embeddedLifecycle(Controller* c, bool initialise, v3_funknown** context);

struct Component;
struct ComponentTable : v3_funknown {
    v3_plugin_base base;
    v3_component component;
};
struct ProcessorTable : v3_funknown {
    v3_audio_processor processor;
};
struct PointTable : v3_funknown {
    v3_connection_point point;
};

struct Component {
    const ComponentTable* componentTable;
    const ProcessorTable* processorTable;
    const PointTable* pointTable;
    std::atomic<uint32_t> refs{1};
    bool initialised = false;
    bool active = false;
    std::atomic<bool> processing{false};
    bool setUp = false;
    int32_t maxBlock = 0;
    int32_t inputChannels = 2;
    int32_t outputChannels = 2;
    double gain = 0.5;  // normalised: the signal is multiplied by twice this
    double program = 0;
    v3_connection_point** peer = nullptr;
    Controller* embedded = nullptr;  // V3T_SINGLE_OBJECT
    Component();
    ~Component() {
        if (embedded)
            releaseController(embedded);
        --gLive;
    }
};

Component* componentOf(void* self) { return static_cast<Component*>(self); }
Component* componentOfProcessor(void* self) { return from<Component>(self, offsetof(Component, processorTable)); }
Component* componentOfPoint(void* self) { return from<Component>(self, offsetof(Component, pointTable)); }

v3_result answerInterface(Component* c, const v3_tuid iid, void** obj) {
    if (matches(iid, v3_funknown_iid) || matches(iid, v3_plugin_base_iid) || matches(iid, v3_component_iid))
        *obj = &c->componentTable;
    else if (matches(iid, v3_audio_processor_iid))
        *obj = &c->processorTable;
    else if (matches(iid, v3_connection_point_iid) && !c->embedded)
        *obj = &c->pointTable;
    else if (matches(iid, v3_edit_controller_iid) && c->embedded)
        return answerController(c->embedded, iid, obj);
    else {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    ++c->refs;
    return V3_OK;
}

uint32_t release(Component* c) {
    const uint32_t left = --c->refs;
    if (left == 0)
        delete c;
    return left;
}

v3_result V3_API cQuery(void* self, const v3_tuid iid, void** obj) { return answerInterface(componentOf(self), iid, obj); }
uint32_t V3_API cRef(void* self) { return ++componentOf(self)->refs; }
uint32_t V3_API cUnref(void* self) { return release(componentOf(self)); }

v3_result V3_API cInitialize(void* self, v3_funknown** context) {
    Component* c = componentOf(self);
    logLine("component.initialize");
    if (c->initialised)
        violation("component initialised twice");
    if (!context)
        violation("component initialised without a host context");
    c->initialised = true;
    if (c->embedded)
        embeddedLifecycle(c->embedded, true, context);
    return V3_OK;
}
v3_result V3_API cTerminate(void* self) {
    Component* c = componentOf(self);
    logLine("component.terminate");
    if (c->embedded)
        embeddedLifecycle(c->embedded, false, nullptr);
    if (c->active)
        violation("component terminated while active");
    if (c->peer)
        violation("component terminated while connected");
    c->initialised = false;
    return V3_OK;
}
v3_result V3_API cControllerClassId(void*, v3_tuid id) {
    logLine("component.getControllerClassId");
    std::memcpy(id, kControllerId, 16);
    return V3_OK;
}
v3_result V3_API cSetIoMode(void*, int32_t) { return V3_OK; }
int32_t V3_API cBusCount(void*, int32_t type, int32_t direction) {
    if (type != V3_AUDIO)
        return 0;
    return direction == V3_INPUT ? 2 : 1;  // main and side-chain in, main out
}
v3_result V3_API cBusInfo(void*, int32_t type, int32_t direction, int32_t index, v3_bus_info* info) {
    if (type != V3_AUDIO || index < 0 || index >= (direction == V3_INPUT ? 2 : 1) || !info)
        return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    info->media_type = V3_AUDIO;
    info->direction = direction;
    info->channel_count = 2;
    info->bus_type = index == 0 ? V3_MAIN : V3_AUX;
    info->flags = index == 0 ? V3_DEFAULT_ACTIVE : 0;
    toUtf16(index == 0 ? "Main" : "Side-chain", info->bus_name, 128);
    return V3_OK;
}
v3_result V3_API cRoutingInfo(void*, v3_routing_info*, v3_routing_info*) { return V3_NOT_IMPLEMENTED; }
v3_result V3_API cActivateBus(void* self, int32_t type, int32_t direction, int32_t index, v3_bool state) {
    logLine("component.activateBus %s %d %d", direction == V3_INPUT ? "in" : "out", index, int(state));
    if (componentOf(self)->active)
        violation("bus switched while active");
    if (!componentOf(self)->setUp)
        violation("bus switched before setupProcessing");
    (void)type;
    return V3_OK;
}
v3_result V3_API cSetActive(void* self, v3_bool state) {
    Component* c = componentOf(self);
    logLine("component.setActive %d", int(state));
    if (!onUiThread())
        violation("setActive off the UI thread");
    if (state && !c->setUp)
        violation("activated before setupProcessing");
    if (!state && c->processing)
        violation("deactivated while processing");
    c->active = state != 0;
    return V3_OK;
}
v3_result V3_API cSetState(void* self, v3_bstream** stream) {
    Component* c = componentOf(self);
    logLine("component.setState");
    uint8_t bytes[24];
    if (!readAll(stream, bytes, sizeof bytes) || std::memcmp(bytes, kComponentMagic, 8) != 0)
        return V3_FALSE;
    std::memcpy(&c->gain, bytes + 8, 8);
    std::memcpy(&c->program, bytes + 16, 8);
    return V3_OK;
}
v3_result V3_API cGetState(void* self, v3_bstream** stream) {
    Component* c = componentOf(self);
    logLine("component.getState");
    uint8_t bytes[24];
    std::memcpy(bytes, kComponentMagic, 8);
    std::memcpy(bytes + 8, &c->gain, 8);
    std::memcpy(bytes + 16, &c->program, 8);
    return writeAll(stream, bytes, sizeof bytes) ? V3_OK : V3_FALSE;
}

bool accepted(v3_speaker_arrangement in, v3_speaker_arrangement out) {
    constexpr v3_speaker_arrangement kStereo = V3_SPEAKER_L | V3_SPEAKER_R;
    constexpr v3_speaker_arrangement kMono = V3_SPEAKER_M;
#if defined(V3T_REFUSE_BUSES)
    (void)in, (void)out, (void)kStereo, (void)kMono;
    return false;
#elif defined(V3T_LYING_BUSES)
    (void)in, (void)out, (void)kStereo, (void)kMono;
    return true;
#elif defined(V3T_MONO)
    (void)kStereo;
    return in == kMono && out == kMono;
#else
    return (in == kStereo && out == kStereo) || (in == kMono && out == kMono);
#endif
}

int32_t channelsOf(v3_speaker_arrangement a) {
    int32_t n = 0;
    for (; a; a &= a - 1)
        ++n;
    return n;
}

v3_result V3_API pQuery(void* self, const v3_tuid iid, void** obj) {
    return answerInterface(componentOfProcessor(self), iid, obj);
}
uint32_t V3_API pRef(void* self) { return ++componentOfProcessor(self)->refs; }
uint32_t V3_API pUnref(void* self) { return release(componentOfProcessor(self)); }
v3_result V3_API pSetBusArrangements(void* self, v3_speaker_arrangement* ins, int32_t inCount,
                                     v3_speaker_arrangement* outs, int32_t outCount) {
    Component* c = componentOfProcessor(self);
    logLine("processor.setBusArrangements %d/%d", ins && inCount > 0 ? channelsOf(ins[0]) : -1,
            outs && outCount > 0 ? channelsOf(outs[0]) : -1);
    if (c->active)
        violation("buses arranged while active");
    if (inCount != 2 || outCount != 1 || !ins || !outs) {
        violation("bus arrangements not given for every bus");
        return V3_INVALID_ARG;
    }
    if (ins[1] != (V3_SPEAKER_L | V3_SPEAKER_R))
        violation("the side-chain's arrangement was changed");
    if (!accepted(ins[0], outs[0]))
        return V3_FALSE;
    c->inputChannels = channelsOf(ins[0]);
    c->outputChannels = channelsOf(outs[0]);
    return V3_OK;
}
v3_result V3_API pGetBusArrangement(void* self, int32_t direction, int32_t index, v3_speaker_arrangement* a) {
    Component* c = componentOfProcessor(self);
    if (!a || index < 0 || index >= (direction == V3_INPUT ? 2 : 1))
        return V3_INVALID_ARG;
    const int32_t channels = index > 0 ? 2 : direction == V3_INPUT ? c->inputChannels : c->outputChannels;
#if defined(V3T_LYING_BUSES)
    if (index == 0) {
        *a = 0x3F;  // 5.1, whatever was agreed
        return V3_OK;
    }
#endif
    *a = channels == 1 ? v3_speaker_arrangement(V3_SPEAKER_M) : v3_speaker_arrangement(V3_SPEAKER_L | V3_SPEAKER_R);
    return V3_OK;
}
v3_result V3_API pCanProcessSampleSize(void*, int32_t size) { return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE; }
uint32_t V3_API pLatency(void*) {
    logLine("processor.getLatencySamples");
    return gLatency.load();
}
v3_result V3_API pSetupProcessing(void* self, v3_process_setup* setup) {
    Component* c = componentOfProcessor(self);
    logLine("processor.setupProcessing %d %d %.0f", setup ? setup->process_mode : -1,
            setup ? setup->max_block_size : -1, setup ? setup->sample_rate : 0.0);
    if (c->active)
        violation("setupProcessing while active");
    if (!setup || setup->symbolic_sample_size != V3_SAMPLE_32 || setup->max_block_size < 1)
        return V3_INVALID_ARG;
    c->maxBlock = setup->max_block_size;
    c->setUp = true;
    return V3_OK;
}
v3_result V3_API pSetProcessing(void* self, v3_bool state) {
    Component* c = componentOfProcessor(self);
    logLine("processor.setProcessing %d", int(state));
    if (!c->active)
        violation("setProcessing while inactive");
    c->processing = state != 0;
    return V3_OK;
}
v3_result V3_API pProcess(void* self, v3_process_data* data) {
    Component* c = componentOfProcessor(self);
    logLine("processor.process %d", data ? data->nframes : -1);
    if (!c->active || !c->processing)
        violation("process while inactive");
    if (onUiThread())
        violation("process on the UI thread");
    if (!data || data->nframes > c->maxBlock || data->num_input_buses < 1 || data->num_output_buses < 1 ||
        !data->inputs || !data->outputs) {
        violation("process with data out of bounds");
        return V3_INVALID_ARG;
    }
    if (data->inputs[0].num_channels != c->inputChannels || data->outputs[0].num_channels != c->outputChannels)
        violation("process with channels other than arranged");
    // The host's changes, at their offsets: gain steps there.
    int32_t changeAt = data->nframes;
    double changeTo = c->gain;
    if (v3_param_changes** changes = data->input_params) {
        const int32_t count = v3_cpp_obj(changes)->get_param_count(changes);
        for (int32_t i = 0; i < count; ++i) {
            v3_param_value_queue** queue = v3_cpp_obj(changes)->get_param_data(changes, i);
            if (!queue)
                continue;
            const v3_param_id id = v3_cpp_obj(queue)->get_param_id(queue);
            const int32_t points = v3_cpp_obj(queue)->get_point_count(queue);
            for (int32_t p = 0; p < points; ++p) {
                int32_t offset = 0;
                double value = 0;
                if (v3_cpp_obj(queue)->get_point(queue, p, &offset, &value) != V3_OK)
                    continue;
                logLine("processor.change %u=%.3f at %d", unsigned(id), value, offset);
                if (id == kGain) {
                    changeAt = offset;
                    changeTo = value;
                } else if (id == kProgram) {
                    c->program = value;
                }
            }
        }
    }
    float peak = 0;
    for (int32_t ch = 0; ch < c->outputChannels; ++ch) {
        const float* in = data->inputs[0].channel_buffers_32[ch < c->inputChannels ? ch : 0];
        float* out = data->outputs[0].channel_buffers_32[ch];
        for (int32_t i = 0; i < data->nframes; ++i) {
            const double gain = i < changeAt ? c->gain : changeTo;
            out[i] = float(in[i] * 2.0 * gain);
            peak = std::fabs(out[i]) > peak ? std::fabs(out[i]) : peak;
        }
    }
    c->gain = changeTo;
    if (v3_param_changes** changes = data->output_params) {
        v3_param_id id = kMeter;
        int32_t index = 0;
        v3_param_value_queue** queue = v3_cpp_obj(changes)->add_param_data(changes, &id, &index);
        if (queue)
            v3_cpp_obj(queue)->add_point(queue, 0, peak > 1 ? 1.0 : double(peak), &index);
    }
    return V3_OK;
}
uint32_t V3_API pTail(void*) { return 0; }

v3_result V3_API ptQuery(void* self, const v3_tuid iid, void** obj) {
    return answerInterface(componentOfPoint(self), iid, obj);
}
uint32_t V3_API ptRef(void* self) { return ++componentOfPoint(self)->refs; }
uint32_t V3_API ptUnref(void* self) { return release(componentOfPoint(self)); }
v3_result V3_API ptConnect(void* self, v3_connection_point** other) {
    logLine("component.connect");
    Component* c = componentOfPoint(self);
    if (!other || c->peer)
        return V3_INVALID_ARG;
    c->peer = other;
    return V3_OK;
}
v3_result V3_API ptDisconnect(void* self, v3_connection_point** other) {
    logLine("component.disconnect");
    Component* c = componentOfPoint(self);
    if (other != c->peer)
        violation("component disconnected from another point");
    c->peer = nullptr;
    return V3_OK;
}
v3_result V3_API ptNotify(void*, v3_message** message) {
    if (!message)
        return V3_INVALID_ARG;
    const char* id = v3_cpp_obj(message)->get_message_id(message);
    v3_attribute_list** attributes = v3_cpp_obj(message)->get_attributes(message);
    int64_t answer = 0;
    int16_t text[16] = {0};
    if (attributes) {
        v3_cpp_obj(attributes)->get_int(attributes, "answer", &answer);
        v3_cpp_obj(attributes)->get_string(attributes, "text", text, sizeof text);
    }
    char narrow[16];
    for (int i = 0; i < 16; ++i)
        narrow[i] = char(text[i]);
    narrow[15] = 0;
    logLine("component.notify %s answer=%d text=%s", id ? id : "(none)", int(answer), narrow);
    return V3_OK;
}

const ComponentTable kComponentTable = {
    {cQuery, cRef, cUnref},
    {cInitialize, cTerminate},
    {cControllerClassId, cSetIoMode, cBusCount, cBusInfo, cRoutingInfo, cActivateBus, cSetActive, cSetState,
     cGetState}};
const ProcessorTable kProcessorTable = {{pQuery, pRef, pUnref},
                                        {pSetBusArrangements, pGetBusArrangement, pCanProcessSampleSize, pLatency,
                                         pSetupProcessing, pSetProcessing, pProcess, pTail}};
const PointTable kComponentPointTable = {{ptQuery, ptRef, ptUnref}, {ptConnect, ptDisconnect, ptNotify}};

Component::Component()
    : componentTable(&kComponentTable), processorTable(&kProcessorTable), pointTable(&kComponentPointTable) {
    ++gLive;
#if defined(V3T_SINGLE_OBJECT)
    embedded = createEmbeddedController();
#endif
}

// --- the view ---

struct ViewTable : v3_funknown {
    v3_plugin_view view;
};
struct View {
    const ViewTable* table;
    std::atomic<uint32_t> refs{1};
    v3_plugin_frame** frame = nullptr;
    bool attached = false;
    v3_view_rect size = {0, 0, 320, 200};
    View();
    ~View() {
        if (frame)
            v3_cpp_obj_unref(frame);
        --gLive;
    }
};
View* gView = nullptr;  // the open view, for the resize hook

View* viewOf(void* self) { return static_cast<View*>(self); }
v3_result V3_API vQuery(void* self, const v3_tuid iid, void** obj) {
    if (matches(iid, v3_funknown_iid) || matches(iid, v3_plugin_view_iid)) {
        ++viewOf(self)->refs;
        *obj = self;
        return V3_OK;
    }
    *obj = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t V3_API vRef(void* self) { return ++viewOf(self)->refs; }
uint32_t V3_API vUnref(void* self) {
    const uint32_t left = --viewOf(self)->refs;
    if (left == 0) {
        if (gView == viewOf(self))
            gView = nullptr;
        delete viewOf(self);
    }
    return left;
}
v3_result V3_API vPlatform(void*, const char* type) {
    uiOnly("view.isPlatformTypeSupported");
    return type && std::strcmp(type, "HWND") == 0 ? V3_OK : V3_FALSE;
}
v3_result V3_API vAttached(void* self, void* parent, const char* type) {
    uiOnly("view.attached");
    View* v = viewOf(self);
    if (!parent || !type || std::strcmp(type, "HWND") != 0 || v->attached)
        return V3_INVALID_ARG;
    if (!IsWindow(static_cast<HWND>(parent)))
        violation("view attached to something that is not a window");
    v->attached = true;
    gView = v;
    return V3_OK;
}
v3_result V3_API vRemoved(void* self) {
    uiOnly("view.removed");
    View* v = viewOf(self);
    if (!v->attached)
        violation("view removed while not attached");
    v->attached = false;
    if (gView == v)
        gView = nullptr;
    return V3_OK;
}
v3_result V3_API vWheel(void*, float) { return V3_OK; }
v3_result V3_API vKey(void*, int16_t, int16_t, int16_t) { return V3_FALSE; }
v3_result V3_API vGetSize(void* self, v3_view_rect* rect) {
    uiOnly("view.getSize");
    if (!rect)
        return V3_INVALID_ARG;
    *rect = viewOf(self)->size;
    return V3_OK;
}
v3_result V3_API vOnSize(void* self, v3_view_rect* rect) {
    if (!rect)
        return V3_INVALID_ARG;
    logLine("view.onSize %dx%d", rect->right - rect->left, rect->bottom - rect->top);
    if (!onUiThread())
        violation("view.onSize off the UI thread");
    viewOf(self)->size = *rect;
    return V3_OK;
}
v3_result V3_API vFocus(void*, v3_bool) { return V3_OK; }
v3_result V3_API vSetFrame(void* self, v3_plugin_frame** frame) {
    uiOnly(frame ? "view.setFrame" : "view.setFrame null");
    View* v = viewOf(self);
    if (frame)
        v3_cpp_obj_ref(frame);
    if (v->frame)
        v3_cpp_obj_unref(v->frame);
    v->frame = frame;
    return V3_OK;
}
v3_result V3_API vCanResize(void*) { return V3_OK; }
v3_result V3_API vConstrain(void*, v3_view_rect* rect) {
    uiOnly("view.checkSizeConstraint");
    if (!rect)
        return V3_INVALID_ARG;
    const int32_t width = rect->right - rect->left;
    const int32_t height = rect->bottom - rect->top;
    rect->right = rect->left + (width < 200 ? 200 : width > 1000 ? 1000 : width);
    rect->bottom = rect->top + (height < 100 ? 100 : height > 800 ? 800 : height);
    return V3_OK;
}
const ViewTable kViewTable = {{vQuery, vRef, vUnref},
                              {vPlatform, vAttached, vRemoved, vWheel, vKey, vKey, vGetSize, vOnSize, vFocus,
                               vSetFrame, vCanResize, vConstrain}};
View::View() : table(&kViewTable) { ++gLive; }

// --- the edit controller ---

struct ControllerTable : v3_funknown {
    v3_plugin_base base;
    v3_edit_controller controller;
};

struct Controller {
    const ControllerTable* controllerTable;
    const PointTable* pointTable;
    std::atomic<uint32_t> refs{1};
    bool initialised = false;
    v3_funknown** host = nullptr;
    v3_component_handler** handler = nullptr;
    v3_connection_point** peer = nullptr;
    double values[3] = {0.5, 0.0, 0.0};  // gain, meter, program
    uint32_t editorWidth = 320;
    Controller();
    ~Controller() {
        if (handler)
            violation("controller released holding the component handler");
        --gLive;
    }
};
Controller* gController = nullptr;  // the live controller, for the editor hooks

Controller* controllerOf(void* self) { return static_cast<Controller*>(self); }
Controller* controllerOfPoint(void* self) { return from<Controller>(self, offsetof(Controller, pointTable)); }

int valueIndex(v3_param_id id) { return id == kGain ? 0 : id == kMeter ? 1 : id == kProgram ? 2 : -1; }

v3_result answerInterface(Controller* c, const v3_tuid iid, void** obj) {
    if (matches(iid, v3_funknown_iid) || matches(iid, v3_plugin_base_iid) || matches(iid, v3_edit_controller_iid))
        *obj = &c->controllerTable;
    else if (matches(iid, v3_connection_point_iid))
        *obj = &c->pointTable;
    else {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    ++c->refs;
    return V3_OK;
}
uint32_t release(Controller* c) {
    const uint32_t left = --c->refs;
    if (left == 0) {
        if (gController == c)
            gController = nullptr;
        delete c;
    }
    return left;
}

v3_result V3_API eQuery(void* self, const v3_tuid iid, void** obj) { return answerInterface(controllerOf(self), iid, obj); }
uint32_t V3_API eRef(void* self) { return ++controllerOf(self)->refs; }
uint32_t V3_API eUnref(void* self) { return release(controllerOf(self)); }
v3_result V3_API eInitialize(void* self, v3_funknown** context) {
    uiOnly("controller.initialize");
    Controller* c = controllerOf(self);
    if (c->initialised)
        violation("controller initialised twice");
    c->initialised = true;
    c->host = context;
    void* app = nullptr;
    if (context && (*context)->query_interface(context, v3_host_application_iid, &app) == V3_OK && app) {
        auto** host = static_cast<v3_host_application**>(app);
        int16_t name[128] = {0};
        v3_cpp_obj(host)->get_name(host, name);
        char narrow[64];
        int i = 0;
        for (; i < 63 && name[i]; ++i)
            narrow[i] = char(name[i]);
        narrow[i] = 0;
        logLine("controller.hostName %s", narrow);
        v3_cpp_obj_unref(host);
    }
    gController = c;
    return V3_OK;
}
v3_result V3_API eTerminate(void* self) {
    uiOnly("controller.terminate");
    Controller* c = controllerOf(self);
    if (c->peer)
        violation("controller terminated while connected");
    c->initialised = false;
    return V3_OK;
}
v3_result V3_API eSetComponentState(void* self, v3_bstream** stream) {
    uiOnly("controller.setComponentState");
    Controller* c = controllerOf(self);
    if (!c->initialised)
        violation("setComponentState before initialize");
    uint8_t bytes[24];
    if (!readAll(stream, bytes, sizeof bytes) || std::memcmp(bytes, kComponentMagic, 8) != 0)
        return V3_FALSE;
    std::memcpy(&c->values[0], bytes + 8, 8);
    std::memcpy(&c->values[2], bytes + 16, 8);
    return V3_OK;
}
v3_result V3_API eSetState(void* self, v3_bstream** stream) {
    uiOnly("controller.setState");
    uint8_t bytes[12];
    if (!readAll(stream, bytes, sizeof bytes) || std::memcmp(bytes, kControllerMagic, 8) != 0)
        return V3_FALSE;
    std::memcpy(&controllerOf(self)->editorWidth, bytes + 8, 4);
    return V3_OK;
}
v3_result V3_API eGetState(void* self, v3_bstream** stream) {
    uiOnly("controller.getState");
    uint8_t bytes[12];
    std::memcpy(bytes, kControllerMagic, 8);
    std::memcpy(bytes + 8, &controllerOf(self)->editorWidth, 4);
    return writeAll(stream, bytes, sizeof bytes) ? V3_OK : V3_FALSE;
}
int32_t V3_API eParameterCount(void*) {
    uiOnly("controller.getParameterCount");
#if defined(V3T_ABSURD)
    return 1 << 30;
#else
    return 3;
#endif
}
v3_result V3_API eParameterInfo(void*, int32_t index, v3_param_info* info) {
    uiOnly("controller.getParameterInfo");
    if (index < 0 || index > 2 || !info)
        return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    if (index == 0) {
        info->param_id = kGain;
        toUtf16("Gain", info->title, 128);
        toUtf16("x", info->units, 128);
        info->default_normalised_value = 0.5;
        info->flags = V3_PARAM_CAN_AUTOMATE;
    } else if (index == 1) {
        // A title that fills its field without an end: the host must cut it.
        info->param_id = kMeter;
        for (int i = 0; i < 128; ++i)
            info->title[i] = 'W';
        info->flags = V3_PARAM_READ_ONLY;
    } else {
        info->param_id = kProgram;
        toUtf16("Program", info->title, 128);
        info->step_count = 2;
        info->flags = V3_PARAM_PROGRAM_CHANGE | V3_PARAM_IS_LIST;
    }
    return V3_OK;
}
v3_result V3_API eStringForValue(void*, v3_param_id id, double value, v3_str_128 out) {
    uiOnly("controller.getParamStringByValue");
    char text[64];
    if (id == kProgram)
        std::snprintf(text, sizeof text, "%s", kProgramNames[value < 0.25 ? 0 : value < 0.75 ? 1 : 2]);
    else if (id == kGain)
        std::snprintf(text, sizeof text, "x%.2f", 2.0 * value);
    else if (id == kMeter)
        std::snprintf(text, sizeof text, "%.2f", value);
    else
        return V3_INVALID_ARG;
    toUtf16(text, out, 128);
    return V3_OK;
}
v3_result V3_API eValueForString(void*, v3_param_id, int16_t*, double*) { return V3_NOT_IMPLEMENTED; }
double V3_API eToPlain(void*, v3_param_id, double value) { return value; }
double V3_API eToNormalised(void*, v3_param_id, double value) { return value; }
double V3_API eGetNormalised(void* self, v3_param_id id) {
    uiOnly("controller.getParamNormalized");
    const int index = valueIndex(id);
    return index >= 0 ? controllerOf(self)->values[index] : 0.0;
}
v3_result V3_API eSetNormalised(void* self, v3_param_id id, double value) {
    logLine("controller.setParamNormalized %u=%.3f", unsigned(id), value);
    if (!onUiThread())
        violation("controller.setParamNormalized off the UI thread");
    const int index = valueIndex(id);
    if (index < 0)
        return V3_INVALID_ARG;
    controllerOf(self)->values[index] = value;
    return V3_OK;
}
v3_result V3_API eSetHandler(void* self, v3_component_handler** handler) {
    uiOnly(handler ? "controller.setComponentHandler" : "controller.setComponentHandler null");
    Controller* c = controllerOf(self);
    if (handler)
        v3_cpp_obj_ref(handler);
    if (c->handler)
        v3_cpp_obj_unref(c->handler);
    c->handler = handler;
    return V3_OK;
}
v3_plugin_view** V3_API eCreateView(void*, const char* name) {
    uiOnly("controller.createView");
    if (!name || std::strcmp(name, "editor") != 0)
        return nullptr;
    View* view = new View;
    return static_cast<v3_plugin_view**>(static_cast<void*>(&view->table));
}

v3_result V3_API epQuery(void* self, const v3_tuid iid, void** obj) {
    return answerInterface(controllerOfPoint(self), iid, obj);
}
uint32_t V3_API epRef(void* self) { return ++controllerOfPoint(self)->refs; }
uint32_t V3_API epUnref(void* self) { return release(controllerOfPoint(self)); }
v3_result V3_API epConnect(void* self, v3_connection_point** other) {
    uiOnly("controller.connect");
    Controller* c = controllerOfPoint(self);
    if (!other || c->peer)
        return V3_INVALID_ARG;
    if (!c->handler)
        violation("controller connected before it was given the component handler");
    c->peer = other;
    // Greets the component with a message made by the host.
    void* made = nullptr;
    v3_funknown** host = c->host;
    void* app = nullptr;
    if (host && (*host)->query_interface(host, v3_host_application_iid, &app) == V3_OK && app) {
        auto** application = static_cast<v3_host_application**>(app);
        v3_tuid cid = V3_ID_COPY(v3_message_iid);
        v3_tuid iid = V3_ID_COPY(v3_message_iid);
        if (v3_cpp_obj(application)->create_instance(application, cid, iid, &made) == V3_OK && made) {
            auto** message = static_cast<v3_message**>(made);
            v3_cpp_obj(message)->set_message_id(message, "hello");
            v3_attribute_list** attributes = v3_cpp_obj(message)->get_attributes(message);
            int16_t text[3] = {'h', 'i', 0};
            v3_cpp_obj(attributes)->set_int(attributes, "answer", 42);
            v3_cpp_obj(attributes)->set_string(attributes, "text", text);
            v3_cpp_obj(other)->notify(other, message);
            v3_cpp_obj_unref(message);
        } else {
            violation("the host made no message");
        }
        v3_cpp_obj_unref(application);
    }
    return V3_OK;
}
v3_result V3_API epDisconnect(void* self, v3_connection_point** other) {
    uiOnly("controller.disconnect");
    Controller* c = controllerOfPoint(self);
    if (other != c->peer)
        violation("controller disconnected from another point");
    c->peer = nullptr;
    return V3_OK;
}
v3_result V3_API epNotify(void*, v3_message**) { return V3_OK; }

const ControllerTable kControllerTable = {
    {eQuery, eRef, eUnref},
    {eInitialize, eTerminate},
    {eSetComponentState, eSetState, eGetState, eParameterCount, eParameterInfo, eStringForValue, eValueForString,
     eToPlain, eToNormalised, eGetNormalised, eSetNormalised, eSetHandler, eCreateView}};
const PointTable kControllerPointTable = {{epQuery, epRef, epUnref}, {epConnect, epDisconnect, epNotify}};
Controller::Controller() : controllerTable(&kControllerTable), pointTable(&kControllerPointTable) { ++gLive; }

Controller* createEmbeddedController() { return new Controller; }
v3_result answerController(Controller* c, const v3_tuid iid, void** obj) { return answerInterface(c, iid, obj); }
void releaseController(Controller* c) { release(c); }
// The component's initialize and terminate are the embedded controller's too.
void embeddedLifecycle(Controller* c, bool initialise, v3_funknown** context) {
    c->initialised = initialise;
    c->host = context;
    gController = initialise ? c : gController;
}

// --- the factory ---

struct FactoryTable : v3_funknown {
    v3_plugin_factory v1;
    v3_plugin_factory_2 v2;
};
struct Factory {
    const FactoryTable* table;
};

v3_result V3_API fQuery(void* self, const v3_tuid iid, void** obj) {
    if (matches(iid, v3_funknown_iid) || matches(iid, v3_plugin_factory_iid) || matches(iid, v3_plugin_factory_2_iid)) {
        *obj = self;
        return V3_OK;
    }
    *obj = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t V3_API fCount(void*) { return 1; }
v3_result V3_API fInfo(void*, v3_factory_info* info) {
    if (!info)
        return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    std::snprintf(info->vendor, sizeof info->vendor, "Talvenor Tests");
    return V3_OK;
}
#if defined(V3T_NO_EFFECT)
int32_t V3_API fClasses(void*) { return 1; }
constexpr int32_t kFirstClass = 1;  // only the controller's class
#else
int32_t V3_API fClasses(void*) { return 2; }
constexpr int32_t kFirstClass = 0;
#endif
v3_result V3_API fClassInfo2(void*, int32_t index, v3_class_info_2* info) {
    index += kFirstClass;
    if (index < 0 || index > 1 || !info)
        return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->class_id, index == 0 ? kComponentId : kControllerId, 16);
    info->cardinality = 0x7FFFFFFF;
    std::snprintf(info->category, sizeof info->category, "%s",
                  index == 0 ? "Audio Module Class" : "Component Controller Class");
    std::snprintf(info->name, sizeof info->name, "Talvenor Test Gain");
#if defined(V3T_INSTRUMENT)
    std::snprintf(info->sub_categories, sizeof info->sub_categories, "Instrument|Synth");
#else
    std::snprintf(info->sub_categories, sizeof info->sub_categories, "Fx|Dynamics");
#endif
    std::snprintf(info->vendor, sizeof info->vendor, "Talvenor Tests");
    std::snprintf(info->version, sizeof info->version, "1.0.0");
    std::snprintf(info->sdk_version, sizeof info->sdk_version, "VST 3.7");
    return V3_OK;
}
v3_result V3_API fClassInfo(void* self, int32_t index, v3_class_info* info) {
    v3_class_info_2 full;
    if (!info || fClassInfo2(self, index, &full) != V3_OK)
        return V3_INVALID_ARG;
    std::memcpy(info, &full, sizeof *info);
    return V3_OK;
}
v3_result V3_API fCreate(void*, const v3_tuid cid, const v3_tuid iid, void** obj) {
    logLine("factory.createInstance");
    *obj = nullptr;
#if defined(V3T_FACTORY_FAILS)
    (void)cid, (void)iid;
    return V3_NOMEM;
#else
    if (matches(cid, kComponentId)) {
        Component* c = new Component;
        const v3_result result = answerInterface(c, iid, obj);
        release(c);
        return result;
    }
#if !defined(V3T_NO_CONTROLLER)
    if (matches(cid, kControllerId)) {
        Controller* c = new Controller;
        const v3_result result = answerInterface(c, iid, obj);
        release(c);
        return result;
    }
#endif
    return V3_NO_INTERFACE;
#endif
}
const FactoryTable kFactoryTable = {{fQuery, fCount, fCount}, {fInfo, fClasses, fClassInfo, fCreate}, {fClassInfo2}};
Factory gFactory = {&kFactoryTable};

}  // namespace

// --- entry points ---

V3T_EXPORT bool InitDll() {
    gUiThread = GetCurrentThreadId();
    logLine("InitDll");
    return true;
}

V3T_EXPORT bool ExitDll() {
    logLine("ExitDll");
    if (gLive.load() != 0)
        violation("objects still alive at ExitDll");
    return true;
}

V3T_EXPORT v3_plugin_factory** V3_API GetPluginFactory() {
    logLine("GetPluginFactory");
#if defined(V3T_NO_FACTORY)
    return nullptr;
#else
    return static_cast<v3_plugin_factory**>(static_cast<void*>(&gFactory.table));
#endif
}

// --- the tests' hooks ---

V3T_EXPORT int v3tLog(char* out, int size) {
    EnterCriticalSection(&gLogLock);
    const int length = std::snprintf(out, size_t(size), "%s", gLog);
    LeaveCriticalSection(&gLogLock);
    return length;
}

V3T_EXPORT void v3tClear() {
    EnterCriticalSection(&gLogLock);
    gLogUsed = 0;
    gLog[0] = '\0';
    LeaveCriticalSection(&gLogLock);
}

V3T_EXPORT void v3tSetLogging(int on) { gLogging = on != 0; }

V3T_EXPORT int v3tLive() { return gLive.load(); }

V3T_EXPORT int v3tViolations() { return gViolations.load(); }

// The editor moves a parameter: begin, perform and end through the component handler.
V3T_EXPORT int v3tEdit(uint32_t id, double value) {
    Controller* c = gController;
    if (!c || !c->handler)
        return V3_NOT_INITIALIZED;
    const int index = valueIndex(id);
    if (index >= 0 && value >= 0 && value <= 1)
        c->values[index] = value;
    v3_cpp_obj(c->handler)->begin_edit(c->handler, id);
    const v3_result result = v3_cpp_obj(c->handler)->perform_edit(c->handler, id, value);
    v3_cpp_obj(c->handler)->end_edit(c->handler, id);
    return result;
}

// The processor's latency changes; the controller tells the host.
V3T_EXPORT int v3tSetLatency(uint32_t frames) {
    gLatency.store(frames);
    Controller* c = gController;
    if (!c || !c->handler)
        return V3_NOT_INITIALIZED;
    return v3_cpp_obj(c->handler)->restart_component(c->handler, V3_RESTART_LATENCY_CHANGED);
}

// The controller asks the host to restart with flags.
V3T_EXPORT int v3tRestart(int32_t flags) {
    Controller* c = gController;
    if (!c || !c->handler)
        return V3_NOT_INITIALIZED;
    return v3_cpp_obj(c->handler)->restart_component(c->handler, flags);
}

// The open view asks its frame for a new size.
V3T_EXPORT int v3tRequestResize(int32_t width, int32_t height) {
    View* v = gView;
    if (!v || !v->frame)
        return V3_NOT_INITIALIZED;
    v3_view_rect rect = {0, 0, width, height};
    return v3_cpp_obj(v->frame)->resize_view(v->frame, static_cast<v3_plugin_view**>(static_cast<void*>(&v->table)), &rect);
}

// A view that is not the open one asks for a new size (a plug-in answering out of turn).
V3T_EXPORT int v3tRequestResizeOfStrangeView(int32_t width, int32_t height) {
    View* v = gView;
    if (!v || !v->frame)
        return V3_NOT_INITIALIZED;
    View stranger;
    v3_view_rect rect = {0, 0, width, height};
    return v3_cpp_obj(v->frame)->resize_view(v->frame, static_cast<v3_plugin_view**>(static_cast<void*>(&stranger.table)), &rect);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        InitializeCriticalSection(&gLogLock);
    else if (reason == DLL_PROCESS_DETACH)
        DeleteCriticalSection(&gLogLock);
    return TRUE;
}
