// The host's cost around a plug-in, per format, in one run: the same stereo gain at
// 48000 Hz in blocks of 256 frames as a VST 2, a CLAP and (in the Windows editions) a
// VST3 plug-in, each run as the chain runs it (the slot processing, in place, through
// the thread-checked seam and the format's backend) and each called as directly as
// its format allows (a prepared call, no host around it). The host's overhead is
//   BM_ThroughHost/format - BM_Direct/format
// and scripts/bench-plugin-seam prints it with the ratio to VST 2's.
//   format: 0 VST 2, 1 CLAP, 2 VST3        moving: 1 the gain moves before every block
// Counter: ns_per_block.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <xmmintrin.h>

#include "ClapAbi.h"
#include "ClapBackend.h"
#include "ClapPlatform.h"
#include "EffectSlot.h"
#include "SlotProcessing.h"
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"
#ifdef _WIN32
#include "Vst3Abi.h"
#include "Vst3Backend.h"
#include "Vst3BundlePath.h"
#include "Vst3HostObjects.h"
#include "WinInclude.h"
#endif

namespace {

constexpr double kRate = 48000.0;
constexpr int kFrames = 256;
enum Format { kVst2, kClap, kVst3 };

struct Buffers {
    std::vector<float> channel[2];
    float* io[2];
    Buffers() {
        for (int c = 0; c < 2; ++c) {
            channel[c].resize(kFrames);
            for (int i = 0; i < kFrames; ++i)
                channel[c][i] = float(0.3 * std::sin(0.02 * i * (c + 1)));
            io[c] = channel[c].data();
        }
    }
};

// As the chain runs its plug-ins: the gain's repeated halving never reaches the slow
// denormal range.
class DenormalsOff {
public:
    DenormalsOff() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040); }
    ~DenormalsOff() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
};

