// The seam's portable parts on their own: the host's thread checks around a real
// VST 2 instance, what the VST 2 host callback passes on to the host about the
// instance that called, and the performance file's positions of other formats.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EffectSlot.h"
#include "PerformanceFormat.h"
#include "SlotProcessing.h"
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"

namespace {

// An effect whose processing can be held inside the call, to see calls that come
// while it runs.
struct HeldEffect {
    AEffect effect{};
    std::atomic<bool> inside{false}, release{false};
};

HeldEffect* heldOf(AEffect* e) { return static_cast<HeldEffect*>(e->object); }

void VSTCALLBACK holdWhileProcessing(AEffect* e, float** in, float** out, VstInt32 frames) {
    HeldEffect* held = heldOf(e);
    held->inside = true;
    while (!held->release.load())
        std::this_thread::yield();
    for (VstInt32 i = 0; i < frames; ++i)
        out[0][i] = in[0][i];
}

VstIntPtr VSTCALLBACK answerNothing(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }

float VSTCALLBACK oneHalf(AEffect*, VstInt32) { return 0.5f; }

void prepare(HeldEffect& held) {
    held.effect.magic = kEffectMagic;
    held.effect.dispatcher = answerNothing;
    held.effect.getParameter = oneHalf;
    held.effect.numParams = 1;
    held.effect.numInputs = 1;
    held.effect.numOutputs = 1;
    held.effect.flags = effFlagsCanReplacing;
    held.effect.processReplacing = holdWhileProcessing;
    held.effect.object = &held;
}

std::vector<std::string> g_reported;
void noteViolation(const char* member) { g_reported.emplace_back(member); }

// What a plug-in told the host, as the host's events would record it.
struct RecordedEvents : PluginHostEvents {
    int32_t edited = -1;
    float editedValue = 0.0f;
    int32_t width = 0, height = 0;
    int uiCalls = 0;
    void parameterEdited(int32_t index, float value) override { edited = index, editedValue = value; }
    bool editorResizeRequested(int32_t w, int32_t h) override {
        width = w, height = h;
        return true;
    }
    void latencyChanged() override {}
    void parametersChanged() override {}
    void restartRequested() override {}
    void uiCallRequested() override { ++uiCalls; }
    double tempo() const override { return 120.0; }
};

}  // namespace

// UI-thread members called from another thread, and calls into a plug-in while its
// processing runs, are caught and named; calls that keep the rules are not.
TEST(PluginSeam, CallsFromTheWrongThreadAreCaught) {
    HeldEffect held;
    prepare(held);
    g_reported.clear();
    const ThreadCheckedPlugin::ViolationHandler previous = ThreadCheckedPlugin::setViolationHandler(noteViolation);
    {
        ThreadCheckedPlugin plugin(new Vst2Plugin(&held.effect, nullptr, "C:\\fx\\held.dll", nullptr));
        EffectSlot slot;
        slot.plugin = &plugin;
        const int before = ThreadCheckedPlugin::violations();
        // The loading thread's calls, and processing from another thread, keep the rules.
        ASSERT_TRUE(plugin.configure(48000.0, 256));
        ASSERT_TRUE(plugin.resume());
        EXPECT_EQ(plugin.parameterValue(0), 0.5f);
        ByteRecord state;
        EXPECT_TRUE(plugin.saveState(state, nullptr, 0));
        held.release = true;
        std::thread([&] {
            SlotProcessing processing;
            float samples[64] = {};
            float* live[1] = {samples};
            processing.processSlot(&slot, live, 1, 64);
        }).join();
        EXPECT_EQ(ThreadCheckedPlugin::violations(), before) << ThreadCheckedPlugin::lastViolation();
        EXPECT_TRUE(g_reported.empty());

        // The state asked for from a thread of the plug-in's own.
        std::thread([&] { plugin.saveState(state, nullptr, 0); }).join();
        EXPECT_EQ(ThreadCheckedPlugin::violations(), before + 1);
        EXPECT_STREQ(ThreadCheckedPlugin::lastViolation(), "saveState");
        ASSERT_EQ(g_reported.size(), 1u);
        EXPECT_EQ(g_reported[0], "saveState");

        // Suspended while the driver thread is inside process.
        held.release = false;
        held.inside = false;
        std::thread driver([&] {
            float samples[64] = {};
            float* live[1] = {samples};
            plugin.process(live, live, 64);
        });
        while (!held.inside.load())
            std::this_thread::yield();
        plugin.suspend();
        held.release = true;
        driver.join();
        EXPECT_EQ(ThreadCheckedPlugin::violations(), before + 2);
        EXPECT_STREQ(ThreadCheckedPlugin::lastViolation(), "suspend (during a process call)");
    }
    ThreadCheckedPlugin::setViolationHandler(previous);
}

