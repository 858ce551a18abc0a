// The CLAP build of one of our effects: the module's entry, its factory and the
// plug-in with its audio-ports, params and state extensions, around the effect's
// EffectRunner. Portable: the same source builds the Windows .clap and a native one.
//
// Threads, as the format lays them down: init, destroy, activate, deactivate, the
// extensions' queries and state on the host's main thread; start_processing,
// stop_processing, reset and process on its audio thread; params.flush on the audio
// thread while active and on the main thread otherwise.
//
// Every function here is an entry point of the format: each checks its plug-in and
// arguments and answers a failure with false, an error status or an empty answer.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "EffectDescription.h"
#include "EffectRunner.h"
#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/plugin-factory.h"
#include "clap/plugin.h"
#include "clap/process.h"
#if defined(_WIN32)
#include "ParameterView.h"
#include "clap/ext/gui.h"
#endif

namespace {

// No state of ours comes near this; a stream that goes on is not ours.
constexpr size_t kMaxStateBytes = 4096;

// The program list as one stepped parameter, after the effect's own (CLAP has no
// programs of its own): its values are the program numbers, its texts their names.
// The id is clear of the effects' parameter indices.
constexpr clap_id kProgramParameter = 1000;

// What the editor did, on its way to the host as output events: one producer (the
// main thread), one consumer (process, or flush).
class EditorMessages {
public:
    enum Kind : uint16_t { kBegin, kValue, kEnd };
    struct Message {
        Kind kind;
        clap_id id;
        double value;
    };
    // False when full (the host has not processed or flushed for hundreds of moves).
    bool push(const Message& m) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) >= kSize)
            return false;
        items_[head % kSize] = m;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    bool pop(Message* m) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return false;
        *m = items_[tail % kSize];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    static constexpr uint32_t kSize = 256;
    Message items_[kSize];
    std::atomic<uint32_t> head_{0}, tail_{0};
};

struct ClapEffect;

#if defined(_WIN32)
// The editor's view of the effect: its values and texts, and the user's edits
// applied at once and told to the host.
class EditorSide final : public ParameterViewModel {
public:
    explicit EditorSide(ClapEffect& effect) : effect_(effect) {}
    int32_t rowCount() const override;
    bool rowName(int32_t row, char* text, size_t size) const override;
    bool rowText(int32_t row, char* text, size_t size) const override;
    float rowValue(int32_t row) const override;
    void beginEdit(int32_t row) override;
    void edit(int32_t row, float value) override;
    void endEdit(int32_t row) override;

private:
    void send(EditorMessages::Kind kind, int32_t row, double value);
    ClapEffect& effect_;
};
#endif

struct ClapEffect {
    clap_plugin_t plugin;
    const clap_host_t* host = nullptr;
    const clap_host_params_t* hostParams = nullptr;
    EffectRunner runner;
    // A program chosen by the host's events: the other parameters' values changed,
    // which the host is told from the main thread.
    std::atomic<bool> programChanged{false};
    bool initialised = false;
    EffectRunner::ChangeList changes;  // audio thread (main thread in an inactive flush)
    EditorMessages fromEditor;
#if defined(_WIN32)
    EditorSide editor{*this};
    ParameterView* view = nullptr;  // main thread, while the host's gui is created
#endif
};

bool CLAP_ABI paramValueText(const clap_plugin_t* plugin, clap_id id, double value, char* display, uint32_t size);

