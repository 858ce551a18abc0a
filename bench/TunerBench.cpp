// The tuner's cost per 256-frame driver block at 44.1 kHz: the detector fed a plucked
// note and analysed every 1024 frames, as the tuner's thread does. Counter
// x_realtime: seconds of audio per second of one core (the share of a block the
// tuner costs is its inverse).
#include <benchmark/benchmark.h>

#include "PitchDetector.h"
#include "TunerSignals.h"
#include "TunerTracker.h"

namespace {

void BM_TunerPer256FrameBlock(benchmark::State& state) {
    const double rate = 44100.0;
    PluckedNote note;
    note.frequency = state.range(0);
    note.seconds = 2.0;
    note.noiseDb = -40.0;
    const std::vector<float> signal = pluck(note, rate);
    PitchDetector detector(rate);
    TunerTracker tracker;
    size_t at = 0;
    double seconds = 0.0;
    for (auto _ : state) {
        if (at + 256 > signal.size())
            at = 0;
        detector.feed(signal.data() + at, 256);
        at += 256;
        seconds += 256.0 / rate;
        if (detector.fedSinceAnalysis() >= 1024)
            benchmark::DoNotOptimize(tracker.update(detector.analyse(), seconds));
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * 256.0 / rate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TunerPer256FrameBlock)->Args({41})->Args({110})->Args({1000});

}  // namespace
