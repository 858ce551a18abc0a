// MIDI control and performance switches through the live chain itself: messages
// from a device thread reach the settings at the next block (with pick-up), commands
// and unbound program changes reach the UI thread's mailbox, the bindings table is
// exchanged under load, a flood keeps its count, and a switch swaps the positions at
// a block boundary while the outgoing chain's tail rings on, with no step the signal
// does not have.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ChainFixture.h"
#include "MidiControl.h"
#include "PerformanceSwitcher.h"
#include "SettingsApplier.h"
#include "SwitchPoint.h"

namespace {

const double kRate = 48000.0;
const double kPi = 3.14159265358979323846;

// Stand-in effects: each fake slot is a gain with an echo (y = gain * x + ring *
// y[-delay]), so a tail rings on after its input stops.
struct FakeEffect {
    float gain = 1.0f;
    float ring = 0.0f;
    int delay = 0;
    std::vector<float> line[2];
    size_t at = 0;
    uint64_t frames = 0;        // frames processed
    uint64_t silentFrames = 0;  // of them with a silent input
};

struct FakeEffects : ChainEffects {
    std::map<EffectSlot*, FakeEffect*> fakes;
    EffectSlot* add(FakeEffect& fake) {
        EffectSlot* slot = reinterpret_cast<EffectSlot*>(&fake);
        fakes[slot] = &fake;
        return slot;
    }
    void processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames) override {
        FakeEffect& f = *fakes.at(slot);
        if (f.delay > 0 && f.line[0].empty())
            for (std::vector<float>& line : f.line)
                line.assign(size_t(f.delay), 0.0f);
        for (int32_t i = 0; i < frames; ++i) {
            bool silent = true;
            for (int32_t ch = 0; ch < channelCount; ++ch) {
                silent = silent && channels[ch][i] == 0.0f;
                float y = f.gain * channels[ch][i];
                if (f.delay > 0) {
                    y += f.ring * f.line[ch][f.at];
                    f.line[ch][f.at] = y;
                }
                channels[ch][i] = y;
            }
            if (f.delay > 0)
                f.at = (f.at + 1) % size_t(f.delay);
            f.silentFrames += silent ? 1 : 0;
        }
        f.frames += uint64_t(frames);
    }
    void setSampleRate(float) override {}
    void setBlockSize(int32_t) override {}
    void resumeAllSlots() override {}
    void suspendAllSlots() override {}
};