#if defined(_WIN32)
int32_t EditorSide::rowCount() const { return effect_.runner.parameterCount(); }
bool EditorSide::rowName(int32_t row, char* text, size_t size) const {
    return effect_.runner.parameterName(row, text, size);
}
bool EditorSide::rowText(int32_t row, char* text, size_t size) const {
    return paramValueText(&effect_.plugin, clap_id(row), effect_.runner.parameterValue(row), text, uint32_t(size));
}
float EditorSide::rowValue(int32_t row) const { return effect_.runner.parameterValue(row); }
void EditorSide::send(EditorMessages::Kind kind, int32_t row, double value) {
    effect_.fromEditor.push({kind, clap_id(row), value});
    // While active the next process call carries the news; otherwise a flush does.
    if (!effect_.runner.active() && effect_.hostParams && effect_.hostParams->request_flush)
        effect_.hostParams->request_flush(effect_.host);
}
void EditorSide::beginEdit(int32_t row) { send(EditorMessages::kBegin, row, 0.0); }
void EditorSide::edit(int32_t row, float value) {
    effect_.runner.setParameter(row, value);
    send(EditorMessages::kValue, row, value);
}
void EditorSide::endEdit(int32_t row) { send(EditorMessages::kEnd, row, 0.0); }
#endif

ClapEffect* effectOf(const clap_plugin_t* plugin) {
    return plugin ? static_cast<ClapEffect*>(plugin->plugin_data) : nullptr;
}

bool hasProgramParameter(const ClapEffect* e) { return e->runner.programCount() > 1; }

bool isProgramParameter(const ClapEffect* e, clap_id id) { return id == kProgramParameter && hasProgramParameter(e); }

// The program a value of the program parameter names: the nearest, within the list.
int32_t programAt(const ClapEffect* e, double value) {
    const int32_t last = e->runner.programCount() - 1;
    if (!(value > 0.0))
        return 0;
    return value >= double(last) ? last : int32_t(value + 0.5);
}

// The host's program change, told to the host once it is applied: its values of the
// other parameters are then the new program's.
void tellHostProgramChanged(ClapEffect* e) {
    e->programChanged.store(true, std::memory_order_release);
    if (e->host && e->host->request_callback)
        e->host->request_callback(e->host);
}

// --- descriptor ---

const clap_plugin_descriptor_t& descriptor() {
    static clap_plugin_descriptor_t made;
    static bool filled = false;
    if (!filled) {
        const EffectDescription& d = effectDescription();
        std::memset(&made, 0, sizeof made);
        made.clap_version = CLAP_VERSION;
        made.id = d.clapId;
        made.name = d.name;
        made.vendor = d.vendor;
        made.url = d.url;
        made.manual_url = "";
        made.support_url = "";
        made.version = d.version;
        made.description = "";
        made.features = const_cast<const char**>(d.clapFeatures);
        filled = true;
    }
    return made;
}

// --- events: the host's parameter changes, as the runner's change list ---

bool indexOfParameter(const ClapEffect* e, clap_id id, int32_t* index) {
    if (!e->runner.isParameter(int32_t(id)))
        return false;
    *index = int32_t(id);
    return true;
}

void gatherChanges(ClapEffect* e, const clap_input_events_t* events) {
    e->changes.clear();
    if (!events || !events->size || !events->get)
        return;
    const uint32_t count = events->size(events);
    for (uint32_t i = 0; i < count; ++i) {
        const clap_event_header_t* header = events->get(events, i);
        if (!header || header->space_id != CLAP_CORE_EVENT_SPACE_ID || header->type != CLAP_EVENT_PARAM_VALUE ||
            header->size < sizeof(clap_event_param_value_t))
            continue;
        const auto* change = reinterpret_cast<const clap_event_param_value_t*>(header);
        const int32_t offset = int32_t(header->time > 0x7FFFFFFFu ? 0x7FFFFFFFu : header->time);
        int32_t index = 0;
        if (indexOfParameter(e, change->param_id, &index)) {
            e->changes.add(offset, index, float(change->value));
        } else if (isProgramParameter(e, change->param_id) && std::isfinite(change->value)) {
            const int32_t program = programAt(e, change->value);
            if (e->changes.add(offset, EffectRunner::kProgramIndex,
                               float(program) / float(e->runner.programCount() - 1)))
                tellHostProgramChanged(e);
        }
    }
}

