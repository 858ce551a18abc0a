// The VST3 backend's cost around a plug-in's process: the test gain effect (stereo,
// 256-frame blocks at 48000 Hz) driven through Vst3Plugin::process, beside the same
// effect's process called directly with a fixed ProcessData (what any host must at
// least do) and the bare gain loop. The difference of the first two is the backend's
// overhead per block: the parameter hand-over, the block's change lists, the buses and
// the context, the output changes read back.
//   BM_Vst3ThroughBackend/changes:0  no parameter moves
//   BM_Vst3ThroughBackend/changes:1  the host moves the gain before every block (and
//                                    the UI thread's idle runs every 16 blocks)
// Counters: ns_per_frame, ns_per_block.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Vst3Abi.h"
#include "Vst3Backend.h"
#include "Vst3BundlePath.h"
#include "Vst3HostObjects.h"
#include "WinInclude.h"

namespace {

constexpr int kFrames = 256;
const std::string kBundle = std::string(TALVENOR_VST3_DIR) + "Vst3TestGain.vst3";
const std::string kBinary = kBundle + "\\Contents\\" + vst3path::kOwnArchitecture + "\\Vst3TestGain.vst3";

class QuietEvents : public PluginHostEvents {
public:
    void parameterEdited(int32_t, float) override {}
    bool editorResizeRequested(int32_t, int32_t) override { return false; }
    void latencyChanged() override {}
    void parametersChanged() override {}
    void restartRequested() override {}
    void uiCallRequested() override {}
    double tempo() const override { return 120.0; }
};

// The effect's module with its log off, so that the effect's own work is the gain alone.
HMODULE quietModule() {
    HMODULE module = LoadLibraryA(kBinary.c_str());
    if (auto setLogging = reinterpret_cast<void (*)(int)>(
            reinterpret_cast<void*>(GetProcAddress(module, "v3tSetLogging"))))
        setLogging(0);
    return module;
}

void report(benchmark::State& state) {
    const double blocks = double(state.iterations());
    state.counters["ns_per_frame"] =
        benchmark::Counter(blocks * kFrames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["ns_per_block"] =
        benchmark::Counter(blocks * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Vst3ThroughBackend(benchmark::State& state) {
    HMODULE module = quietModule();
    QuietEvents events;
    Vst3Backend backend;
    char failure[256] = "";
    std::unique_ptr<PluginInstance> plugin(backend.load(kBundle.c_str(), "", &events, failure, sizeof failure));
    if (!plugin || !plugin->configure(48000, kFrames) || !plugin->resume()) {
        std::fprintf(stderr, "the test gain did not load: %s\n", failure);
        return;
    }
    const bool changes = state.range(0) != 0;
    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.25f);
    float* io[2] = {left.data(), right.data()};
    int block = 0;
    for (auto _ : state) {
        if (changes) {
            plugin->setParameterValue(0, (block & 1) ? 0.5f : 0.49f);
            if ((block & 15) == 0)
                plugin->uiIdle();
        }
        plugin->process(io, io, kFrames);
        benchmark::DoNotOptimize(left[0]);
        ++block;
    }
    plugin->suspend();
    plugin.reset();
    FreeLibrary(module);
    report(state);
}
BENCHMARK(BM_Vst3ThroughBackend)->ArgNames({"changes"})->Args({0})->Args({1});

// The same process with no backend around it: a ProcessData filled once.
void BM_Vst3ProcessCalledDirectly(benchmark::State& state) {
    HMODULE module = quietModule();
    auto getFactory = reinterpret_cast<v3_plugin_factory** (V3_API*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetPluginFactory")));
    auto init = reinterpret_cast<bool (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "InitDll")));
    auto exitDll = reinterpret_cast<bool (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "ExitDll")));
    if (!getFactory || !init || !exitDll || !init())
        return;
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
    v3_process_setup setup = {V3_REALTIME, V3_SAMPLE_32, kFrames, 48000.0};
    v3_cpp_obj(processor)->setup_processing(processor, &setup);
    v3_cpp_obj(component)->set_active(component, 1);
    v3_cpp_obj(processor)->set_processing(processor, 1);

    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.25f);
    float* channels[2] = {left.data(), right.data()};
    v3_audio_bus_buffers bus;
    std::memset(&bus, 0, sizeof bus);
    bus.num_channels = 2;
    bus.channel_buffers_32 = channels;
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
        benchmark::DoNotOptimize(left[0]);
    }
    v3_cpp_obj(processor)->set_processing(processor, 0);
    v3_cpp_obj(component)->set_active(component, 0);
    vst3abi::release(processor);
    v3_cpp_obj_terminate(component);
    vst3abi::release(component);
    vst3abi::release(factory);
    exitDll();
    FreeLibrary(module);
    report(state);
}
BENCHMARK(BM_Vst3ProcessCalledDirectly);

// The gain itself: the floor under both.
void BM_GainLoopAlone(benchmark::State& state) {
    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.25f);
    float* channels[2] = {left.data(), right.data()};
    volatile double gain = 0.5;
    for (auto _ : state) {
        const double g = gain;
        for (float* channel : channels)
            for (int i = 0; i < kFrames; ++i)
                channel[i] = float(channel[i] * 2.0 * g);
        benchmark::DoNotOptimize(left[0]);
    }
    report(state);
}
BENCHMARK(BM_GainLoopAlone);

}  // namespace