// Plug-in parameters as the effect host's applier would hold them.
struct FakeParameters : ControlApplier {
    float values[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    bool readTarget(uint32_t target, float& value) override {
        if (targetGroup(target) != TargetGroup::PluginParameter || targetParameterIndex(target) >= 4)
            return false;
        value = values[targetParameterIndex(target)];
        return true;
    }
    Outcome applyTarget(uint32_t target, float value) override {
        if (targetGroup(target) != TargetGroup::PluginParameter || targetParameterIndex(target) >= 4)
            return Outcome::Refused;
        if (targetPosition(target) == 7)
            return Outcome::Deferred;  // a format the audio thread cannot set
        values[targetParameterIndex(target)] = value;
        return Outcome::Applied;
    }
};

// A mono chain run block by block on a sine, its output kept.
struct Rig {
    LiveSettings settings;
    LiveChain chain{&settings};
    FakeEffects effects;
    std::vector<float> output;
    uint64_t frame = 0;
    float amplitude = 0.5f;
    Rig() {
        settings.centerAmp = 0;
        settings.gateThresh = 0.0f;  // the gate stays open
        chain.attachEffects(&effects);
        chain.setSampleRate(kRate);
        chain.prepareForStart(kRate);
    }
    void block(int frames) {
        std::vector<float> in(static_cast<size_t>(frames), 0.0f);
        for (int i = 0; i < frames; ++i)
            in[size_t(i)] = amplitude * float(std::sin(2.0 * kPi * 440.0 * double(frame + uint64_t(i)) / kRate));
        DriverBuffers io(kAsioFloat32LSB, 1, 1, frames, kRate);
        io.setInput(0, in);
        io.process(chain);
        const std::vector<float> out = io.output(0);
        output.insert(output.end(), out.begin(), out.end());
        frame += uint64_t(frames);
    }
    float peakFrom(size_t first, size_t count) const {
        float p = 0.0f;
        for (size_t i = first; i < first + count && i < output.size(); ++i)
            p = std::max(p, std::fabs(output[i]));
        return p;
    }
    float largestStep(size_t first, size_t last) const {
        float s = 0.0f;
        for (size_t i = first + 1; i < last && i < output.size(); ++i)
            s = std::max(s, std::fabs(output[i] - output[i - 1]));
        return s;
    }
};

uint32_t packed(uint8_t status, uint8_t d1, uint8_t d2) { return status | (uint32_t(d1) << 8) | (uint32_t(d2) << 16); }

std::vector<ControlEvent> drain(MidiControl& midi) {
    std::vector<ControlEvent> events;
    ControlEvent e;
    while (midi.takeEvent(e))
        events.push_back(e);
    midi.eventsHandled();
    return events;
}

TEST(ControlChainTest, MidiReachesTheChainAtTheNextBlockThroughTheBindings) {
    Rig rig;
    FakeEffect inPosition2;
    rig.settings.slots[2] = rig.effects.add(inPosition2);
    MidiControl midi;
    SettingsApplier settingsApplier(rig.settings);
    FakeParameters parameters;
    midi.attachAppliers(&settingsApplier, &parameters);
    rig.chain.attachMidi(&midi);

    EXPECT_EQ(midi.setProgramBindings({
                  {{MidiSourceKind::Controller, 7, kAnyChannel}, controlTarget(ProgramControl::OutputGain),
                   BindingBehaviour::Continuous},
                  {{MidiSourceKind::Note, 60, 0}, bypassTarget(2), BindingBehaviour::Toggle},
                  {{MidiSourceKind::Program, 5, kAnyChannel}, commandTarget(ProgramCommand::NextPerformance),
                   BindingBehaviour::Toggle},
                  {{MidiSourceKind::Controller, 64, kAnyChannel}, commandTarget(ProgramCommand::Record),
                   BindingBehaviour::Momentary},
              }),
              0u);
    EXPECT_EQ(midi.setPerformanceBindings({
                  {{MidiSourceKind::Controller, 11, kAnyChannel}, pluginParameterTarget(0, 1),
                   BindingBehaviour::Continuous},
                  {{MidiSourceKind::Controller, 12, kAnyChannel}, pluginParameterTarget(7, 0),
                   BindingBehaviour::Continuous},
                  // The same source and target as a program binding: refused in the merge.
                  {{MidiSourceKind::Note, 60, 0}, bypassTarget(2), BindingBehaviour::Toggle},
              }),
              1u);
    rig.block(256);
    EXPECT_TRUE(midi.bindingsTaken());
    const uint32_t mark = midi.learnMark();

    // From a device's thread: a controller far from the knob is not taken up...
    std::thread device([&] { midi.deviceFeed(3).shortMessage(packed(0xB0, 7, 20), 0); });
    device.join();
    rig.block(256);
    EXPECT_FLOAT_EQ(rig.settings.outgain, 0.75f);
    // ...until it passes the knob's value; from then it follows, in the same block.
    midi.deviceFeed(3).shortMessage(packed(0xB0, 7, 110), 0);
    rig.block(256);
    EXPECT_FLOAT_EQ(rig.settings.outgain, 110.0f / 127.0f);
    midi.deviceFeed(3).shortMessage(packed(0xB0, 7, 64), 0);
    rig.block(256);
    EXPECT_FLOAT_EQ(rig.settings.outgain, 64.0f / 127.0f);
    // The knob moved by the mouse: the controller must meet it again.
    rig.settings.outgain = 0.2f;
    rig.block(256);
    midi.deviceFeed(3).shortMessage(packed(0xB0, 7, 70), 0);
    rig.block(256);
    EXPECT_FLOAT_EQ(rig.settings.outgain, 0.2f);
    midi.deviceFeed(3).shortMessage(packed(0xB0, 7, 10), 0);  // passes 0.2 on the way down
    rig.block(256);
    EXPECT_FLOAT_EQ(rig.settings.outgain, 10.0f / 127.0f);
    // The output follows the knob in the block the message came before.
    const size_t before = rig.output.size();
    midi.deviceFeed(3).shortMessage(packed(0xB0, 7, 95), 0);  // back up past 0.75 (95.25): not yet
    midi.deviceFeed(3).shortMessage(packed(0xB0, 7, 96), 0);  // passed: +0.47 dB
    rig.block(512);
    EXPECT_NEAR(rig.peakFrom(before + 200, 300), 0.5f * gainFactor(96.0f / 127.0f), 0.01f);

    // A note toggles the bypass at the next block: the slot is no longer called.
    const uint64_t framesBefore = inPosition2.frames;
    midi.deviceFeed(0).shortMessage(packed(0x90, 60, 100), 0);
    midi.deviceFeed(0).shortMessage(packed(0x80, 60, 0), 0);
    rig.block(256);
    EXPECT_EQ(rig.settings.bypass[2], 1);
    EXPECT_EQ(inPosition2.frames, framesBefore);
    midi.deviceFeed(0).shortMessage(packed(0x91, 60, 100), 0);  // another channel: not bound
    rig.block(256);
    EXPECT_EQ(rig.settings.bypass[2], 1);
    midi.deviceFeed(0).shortMessage(packed(0x90, 60, 100), 0);
    rig.block(256);
    EXPECT_EQ(rig.settings.bypass[2], 0);
    EXPECT_EQ(inPosition2.frames, framesBefore + 256);

    // Plug-in parameters: applied where the applier can, deferred to the UI otherwise.
    drain(midi);
    midi.deviceFeed(1).shortMessage(packed(0xB0, 11, 64), 0);  // meets 0.5
    midi.deviceFeed(1).shortMessage(packed(0xB0, 11, 100), 0);
    midi.deviceFeed(1).shortMessage(packed(0xB0, 12, 64), 0);
    rig.block(256);
    EXPECT_FLOAT_EQ(parameters.values[1], 100.0f / 127.0f);
    EXPECT_FLOAT_EQ(parameters.values[0], 0.5f);  // position 7's is the UI thread's to set

    // Commands and program changes nobody bound go to the UI thread.
    midi.deviceFeed(2).shortMessage(packed(0xC0, 5, 0), 0);
    midi.deviceFeed(2).shortMessage(packed(0xC3, 2, 0), 0);
    midi.deviceFeed(2).shortMessage(packed(0xB0, 64, 127), 0);
    midi.deviceFeed(2).shortMessage(packed(0xB0, 64, 0), 0);
    rig.block(256);
    EXPECT_TRUE(midi.eventsOutstanding());
    const std::vector<ControlEvent> events = drain(midi);
    EXPECT_FALSE(midi.eventsOutstanding());
    std::vector<ControlEvent> wanted;
    for (const ControlEvent& e : events)
        if (e.kind != ControlEventKind::Applied)
            wanted.push_back(e);
    ASSERT_EQ(wanted.size(), 5u);
    EXPECT_EQ(wanted[0].kind, ControlEventKind::Deferred);
    EXPECT_EQ(wanted[0].target, pluginParameterTarget(7, 0));
    EXPECT_EQ(wanted[1].kind, ControlEventKind::Command);
    EXPECT_EQ(wanted[1].target, commandTarget(ProgramCommand::NextPerformance));
    EXPECT_EQ(wanted[2].kind, ControlEventKind::UnboundProgram);
    EXPECT_EQ(wanted[2].message.data1, 2);
    EXPECT_EQ(wanted[2].message.channel, 3);
    EXPECT_EQ(wanted[2].frame, rig.frame - 256);
    EXPECT_EQ(wanted[3].target, commandTarget(ProgramCommand::Record));
    EXPECT_EQ(wanted[3].value, 1.0f);
    EXPECT_EQ(wanted[4].value, 0.0f);  // momentary: released

    // MIDI learn: the newest source since the mark.
    MidiMessage learnt{};
    ASSERT_TRUE(midi.newestSince(mark, learnt));
    EXPECT_EQ(learnt.kind, MidiKind::Controller);
    EXPECT_EQ(learnt.data1, 64);
    const uint32_t now = midi.learnMark();
    EXPECT_FALSE(midi.newestSince(now, learnt));
    midi.deviceFeed(0).shortMessage(packed(0x80, 61, 0), 0);  // a release is no source
    rig.block(64);
    EXPECT_FALSE(midi.newestSince(now, learnt));
}

TEST(ControlChainTest, AFloodAndTableExchangesFromOtherThreadsKeepEveryCount) {
    Rig rig;
    MidiControl midi;
    SettingsApplier settingsApplier(rig.settings);
    midi.attachAppliers(&settingsApplier, nullptr);
    rig.chain.attachMidi(&midi);
    const std::vector<MidiBinding> bindings = {{{MidiSourceKind::Controller, 1, kAnyChannel},
                                                controlTarget(ProgramControl::InputGain),
                                                BindingBehaviour::Continuous}};
    midi.setProgramBindings(bindings);
    rig.settings.ingain = 0.0f;

    const int kSent = 40000;
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (int i = 0; i < kSent; ++i)
            midi.deviceFeed(0).shortMessage(packed(0xB0, 1, uint8_t(i % 128)), uint32_t(i));
        done = true;
    });
    std::thread ui([&] {
        for (int i = 0; i < 300; ++i) {
            midi.setPerformanceBindings({});
            ControlEvent e;
            while (midi.takeEvent(e)) {
            }
            std::this_thread::yield();
        }
    });
    while (!done)
        rig.block(64);
    ui.join();
    device.join();
    rig.block(64);
    EXPECT_EQ(midi.messagesHandled() + midi.droppedMessages(), uint64_t(kSent));
    EXPECT_GT(midi.messagesHandled(), 1000u);
    EXPECT_GE(rig.settings.ingain, 0.0f);
    EXPECT_LE(rig.settings.ingain, 1.0f);
}