// The editor's moves, as the host's output events (sent from process and flush).
void sendEditorMessages(ClapEffect* e, const clap_output_events_t* out) {
    if (!out || !out->try_push)
        return;
    EditorMessages::Message m;
    while (e->fromEditor.pop(&m)) {
        if (m.kind == EditorMessages::kValue) {
            clap_event_param_value_t event;
            std::memset(&event, 0, sizeof event);
            event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            event.param_id = m.id;
            event.note_id = -1;
            event.port_index = event.channel = event.key = -1;
            event.value = m.value;
            out->try_push(out, &event.header);
        } else {
            clap_event_param_gesture_t event;
            event.header = {sizeof event, 0, CLAP_CORE_EVENT_SPACE_ID,
                            uint16_t(m.kind == EditorMessages::kBegin ? CLAP_EVENT_PARAM_GESTURE_BEGIN
                                                                      : CLAP_EVENT_PARAM_GESTURE_END),
                            0};
            event.param_id = m.id;
            out->try_push(out, &event.header);
        }
    }
}

// --- audio ports ---

uint32_t CLAP_ABI portCount(const clap_plugin_t* plugin, bool) {
    return effectOf(plugin) ? 1 : 0;
}

bool CLAP_ABI portGet(const clap_plugin_t* plugin, uint32_t index, bool isInput, clap_audio_port_info_t* info) {
    ClapEffect* e = effectOf(plugin);
    if (!e || index != 0 || !info)
        return false;
    std::memset(info, 0, sizeof *info);
    info->id = 0;
    std::snprintf(info->name, sizeof info->name, "%s", isInput ? "Input" : "Output");
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = uint32_t(isInput ? e->runner.inputCount() : e->runner.outputCount());
    info->port_type = info->channel_count == 1 ? CLAP_PORT_MONO : CLAP_PORT_STEREO;
    // In place only where the channels pair up (Overdrive is mono in and out too).
    info->in_place_pair = e->runner.inputCount() == e->runner.outputCount() ? 0 : CLAP_INVALID_ID;
    return true;
}

const clap_plugin_audio_ports_t kAudioPorts = {portCount, portGet};

// --- params ---

uint32_t CLAP_ABI paramCount(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    return e ? uint32_t(e->runner.parameterCount() + (hasProgramParameter(e) ? 1 : 0)) : 0;
}

bool CLAP_ABI paramInfo(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !info)
        return false;
    if (hasProgramParameter(e) && index == uint32_t(e->runner.parameterCount())) {
        std::memset(info, 0, sizeof *info);
        info->id = kProgramParameter;
        info->flags = CLAP_PARAM_IS_STEPPED | CLAP_PARAM_IS_AUTOMATABLE;
        std::snprintf(info->name, sizeof info->name, "Program");
        info->min_value = 0.0;
        info->max_value = double(e->runner.programCount() - 1);
        info->default_value = 0.0;
        return true;
    }
    if (!e->runner.isParameter(int32_t(index)))
        return false;
    std::memset(info, 0, sizeof *info);
    info->id = clap_id(index);
    info->flags = CLAP_PARAM_IS_AUTOMATABLE;
    info->cookie = nullptr;
    e->runner.parameterName(int32_t(index), info->name, sizeof info->name);
    info->min_value = 0.0;
    info->max_value = 1.0;
    info->default_value = e->runner.defaultValue(int32_t(index));
    return true;
}

bool CLAP_ABI paramValue(const clap_plugin_t* plugin, clap_id id, double* value) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !value)
        return false;
    if (isProgramParameter(e, id)) {
        *value = double(e->runner.currentProgram());
        return true;
    }
    if (!e->runner.isParameter(int32_t(id)))
        return false;
    *value = e->runner.parameterValue(int32_t(id));
    return true;
}

