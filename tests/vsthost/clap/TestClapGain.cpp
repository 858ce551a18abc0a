// A CLAP gain effect for the CLAP backend's tests, and a referee of its host: every
// call is checked against the format's rules on order, state and thread, and each
// breach is written to the fault log the tests read (tcgFaults) and must find empty.
// One source, shaped per module by compile definitions:
//   TCG_CHANNELS     channels of the main ports (2; 1 is the mono-only variant; 6 a
//                    layout the host must refuse)
//   TCG_KIND         0 audio effect, 1 instrument
//   TCG_FAIL         where it fails: 1 entry init, 2 no factory, 3 create, 4 init,
//                    5 activate, 6 port information
//   TCG_VERSION_MAJOR  the CLAP version the entry claims (0: a development version)
//   TCG_ABSURD       1 unterminated texts, malformed output events, absurd latency,
//                    main-thread host calls from the audio thread;
//                    2 an absurd parameter count; 3 an absurd port count; 4 one
//                    parameter id twice; 5 extensions whose functions are null;
//                    6 no process function
//   TCG_SIDECHAIN    a second, mono input port beside the main one
//   TCG_IN_PLACE     declares that its main ports may share buffers
//   TCG_NO_ENTRY     exports no clap_entry
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/thread-check.h>
#include <clap/plugin-factory.h>

#ifdef _WIN32
#include <windows.h>
#define TCG_EXPORT extern "C" __declspec(dllexport)
#else
#include <pthread.h>
#define TCG_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifndef TCG_CHANNELS
#define TCG_CHANNELS 2
#endif
#ifndef TCG_KIND
#define TCG_KIND 0
#endif
#ifndef TCG_FAIL
#define TCG_FAIL 0
#endif
#ifndef TCG_VERSION_MAJOR
#define TCG_VERSION_MAJOR 1
#endif
#ifndef TCG_ABSURD
#define TCG_ABSURD 0
#endif
#ifndef TCG_SIDECHAIN
#define TCG_SIDECHAIN 0
#endif
#ifndef TCG_IN_PLACE
#define TCG_IN_PLACE 0
#endif