TEST(ControlChainTest, AScriptPlaysThroughTheInputPathAtItsFrames) {
    Rig rig;
    MidiControl midi;
    SettingsApplier settingsApplier(rig.settings);
    midi.attachAppliers(&settingsApplier, nullptr);
    rig.chain.attachMidi(&midi);
    midi.setProgramBindings({{{MidiSourceKind::Note, 36, kAnyChannel}, switchTarget(ProgramSwitch::DcFilter),
                              BindingBehaviour::Momentary}});
    MidiScript script;
    MidiScriptError error;
    const char text[] = "0.0100 90 24 7F\n0.0200 80 24 00\n0.0300 C0 02\n";
    ASSERT_TRUE(parseMidiScript(text, sizeof text - 1, script, error)) << error.reason;
    midi.playScript(&script);
    std::vector<uint8_t> dcAfterBlock;
    std::vector<ControlEvent> programs;
    for (int b = 0; b < 8; ++b) {
        rig.block(240);  // 5 ms blocks: the note falls in block 1, its release in 3
        dcAfterBlock.push_back(rig.settings.centerAmp);
        for (const ControlEvent& e : drain(midi))
            if (e.kind == ControlEventKind::UnboundProgram)
                programs.push_back(e);
    }
    // Due in a block: applied before the next block's work.
    EXPECT_EQ(dcAfterBlock, (std::vector<uint8_t>{0, 0, 1, 1, 0, 0, 0, 0}));
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].message.data1, 2);
    EXPECT_EQ(programs[0].frame, 6u * 240u);
}

