// Each of our effects in each format it ships as, at 48000 Hz in blocks of 256
// frames, driven at the format's own interface with nothing of a host around it:
// the VST 2 build through its record's processReplacing (the DLL in the editions,
// the same effect object natively), the VST3 build through its audio processor and
// the CLAP build through its plug-in's process, on the same loud signal with the
// default program. Counter: x_realtime = seconds of audio per second of one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "EffectModules.h"
#include "Vst3HostStubs.h"
#include "clap/entry.h"
#include "clap/plugin-factory.h"
#include "clap/process.h"
#include "component.h"
#include "factory.h"
#include "LoudSignal.h"

using namespace effecttest;

namespace {

constexpr double kRate = 48000.0;
constexpr int kFrames = 256;

enum Format { kVst2 = 0, kVst3 = 1, kClap = 2 };

// Processes one block; null when the build could not be loaded.
class Runner {
public:
    virtual ~Runner() = default;
    virtual void process(float** in, float** out) = 0;
};

VstIntPtr VSTCALLBACK silentHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }

class Vst2Runner : public Runner {
public:
    explicit Vst2Runner(const EffectKind& kind) {
#if defined(_WIN32)
        module_.reset(new Module(vst2Path(kind.name)));
        auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(module_->symbol("VSTPluginMain"));
        effect_ = entry ? entry(silentHost) : nullptr;
#else
        (void)silentHost;
        effect_ = kind.make()->getAeffect();
#endif
        if (!effect_)
            return;
        effect_->dispatcher(effect_, effOpen, 0, 0, nullptr, 0.0f);
        effect_->dispatcher(effect_, effSetSampleRate, 0, 0, nullptr, float(kRate));
        effect_->dispatcher(effect_, effSetBlockSize, 0, kFrames, nullptr, 0.0f);
        effect_->dispatcher(effect_, effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    ~Vst2Runner() override {
        if (effect_) {
            effect_->dispatcher(effect_, effMainsChanged, 0, 0, nullptr, 0.0f);
            effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f);
        }
    }
    bool ready() const { return effect_ != nullptr; }
    void process(float** in, float** out) override { effect_->processReplacing(effect_, in, out, kFrames); }

private:
    std::unique_ptr<Module> module_;
    AEffect* effect_ = nullptr;
};

class Vst3Runner : public Runner {
public:
    explicit Vst3Runner(const EffectKind& kind) : module_(vst3Binary(kind.name)), channels_(kind.channels) {
#if defined(_WIN32)
        if (auto init = reinterpret_cast<bool (*)()>(module_.symbol("InitDll")))
            init();
#else
        if (auto init = reinterpret_cast<bool (*)(void*)>(module_.symbol("ModuleEntry")))
            init(nullptr);
#endif
        auto getFactory = reinterpret_cast<v3_plugin_factory** (V3_API*)()>(module_.symbol("GetPluginFactory"));
        v3_plugin_factory** factory = getFactory ? getFactory() : nullptr;
        v3_class_info info;
        void* made = nullptr;
        if (!factory || v3_cpp_obj(factory)->get_class_info(factory, 0, &info) != V3_OK ||
            v3_cpp_obj(factory)->create_instance(factory, info.class_id, v3_component_iid, &made) != V3_OK)
            return;
        component_ = static_cast<v3_component**>(made);
        void* processor = nullptr;
        v3_cpp_obj_query_interface(component_, v3_audio_processor_iid, reinterpret_cast<v3_funknown***>(&processor));
        processor_ = static_cast<v3_audio_processor**>(processor);
        v3_cpp_obj_initialize(component_, nullptr);
        v3_process_setup setup = {V3_REALTIME, V3_SAMPLE_32, kFrames, kRate};
        v3_cpp_obj(processor_)->setup_processing(processor_, &setup);
        v3_cpp_obj(component_)->set_active(component_, 1);
        v3_cpp_obj(processor_)->set_processing(processor_, 1);
        std::memset(&data_, 0, sizeof data_);
        data_.process_mode = V3_REALTIME;
        data_.symbolic_sample_size = V3_SAMPLE_32;
        data_.nframes = kFrames;
        data_.num_input_buses = data_.num_output_buses = 1;
        data_.inputs = &in_;
        data_.outputs = &out_;
        data_.input_params = changes_.changes();
    }
    ~Vst3Runner() override {
        if (processor_) {
            v3_cpp_obj(processor_)->set_processing(processor_, 0);
            v3_cpp_obj_unref(processor_);
        }
        if (component_) {
            v3_cpp_obj(component_)->set_active(component_, 0);
            v3_cpp_obj_terminate(component_);
            v3_cpp_obj_unref(component_);
        }
    }
    bool ready() const { return processor_ != nullptr; }
    void process(float** in, float** out) override {
        in_ = {channels_, 0, {in}};
        out_ = {channels_, 0, {out}};
        v3_cpp_obj(processor_)->process(processor_, &data_);
    }

private:
    Module module_;
    int32_t channels_;
    v3_component** component_ = nullptr;
    v3_audio_processor** processor_ = nullptr;
    ParameterChanges changes_;  // none: the host's empty changes of a block
    v3_audio_bus_buffers in_ = {}, out_ = {};
    v3_process_data data_;
};

const void* CLAP_ABI noExtension(const clap_host_t*, const char*) { return nullptr; }
void CLAP_ABI noRequest(const clap_host_t*) {}
uint32_t CLAP_ABI noEvents(const clap_input_events_t*) { return 0; }
const clap_event_header_t* CLAP_ABI noEvent(const clap_input_events_t*, uint32_t) { return nullptr; }
const clap_host_t kHost = {CLAP_VERSION, nullptr, "bench", "Talvenor", "", "1", noExtension, noRequest, noRequest,
                           noRequest};
const clap_input_events_t kNoEvents = {nullptr, noEvents, noEvent};

class ClapRunner : public Runner {
public:
    explicit ClapRunner(const EffectKind& kind) : module_(clapPath(kind.name)), channels_(uint32_t(kind.channels)) {
        entry_ = static_cast<const clap_plugin_entry_t*>(module_.symbol("clap_entry"));
        if (!entry_ || !entry_->init(""))
            return;
        auto* factory = static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
        if (!factory)
            return;
        plugin_ = factory->create_plugin(factory, &kHost, factory->get_plugin_descriptor(factory, 0)->id);
        if (!plugin_ || !plugin_->init(plugin_) || !plugin_->activate(plugin_, kRate, 1, kFrames) ||
            !plugin_->start_processing(plugin_)) {
            plugin_ = nullptr;
            return;
        }
        std::memset(&call_, 0, sizeof call_);
        call_.frames_count = kFrames;
        call_.audio_inputs = &in_;
        call_.audio_outputs = &out_;
        call_.audio_inputs_count = call_.audio_outputs_count = 1;
        call_.in_events = &kNoEvents;
    }
    ~ClapRunner() override {
        if (plugin_) {
            plugin_->stop_processing(plugin_);
            plugin_->deactivate(plugin_);
            plugin_->destroy(plugin_);
        }
        if (entry_)
            entry_->deinit();
    }
    bool ready() const { return plugin_ != nullptr; }
    void process(float** in, float** out) override {
        in_ = {in, nullptr, channels_, 0, 0};
        out_ = {out, nullptr, channels_, 0, 0};
        plugin_->process(plugin_, &call_);
    }

private:
    Module module_;
    uint32_t channels_;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_t* plugin_ = nullptr;
    clap_audio_buffer_t in_ = {}, out_ = {};
    clap_process_t call_;
};

void BM_EffectFormat(benchmark::State& state) {
    const EffectKind& kind = effectKinds()[size_t(state.range(0))];
    std::unique_ptr<Runner> runner;
    bool ready = false;
    switch (Format(state.range(1))) {
    case kVst2: {
        auto* r = new Vst2Runner(kind);
        ready = r->ready();
        runner.reset(r);
        break;
    }
    case kVst3: {
        auto* r = new Vst3Runner(kind);
        ready = r->ready();
        runner.reset(r);
        break;
    }
    case kClap: {
        auto* r = new ClapRunner(kind);
        ready = r->ready();
        runner.reset(r);
        break;
    }
    }
    if (!ready) {
        state.counters["not_loaded"] = 1;
        for (auto _ : state) {
        }
        return;
    }
    const size_t loudFrames = size_t(kRate);
    std::vector<float> loud[2] = {loudSignal(loudFrames, 0), loudSignal(loudFrames, 1)};
    std::vector<float> out[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
    float* outs[2] = {out[0].data(), out[1].data()};
    size_t pos = 0;
    for (auto _ : state) {
        float* ins[2] = {loud[0].data() + pos, loud[1].data() + pos};
        pos += kFrames;
        if (pos + kFrames > loudFrames)
            pos = 0;
        runner->process(ins, outs);
        benchmark::DoNotOptimize(out[0].data());
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * kFrames / kRate, benchmark::Counter::kIsRate);
}

}  // namespace

// effect: 0 Modulane, 1 Filtrace, 2 Overdrive; format: 0 VST 2, 1 VST3, 2 CLAP.
BENCHMARK(BM_EffectFormat)->ArgNames({"effect", "format"})->ArgsProduct({{0, 1, 2}, {0, 1, 2}});