namespace {

constexpr clap_id kGainId = 7;  // ids unlike indices, so that a host mixing them up is caught
constexpr clap_id kTrimId = 3;
constexpr uint32_t kPatternBytes = 2000;  // a state long enough to need several writes

uint64_t threadNow() {
#ifdef _WIN32
    return uint64_t(GetCurrentThreadId()) + 1;
#else
    return uint64_t(pthread_self()) | 1u;
#endif
}

std::mutex gLock;
std::string gLog, gFaults;
unsigned gFaultCount = 0;
bool gEntryInitialised = false;
int gInstances = 0;

void logLine(const std::string& line) {
    std::lock_guard<std::mutex> hold(gLock);
    // Runs of process calls are logged once.
    if (line == "process" && gLog.size() >= 8 && gLog.compare(gLog.size() - 8, 8, "process\n") == 0)
        return;
    if (gLog.size() < 60000)
        gLog += line + "\n";
}

void fault(const std::string& what) {
    std::lock_guard<std::mutex> hold(gLock);
    ++gFaultCount;
    if (gFaults.size() < 8000)
        gFaults += what + "\n";
}

struct Plugin {
    clap_plugin_t clap;
    const clap_host_t* host = nullptr;
    const clap_host_thread_check_t* threads = nullptr;
    const clap_host_params_t* hostParams = nullptr;
    const clap_host_latency_t* hostLatency = nullptr;
    const clap_host_gui_t* hostGui = nullptr;
    uint64_t mainThread = 0;
    bool initialised = false, active = false, processing = false;
    std::atomic<int> inAudioCall{0};
    uint32_t minFrames = 0, maxFrames = 0;
    int64_t lastSteadyTime = -1;
    uint32_t lastFrames = 0;
    double gain = 1.0, trim = 0.0;
    uint32_t latency = 0, pendingLatency = 0;
    std::atomic<bool> editorMoved{false};
    std::atomic<double> editorValue{1.0};
    bool guiCreated = false;
    void* parent = nullptr;
    void* child = nullptr;
    uint32_t width = 300, height = 200;
};

Plugin* gLast = nullptr;  // the instance the test's calls act on

Plugin* self(const clap_plugin_t* p) {
    if (!p || !p->plugin_data) {
        fault("a call with no plug-in");
        return nullptr;
    }
    return static_cast<Plugin*>(p->plugin_data);
}

// A main-thread call: the host must say so, and it must be the thread of init.
bool onMain(Plugin* s, const char* call) {
    logLine(call);
    if (!s->initialised && std::strcmp(call, "init") != 0)
        fault(std::string(call) + " before init");
    if (!s->threads || !s->threads->is_main_thread(s->host))
        fault(std::string(call) + " where the host says it is not the main thread");
    if (s->mainThread && threadNow() != s->mainThread)
        fault(std::string(call) + " on another thread than init's");
    if (s->threads && s->threads->is_audio_thread(s->host) && s->inAudioCall.load())
        fault(std::string(call) + " during an audio call");
    return true;
}

// An audio-thread call: the host must say so, and no two at once.
struct AudioCall {
    Plugin* s;
    AudioCall(Plugin* plugin, const char* call) : s(plugin) {
        logLine(call);
        if (!s->threads || !s->threads->is_audio_thread(s->host))
            fault(std::string(call) + " where the host says it is not the audio thread");
        if (s->inAudioCall.fetch_add(1) != 0)
            fault(std::string(call) + " while another audio call runs");
    }
    ~AudioCall() { s->inAudioCall.fetch_sub(1); }
};

void pushParamValue(const clap_output_events_t* out, clap_id id, double value) {
    clap_event_param_gesture_t gesture = {};
    gesture.header = {sizeof gesture, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_GESTURE_BEGIN, 0};
    gesture.param_id = id;
    out->try_push(out, &gesture.header);
    clap_event_param_value_t e = {};
    e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param_id = id;
    e.note_id = -1;
    e.port_index = e.channel = e.key = -1;
    e.value = value;
    if (!out->try_push(out, &e.header))
        fault("the host refused a well-formed parameter event");
    gesture.header.type = CLAP_EVENT_PARAM_GESTURE_END;
    out->try_push(out, &gesture.header);
}

#if TCG_ABSURD == 1
void pushJunk(const clap_output_events_t* out) {
    out->try_push(out, nullptr);
    clap_event_header_t huge = {0xFFFFFFFFu, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    out->try_push(out, &huge);
    clap_event_header_t shortValue[2] = {{20, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0}, {}};
    out->try_push(out, &shortValue[0]);
    clap_event_param_value_t unknown = {};
    unknown.header = {sizeof unknown, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    unknown.param_id = 999;
    out->try_push(out, &unknown.header);
}
#endif

// Host changes and the editor's, in order; called from process and flush.
void takeEvents(Plugin* s, const clap_input_events_t* in, const clap_output_events_t* out, uint32_t frames) {
    if (!in || !out || !in->size || !in->get || !out->try_push) {
        fault("event lists missing");
        return;
    }
    uint32_t lastTime = 0;
    const uint32_t n = in->size(in);
    for (uint32_t i = 0; i < n; ++i) {
        const clap_event_header_t* h = in->get(in, i);
        if (!h) {
            fault("input event missing");
            continue;
        }
        if (h->time < lastTime || (frames && h->time >= frames))
            fault("input events out of time order or past the block");
        lastTime = h->time;
        if (h->space_id != CLAP_CORE_EVENT_SPACE_ID || h->type != CLAP_EVENT_PARAM_VALUE)
            continue;
        if (h->size != sizeof(clap_event_param_value_t)) {
            fault("parameter event of the wrong size");
            continue;
        }
        const clap_event_param_value_t* e = reinterpret_cast<const clap_event_param_value_t*>(h);
        if (e->param_id == kGainId)
            s->gain = e->value;
        else if (e->param_id == kTrimId)
            s->trim = e->value;
        else
            fault("parameter event for an unknown id");
    }
    if (s->editorMoved.exchange(false)) {
        s->gain = s->editorValue.load();
        pushParamValue(out, kGainId, s->gain);
    }
#if TCG_ABSURD == 1
    pushJunk(out);
#endif
}

#if TCG_ABSURD == 1
// Host calls the format forbids from the audio thread.
void callHostWrongly(Plugin* s) {
    s->hostLatency->changed(s->host);
    s->hostParams->request_flush(s->host);
    s->hostParams->rescan(s->host, CLAP_PARAM_RESCAN_ALL);
}
#endif

// --- plug-in ---
bool pluginInit(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return false;
    if (s->initialised)
        fault("init twice");
    s->mainThread = threadNow();
    s->threads = static_cast<const clap_host_thread_check_t*>(s->host->get_extension(s->host, CLAP_EXT_THREAD_CHECK));
    s->hostParams = static_cast<const clap_host_params_t*>(s->host->get_extension(s->host, CLAP_EXT_PARAMS));
    s->hostLatency = static_cast<const clap_host_latency_t*>(s->host->get_extension(s->host, CLAP_EXT_LATENCY));
    s->hostGui = static_cast<const clap_host_gui_t*>(s->host->get_extension(s->host, CLAP_EXT_GUI));
    if (!s->threads || !s->hostParams || !s->hostLatency || !s->hostGui)
        fault("the host lacks thread-check, params, latency or gui");
    if (s->host->get_extension(s->host, "talvenor.no-such-extension"))
        fault("the host answers an extension it cannot have");
    onMain(s, "init");
    s->initialised = true;
    return TCG_FAIL != 4;
}

void pluginDestroy(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return;
    onMain(s, "destroy");
    if (s->active)
        fault("destroy while active");
    if (s->guiCreated)
        fault("destroy with the gui still created");
    if (gLast == s)
        gLast = nullptr;
    --gInstances;
    delete s;
}

bool pluginActivate(const clap_plugin_t* p, double rate, uint32_t minFrames, uint32_t maxFrames) {
    Plugin* s = self(p);
    if (!s)
        return false;
    onMain(s, "activate");
    if (s->active)
        fault("activate while active");
    if (!(rate > 0) || minFrames < 1 || maxFrames < minFrames)
        fault("activate with an impossible rate or frame range");
    if (TCG_FAIL == 5)
        return false;
    s->minFrames = minFrames;
    s->maxFrames = maxFrames;
    s->latency = s->pendingLatency;
    s->active = true;
    return true;
}

void pluginDeactivate(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return;
    onMain(s, "deactivate");
    if (!s->active)
        fault("deactivate while inactive");
    if (s->processing)
        fault("deactivate while processing");
    s->active = false;
}

bool pluginStart(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return false;
    AudioCall call(s, "start_processing");
    if (!s->active || s->processing)
        fault("start_processing while inactive or already processing");
    s->processing = true;
    return true;
}

void pluginStop(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return;
    AudioCall call(s, "stop_processing");
    if (!s->active || !s->processing)
        fault("stop_processing while inactive or not processing");
    s->processing = false;
}

void pluginReset(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return;
    AudioCall call(s, "reset");
    if (!s->active)
        fault("reset while inactive");
}

clap_process_status pluginProcess(const clap_plugin_t* p, const clap_process_t* pr) {
    Plugin* s = self(p);
    if (!s || !pr)
        return CLAP_PROCESS_ERROR;
    AudioCall call(s, "process");
    if (!s->active || !s->processing) {
        fault("process while inactive or not processing");
        return CLAP_PROCESS_ERROR;
    }
    const uint32_t frames = pr->frames_count;
    if (frames < s->minFrames || frames > s->maxFrames)
        fault("process with a frame count outside activate's range");
    if (s->lastSteadyTime >= 0 && pr->steady_time >= 0 && pr->steady_time < s->lastSteadyTime + int64_t(s->lastFrames))
        fault("steady time went backwards");
    s->lastSteadyTime = pr->steady_time;
    s->lastFrames = frames;
    if (pr->audio_inputs_count != 1 + TCG_SIDECHAIN || pr->audio_outputs_count != 1 || !pr->audio_inputs ||
        !pr->audio_outputs) {
        fault("process with other ports than declared");
        return CLAP_PROCESS_ERROR;
    }
    const clap_audio_buffer_t& in = pr->audio_inputs[0];
    clap_audio_buffer_t& out = pr->audio_outputs[0];
    if (in.channel_count != TCG_CHANNELS || out.channel_count != TCG_CHANNELS || !in.data32 || !out.data32) {
        fault("process with other channels than declared");
        return CLAP_PROCESS_ERROR;
    }
    for (uint32_t c = 0; c < TCG_CHANNELS; ++c)
        if (!in.data32[c] || !out.data32[c]) {
            fault("a channel without a buffer");
            return CLAP_PROCESS_ERROR;
        }
#if TCG_SIDECHAIN
    const clap_audio_buffer_t& side = pr->audio_inputs[1];
    if (side.channel_count != 1 || !side.data32 || !side.data32[0]) {
        fault("the side input without its buffer");
        return CLAP_PROCESS_ERROR;
    }
    for (uint32_t i = 0; i < frames; ++i)
        if (side.data32[0][i] != 0.0f) {
            fault("the side input is not silent");
            break;
        }
#endif
#if TCG_IN_PLACE
    if (in.data32[0] == out.data32[0])
        logLine("in place");
#else
    // No in-place pair was declared: the host must keep inputs and outputs apart.
    for (uint32_t c = 0; c < TCG_CHANNELS; ++c)
        for (uint32_t k = 0; k < TCG_CHANNELS; ++k)
            if (in.data32[c] == out.data32[k])
                fault("an input shares its buffer with an output");
#endif
    takeEvents(s, pr->in_events, pr->out_events, frames);
#if TCG_ABSURD == 1
    callHostWrongly(s);
#endif
    for (uint32_t c = 0; c < TCG_CHANNELS; ++c)
        for (uint32_t i = 0; i < frames; ++i)
            out.data32[c][i] = float(in.data32[c][i] * s->gain);
    return CLAP_PROCESS_CONTINUE;
}

void pluginOnMainThread(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (s)
        onMain(s, "on_main_thread");
}

// --- params ---
uint32_t paramsCount(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (s)
        onMain(s, "params.count");
#if TCG_ABSURD == 2
    return 0x7FFFFFFFu;
#else
    return 2;
#endif
}

bool paramsInfo(const clap_plugin_t* p, uint32_t index, clap_param_info_t* info) {
    Plugin* s = self(p);
    if (!s || !info)
        return false;
    onMain(s, "params.get_info");
    if (index > 1) {
        fault("params.get_info past the count");
        return false;
    }
    std::memset(info, 0, sizeof *info);
    info->id = index == 0 ? kGainId : kTrimId;
#if TCG_ABSURD == 4
    info->id = kGainId;
#endif
    info->flags = CLAP_PARAM_IS_AUTOMATABLE | (index == 1 ? CLAP_PARAM_IS_STEPPED : 0);
    std::snprintf(info->name, sizeof info->name, "%s", index == 0 ? "Gain" : "Trim");
#if TCG_ABSURD == 1
    std::memset(info->name, 'A', sizeof info->name);  // no terminator
#endif
    info->min_value = index == 0 ? 0.0 : -12.0;
    info->max_value = index == 0 ? 2.0 : 12.0;
    info->default_value = index == 0 ? 1.0 : 0.0;
    return true;
}

bool paramsValue(const clap_plugin_t* p, clap_id id, double* value) {
    Plugin* s = self(p);
    if (!s || !value)
        return false;
    onMain(s, "params.get_value");
    if (id != kGainId && id != kTrimId) {
        fault("params.get_value for an unknown id");
        return false;
    }
    *value = id == kGainId ? s->gain : s->trim;
    return true;
}

bool paramsText(const clap_plugin_t* p, clap_id id, double value, char* text, uint32_t size) {
    Plugin* s = self(p);
    if (!s || !text || size == 0)
        return false;
    onMain(s, "params.value_to_text");
#if TCG_ABSURD == 1
    std::memset(text, 'B', size);  // fills the buffer, no terminator
    return true;
#endif
    std::snprintf(text, size, id == kGainId ? "%.2f x" : "%+.0f dB", value);
    return true;
}

bool paramsFromText(const clap_plugin_t*, clap_id, const char*, double*) { return false; }

void paramsFlush(const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t* out) {
    Plugin* s = self(p);
    if (!s)
        return;
    if (s->active) {
        AudioCall call(s, "params.flush");
        if (s->processing)
            fault("params.flush while processing");
        takeEvents(s, in, out, 0);
        return;
    }
    onMain(s, "params.flush");
    takeEvents(s, in, out, 0);
}

// --- audio ports ---
uint32_t portsCount(const clap_plugin_t* p, bool input) {
    Plugin* s = self(p);
    if (!s)
        return 0;
    onMain(s, "audio_ports.count");
    if (s->active)
        fault("audio ports read while active");
#if TCG_ABSURD == 3
    return 1000000;
#endif
    return input ? 1 + TCG_SIDECHAIN : 1;
}

uint32_t portsCountOf(bool input) { return input ? 1 + TCG_SIDECHAIN : 1; }

bool portsGet(const clap_plugin_t* p, uint32_t index, bool input, clap_audio_port_info_t* info) {
    Plugin* s = self(p);
    if (!s || !info)
        return false;
    onMain(s, "audio_ports.get");
    if (index >= portsCountOf(input)) {
        fault("audio_ports.get past the count");
        return false;
    }
    if (TCG_FAIL == 6)
        return false;
    std::memset(info, 0, sizeof *info);
    if (index == 1) {
        info->id = 11;
        std::snprintf(info->name, sizeof info->name, "Side");
        info->channel_count = 1;
        info->port_type = CLAP_PORT_MONO;
        info->in_place_pair = CLAP_INVALID_ID;
        return true;
    }
    info->id = input ? 10 : 20;
    std::snprintf(info->name, sizeof info->name, "%s", input ? "In" : "Out");
#if TCG_ABSURD == 1
    std::memset(info->name, 'N', sizeof info->name);
#endif
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = TCG_CHANNELS;
    info->port_type = TCG_CHANNELS == 1 ? CLAP_PORT_MONO : TCG_CHANNELS == 2 ? CLAP_PORT_STEREO : nullptr;
    info->in_place_pair = TCG_IN_PLACE ? (input ? 20 : 10) : CLAP_INVALID_ID;
    return true;
}

// --- latency ---
uint32_t latencyGet(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return 0;
    onMain(s, "latency.get");
#if TCG_ABSURD == 1
    return 0xFFFFFFF0u;
#endif
    return s->latency;
}

// --- state: "TCG1", gain, trim, then a pattern ---
bool stateSave(const clap_plugin_t* p, const clap_ostream_t* stream) {
    Plugin* s = self(p);
    if (!s || !stream)
        return false;
    onMain(s, "state.save");
    unsigned char bytes[4 + 16 + kPatternBytes];
    std::memcpy(bytes, "TCG1", 4);
    std::memcpy(bytes + 4, &s->gain, 8);
    std::memcpy(bytes + 12, &s->trim, 8);
    for (uint32_t i = 0; i < kPatternBytes; ++i)
        bytes[20 + i] = static_cast<unsigned char>(i * 7 + 3);
    for (size_t at = 0; at < sizeof bytes;) {  // in pieces, as plug-ins do
        const size_t piece = sizeof bytes - at < 333 ? sizeof bytes - at : 333;
        const int64_t wrote = stream->write(stream, bytes + at, piece);
        if (wrote <= 0)
            return false;
        at += size_t(wrote);
    }
    return true;
}

bool stateLoad(const clap_plugin_t* p, const clap_istream_t* stream) {
    Plugin* s = self(p);
    if (!s || !stream)
        return false;
    onMain(s, "state.load");
    unsigned char bytes[4 + 16 + kPatternBytes];
    size_t got = 0;
    while (got < sizeof bytes) {
        const size_t piece = sizeof bytes - got < 7 ? sizeof bytes - got : 7;
        const int64_t n = stream->read(stream, bytes + got, piece);
        if (n < 0 || uint64_t(n) > piece) {
            fault("the host's stream answered an impossible count");
            return false;
        }
        if (n == 0)
            return false;  // short
        got += size_t(n);
    }
    if (std::memcmp(bytes, "TCG1", 4) != 0)
        return false;
    for (uint32_t i = 0; i < kPatternBytes; ++i)
        if (bytes[20 + i] != static_cast<unsigned char>(i * 7 + 3))
            return false;
    std::memcpy(&s->gain, bytes + 4, 8);
    std::memcpy(&s->trim, bytes + 12, 8);
    return true;
}

// --- gui: embedded in a win32 parent ---
bool guiSupported(const clap_plugin_t* p, const char* api, bool floating) {
    Plugin* s = self(p);
    if (s)
        onMain(s, "gui.is_api_supported");
    return api && std::strcmp(api, CLAP_WINDOW_API_WIN32) == 0 && !floating;
}
bool guiPreferred(const clap_plugin_t*, const char** api, bool* floating) {
    *api = CLAP_WINDOW_API_WIN32;
    *floating = false;
    return true;
}
bool guiCreate(const clap_plugin_t* p, const char* api, bool floating) {
    Plugin* s = self(p);
    if (!s)
        return false;
    onMain(s, "gui.create");
    if (s->guiCreated || !api || std::strcmp(api, CLAP_WINDOW_API_WIN32) != 0 || floating)
        fault("gui.create twice or for another api");
    s->guiCreated = true;
    return true;
}
void guiDestroy(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (!s)
        return;
    onMain(s, "gui.destroy");
    if (!s->guiCreated)
        fault("gui.destroy without create");
#ifdef _WIN32
    if (s->child)
        DestroyWindow(static_cast<HWND>(s->child));
#endif
    s->child = nullptr;
    s->parent = nullptr;
    s->guiCreated = false;
}
bool guiScale(const clap_plugin_t* p, double) {
    Plugin* s = self(p);
    if (s)
        onMain(s, "gui.set_scale");
    return false;
}
bool guiGetSize(const clap_plugin_t* p, uint32_t* w, uint32_t* h) {
    Plugin* s = self(p);
    if (!s || !w || !h)
        return false;
    onMain(s, "gui.get_size");
    if (!s->guiCreated)
        fault("gui.get_size before create");
    *w = s->width;
    *h = s->height;
    return true;
}
bool guiCanResize(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (s)
        onMain(s, "gui.can_resize");
    return true;
}
bool guiHints(const clap_plugin_t*, clap_gui_resize_hints_t*) { return false; }
// Sizes in steps of 10, at least 100 x 80.
bool guiAdjust(const clap_plugin_t* p, uint32_t* w, uint32_t* h) {
    Plugin* s = self(p);
    if (!s || !w || !h)
        return false;
    onMain(s, "gui.adjust_size");
    *w = *w < 100 ? 100 : *w / 10 * 10;
    *h = *h < 80 ? 80 : *h / 10 * 10;
    return true;
}
bool guiSetSize(const clap_plugin_t* p, uint32_t w, uint32_t h) {
    Plugin* s = self(p);
    if (!s)
        return false;
    onMain(s, "gui.set_size");
    logLine("size " + std::to_string(w) + "x" + std::to_string(h));
    if (w % 10 || h % 10)
        fault("gui.set_size with a size adjust_size would not give");
    s->width = w;
    s->height = h;
#ifdef _WIN32
    if (s->child)
        SetWindowPos(static_cast<HWND>(s->child), nullptr, 0, 0, int(w), int(h), SWP_NOZORDER | SWP_NOMOVE);
#endif
    return true;
}
bool guiSetParent(const clap_plugin_t* p, const clap_window_t* window) {
    Plugin* s = self(p);
    if (!s || !window)
        return false;
    onMain(s, "gui.set_parent");
    if (!s->guiCreated || !window->api || std::strcmp(window->api, CLAP_WINDOW_API_WIN32) != 0 || !window->win32)
        fault("gui.set_parent before create, for another api or without a window");
    s->parent = window->win32;
#ifdef _WIN32
    s->child = CreateWindowExW(0, L"STATIC", L"Test gain", WS_CHILD | WS_VISIBLE, 0, 0, int(s->width),
                               int(s->height), static_cast<HWND>(window->win32), nullptr, nullptr, nullptr);
    if (!s->child)
        fault("the parent window takes no child");
#endif
    return true;
}
bool guiTransient(const clap_plugin_t*, const clap_window_t*) {
    fault("gui.set_transient for an embedded gui");
    return false;
}
void guiTitle(const clap_plugin_t*, const char*) { fault("gui.suggest_title for an embedded gui"); }
bool guiShow(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (s)
        onMain(s, "gui.show");
    return true;
}
bool guiHide(const clap_plugin_t* p) {
    Plugin* s = self(p);
    if (s)
        onMain(s, "gui.hide");
    return true;
}

const clap_plugin_params_t kParams = {paramsCount, paramsInfo, paramsValue, paramsText, paramsFromText, paramsFlush};
const clap_plugin_audio_ports_t kPorts = {portsCount, portsGet};
const clap_plugin_latency_t kLatency = {latencyGet};
const clap_plugin_state_t kState = {stateSave, stateLoad};
const clap_plugin_gui_t kGui = {guiSupported, guiPreferred, guiCreate,    guiDestroy,   guiScale,
                                guiGetSize,   guiCanResize, guiHints,     guiAdjust,    guiSetSize,
                                guiSetParent, guiTransient, guiTitle,     guiShow,      guiHide};

#if TCG_ABSURD == 5
const clap_plugin_params_t kHollowParams = {};
const clap_plugin_latency_t kHollowLatency = {};
const clap_plugin_state_t kHollowState = {};
const clap_plugin_gui_t kHollowGui = {};
#endif

const void* pluginExtension(const clap_plugin_t*, const char* id) {
    if (!id)
        return nullptr;
#if TCG_ABSURD == 5
    if (!std::strcmp(id, CLAP_EXT_PARAMS))
        return &kHollowParams;
    if (!std::strcmp(id, CLAP_EXT_LATENCY))
        return &kHollowLatency;
    if (!std::strcmp(id, CLAP_EXT_STATE))
        return &kHollowState;
    if (!std::strcmp(id, CLAP_EXT_GUI))
        return &kHollowGui;
#endif
    if (!std::strcmp(id, CLAP_EXT_PARAMS))
        return &kParams;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS))
        return &kPorts;
    if (!std::strcmp(id, CLAP_EXT_LATENCY))
        return &kLatency;
    if (!std::strcmp(id, CLAP_EXT_STATE))
        return &kState;
    if (!std::strcmp(id, CLAP_EXT_GUI))
        return &kGui;
    return nullptr;
}

// --- factory and entry ---
const char* const kEffectFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_UTILITY, nullptr};
const char* const kInstrumentFeatures[] = {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_SYNTHESIZER, nullptr};
// An instrument first: a host that takes the first class would take the wrong one.
const char* const kSynthFeatures[] = {CLAP_PLUGIN_FEATURE_INSTRUMENT, nullptr};
#if TCG_ABSURD == 1
const char kVendor[64] = {'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V',
                          'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V',
                          'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V',
                          'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V', 'V'};