TEST(ControlChainTest, ASwitchSwapsAtTheBlockRingsTheTailAndStepsNoMoreThanTheSignal) {
    Rig rig;
    FakeEffect echo;  // the outgoing chain: a 100 ms echo that repeats at half level
    echo.gain = 1.0f;
    echo.ring = 0.5f;
    echo.delay = 4800;
    FakeEffect clean;  // the incoming one
    clean.gain = 0.5f;
    FakeEffect third;
    third.gain = 1.5f;
    rig.settings.slots[0] = rig.effects.add(echo);
    SwitchPoint point(&rig.effects);
    rig.chain.attachSwitch(&point);
    for (int b = 0; b < 40; ++b)
        rig.block(256);
    const float signalStep = rig.largestStep(rig.output.size() - 2048, rig.output.size());

    // Posted at the peak of the sine: without a crossfade the step would be 0.25.
    SwitchSet incoming;
    incoming.slots[1] = rig.effects.add(clean);
    uint32_t installedAs = 0;
    ASSERT_TRUE(point.post(&incoming, 0.5, installedAs));
    EXPECT_FALSE(point.post(&incoming, 0.5, installedAs));  // one waits at a time
    EXPECT_EQ(point.switchesInstalled(), 0u);
    const size_t switchAt = rig.output.size();
    rig.block(256);
    EXPECT_EQ(point.switchesInstalled(), installedAs);
    EXPECT_EQ(point.lastSwitchFrame(), uint64_t(switchAt));
    EXPECT_EQ(rig.settings.slots[0], nullptr);
    EXPECT_EQ(rig.settings.slots[1], incoming.slots[1]);
    EXPECT_EQ(clean.frames, 256u);  // the incoming chain is heard in the first block
    EXPECT_TRUE(point.tailRinging());
    for (int b = 0; b < 100; ++b)
        rig.block(256);
    // The tail ran for its length (0.5 s), the live signal faded out of it within 10 ms.
    SwitchSet retired;
    ASSERT_TRUE(point.takeRetired(retired));
    EXPECT_EQ(retired.slots[0], rig.settings.slots[0] ? nullptr : reinterpret_cast<EffectSlot*>(&echo));
    EXPECT_FALSE(point.tailRinging());
    const uint64_t tailFrames = uint64_t(0.5 * kRate);
    EXPECT_GE(echo.silentFrames, tailFrames - 480);
    // The tail is heard: after the crossfade the output holds more than the clean chain.
    const float cleanPeak = 0.5f * 0.5f;
    EXPECT_GT(rig.peakFrom(switchAt + 2000, 2000), cleanPeak * 1.2f);
    EXPECT_NEAR(rig.peakFrom(switchAt + size_t(tailFrames) + 1000, 4000), cleanPeak, 0.01f);
    const float switchStep = rig.largestStep(switchAt - 10, switchAt + size_t(tailFrames) + 2000);
    EXPECT_LE(switchStep, signalStep * 1.1f) << "the signal's own step is " << signalStep;

    // A switch while a tail rings cuts the older tail with a fade, and hands both back.
    SwitchSet back;
    back.slots[0] = rig.effects.add(third);
    ASSERT_TRUE(point.post(&back, 2.0, installedAs));
    rig.block(256);
    SwitchSet again;
    again.slots[1] = incoming.slots[1];
    ASSERT_TRUE(point.post(&again, 0.0, installedAs));
    rig.block(256);
    rig.block(256);
    SwitchSet first, second;
    EXPECT_TRUE(point.takeRetired(first));   // clean, cut short
    EXPECT_TRUE(point.takeRetired(second));  // third, with no tail asked
    EXPECT_FALSE(point.takeRetired(retired));
    EXPECT_EQ(first.slots[1], incoming.slots[1]);
    EXPECT_EQ(second.slots[0], back.slots[0]);
}