// The VST 2 build's display, then its label: CLAP has no separate unit.
bool CLAP_ABI paramValueText(const clap_plugin_t* plugin, clap_id id, double value, char* display, uint32_t size) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !display || size == 0 || !std::isfinite(value))
        return false;
    if (isProgramParameter(e, id))
        return e->runner.programName(programAt(e, value), display, size);
    if (!e->runner.isParameter(int32_t(id)))
        return false;
    char shown[128], label[128];
    if (!e->runner.valueText(int32_t(id), float(value), shown, sizeof shown))
        return false;
    e->runner.parameterLabel(int32_t(id), label, sizeof label);
    if (label[0])
        std::snprintf(display, size, "%s %s", shown, label);
    else
        std::snprintf(display, size, "%s", shown);
    return true;
}

// Only a program's name (or its number from 1) reads back; the other texts are
// shown, not typed.
bool CLAP_ABI paramTextValue(const clap_plugin_t* plugin, clap_id id, const char* display, double* value) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !display || !value || !isProgramParameter(e, id))
        return false;
    char name[64];
    for (int32_t p = 0; p < e->runner.programCount(); ++p)
        if (e->runner.programName(p, name, sizeof name) && std::strcmp(name, display) == 0) {
            *value = double(p);
            return true;
        }
    char* end = nullptr;
    const long number = std::strtol(display, &end, 10);
    if (end == display || *end != '\0' || number < 1 || number > e->runner.programCount())
        return false;
    *value = double(number - 1);
    return true;
}

void CLAP_ABI paramFlush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out) {
    ClapEffect* e = effectOf(plugin);
    if (!e)
        return;
    sendEditorMessages(e, out);
    gatherChanges(e, in);
    for (int32_t i = 0; i < e->changes.count(); ++i)
        e->runner.apply(e->changes.data()[i].index, e->changes.data()[i].value);
    e->changes.clear();
}

const clap_plugin_params_t kParams = {paramCount, paramInfo, paramValue, paramValueText, paramTextValue, paramFlush};

// --- state ---

bool CLAP_ABI stateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !stream || !stream->write)
        return false;
    uint8_t buffer[kMaxStateBytes];
    const size_t size = e->runner.stateSize();
    if (size > sizeof buffer || !e->runner.saveState(buffer, size))
        return false;
    size_t written = 0;
    while (written < size) {
        const int64_t step = stream->write(stream, buffer + written, size - written);
        if (step <= 0)
            return false;
        written += size_t(step);
    }
    return true;
}

bool CLAP_ABI stateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !stream || !stream->read)
        return false;
    // One byte more than our record may hold tells a longer (foreign) stream apart.
    uint8_t buffer[kMaxStateBytes + 1];
    size_t used = 0;
    while (used < sizeof buffer) {
        const int64_t step = stream->read(stream, buffer + used, sizeof buffer - used);
        if (step < 0)
            return false;
        if (step == 0)
            break;
        used += size_t(step);
    }
    return e->runner.loadState(buffer, used);
}

const clap_plugin_state_t kState = {stateSave, stateLoad};

// --- the plug-in ---

bool CLAP_ABI pluginInit(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    if (!e || e->initialised)
        return false;
    e->initialised = e->runner.create(effectDescription());
    if (e->host && e->host->get_extension)
        e->hostParams = static_cast<const clap_host_params_t*>(e->host->get_extension(e->host, CLAP_EXT_PARAMS));
    return e->initialised;
}

void CLAP_ABI pluginDestroy(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    if (!e)
        return;
    e->runner.deactivate();
#if defined(_WIN32)
    delete e->view;
#endif
    delete e;
}

bool CLAP_ABI pluginActivate(const clap_plugin_t* plugin, double sampleRate, uint32_t, uint32_t maxFrames) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !e->initialised || e->runner.active() || maxFrames < 1 || maxFrames > 0x7FFFFFFFu)
        return false;
    if (!e->runner.configure(sampleRate, int32_t(maxFrames)))
        return false;
    e->runner.activate();
    return true;
}