void report(benchmark::State& state) {
    state.counters["ns_per_block"] =
        benchmark::Counter(double(state.iterations()) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Marked failed in its counters, with the reason on the error stream.
void skip(benchmark::State& state, const char* why) {
    std::fprintf(stderr, "%s\n", why);
    state.counters["failed"] = 1;
    for (auto _ : state) {
    }
}

struct QuietEvents : PluginHostEvents {
    void parameterEdited(int32_t, float) override {}
    bool editorResizeRequested(int32_t, int32_t) override { return false; }
    void latencyChanged() override {}
    void parametersChanged() override {}
    void restartRequested() override {}
    void uiCallRequested() override {}
    double tempo() const override { return 120.0; }
};

// --- the VST 2 gain, an effect in memory with the same loop as the CLAP gain ---
float g_vstGain = 0.5f;
void VSTCALLBACK vstGain(AEffect*, float** inputs, float** outputs, VstInt32 frames) {
    const float gain = g_vstGain;
    for (int c = 0; c < 2; ++c)
        for (VstInt32 i = 0; i < frames; ++i)
            outputs[c][i] = inputs[c][i] * gain;
}
VstIntPtr VSTCALLBACK vstDispatcher(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }
void VSTCALLBACK vstSetParameter(AEffect*, VstInt32, float value) { g_vstGain = value; }
float VSTCALLBACK vstGetParameter(AEffect*, VstInt32) { return g_vstGain; }

AEffect vstEffect() {
    AEffect e = {};
    e.magic = kEffectMagic;
    e.dispatcher = vstDispatcher;
    e.setParameter = vstSetParameter;
    e.getParameter = vstGetParameter;
    e.numParams = 1;
    e.numInputs = 2;
    e.numOutputs = 2;
    e.flags = effFlagsCanReplacing;
    e.processReplacing = vstGain;
    return e;
}

#ifdef _WIN32
const std::string kVst3Bundle = std::string(BENCH_VST3_DIR) + "Vst3TestGain.vst3";
const std::string kVst3Binary =
    kVst3Bundle + "\\Contents\\" + vst3path::kOwnArchitecture + "\\Vst3TestGain.vst3";

// The test effect's module with its call log off, so that its own work is the gain.
HMODULE quietVst3Module() {
    HMODULE module = LoadLibraryA(kVst3Binary.c_str());
    if (auto setLogging = reinterpret_cast<void (*)(int)>(
            reinterpret_cast<void*>(GetProcAddress(module, "v3tSetLogging"))))
        setLogging(0);
    return module;
}
#endif

// The format's backend instance, null (with why) where this build has no such format.
PluginInstance* loadGain(Format format, AEffect* effect, PluginHostEvents* events, std::string& why) {
    char failure[256] = "";
    PluginInstance* plugin = nullptr;
    if (format == kVst2) {
        plugin = new Vst2Plugin(effect, events, "", nullptr);
    } else if (format == kClap) {
        ClapBackend backend;
        plugin = backend.load(BENCH_CLAP_GAIN, "", events, failure, sizeof failure);
    } else {
#ifdef _WIN32
        Vst3Backend backend;
        plugin = backend.load(kVst3Bundle.c_str(), "", events, failure, sizeof failure);
#else
        std::snprintf(failure, sizeof failure, "VST3 is hosted in the Windows editions only");
#endif
    }
    why = failure;
    return plugin;
}

void BM_ThroughHost(benchmark::State& state) {
    const DenormalsOff denormalsOff;
    const Format format = Format(state.range(0));
    const bool moving = state.range(1) != 0;
#ifdef _WIN32
    HMODULE module = format == kVst3 ? quietVst3Module() : nullptr;
#endif
    AEffect effect = vstEffect();
    QuietEvents events;
    std::string why;
    PluginInstance* inner = loadGain(format, &effect, &events, why);
    if (!inner)
        return skip(state, why.c_str());
    std::unique_ptr<ThreadCheckedPlugin> plugin(new ThreadCheckedPlugin(inner));
    if (!plugin->configure(kRate, kFrames) || !plugin->resume())
        return skip(state, "the gain would not start");
    EffectSlot slot;
    slot.plugin = plugin.get();
    std::unique_ptr<SlotProcessing> processing(new SlotProcessing);
    Buffers b;
    float value = 0.5f;
    for (auto _ : state) {
        if (moving) {
            value = value < 0.6f ? value + 0.0001f : 0.5f;
            plugin->setParameterValue(0, value);
        }
        processing->processSlot(&slot, b.io, 2, kFrames);
        benchmark::ClobberMemory();
    }
    report(state);
    plugin->suspend();
    plugin.reset();
#ifdef _WIN32
    if (module)
        FreeLibrary(module);
#endif
}

// --- each gain called with no host around it ---
void vst2Direct(benchmark::State& state) {
    AEffect effect = vstEffect();
    Buffers b;
    for (auto _ : state) {
        effect.processReplacing(&effect, b.io, b.io, kFrames);
        benchmark::ClobberMemory();
    }
    report(state);
}

uint32_t noEvents(const clap_input_events_t*) { return 0; }
const clap_event_header_t* noEvent(const clap_input_events_t*, uint32_t) { return nullptr; }
bool dropEvent(const clap_output_events_t*, const clap_event_header_t*) { return true; }
const void* noExtension(const clap_host_t*, const char*) { return nullptr; }
void noRequest(const clap_host_t*) {}

void clapDirect(benchmark::State& state) {
    char failure[256];
    void* module = clap_platform::openModule(BENCH_CLAP_GAIN, failure, sizeof failure);
    auto entry = module ? static_cast<const clap_plugin_entry_t*>(clap_platform::moduleSymbol(module, "clap_entry"))
                        : nullptr;
    if (!entry || !entry->init(BENCH_CLAP_GAIN))
        return skip(state, "the CLAP gain did not load");
    auto factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    clap_host_t host = {CLAP_VERSION_INIT, nullptr, "bench", "", "", "1", noExtension, noRequest, noRequest, noRequest};
    const clap_plugin_t* plugin = factory->create_plugin(factory, &host, "talvenor.bench.gain");
    plugin->init(plugin);
    plugin->activate(plugin, kRate, 1, kFrames);
    plugin->start_processing(plugin);
    Buffers b;
    clap_audio_buffer_t in = {b.io, nullptr, 2, 0, 0}, out = {b.io, nullptr, 2, 0, 0};
    clap_input_events_t inEvents = {nullptr, noEvents, noEvent};
    clap_output_events_t outEvents = {nullptr, dropEvent};
    clap_process_t call = {0, kFrames, nullptr, &in, &out, 1, 1, &inEvents, &outEvents};
    for (auto _ : state) {
        plugin->process(plugin, &call);
        call.steady_time += kFrames;
        benchmark::ClobberMemory();
    }
    report(state);
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    entry->deinit();
    clap_platform::closeModule(module);
}

#ifdef _WIN32
void vst3Direct(benchmark::State& state) {
    HMODULE module = quietVst3Module();
    auto getFactory = reinterpret_cast<v3_plugin_factory** (V3_API*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetPluginFactory")));
    auto init = reinterpret_cast<bool (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "InitDll")));
    auto exitDll = reinterpret_cast<bool (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "ExitDll")));
    if (!getFactory || !init || !exitDll || !init())
        return skip(state, "the VST3 gain did not load");
    v3_plugin_factory** factory = getFactory();
    const v3_tuid componentId = V3_ID(0x54414C56, 0x47414E31, 0x00000000, 0x00000001);
    void* obj = nullptr;
    v3_cpp_obj(factory)->create_instance(factory, componentId, v3_component_iid, &obj);
    auto** component = static_cast<v3_component**>(obj);
    v3_cpp_obj_initialize(component, Vst3HostApplication::context());
    auto** processor = static_cast<v3_audio_processor**>(vst3abi::query(component, v3_audio_processor_iid));
    v3_speaker_arrangement ins[2] = {V3_SPEAKER_L | V3_SPEAKER_R, V3_SPEAKER_L | V3_SPEAKER_R};
    v3_speaker_arrangement outs[1] = {V3_SPEAKER_L | V3_SPEAKER_R};
    v3_cpp_obj(processor)->set_bus_arrangements(processor, ins, 2, outs, 1);
    v3_process_setup setup = {V3_REALTIME, V3_SAMPLE_32, kFrames, kRate};
    v3_cpp_obj(processor)->setup_processing(processor, &setup);
    v3_cpp_obj(component)->set_active(component, 1);
    v3_cpp_obj(processor)->set_processing(processor, 1);
    Buffers b;
    v3_audio_bus_buffers bus;
    std::memset(&bus, 0, sizeof bus);
    bus.num_channels = 2;
    bus.channel_buffers_32 = b.io;
    v3_process_data data;
    std::memset(&data, 0, sizeof data);
    data.process_mode = V3_REALTIME;
    data.symbolic_sample_size = V3_SAMPLE_32;
    data.nframes = kFrames;
    data.num_input_buses = 1;
    data.num_output_buses = 1;
    data.inputs = &bus;
    data.outputs = &bus;
    for (auto _ : state) {
        v3_cpp_obj(processor)->process(processor, &data);
        benchmark::ClobberMemory();
    }
    report(state);
    v3_cpp_obj(processor)->set_processing(processor, 0);
    v3_cpp_obj(component)->set_active(component, 0);
    vst3abi::release(processor);
    v3_cpp_obj_terminate(component);
    vst3abi::release(component);
    vst3abi::release(factory);
    exitDll();
    FreeLibrary(module);
}
#endif

void BM_Direct(benchmark::State& state) {
    const DenormalsOff denormalsOff;
    switch (Format(state.range(0))) {
    case kVst2: return vst2Direct(state);
    case kClap: return clapDirect(state);
    case kVst3:
#ifdef _WIN32
        return vst3Direct(state);
#else
        return skip(state, "VST3 is hosted in the Windows editions only");
#endif
    }
}

#ifdef _WIN32
const std::vector<int64_t> kFormats = {kVst2, kClap, kVst3};
#else
const std::vector<int64_t> kFormats = {kVst2, kClap};
#endif

}  // namespace

BENCHMARK(BM_ThroughHost)->ArgNames({"format", "moving"})->ArgsProduct({kFormats, {0, 1}});
BENCHMARK(BM_Direct)->ArgNames({"format"})->ArgsProduct({kFormats});
