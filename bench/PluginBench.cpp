// processReplacing of the three effects at 48000 Hz in blocks of 256 frames
// (Modulane and Filtrace stereo, Overdrive mono), with the default program and
// with every parameter at 1.0, on a loud signal and on silence that follows a
// loud passage (where a filter state sinking into denormals would show).
// Counters: ns_per_frame, and x_realtime = seconds of audio per second of one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "OverdriveEffect.h"
#include "VibratoTremoloEffect.h"
#include "WahEffect.h"
#include "LoudSignal.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int kFrames = 256;

enum Setting { kDefaults = 0, kAllAtOne = 1 };
enum Input { kLoud = 0, kSilenceAfterLoud = 1 };

void reportFrameRate(benchmark::State& state) {
    const double processed = double(state.iterations()) * kFrames;
    state.counters["ns_per_frame"] =
        benchmark::Counter(processed * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(processed / kRate, benchmark::Counter::kIsRate);
}

template <class Effect>
void runBenchmark(benchmark::State& state) {
    const Setting setting = Setting(state.range(0));
    const Input input = Input(state.range(1));
    Effect effect(nullptr);
    AEffect* e = effect.getAeffect();
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, float(kRate));
    e->dispatcher(e, effSetBlockSize, 0, kFrames, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    if (setting == kAllAtOne) {
        // Every index the effect answers, including those hosts are not offered.
        for (VstInt32 i = 0; i < 8; ++i)
            effect.setParameter(i, 1.0f);
    }

    // One second of the loud signal, cycled block by block; for the silence run it
    // is played first, so the measured blocks are the tail that follows it.
    const size_t loudFrames = size_t(kRate);
    std::vector<float> loud[2] = {loudSignal(loudFrames, 0), loudSignal(loudFrames, 1)};
    std::vector<float> silence(kFrames, 0.0f);
    std::vector<float> out[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
    float* outs[2] = {out[0].data(), out[1].data()};
    if (input == kSilenceAfterLoud) {
        for (size_t pos = 0; pos + kFrames <= loudFrames; pos += kFrames) {
            float* ins[2] = {loud[0].data() + pos, loud[1].data() + pos};
            effect.processReplacing(ins, outs, kFrames);
        }
    }

    size_t pos = 0;
    for (auto _ : state) {
        float* ins[2];
        if (input == kLoud) {
            ins[0] = loud[0].data() + pos;
            ins[1] = loud[1].data() + pos;
            pos += kFrames;
            if (pos + kFrames > loudFrames)
                pos = 0;
        } else {
            ins[0] = ins[1] = silence.data();
        }
        effect.processReplacing(ins, outs, kFrames);
        benchmark::DoNotOptimize(out[0].data());
        benchmark::ClobberMemory();
    }
    reportFrameRate(state);
}

void BM_Modulane(benchmark::State& state) {
    runBenchmark<VibratoTremoloEffect>(state);
}
void BM_Filtrace(benchmark::State& state) {
    runBenchmark<WahEffect>(state);
}
void BM_Overdrive(benchmark::State& state) {
    runBenchmark<OverdriveEffect>(state);
}

// For comparison: Modulane's per-sample work with the library's sin, cos and
// pow (what the fast oscillators replace), every parameter at 1.0, stereo.
void BM_ModulaneWithLibraryCalls(benchmark::State& state) {
    std::vector<float> in[2] = {loudSignal(kFrames, 0), loudSignal(kFrames, 1)};
    std::vector<float> out[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
    const float step = (1.0f / float(kRate)) * 1.0f * 43.982296f;
    float phaseT = 0.0f, phaseV = 0.0f;
    for (auto _ : state) {
        const float startT = phaseT, startV = phaseV;
        for (int ch = 0; ch < 2; ++ch) {
            phaseT = startT;
            phaseV = startV;
            for (int i = 0; i < kFrames; ++i) {
                const float t = ch == 0 ? std::sin(phaseT) : std::cos(phaseT);
                const float a = 1.0f - 1.0f * (t * t);
                phaseT += step;
                if (phaseT > 6.2831850f)
                    phaseT = 0.0f;
                const float b = std::pow(10.0f, 1.0f * std::cos(phaseV));
                phaseV += step;
                if (phaseV > 6.2831850f)
                    phaseV = 0.0f;
                out[ch][i] = b * in[ch][i] * a;
            }
        }
        benchmark::DoNotOptimize(out[0].data());
        benchmark::ClobberMemory();
    }
    reportFrameRate(state);
}

// Every Setting with every Input.
void settingsAndInputs(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"allAtOne", "silenceAfterLoud"})
        ->ArgsProduct({{kDefaults, kAllAtOne}, {kLoud, kSilenceAfterLoud}});
}

}  // namespace

BENCHMARK(BM_Modulane)->Apply(settingsAndInputs);
BENCHMARK(BM_Filtrace)->Apply(settingsAndInputs);
BENCHMARK(BM_Overdrive)->Apply(settingsAndInputs);
BENCHMARK(BM_ModulaneWithLibraryCalls);