#else
const char kVendor[] = "Talvenor tests";
#endif

const clap_plugin_descriptor_t kDescriptors[] = {
    {CLAP_VERSION_INIT, "talvenor.test.synth", "Test Synth", "Talvenor tests", "", "", "", "1", "",
     const_cast<const char**>(kSynthFeatures)},
    {CLAP_VERSION_INIT, "talvenor.test.gain", "Test Gain", kVendor, "", "", "", "1", "",
     const_cast<const char**>(TCG_KIND == 1 ? kInstrumentFeatures : kEffectFeatures)},
};

uint32_t factoryCount(const clap_plugin_factory_t*) { return 2; }

const clap_plugin_descriptor_t* factoryDescriptor(const clap_plugin_factory_t*, uint32_t index) {
    if (!gEntryInitialised)
        fault("factory used before init");
    return index < 2 ? &kDescriptors[index] : nullptr;
}

const clap_plugin_t* factoryCreate(const clap_plugin_factory_t*, const clap_host_t* host, const char* id) {
    if (!gEntryInitialised)
        fault("create before init");
    if (!host || !host->get_extension || !host->name || !host->version ||
        !clap_version_is_compatible(host->clap_version)) {
        fault("create with an incomplete host");
        return nullptr;
    }
    if (!id || std::strcmp(id, "talvenor.test.gain") != 0)
        return nullptr;  // the synth is never made: a host asking for it has chosen wrong
    logLine("create");
    if (TCG_FAIL == 3)
        return nullptr;
    Plugin* s = new Plugin;
    s->clap.desc = &kDescriptors[1];
    s->clap.plugin_data = s;
    s->clap.init = pluginInit;
    s->clap.destroy = pluginDestroy;
    s->clap.activate = pluginActivate;
    s->clap.deactivate = pluginDeactivate;
    s->clap.start_processing = pluginStart;
    s->clap.stop_processing = pluginStop;
    s->clap.reset = pluginReset;
    s->clap.process = TCG_ABSURD == 6 ? nullptr : pluginProcess;
    s->clap.get_extension = pluginExtension;
    s->clap.on_main_thread = pluginOnMainThread;
    s->host = host;
    ++gInstances;
    gLast = s;
    return &s->clap;
}