void CLAP_ABI pluginDeactivate(const clap_plugin_t* plugin) {
    if (ClapEffect* e = effectOf(plugin))
        e->runner.deactivate();
}

bool CLAP_ABI pluginStart(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    return e && e->runner.active();
}

void CLAP_ABI pluginStop(const clap_plugin_t*) {}

void CLAP_ABI pluginReset(const clap_plugin_t* plugin) {
    if (ClapEffect* e = effectOf(plugin))
        e->runner.reset();
}

clap_process_status CLAP_ABI pluginProcess(const clap_plugin_t* plugin, const clap_process_t* process) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !process || !e->runner.active())
        return CLAP_PROCESS_ERROR;
    sendEditorMessages(e, process->out_events);
    gatherChanges(e, process->in_events);
    const int32_t frames = process->frames_count > 0x7FFFFFFFu ? -1 : int32_t(process->frames_count);
    if (frames == 0) {
        EffectRunner::ChangeList& changes = e->changes;
        for (int32_t i = 0; i < changes.count(); ++i)
            e->runner.apply(changes.data()[i].index, changes.data()[i].value);
        return CLAP_PROCESS_CONTINUE;
    }
    if (process->audio_inputs_count < 1 || process->audio_outputs_count < 1 || !process->audio_inputs ||
        !process->audio_outputs)
        return CLAP_PROCESS_ERROR;
    const clap_audio_buffer_t& in = process->audio_inputs[0];
    clap_audio_buffer_t& out = process->audio_outputs[0];
    if (in.channel_count < uint32_t(e->runner.inputCount()) || out.channel_count < uint32_t(e->runner.outputCount()) ||
        !in.data32 || !out.data32)
        return CLAP_PROCESS_ERROR;
    if (!e->runner.process(in.data32, out.data32, frames, e->changes))
        return CLAP_PROCESS_ERROR;
    out.constant_mask = 0;
    return CLAP_PROCESS_CONTINUE;
}

#if defined(_WIN32)
// --- gui: the drawn parameter editor, embedded in the host's window ---

bool isWin32(const char* api, bool floating) { return api && std::strcmp(api, CLAP_WINDOW_API_WIN32) == 0 && !floating; }

bool CLAP_ABI guiSupported(const clap_plugin_t* plugin, const char* api, bool floating) {
    return effectOf(plugin) && isWin32(api, floating);
}
bool CLAP_ABI guiPreferred(const clap_plugin_t* plugin, const char** api, bool* floating) {
    if (!effectOf(plugin) || !api || !floating)
        return false;
    *api = CLAP_WINDOW_API_WIN32;
    *floating = false;
    return true;
}
bool CLAP_ABI guiCreate(const clap_plugin_t* plugin, const char* api, bool floating) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !e->initialised || e->view || !isWin32(api, floating))
        return false;
    e->view = new (std::nothrow) ParameterView(e->editor);
    return e->view != nullptr;
}
void CLAP_ABI guiDestroy(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    if (!e)
        return;
    delete e->view;
    e->view = nullptr;
}
bool CLAP_ABI guiScale(const clap_plugin_t*, double) { return false; }
bool CLAP_ABI guiSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !e->view || !width || !height)
        return false;
    int32_t w = 0, h = 0;
    e->view->size(&w, &h);
    *width = uint32_t(w);
    *height = uint32_t(h);
    return true;
}
bool CLAP_ABI guiCanResize(const clap_plugin_t* plugin) { return effectOf(plugin) != nullptr; }
bool CLAP_ABI guiHints(const clap_plugin_t* plugin, clap_gui_resize_hints_t* hints) {
    if (!effectOf(plugin) || !hints)
        return false;
    *hints = {true, true, false, 0, 0};
    return true;
}
bool CLAP_ABI guiAdjust(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !e->view || !width || !height)
        return false;
    int32_t w = *width > 0x7FFFFFFFu ? 0x7FFFFFFF : int32_t(*width);
    int32_t h = *height > 0x7FFFFFFFu ? 0x7FFFFFFF : int32_t(*height);
    e->view->constrain(&w, &h);
    *width = uint32_t(w);
    *height = uint32_t(h);
    return true;
}
bool CLAP_ABI guiSetSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !e->view || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
        return false;
    return e->view->resize(int32_t(width), int32_t(height));
}
bool CLAP_ABI guiParent(const clap_plugin_t* plugin, const clap_window_t* window) {
    ClapEffect* e = effectOf(plugin);
    if (!e || !e->view || !window || !window->api || std::strcmp(window->api, CLAP_WINDOW_API_WIN32) != 0)
        return false;
    return e->view->open(window->win32);
}
bool CLAP_ABI guiTransient(const clap_plugin_t*, const clap_window_t*) { return false; }
void CLAP_ABI guiTitle(const clap_plugin_t*, const char*) {}
bool CLAP_ABI guiShow(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    return e && e->view;
}
bool CLAP_ABI guiHide(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    return e && e->view;
}

