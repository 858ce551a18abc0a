// Performance switches and MIDI control, measured on the live chain with our three
// effects (two performances of three effects each) at 48000 Hz, 256-frame blocks:
//  - from the switch command to the first block of the incoming chain (preloaded),
//    with the driver thread paced like a device;
//  - the output's largest sample-to-sample step across a switch against the largest
//    step of either performance alone on the same signal;
//  - the cost of a block while the outgoing chain rings on beside the incoming one,
//    against the incoming chain alone;
//  - from a controller message at the MIDI input to the settings it moves.
// A plain program: prints a table.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "EffectSlot.h"
#include "LiveChain.h"
#include "MidiControl.h"
#include "OverdriveEffect.h"
#include "SampleFormat.h"
#include "SettingsApplier.h"
#include "SlotProcessing.h"
#include "SwitchPoint.h"
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"
#include "VibratoTremoloEffect.h"
#include "WahEffect.h"

namespace {

using Clock = std::chrono::steady_clock;
const double kRate = 48000.0;
const int kFrames = 256;
const double kBlockMs = 1000.0 * kFrames / kRate;

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

// One performance: three of our effects, in an order of its own.
struct Performance {
    std::vector<std::unique_ptr<ThreadCheckedPlugin>> plugins;
    std::vector<EffectSlot> slots = std::vector<EffectSlot>(3);
    SwitchSet set;
    explicit Performance(int first) {
        for (int i = 0; i < 3; ++i) {
            const int kind = (first + i) % 3;
            AudioEffect* fx = kind == 0   ? static_cast<AudioEffect*>(new OverdriveEffect(silentHost))
                              : kind == 1 ? static_cast<AudioEffect*>(new WahEffect(silentHost))
                                          : static_cast<AudioEffect*>(new VibratoTremoloEffect(silentHost));
            plugins.emplace_back(new ThreadCheckedPlugin(new Vst2Plugin(fx->getAeffect(), nullptr, "", nullptr)));
            plugins.back()->configure(kRate, kFrames);
            plugins.back()->resume();
            if (kind == 2) {
                plugins.back()->setParameterValue(0, 0.6f);
                plugins.back()->setParameterValue(2, 0.3f);
            }
            slots[size_t(i)].plugin = plugins.back().get();
            set.slots[i] = &slots[size_t(i)];
        }
    }
    void install(LiveSettings& settings) const {
        for (int p = 0; p < LiveSettings::kPositions; ++p) {
            settings.slots[p] = set.slots[p];
            settings.bypass[p] = 0;
        }
    }
};

// The chain with its driver buffers (float, stereo in and out).
struct Chain {
    LiveSettings settings;
    LiveChain chain{&settings};
    Effects effects;
    SwitchPoint point{&effects};
    FormatRecord format{};
    std::vector<float> in[2], out[2];
    uint64_t frame = 0;
    std::atomic<uint64_t> begun{0};  // frames of the blocks begun, read by the other threads
    Chain() {
        settings.gateThresh = 0.0f;
        chain.attachEffects(&effects);
        chain.attachSwitch(&point);
        chain.setSampleRate(kRate);
        chain.prepareForStart(kRate);
        formatFromSampleType(kAsioFloat32LSB, format, kRate);
        for (int ch = 0; ch < 2; ++ch) {
            in[ch].assign(kFrames, 0.0f);
            out[ch].assign(kFrames, 0.0f);
        }
    }
    void block(std::vector<float>* keep = nullptr) {
        for (int i = 0; i < kFrames; ++i) {
            const double t = double(frame + uint64_t(i)) / kRate;
            const float x = float(0.3 * std::sin(2 * M_PI * 196.0 * t) + 0.1 * std::sin(2 * M_PI * 523.0 * t));
            in[0][size_t(i)] = in[1][size_t(i)] = x;
        }
        ChannelBuffer ins[3] = {{format, 0, reinterpret_cast<uint8_t*>(in[0].data())},
                                {format, 0, reinterpret_cast<uint8_t*>(in[1].data())}, {}};
        ChannelBuffer outs[3] = {{format, 0, reinterpret_cast<uint8_t*>(out[0].data())},
                                 {format, 0, reinterpret_cast<uint8_t*>(out[1].data())}, {}};
        begun.store(frame + kFrames);
        chain.processBlock(ins, outs, kFrames);
        frame += kFrames;
        if (keep)
            keep->insert(keep->end(), out[0].begin(), out[0].end());
    }
};

float largestStep(const std::vector<float>& v, size_t from, size_t to) {
    float s = 0.0f;
    for (size_t i = from + 1; i < to && i < v.size(); ++i)
        s = std::max(s, std::fabs(v[i] - v[i - 1]));
    return s;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// The driver thread paced like a device: a block every 5.33 ms.
template <typename AtBlock>
void pacedBlocks(Chain& c, std::atomic<bool>& stop, AtBlock atBlock) {
    auto next = Clock::now();
    while (!stop.load()) {
        atBlock(Clock::now());
        c.block();
        next += std::chrono::microseconds(int(kBlockMs * 1000.0));
        std::this_thread::sleep_until(next);
    }
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("switch and MIDI control at %.0f Hz, %d-frame blocks (%.2f ms), two performances of three effects\n\n",
                kRate, kFrames, kBlockMs);

    // 1. From the command to the first block of the incoming (preloaded) chain.
    {
        Chain c;
        Performance a(0), b(1);
        a.install(c.settings);
        std::atomic<bool> stop{false};
        std::vector<double> waits;
        int firstBlock = 0, switches = 0;
        std::thread driver([&] { pacedBlocks(c, stop, [](Clock::time_point) {}); });
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> jitter(0, 5000);
        SwitchSet retired;
        for (int n = 0; n < 30; ++n) {
            std::this_thread::sleep_for(std::chrono::microseconds(250000 + jitter(rng)));
            while (c.point.takeRetired(retired)) {
            }
            uint32_t as = 0;
            const uint64_t begunAtCommand = c.begun.load();
            const auto start = Clock::now();
            if (!c.point.post(n % 2 ? &a.set : &b.set, 0.1, as))
                continue;
            while (c.point.switchesInstalled() != as)
                std::this_thread::yield();
            waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            // The block that installed it began at lastSwitchFrame: the first one begun
            // after the command when that equals what had begun by then.
            ++switches;
            firstBlock += c.point.lastSwitchFrame() == begunAtCommand ? 1 : 0;
        }
        stop = true;
        driver.join();
        std::printf("command to incoming chain   median %.2f ms, 95%% %.2f ms, max %.2f ms of the clock; in the first\n"
                    "                            block begun after the command %d of %d times (bar: one block)\n",
                    percentile(waits, 0.5), percentile(waits, 0.95), percentile(waits, 1.0), firstBlock, switches);
    }

    // 2. The largest step across a switch against each performance's own.
    {
        std::vector<float> aAlone, bAlone, across;
        {
            Chain c;
            Performance a(0);
            a.install(c.settings);
            for (int i = 0; i < 400; ++i)
                c.block(&aAlone);
        }
        {
            Chain c;
            Performance b(1);
            b.install(c.settings);
            for (int i = 0; i < 400; ++i)
                c.block(&bAlone);
        }
        Chain c;
        Performance a(0), b(1);
        a.install(c.settings);
        for (int i = 0; i < 200; ++i)
            c.block(&across);
        uint32_t as = 0;
        c.point.post(&b.set, 3.0, as);
        for (int i = 0; i < 800; ++i)
            c.block(&across);
        const size_t at = 200 * kFrames;
        const float own = std::max(largestStep(aAlone, 0, aAlone.size()), largestStep(bAlone, 0, bAlone.size()));
        const float step = largestStep(across, at - 2 * kFrames, at + 4 * kFrames);
        const float tailEnd = largestStep(across, at + size_t(3.0 * kRate) - 4096, at + size_t(3.0 * kRate) + 1024);
        std::printf("largest step at the switch  %.4f, at the tail's end %.4f; the signal's own %.4f (ratio %.2f)\n",
                    double(step), double(tailEnd), double(own), double(std::max(step, tailEnd) / own));
    }

    // 3. The cost of a block with the tail ringing beside the incoming chain.
    {
        Chain c;
        Performance a(0), b(1);
        b.install(c.settings);
        auto timeBlocks = [&](int n) {
            const auto start = Clock::now();
            for (int i = 0; i < n; ++i)
                c.block();
            return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
        };
        timeBlocks(200);
        const double alone = timeBlocks(2000);
        a.install(c.settings);
        uint32_t as = 0;
        c.point.post(&b.set, 10.0, as);
        const double both = timeBlocks(1800);  // 9.6 s: all of it inside the tail
        std::printf("block cost                  %.1f us alone, %.1f us with the tail (+%.0f%%; %.1f%% -> %.1f%% of the block)\n",
                    alone, both, 100.0 * (both - alone) / alone, 100.0 * alone / (kBlockMs * 1000.0),
                    100.0 * both / (kBlockMs * 1000.0));
    }

    // 4. From a controller at the MIDI input to the knob it moves.
    {
        Chain c;
        Performance a(0);
        a.install(c.settings);
        MidiControl midi;
        // The settings' applier, noting the block each change is made at.
        struct Noting : ControlApplier {
            SettingsApplier inner;
            MidiControl& midi;
            std::atomic<uint64_t> appliedAt{~0ull};
            Noting(LiveSettings& s, MidiControl& m) : inner(s), midi(m) {}
            bool readTarget(uint32_t t, float& v) override { return inner.readTarget(t, v); }
            Outcome applyTarget(uint32_t t, float v) override {
                appliedAt.store(midi.framesDone());  // the block's first frame, before its work
                return inner.applyTarget(t, v);
            }
        } applier(c.settings, midi);
        midi.attachAppliers(&applier, nullptr);
        int nextBlock = 0;
        c.chain.attachMidi(&midi);
        midi.setProgramBindings({{{MidiSourceKind::Controller, 7, kAnyChannel},
                                  controlTarget(ProgramControl::OutputGain), BindingBehaviour::Continuous}});
        c.settings.outgain = 0.0f;
        midi.deviceFeed(0).shortMessage(0xB0u | (7u << 8), 0);  // heel down: the knob is taken up
        std::atomic<bool> stop{false};
        std::thread driver([&] { pacedBlocks(c, stop, [](Clock::time_point) {}); });
        std::mt19937 rng(11);
        std::uniform_int_distribution<int> jitter(0, 9000);
        std::vector<double> waits;
        for (int n = 0; n < 200; ++n) {
            std::this_thread::sleep_for(std::chrono::microseconds(10000 + jitter(rng)));
            const uint8_t value = uint8_t(n % 2 ? 0 : 127);  // full swings: never waiting for pick-up
            const float wanted = float(value) / 127.0f;
            const uint64_t begunAtMessage = c.begun.load();
            const auto start = Clock::now();
            midi.deviceFeed(0).shortMessage(0xB0u | (7u << 8) | (uint32_t(value) << 16), 0);
            while (c.settings.outgain != wanted)
                std::this_thread::yield();
            waits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            // A block already begun may still take it before its work: that is sooner.
            nextBlock += applier.appliedAt.load() <= begunAtMessage ? 1 : 0;
            ControlEvent e;
            while (midi.takeEvent(e)) {
            }
        }
        // A flood: 20000 controller messages a second for a second, while blocks run.
        const uint64_t handledBefore = midi.messagesHandled();
        const auto floodStart = Clock::now();
        for (int i = 0; i < 20000; ++i) {
            midi.deviceFeed(1).shortMessage(0xB0u | (7u << 8) | (uint32_t(i % 128) << 16), 0);
            std::this_thread::sleep_until(floodStart + std::chrono::microseconds(50 * i));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop = true;
        driver.join();
        std::printf("MIDI input to the knob      median %.2f ms, 95%% %.2f ms, max %.2f ms of the clock; applied before\n"
                    "                            the first block begun after it (or sooner) %d of %zu times (bar: one block)\n",
                    percentile(waits, 0.5), percentile(waits, 0.95), percentile(waits, 1.0), nextBlock, waits.size());
        std::printf("flood of 20000/s for 1 s    %llu handled, %llu dropped\n",
                    (unsigned long long)(midi.messagesHandled() - handledBefore),
                    (unsigned long long)midi.droppedMessages());
    }
    return 0;
}
