// processBlock at 48000 Hz, stereo in and out, gate, DC filter and metronome on.
// Counters: ns_per_frame, and x_realtime = seconds of audio per second of one core.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "ClickSamples.h"
#include "LiveChain.h"
#include "SampleFormat.h"

namespace {

void BM_ProcessBlock(benchmark::State& state) {
    const int32_t type = int32_t(state.range(0));
    const int frames = int(state.range(1));
    const double rate = 48000.0;

    LiveSettings settings;
    settings.metronome = 1;
    LiveChain chain(&settings);
    chain.setClick(kClickSamples, sizeof kClickSamples);
    chain.prepareForStart(rate);

    FormatRecord format{};
    formatFromSampleType(type, format, rate);
    std::vector<uint8_t> in[2], out[2];
    for (int ch = 0; ch < 2; ++ch) {
        std::vector<float> signal(frames);
        for (int i = 0; i < frames; ++i)
            signal[i] = float(0.3 * std::sin(0.01 * i * (ch + 1)) + 0.001 * ((i * 7919) % 13));
        in[ch].assign(size_t(frames) * format.blockAlign, 0);
        out[ch].assign(size_t(frames) * format.blockAlign, 0);
        const float* src[1] = {signal.data()};
        encodeSamples(src, in[ch].data(), frames, format, false);
    }

    for (auto _ : state) {
        ChannelBuffer ins[3] = {{format, 0, in[0].data()}, {format, 0, in[1].data()}, {}};
        ChannelBuffer outs[3] = {{format, 0, out[0].data()}, {format, 0, out[1].data()}, {}};
        chain.processBlock(ins, outs, frames);
        benchmark::DoNotOptimize(out[0].data());
        benchmark::ClobberMemory();
    }
    const double processed = double(state.iterations()) * frames;
    state.counters["ns_per_frame"] =
        benchmark::Counter(processed * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(processed / rate, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_ProcessBlock)
    ->ArgNames({"type", "frames"})
    ->ArgsProduct({{kAsioInt24LSB, kAsioFloat32LSB}, {64, 256, 1024}});