// The VST 2 host callback finds the calling effect's instance and passes its requests
// on as the host's events; once the instance is gone the same effect finds nothing.
TEST(PluginSeam, HostCallbackPassesRequestsToTheCallersInstance) {
    HeldEffect held;
    prepare(held);
    RecordedEvents events;
    AEffect stranger{};
    {
        Vst2Plugin plugin(&held.effect, &events, "C:\\fx\\held.dll", nullptr);
        EXPECT_EQ(hostCallback(&held.effect, audioMasterSizeWindow, 320, 200, nullptr, 0.0f), 1);
        EXPECT_EQ(events.width, 320);
        EXPECT_EQ(events.height, 200);
        EXPECT_EQ(hostCallback(&held.effect, audioMasterAutomate, 0, 0, nullptr, 0.75f), 0);
        EXPECT_EQ(events.edited, 0);
        EXPECT_EQ(events.editedValue, 0.75f);
        EXPECT_FALSE(plugin.needsIdle());
        EXPECT_EQ(hostCallback(&held.effect, audioMasterNeedIdle, 0, 0, nullptr, 0.0f), 1);
        EXPECT_TRUE(plugin.needsIdle());
        EXPECT_EQ(events.uiCalls, 1);
        auto* directory =
            reinterpret_cast<const char*>(hostCallback(&held.effect, audioMasterGetDirectory, 0, 0, nullptr, 0.0f));
        ASSERT_NE(directory, nullptr);
        EXPECT_STREQ(directory, "C:\\fx\\");
        // An effect the host never loaded is no instance.
        EXPECT_EQ(hostCallback(&stranger, audioMasterSizeWindow, 10, 10, nullptr, 0.0f), 0);
        EXPECT_EQ(hostCallback(&stranger, audioMasterGetDirectory, 0, 0, nullptr, 0.0f), 0);
        // Its identity: the file's base name when the effect gives no name, its id.
        held.effect.uniqueID = fourCharCode('t', 'e', 's', 't');
        EXPECT_STREQ(plugin.identity().name, "held");
        EXPECT_STREQ(plugin.identity().format, "VST 2");
        EXPECT_STREQ(plugin.identity().classId, "74657374");
        EXPECT_FALSE(plugin.identity().instrument);
    }
    events.width = 0;
    EXPECT_EQ(hostCallback(&held.effect, audioMasterSizeWindow, 320, 200, nullptr, 0.0f), 0);
    EXPECT_EQ(events.width, 0);
}

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The record whose tag is tag and whose first payload byte is position; 0 if none.
size_t recordAt(const std::vector<uint8_t>& file, const char* tag, int position) {
    for (size_t at = 16; at + 8 <= file.size() - 4; at += 8 + le32(file, at + 4))
        if (std::memcmp(&file[at], tag, 4) == 0 && file[at + 8] == position)
            return at;
    return 0;
}

std::vector<uint8_t> written(const PerformanceImage& image) {
    std::vector<uint8_t> file(performanceFileSize(image));
    EXPECT_FALSE(file.empty());
    EXPECT_TRUE(writePerformance(image, file.data(), file.size()));
    return file;
}

}  // namespace