const clap_plugin_gui_t kGui = {guiSupported, guiPreferred, guiCreate,    guiDestroy,   guiScale,
                                guiSize,      guiCanResize, guiHints,     guiAdjust,    guiSetSize,
                                guiParent,    guiTransient, guiTitle,     guiShow,      guiHide};
#endif

const void* CLAP_ABI pluginExtension(const clap_plugin_t* plugin, const char* id) {
    if (!effectOf(plugin) || !id)
        return nullptr;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0)
        return &kAudioPorts;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0)
        return &kParams;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0)
        return &kState;
#if defined(_WIN32)
    if (std::strcmp(id, CLAP_EXT_GUI) == 0)
        return &kGui;
#endif
    // Elsewhere no gui: the host shows its parameter view.
    return nullptr;
}

void CLAP_ABI pluginOnMainThread(const clap_plugin_t* plugin) {
    ClapEffect* e = effectOf(plugin);
    if (e && e->programChanged.exchange(false, std::memory_order_acq_rel) && e->hostParams && e->hostParams->rescan)
        e->hostParams->rescan(e->host, CLAP_PARAM_RESCAN_VALUES);
}

// --- factory and entry ---

uint32_t CLAP_ABI factoryCount(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* CLAP_ABI factoryDescriptor(const clap_plugin_factory_t*, uint32_t index) {
    return index == 0 ? &descriptor() : nullptr;
}

const clap_plugin_t* CLAP_ABI factoryCreate(const clap_plugin_factory_t*, const clap_host_t* host, const char* id) {
    if (!host || !id || std::strcmp(id, descriptor().id) != 0 || !clap_version_is_compatible(host->clap_version))
        return nullptr;
    ClapEffect* e = new (std::nothrow) ClapEffect;
    if (!e)
        return nullptr;
    e->host = host;
    e->plugin.desc = &descriptor();
    e->plugin.plugin_data = e;
    e->plugin.init = pluginInit;
    e->plugin.destroy = pluginDestroy;
    e->plugin.activate = pluginActivate;
    e->plugin.deactivate = pluginDeactivate;
    e->plugin.start_processing = pluginStart;
    e->plugin.stop_processing = pluginStop;
    e->plugin.reset = pluginReset;
    e->plugin.process = pluginProcess;
    e->plugin.get_extension = pluginExtension;
    e->plugin.on_main_thread = pluginOnMainThread;
    return &e->plugin;
}

const clap_plugin_factory_t kFactory = {factoryCount, factoryDescriptor, factoryCreate};

bool CLAP_ABI entryInit(const char*) { return true; }
void CLAP_ABI entryDeinit() {}
const void* CLAP_ABI entryFactory(const char* id) {
    return id && std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION, entryInit, entryDeinit, entryFactory};