// Loads stand-in performances named by their paths: "damaged" fails to read.
struct FakeLoader : PerformanceLoader {
    FakeEffects& effects;
    std::vector<std::unique_ptr<FakeEffect>> made;
    std::vector<std::string> loads, unloads, accompaniments;
    explicit FakeLoader(FakeEffects& e) : effects(e) {}
    bool loadPerformance(const std::string& path, LoadedPerformance& out, std::string& error) override {
        loads.push_back(path);
        if (path.find("damaged") != std::string::npos) {
            error = "The file's checksum does not match: it was damaged.";
            return false;
        }
        made.emplace_back(new FakeEffect);
        made.back()->gain = 0.3f + 0.1f * float(made.size());
        out.chain.slots[0] = effects.add(*made.back());
        out.accompaniment = path + ".wav";
        out.bindings = {{{MidiSourceKind::Controller, 11, kAnyChannel}, pluginParameterTarget(0, 0),
                         BindingBehaviour::Continuous}};
        return true;
    }
    void unloadSlots(const SwitchSet& set) override {
        for (EffectSlot* slot : set.slots)
            if (slot)
                unloads.push_back(std::to_string(reinterpret_cast<uintptr_t>(slot)));
    }
    void switchAccompaniment(const std::string& path, bool autoplay) override {
        accompaniments.push_back(path + (autoplay ? " autoplay" : ""));
    }
};

