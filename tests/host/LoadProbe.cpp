// Compares the CPU load figure the engine shows with the processing time the test
// driver measures on its own clock, in one run per synthetic effect cost. Not a
// test: run it under the Wine bench and read the table.
//   scripts/with-winebench --prefix <prefix> -- wine <build>/tests/host/host_load_probe.exe [seconds]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <objbase.h>

#include "HostTestSupport.h"

namespace {

// An effect position that costs a fixed time per sub-block.
class BusyEffect : public ChainEffects {
public:
    void processSlot(EffectSlot*, float* const*, int32_t, int32_t) override {
        if (ticks_ <= 0)
            return;
        LARGE_INTEGER start, now;
        QueryPerformanceCounter(&start);
        do
            QueryPerformanceCounter(&now);
        while (now.QuadPart - start.QuadPart < ticks_);
    }
    void setSampleRate(float) override {}
    void setBlockSize(int32_t) override {}
    void resumeAllSlots() override {}
    void suspendAllSlots() override {}

    void setCostMicros(double micros) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        ticks_ = int64_t(micros * 1e-6 * double(frequency.QuadPart));
    }

private:
    int64_t ticks_ = 0;
};

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    CoInitialize(nullptr);
    TestDriver_reset();
    testregistry::removeAsioKey();
    testregistry::registerDriver("Talvenor Test ASIO", "Talvenor Test ASIO", 1);

    std::printf("buffer 256 frames at 44100 Hz, paced by the driver every ~5 ms, %.0f s per row\n", seconds);
    std::printf("%10s %12s %14s %16s %8s\n", "cost us", "callbacks", "engine median", "driver median", "ratio");
    for (double cost : {0.0, 250.0, 500.0, 1000.0, 2000.0, 3000.0}) {
        TestDriver_reset();
        TestDriverConfig c;
        TestDriver_getConfig(&c);
        c.intervalMicros = 5000;
        TestDriver_configure(&c);

        LiveSettings settings;
        BusyEffect effect;
        effect.setCostMicros(cost);
        settings.slots[0] = reinterpret_cast<EffectSlot*>(&effect);
        LiveEngine* engine = new LiveEngine;
        engine->chain().attachSettings(&settings);
        engine->attachEffects(&effect);
        if (!engine->openDriverByName("Talvenor Test ASIO") || !engine->startLiveInput()) {
            std::printf("the test driver did not start\n");
            return 1;
        }
        // The engine's figure as the display would read it, once per callback.
        std::vector<double> shown;
        int seen = 0;
        const DWORD until = GetTickCount() + DWORD(seconds * 1000.0);
        while (GetTickCount() < until) {
            TestDriverState state;
            TestDriver_getState(&state);
            if (state.callbacks != seen) {
                seen = state.callbacks;
                if (seen > 2)
                    shown.push_back(engine->cpuLoad() / 10.0);
            }
            Sleep(1);
        }
        engine->stopLiveInput();
        std::vector<float> loads(1 << 16);
        loads.resize(size_t(TestDriver_callbackLoads(loads.data(), int32_t(loads.size()))));
        std::vector<double> measured;
        for (size_t i = 2; i < loads.size(); ++i)
            measured.push_back(loads[i] * 100.0);
        const double engineMedian = median(shown), driverMedian = median(measured);
        std::printf("%10.0f %12d %13.2f%% %15.2f%% %8.3f\n", cost, seen, engineMedian, driverMedian,
                    driverMedian > 0.0 ? engineMedian / driverMedian : 0.0);
        delete engine;
    }
    testregistry::removeAsioKey();
    CoUninitialize();
    return 0;
}