const clap_plugin_factory_t kFactory = {factoryCount, factoryDescriptor, factoryCreate};

bool entryInit(const char* path) {
    logLine("entry.init");
    if (gEntryInitialised)
        fault("entry init twice");
    if (!path || !path[0])
        fault("entry init without the module's path");
    if (TCG_FAIL == 1)
        return false;
    gEntryInitialised = true;
    return true;
}

void entryDeinit() {
    logLine("entry.deinit");
    if (!gEntryInitialised)
        fault("entry deinit without init");
    if (gInstances != 0)
        fault("entry deinit with instances alive");
    gEntryInitialised = false;
}

const void* entryFactory(const char* id) {
    if (!gEntryInitialised)
        fault("get_factory before init");
    if (TCG_FAIL == 2 || !id || std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) != 0)
        return nullptr;
    return &kFactory;
}

}  // namespace

// The variant without an entry exports it under another name, as a misbuilt module would.
#ifndef TCG_NO_ENTRY
#define TCG_ENTRY_NAME clap_entry
#else
#define TCG_ENTRY_NAME clap_entry_misnamed
#endif
extern "C" CLAP_EXPORT const clap_plugin_entry_t TCG_ENTRY_NAME = {
    {TCG_VERSION_MAJOR, CLAP_VERSION_MINOR, CLAP_VERSION_REVISION}, entryInit, entryDeinit, entryFactory};

