// The host's own cost around one stereo gain at 48000 Hz in blocks of 256 frames:
// the gain as a CLAP plug-in through the seam (ClapPlugin: events list, queue,
// ports, transport) against the same module called directly with a prepared
// clap_process, and the same gain as a VST 2 plug-in through the slot processing
// against its processReplacing called directly. The host's overhead per format is
//   through the host - direct.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "ClapAbi.h"
#include "ClapBackend.h"
#include "ClapPlatform.h"
#include "EffectSlot.h"
#include "PluginInstance.h"
#include "SlotProcessing.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int kFrames = 256;
const char kModule[] = BENCH_CLAP_GAIN;

struct Buffers {
    std::vector<float> in[2], out[2];
    float* ins[2];
    float* outs[2];
    Buffers() {
        for (int c = 0; c < 2; ++c) {
            in[c].resize(kFrames);
            out[c].resize(kFrames);
            for (int i = 0; i < kFrames; ++i)
                in[c][i] = float(0.3 * std::sin(0.02 * i * (c + 1)));
            ins[c] = in[c].data();
            outs[c] = out[c].data();
        }
    }
};

void setCounters(benchmark::State& state) {
    const double frames = double(state.iterations()) * kFrames;
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
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

enum class Call { Apart, InPlace, Automated };

void runThroughSeam(benchmark::State& state, Call how) {
    QuietEvents events;
    ClapBackend backend;
    char failure[256];
    std::unique_ptr<PluginInstance> plugin(backend.load(kModule, "", &events, failure, sizeof failure));
    if (!plugin || !plugin->configure(kRate, kFrames) || !plugin->resume()) {
        state.counters["failed"] = 1;
        for (auto _ : state) {
        }
        return;
    }
    Buffers b;
    float value = 0.0f;
    for (auto _ : state) {
        if (how == Call::Automated) {
            value = value < 1.0f ? value + 0.001f : 0.0f;
            plugin->setParameterValue(0, value);
        }
        plugin->process(b.ins, how == Call::InPlace ? b.ins : b.outs, kFrames);
        benchmark::ClobberMemory();
    }
    setCounters(state);
    plugin->suspend();
}

void BM_ClapGainThroughSeam(benchmark::State& state) { runThroughSeam(state, Call::Apart); }
// In place, as the chain calls it: the host copies the input for a plug-in that
// does not declare in-place processing.
void BM_ClapGainThroughSeamInPlace(benchmark::State& state) { runThroughSeam(state, Call::InPlace); }
// A knob turned all the while: one value through the queue and the event list a block
// (set on this thread, standing in for the UI thread between two blocks).
void BM_ClapGainThroughSeamAutomated(benchmark::State& state) { runThroughSeam(state, Call::Automated); }

// The module called as directly as CLAP allows: no queue, an empty event list.
uint32_t noEvents(const clap_input_events_t*) { return 0; }
const clap_event_header_t* noEvent(const clap_input_events_t*, uint32_t) { return nullptr; }
bool dropEvent(const clap_output_events_t*, const clap_event_header_t*) { return true; }
const void* noExtension(const clap_host_t*, const char*) { return nullptr; }
void noRequest(const clap_host_t*) {}

void BM_ClapGainDirect(benchmark::State& state) {
    char failure[256];
    void* module = clap_platform::openModule(kModule, failure, sizeof failure);
    auto entry = module ? static_cast<const clap_plugin_entry_t*>(clap_platform::moduleSymbol(module, "clap_entry"))
                        : nullptr;
    if (!entry || !entry->init(kModule)) {
        state.counters["failed"] = 1;
        for (auto _ : state) {
        }
        return;
    }
    auto factory = static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    clap_host_t host = {CLAP_VERSION_INIT, nullptr, "bench", "", "", "1", noExtension, noRequest, noRequest, noRequest};
    const clap_plugin_t* plugin = factory->create_plugin(factory, &host, "talvenor.bench.gain");
    plugin->init(plugin);
    plugin->activate(plugin, kRate, 1, kFrames);
    plugin->start_processing(plugin);
    Buffers b;
    clap_audio_buffer_t in = {b.ins, nullptr, 2, 0, 0}, out = {b.outs, nullptr, 2, 0, 0};
    clap_input_events_t inEvents = {nullptr, noEvents, noEvent};
    clap_output_events_t outEvents = {nullptr, dropEvent};
    clap_process_t call = {0, kFrames, nullptr, &in, &out, 1, 1, &inEvents, &outEvents};
    for (auto _ : state) {
        plugin->process(plugin, &call);
        call.steady_time += kFrames;
        benchmark::ClobberMemory();
    }
    setCounters(state);
    plugin->stop_processing(plugin);
    plugin->deactivate(plugin);
    plugin->destroy(plugin);
    entry->deinit();
    clap_platform::closeModule(module);
}

// The same gain as a VST 2 plug-in.
float gVstGain = 0.5f;
void VSTCALLBACK vstGain(AEffect*, float** inputs, float** outputs, VstInt32 frames) {
    const float gain = gVstGain;
    for (int c = 0; c < 2; ++c) {
        const float* in = inputs[c];
        float* out = outputs[c];
        for (VstInt32 i = 0; i < frames; ++i)
            out[i] = in[i] * gain;
    }
}

AEffect vstEffect() {
    AEffect e = {};
    e.magic = kEffectMagic;
    e.numInputs = 2;
    e.numOutputs = 2;
    e.flags = effFlagsCanReplacing;
    e.processReplacing = vstGain;
    return e;
}

// Through the slot processing, in place on the live channels as the chain calls it.
void BM_Vst2GainThroughSlot(benchmark::State& state) {
    AEffect effect = vstEffect();
    EffectSlot slot = {};
    slot.effect = &effect;
    std::unique_ptr<SlotProcessing> processing(new SlotProcessing);
    Buffers b;
    for (auto _ : state) {
        processing->processSlot(&slot, b.ins, 2, kFrames);
        benchmark::ClobberMemory();
    }
    setCounters(state);
}

void BM_Vst2GainDirect(benchmark::State& state) {
    AEffect effect = vstEffect();
    Buffers b;
    for (auto _ : state) {
        effect.processReplacing(&effect, b.ins, b.outs, kFrames);
        benchmark::ClobberMemory();
    }
    setCounters(state);
}

}  // namespace

BENCHMARK(BM_ClapGainThroughSeam);
BENCHMARK(BM_ClapGainThroughSeamInPlace);
BENCHMARK(BM_ClapGainThroughSeamAutomated);
BENCHMARK(BM_ClapGainDirect);
BENCHMARK(BM_Vst2GainThroughSlot);
BENCHMARK(BM_Vst2GainDirect);
