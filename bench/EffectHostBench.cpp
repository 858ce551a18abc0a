// The effect host's own cost: the whole chain at 48000 Hz stereo with all eight
// positions filled by our three effects, against the chain without effects and the
// same plug-ins called directly in a plain loop over the same buffers. The host's
// overhead (channel mapping, scratch copies, slot walk) is
//   chain with effects - chain alone - plug-ins alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "EffectSlot.h"
#include "LiveChain.h"
#include "OverdriveEffect.h"
#include "SampleFormat.h"
#include "SlotProcessing.h"
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"
#include "VibratoTremoloEffect.h"
#include "WahEffect.h"

namespace {

const double kRate = 48000.0;
const int kFrames = 256;

VstIntPtr VSTCALLBACK silentHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }

struct Effects : ChainEffects {
    SlotProcessing processing;
    void processSlot(EffectSlot* slot, float* const* channels, int32_t count, int32_t frames) override {
        processing.processSlot(slot, channels, count, frames);
    }
    void setSampleRate(float) override {}
    void setBlockSize(int32_t) override {}
    void resumeAllSlots() override {}
    void suspendAllSlots() override {}
};

// Eight positions: Overdrive, Filtrace, Modulane, Overdrive, Filtrace, Modulane,
// Overdrive, Modulane, each working (tremolo and vibrato depths up).
// Each effect behind the VST 2 backend's instance, as the host holds it; the
// instance closes the effect (which deletes it) when the rack goes.
struct Rack {
    std::vector<std::unique_ptr<ThreadCheckedPlugin>> plugins;
    std::vector<AEffect*> effects;
    std::vector<EffectSlot> slots = std::vector<EffectSlot>(8);

    Rack() {
        for (int i = 0; i < 8; ++i) {
            const int kind = i == 7 ? 2 : i % 3;
            AudioEffect* fx = kind == 0   ? static_cast<AudioEffect*>(new OverdriveEffect(silentHost))
                              : kind == 1 ? static_cast<AudioEffect*>(new WahEffect(silentHost))
                                          : static_cast<AudioEffect*>(new VibratoTremoloEffect(silentHost));
            AEffect* e = fx->getAeffect();
            plugins.emplace_back(new ThreadCheckedPlugin(new Vst2Plugin(e, nullptr, "", nullptr)));
            PluginInstance& plugin = *plugins.back();
            plugin.configure(kRate, kFrames);
            plugin.resume();
            if (kind == 2) {
                plugin.setParameterValue(0, 0.6f);
                plugin.setParameterValue(2, 0.3f);
            }
            effects.push_back(e);
            slots[i].plugin = plugins.back().get();
        }
    }
};

struct Driver {
    FormatRecord format{};
    std::vector<uint8_t> in[2], out[2];
    Driver() {
        formatFromSampleType(kAsioInt24LSB, format, kRate);
        for (int ch = 0; ch < 2; ++ch) {
            std::vector<float> signal(kFrames);
            for (int i = 0; i < kFrames; ++i)
                signal[i] = float(0.3 * std::sin(0.02 * i * (ch + 1)));
            in[ch].assign(kFrames * 3, 0);
            out[ch].assign(kFrames * 3, 0);
            const float* src[1] = {signal.data()};
            encodeSamples(src, in[ch].data(), kFrames, format, false);
        }
    }
    void run(LiveChain& chain) {
        ChannelBuffer ins[3] = {{format, 0, in[0].data()}, {format, 0, in[1].data()}, {}};
        ChannelBuffer outs[3] = {{format, 0, out[0].data()}, {format, 0, out[1].data()}, {}};
        chain.processBlock(ins, outs, kFrames);
    }
};

void setCounters(benchmark::State& state);

// Runs the chain over the driver's buffers for as long as the benchmark wants.
void runChain(benchmark::State& state, LiveSettings& settings, ChainEffects* effects) {
    LiveChain chain(&settings);
    chain.attachEffects(effects);
    chain.prepareForStart(kRate);
    Driver driver;
    for (auto _ : state) {
        driver.run(chain);
        benchmark::ClobberMemory();
    }
    setCounters(state);
}

void setCounters(benchmark::State& state) {
    const double frames = double(state.iterations()) * kFrames;
    state.counters["ns_per_frame"] =
        benchmark::Counter(frames * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

void BM_ChainWithEightEffects(benchmark::State& state) {
    Rack rack;
    Effects effects;
    LiveSettings settings;
    for (int i = 0; i < 8; ++i)
        settings.slots[i] = &rack.slots[i];
    runChain(state, settings, &effects);
}

// Eight positions of a plug-in that does nothing at all: what remains above the
// chain alone is the host's own work per slot.
void VSTCALLBACK doNothing(AEffect*, float**, float**, VstInt32) {}

void BM_ChainWithEightIdlePlugins(benchmark::State& state) {
    AEffect idle[2] = {};
    for (int k = 0; k < 2; ++k) {
        idle[k].magic = kEffectMagic;
        idle[k].numInputs = k == 0 ? 1 : 2;  // like Overdrive and the stereo effects
        idle[k].numOutputs = k == 0 ? 1 : 2;
        idle[k].flags = effFlagsCanReplacing;
        idle[k].processReplacing = doNothing;
    }
    std::vector<EffectSlot> slots(8);
    std::vector<std::unique_ptr<ThreadCheckedPlugin>> plugins;
    LiveSettings settings;
    for (int i = 0; i < 8; ++i) {
        plugins.emplace_back(
            new ThreadCheckedPlugin(new Vst2Plugin(&idle[(i == 7 ? 2 : i % 3) == 0 ? 0 : 1], nullptr, "", nullptr)));
        slots[i].plugin = plugins.back().get();
        settings.slots[i] = &slots[i];
    }
    Effects effects;
    runChain(state, settings, &effects);
}

void BM_ChainAlone(benchmark::State& state) {
    LiveSettings settings;
    runChain(state, settings, nullptr);
}

// The same plug-ins on the same kind of buffers, called directly: stereo effects on
// two channels, Overdrive on one.
void BM_PluginsDirect(benchmark::State& state) {
    Rack rack;
    std::vector<float> a(kFrames), b(kFrames), outA(kFrames), outB(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        a[i] = float(0.3 * std::sin(0.02 * i));
        b[i] = float(0.3 * std::sin(0.04 * i));
    }
    float* in[2] = {a.data(), b.data()};
    float* out[2] = {outA.data(), outB.data()};
    for (auto _ : state) {
        for (AEffect* effect : rack.effects) {
            effect->processReplacing(effect, in, out, kFrames);
            std::swap(in[0], out[0]);  // chain them, as the host does
            std::swap(in[1], out[1]);
        }
        benchmark::ClobberMemory();
    }
    setCounters(state);
}

}  // namespace

BENCHMARK(BM_ChainWithEightEffects);
BENCHMARK(BM_ChainWithEightIdlePlugins);
BENCHMARK(BM_ChainAlone);
BENCHMARK(BM_PluginsDirect);