TEST(ControlChainTest, TheSwitcherPreloadsNeighboursSwitchesAndUnloadsTails) {
    Rig rig;
    SwitchPoint point(&rig.effects);
    rig.chain.attachSwitch(&point);
    FakeLoader loader(rig.effects);
    Setlist setlist;
    for (const char* name : {"one", "two", "damaged", "four"}) {
        SetlistEntry e;
        e.path = e.resolved = name;
        e.autoplay = std::string(name) == "two";
        setlist.entries.push_back(e);
    }
    std::string error;
    {
        PerformanceSwitcher switcher(point, loader);
        switcher.setTailSeconds(25.0);
        EXPECT_EQ(switcher.tailSeconds(), 10.0);
        switcher.setTailSeconds(0.1);
        switcher.setSetlist(setlist);
        EXPECT_EQ(switcher.current(), -1);
        ASSERT_TRUE(switcher.startWith(0, rig.settings, error)) << error;
        EXPECT_EQ(loader.accompaniments, std::vector<std::string>{"one.wav"});
        switcher.preloadNeighbours();
        EXPECT_TRUE(switcher.preloaded(1));
        EXPECT_FALSE(switcher.preloaded(2));
        EXPECT_EQ(loader.loads, (std::vector<std::string>{"one", "two"}));
        rig.block(256);

        // Next: preloaded, so nothing is loaded at the switch; it lands at the next block.
        ASSERT_TRUE(switcher.next(error)) << error;
        EXPECT_TRUE(switcher.switchWaiting());
        EXPECT_FALSE(switcher.next(error));  // one at a time
        EXPECT_EQ(loader.loads.size(), 2u);
        EXPECT_FALSE(switcher.service());
        rig.block(256);
        EXPECT_TRUE(switcher.service());
        EXPECT_EQ(switcher.current(), 1);
        EXPECT_EQ(loader.accompaniments.back(), "two.wav autoplay");
        ASSERT_NE(switcher.currentPerformance(), nullptr);
        EXPECT_EQ(switcher.currentPerformance()->bindings.size(), 1u);
        // Its neighbours: the damaged one fails once and is named, the one before is
        // loaded afresh (its plug-ins ring in the tail).
        EXPECT_EQ(loader.loads, (std::vector<std::string>{"one", "two", "damaged", "one"}));
        EXPECT_FALSE(switcher.switchTo(2, error));
        EXPECT_NE(error.find("damaged"), std::string::npos);
        EXPECT_NE(error.find("checksum"), std::string::npos);
        EXPECT_EQ(loader.loads.size(), 4u);
        // The tail rings out (0.1 s), then its plug-ins go.
        for (int b = 0; b < 30; ++b)
            rig.block(256);
        switcher.service();
        EXPECT_EQ(loader.unloads.size(), 1u);
        // Past the damaged entry straight to the fourth.
        ASSERT_TRUE(switcher.switchTo(3, error)) << error;
        rig.block(256);
        EXPECT_TRUE(switcher.service());
        EXPECT_EQ(switcher.current(), 3);
        EXPECT_FALSE(switcher.next(error));
        // Switching to the entry playing changes nothing.
        EXPECT_TRUE(switcher.switchTo(3, error));
        EXPECT_FALSE(switcher.switchWaiting());
        // The positions given entry one another way (opened as a file before live
        // input ran): the copy made ready of it goes and its neighbour is made ready.
        const size_t loadsBefore = loader.loads.size(), unloadsBefore = loader.unloads.size();
        ASSERT_TRUE(switcher.setRunning(0));
        EXPECT_EQ(switcher.current(), 0);
        EXPECT_FALSE(switcher.preloaded(0));
        EXPECT_EQ(loader.unloads.size(), unloadsBefore + 1);
        EXPECT_FALSE(switcher.service());
        ASSERT_EQ(loader.loads.size(), loadsBefore + 1);
        EXPECT_EQ(loader.loads.back(), "two");
        ASSERT_TRUE(switcher.setRunning(1));
        EXPECT_EQ(loader.unloads.size(), unloadsBefore + 2);
        switcher.service();
        EXPECT_EQ(loader.loads.back(), "one");  // the damaged one is not tried again
        EXPECT_EQ(loader.loads.size(), loadsBefore + 2);
        EXPECT_FALSE(switcher.setRunning(7));
    }
    // What it preloaded and never switched to is unloaded with it; what plays stays.
    std::set<std::string> unloaded(loader.unloads.begin(), loader.unloads.end());
    EXPECT_EQ(unloaded.size(), loader.unloads.size());
    const std::string playing = std::to_string(reinterpret_cast<uintptr_t>(rig.settings.slots[0]));
    EXPECT_EQ(unloaded.count(playing), 0u);
}

}  // namespace