// --- what the tests ask of the module they share with the host ---
TCG_EXPORT int tcgLog(char* text, int size) {
    std::lock_guard<std::mutex> hold(gLock);
    return std::snprintf(text, size_t(size), "%s", gLog.c_str());
}
TCG_EXPORT int tcgFaults(char* text, int size) {
    std::lock_guard<std::mutex> hold(gLock);
    std::snprintf(text, size_t(size), "%s", gFaults.c_str());
    return int(gFaultCount);
}
TCG_EXPORT void tcgClear() {
    std::lock_guard<std::mutex> hold(gLock);
    gLog.clear();
    gFaults.clear();
    gFaultCount = 0;
}
// The knob in the plug-in's own editor moved: the plug-in asks its host for a flush.
TCG_EXPORT void tcgEditorMoves(double gain) {
    if (!gLast)
        return;
    gLast->editorValue.store(gain);
    gLast->editorMoved.store(true);
    gLast->hostParams->request_flush(gLast->host);
}
// The plug-in's latency changes: at once while inactive, through a restart while active.
TCG_EXPORT void tcgChangeLatency(uint32_t frames) {
    if (!gLast)
        return;
    gLast->pendingLatency = frames;
    if (gLast->active) {
        gLast->host->request_restart(gLast->host);
        return;
    }
    gLast->latency = frames;
    gLast->hostLatency->changed(gLast->host);
}
TCG_EXPORT bool tcgRequestResize(uint32_t width, uint32_t height) {
    return gLast && gLast->hostGui->request_resize(gLast->host, width, height);
}
TCG_EXPORT void tcgRequestCallback() {
    if (gLast)
        gLast->host->request_callback(gLast->host);
}
TCG_EXPORT double tcgGain() { return gLast ? gLast->gain : -1.0; }
TCG_EXPORT void* tcgEditorParent() { return gLast ? gLast->parent : nullptr; }
TCG_EXPORT void* tcgEditorChild() { return gLast ? gLast->child : nullptr; }
