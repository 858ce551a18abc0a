// The plainest CLAP stereo gain, for measuring the host around it: one parameter,
// no checks, no logging. Its audio loop is the same as the VST 2 gain's in
// PluginSeamBench.cpp, so that the hosts are compared on equal work.
#include <cstring>

#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/params.h>
#include <clap/plugin-factory.h>

namespace {

struct Gain {
    clap_plugin_t clap;
    float gain = 0.5f;
};

Gain* of(const clap_plugin_t* p) { return static_cast<Gain*>(p->plugin_data); }

bool init(const clap_plugin_t*) { return true; }
void destroy(const clap_plugin_t* p) { delete of(p); }
bool activate(const clap_plugin_t*, double, uint32_t, uint32_t) { return true; }
void deactivate(const clap_plugin_t*) {}
bool start(const clap_plugin_t*) { return true; }
void stop(const clap_plugin_t*) {}
void reset(const clap_plugin_t*) {}

void takeEvents(Gain* g, const clap_input_events_t* in) {
    const uint32_t n = in->size(in);
    for (uint32_t i = 0; i < n; ++i) {
        const clap_event_header_t* h = in->get(in, i);
        if (h->space_id == CLAP_CORE_EVENT_SPACE_ID && h->type == CLAP_EVENT_PARAM_VALUE)
            g->gain = float(reinterpret_cast<const clap_event_param_value_t*>(h)->value);
    }
}

clap_process_status process(const clap_plugin_t* p, const clap_process_t* pr) {
    Gain* g = of(p);
    takeEvents(g, pr->in_events);
    const float gain = g->gain;
    for (uint32_t c = 0; c < 2; ++c) {
        const float* in = pr->audio_inputs[0].data32[c];
        float* out = pr->audio_outputs[0].data32[c];
        for (uint32_t i = 0; i < pr->frames_count; ++i)
            out[i] = in[i] * gain;
    }
    return CLAP_PROCESS_CONTINUE;
}

uint32_t paramCount(const clap_plugin_t*) { return 1; }
bool paramInfo(const clap_plugin_t*, uint32_t index, clap_param_info_t* info) {
    if (index != 0)
        return false;
    std::memset(info, 0, sizeof *info);
    info->id = 1;
    info->flags = CLAP_PARAM_IS_AUTOMATABLE;
    std::strcpy(info->name, "Gain");
    info->max_value = 1.0;
    info->default_value = 0.5;
    return true;
}
bool paramValue(const clap_plugin_t* p, clap_id, double* value) {
    *value = of(p)->gain;
    return true;
}
void flush(const clap_plugin_t* p, const clap_input_events_t* in, const clap_output_events_t*) {
    takeEvents(of(p), in);
}

uint32_t portCount(const clap_plugin_t*, bool) { return 1; }
bool portGet(const clap_plugin_t*, uint32_t index, bool input, clap_audio_port_info_t* info) {
    if (index != 0)
        return false;
    std::memset(info, 0, sizeof *info);
    info->id = input ? 0 : 1;
    info->flags = CLAP_AUDIO_PORT_IS_MAIN;
    info->channel_count = 2;
    info->port_type = CLAP_PORT_STEREO;
    info->in_place_pair = CLAP_INVALID_ID;
    return true;
}

const clap_plugin_params_t kParams = {paramCount, paramInfo, paramValue, nullptr, nullptr, flush};
const clap_plugin_audio_ports_t kPorts = {portCount, portGet};

const void* extension(const clap_plugin_t*, const char* id) {
    if (!std::strcmp(id, CLAP_EXT_PARAMS))
        return &kParams;
    if (!std::strcmp(id, CLAP_EXT_AUDIO_PORTS))
        return &kPorts;
    return nullptr;
}
void onMainThread(const clap_plugin_t*) {}

const char* const kFeatures[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, nullptr};
const clap_plugin_descriptor_t kDescriptor = {
    CLAP_VERSION_INIT, "talvenor.bench.gain", "Bench Gain", "Talvenor", "", "", "", "1", "",
    const_cast<const char**>(kFeatures)};

uint32_t count(const clap_plugin_factory_t*) { return 1; }
const clap_plugin_descriptor_t* descriptor(const clap_plugin_factory_t*, uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
const clap_plugin_t* create(const clap_plugin_factory_t*, const clap_host_t*, const char* id) {
    if (std::strcmp(id, kDescriptor.id) != 0)
        return nullptr;
    Gain* g = new Gain;
    g->clap = {&kDescriptor, g, init, destroy, activate, deactivate, start, stop, reset, process, extension,
               onMainThread};
    return &g->clap;
}
const clap_plugin_factory_t kFactory = {count, descriptor, create};

bool entryInit(const char*) { return true; }
void entryDeinit() {}
const void* entryFactory(const char* id) { return std::strcmp(id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory : nullptr; }

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, entryInit, entryDeinit,
                                                                entryFactory};