// VST 2 positions stay in the first layout, byte for byte, whether or not their
// format is named, so that earlier versions read files of VST 2 plug-ins alone. A
// position of another format is a "PLUG" record, which earlier versions refuse
// (its tag is critical) rather than misread, and which reads back whole.
TEST(PluginSeam, PositionsOfOtherFormatsAreTheirOwnRecords) {
    uint8_t vst2State[9 + 4];
    const float value = 0.25f;
    writeParameterRecord(vst2State, &value, 1);
    const std::string clapState("any bytes\0of its own", 20);

    PerformanceImage image{};
    PerformancePosition& vst2 = image.positions[1];
    vst2.occupied = true;
    std::strcpy(vst2.path, "C:\\VST\\Overdrive.dll");
    vst2.state = vst2State;
    vst2.stateSize = sizeof vst2State;
    const std::vector<uint8_t> unnamed = written(image);
    std::strcpy(vst2.format, "VST 2");
    std::strcpy(vst2.classId, "4F766472");
    EXPECT_EQ(written(image), unnamed) << "a VST 2 position is written as before";

    PerformancePosition& clap = image.positions[5];
    clap.occupied = true;
    clap.bypass = 1;
    std::strcpy(clap.format, "CLAP");
    std::strcpy(clap.classId, "com.example.gain");
    std::strcpy(clap.path, "C:\\CLAP\\Gain.clap");
    clap.state = reinterpret_cast<const uint8_t*>(clapState.data());  // not a VST 2 record
    clap.stateSize = uint32_t(clapState.size());
    std::vector<uint8_t> file = written(image);
    EXPECT_NE(recordAt(file, "SLOT", 1), 0u);
    EXPECT_EQ(recordAt(file, "SLOT", 5), 0u);
    const size_t plug = recordAt(file, "PLUG", 5);
    ASSERT_NE(plug, 0u);
    EXPECT_TRUE(file[plug] >= 'A' && file[plug] <= 'Z') << "earlier readers must refuse it";
    EXPECT_EQ(file[plug + 9], 1);  // bypass
    EXPECT_EQ(file[plug + 10], 4);
    EXPECT_EQ(std::string(file.begin() + long(plug) + 11, file.begin() + long(plug) + 15), "CLAP");

    PerformanceImage read;
    ASSERT_EQ(parsePerformance(file.data(), file.size(), read), PerformanceParse::Ok);
    EXPECT_STREQ(read.positions[1].format, "VST 2");
    EXPECT_STREQ(read.positions[1].path, "C:\\VST\\Overdrive.dll");
    const PerformancePosition& back = read.positions[5];
    ASSERT_TRUE(back.occupied);
    EXPECT_EQ(back.bypass, 1);
    EXPECT_STREQ(back.format, "CLAP");
    EXPECT_STREQ(back.classId, "com.example.gain");
    EXPECT_STREQ(back.path, "C:\\CLAP\\Gain.clap");
    ASSERT_EQ(back.stateSize, clapState.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.state), back.stateSize), clapState);

    // A PLUG record that does not hold together refuses the file: a format without
    // a name, a class id longer than its field, a state size that is not the rest.
    const auto refusedWhen = [&](const char* what, void (*edit)(std::vector<uint8_t>&, size_t)) {
        std::vector<uint8_t> damaged = file;
        edit(damaged, plug);
        const size_t body = damaged.size() - 20;
        for (int i = 0; i < 4; ++i)
            damaged[12 + i] = uint8_t(body >> (8 * i));
        const uint32_t crc = performanceChecksum(damaged.data(), damaged.size() - 4);
        for (int i = 0; i < 4; ++i)
            damaged[damaged.size() - 4 + i] = uint8_t(crc >> (8 * i));
        PerformanceImage none;
        EXPECT_EQ(parsePerformance(damaged.data(), damaged.size(), none), PerformanceParse::Inconsistent) << what;
    };
    refusedWhen("an empty format", [](std::vector<uint8_t>& f, size_t at) {
        f.erase(f.begin() + long(at) + 11, f.begin() + long(at) + 15);
        f[at + 10] = 0;
        const uint32_t length = le32(f, at + 4) - 4;
        for (int i = 0; i < 4; ++i)
            f[at + 4 + i] = uint8_t(length >> (8 * i));
    });
    refusedWhen("a class id past its field", [](std::vector<uint8_t>& f, size_t at) {
        const size_t classAt = at + 15;
        f[classAt] = 200;
    });
    refusedWhen("a state size that is not the rest", [](std::vector<uint8_t>& f, size_t at) {
        const size_t length = le32(f, at + 4);
        f[at + 8 + length - 20 - 4] ^= 1;  // the state size's lowest byte
    });

    // The writer refuses a label that fills its field (it could not be read back).
    std::memset(clap.format, 'x', sizeof clap.format);
    EXPECT_EQ(performanceFileSize(image), 0u);
}
