// The VST3 backend through the plug-in seam, against the test effects of plugins/:
// each records the host's calls and their threads, and notes every call out of the
// format's order as a violation, which fails the test.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PluginInstance.h"
#include "Vst3Backend.h"
#include "Vst3BundlePath.h"
#include "Vst3HostObjects.h"
#include "Vst3Module.h"
#include "Vst3Plugin.h"
#include "StringIds.h"
#include "Vst3Reasons.h"
#include "Vst3ThreadContract.h"
#include "WinInclude.h"

// Allocations made while a block is processed: the audio thread must make none.
namespace {
thread_local bool tProcessing = false;
std::atomic<int> gAllocationsInProcess{0};
}  // namespace

// The replacements pair malloc with free; inlined at their callers GCC cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    if (tProcessing)
        ++gAllocationsInProcess;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    std::abort();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    if (tProcessing)
        ++gAllocationsInProcess;
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

const std::string kDir = TALVENOR_VST3_DIR;  // the test effects' folder, as a Windows path

std::string bundle(const char* name) { return kDir + name + ".vst3"; }
std::string binary(const char* name) {
    return bundle(name) + "\\Contents\\" + vst3path::kOwnArchitecture + "\\" + name + ".vst3";
}

// Any breach of the call-sequence rules by our own code fails the running test; an
// allocation in any block processed fails the run.
void failOnBreach(const char* rule) { ADD_FAILURE() << "host broke a VST3 rule: " << rule; }
class BreachesFail : public ::testing::Environment {
    void SetUp() override { Vst3ThreadContract::setBreachHandler(&failOnBreach); }
    void TearDown() override {
        EXPECT_EQ(gAllocationsInProcess.load(), 0) << "the backend allocated on the audio thread";
    }
};
const auto* const kBreachesFail = ::testing::AddGlobalTestEnvironment(new BreachesFail);

// The test effect's module as the test sees it: the same module the backend loads,
// so that its log and hooks are those of the backend's instance.
class TestEffect {
public:
    explicit TestEffect(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
        log_ = procedure<int (*)(char*, int)>("v3tLog");
        clear_ = procedure<void (*)()>("v3tClear");
        logging_ = procedure<void (*)(int)>("v3tSetLogging");
        live_ = procedure<int (*)()>("v3tLive");
        edit_ = procedure<int (*)(uint32_t, double)>("v3tEdit");
        latency_ = procedure<int (*)(uint32_t)>("v3tSetLatency");
        resize_ = procedure<int (*)(int32_t, int32_t)>("v3tRequestResize");
        restart_ = procedure<int (*)(int32_t)>("v3tRestart");
        strangeResize_ = procedure<int (*)(int32_t, int32_t)>("v3tRequestResizeOfStrangeView");
        if (clear_)
            clear_();
    }
    ~TestEffect() {
        if (module_)
            FreeLibrary(module_);
    }
    bool ok() const { return module_ && log_ && clear_ && live_; }
    std::vector<std::string> log() const {
        std::vector<char> text(1 << 16);
        log_(text.data(), int(text.size()));
        std::vector<std::string> lines;
        for (const char* p = text.data(); *p;) {
            const char* end = std::strchr(p, '\n');
            lines.emplace_back(p, end ? size_t(end - p) : std::strlen(p));
            p = end ? end + 1 : p + std::strlen(p);
        }
        return lines;
    }
    void clear() { clear_(); }
    void setLogging(bool on) { logging_(on ? 1 : 0); }
    int live() const { return live_(); }
    int edit(uint32_t id, double value) { return edit_(id, value); }
    int setLatency(uint32_t frames) { return latency_(frames); }
    int requestResize(int32_t w, int32_t h) { return resize_(w, h); }
    int restart(int32_t flags) { return restart_(flags); }
    int requestResizeOfStrangeView(int32_t w, int32_t h) { return strangeResize_(w, h); }

private:
    template <typename T>
    T procedure(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    HMODULE module_;
    int (*log_)(char*, int) = nullptr;
    void (*clear_)() = nullptr;
    void (*logging_)(int) = nullptr;
    int (*live_)() = nullptr;
    int (*edit_)(uint32_t, double) = nullptr;
    int (*latency_)(uint32_t) = nullptr;
    int (*resize_)(int32_t, int32_t) = nullptr;
    int (*restart_)(int32_t) = nullptr;
    int (*strangeResize_)(int32_t, int32_t) = nullptr;
};

// The first line beginning with prefix at or after from, or -1.
int find(const std::vector<std::string>& lines, const std::string& prefix, int from = 0) {
    for (int i = from; i < int(lines.size()); ++i)
        if (lines[i].compare(0, prefix.size(), prefix) == 0)
            return i;
    return -1;
}
int count(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : lines)
        n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
}
std::string violations(const std::vector<std::string>& lines) {
    std::string found;
    for (const std::string& line : lines)
        if (line.compare(0, 9, "VIOLATION") == 0)
            found += line + "\n";
    return found;
}

// What the plug-in told the host.
class RecordingEvents : public PluginHostEvents {
public:
    void parameterEdited(int32_t index, float value) override { edits.push_back({index, value}); }
    bool editorResizeRequested(int32_t width, int32_t height) override {
        resizes.push_back({width, height});
        return grantResize;
    }
    void latencyChanged() override { ++latencyChanges; }
    void parametersChanged() override { ++parameterChanges; }
    void restartRequested() override { ++restarts; }
    void uiCallRequested() override { ++uiCalls; }
    double tempo() const override { return 120.0; }

    std::vector<std::pair<int32_t, float>> edits;
    std::vector<std::pair<int32_t, int32_t>> resizes;
    bool grantResize = true;
    std::atomic<int> latencyChanges{0};
    std::atomic<int> parameterChanges{0};
    std::atomic<int> restarts{0};
    std::atomic<int> uiCalls{0};
};

void onAudioThread(const std::function<void()>& work) {
    std::thread audio(work);
    audio.join();
}

constexpr int32_t kBlock = 256;

// Stereo blocks of a constant level, processed in place on the audio thread.
class Blocks {
public:
    explicit Blocks(int32_t channels) : channels_(channels), samples_(size_t(2 * kBlock)) {}
    // Processes one block of level; answers the first sample of each channel.
    std::vector<float> run(PluginInstance& plugin, float level) {
        for (float& s : samples_)
            s = level;
        float* io[2] = {samples_.data(), samples_.data() + kBlock};
        onAudioThread([&] {
            tProcessing = true;
            plugin.process(io, io, kBlock);
            tProcessing = false;
        });
        std::vector<float> first;
        for (int32_t c = 0; c < channels_; ++c)
            first.push_back(io[c][kBlock - 1]);
        return first;
    }

private:
    int32_t channels_;
    std::vector<float> samples_;
};

struct Loaded {
    std::unique_ptr<PluginInstance> plugin;
    std::string failure;
};

Loaded load(const std::string& path, RecordingEvents* events, const char* classId = "") {
    Vst3Backend backend;
    char failure[512] = "unchanged";
    Loaded loaded;
    loaded.plugin.reset(backend.load(path.c_str(), classId, events, failure, sizeof failure));
    loaded.failure = failure;
    return loaded;
}

TEST(Vst3Backend, RecognisesBundlesAndSingleFilesByShape) {
    Vst3Backend backend;
    EXPECT_STREQ(backend.formatLabel(), "VST3");
    EXPECT_TRUE(backend.recognises(bundle("Vst3TestGain").c_str()));
    EXPECT_TRUE(backend.recognises((kDir + "Vst3TestSingleFile.vst3").c_str()));
    EXPECT_FALSE(backend.recognises((kDir + "Vst3TestGain.dll").c_str()));
    EXPECT_TRUE(backend.isBundle(bundle("Vst3TestGain").c_str()));
    char folder[MAX_PATH];
    ASSERT_TRUE(backend.scanFolder(0, folder, sizeof folder));
    const std::string common(folder);
    EXPECT_EQ(common.substr(common.size() - 6), "\\VST3\\") << common;
    ASSERT_TRUE(backend.scanFolder(1, folder, sizeof folder));
    const std::string own(folder);
    EXPECT_EQ(own.substr(own.size() - 22), "\\Programs\\Common\\VST3\\") << own;
    EXPECT_FALSE(backend.scanFolder(2, folder, sizeof folder));
}

// The whole life of an instance, in the order the format asks for and each call on its
// thread: the effect's log shows the sequence and holds no violation.
TEST(Vst3Backend, LoadsProcessesAndReleasesInTheFormatsOrder) {
    TestEffect effect(binary("Vst3TestGain"));
    ASSERT_TRUE(effect.ok());
    RecordingEvents events;
    {
        Loaded loaded = load(bundle("Vst3TestGain"), &events);
        ASSERT_TRUE(loaded.plugin) << loaded.failure;
        PluginInstance& plugin = *loaded.plugin;
        EXPECT_STREQ(plugin.identity().name, "Talvenor Test Gain");
        EXPECT_STREQ(plugin.identity().vendor, "Talvenor Tests");
        EXPECT_STREQ(plugin.identity().format, "VST3");
        EXPECT_STREQ(plugin.identity().classId, "54414C5647414E310000000000000001");
        EXPECT_EQ(plugin.inputCount(), 2);
        EXPECT_EQ(plugin.outputCount(), 2);
        EXPECT_FALSE(plugin.resume());  // not configured yet: refused, not passed on
        EXPECT_NE(std::strstr(static_cast<Vst3Plugin&>(plugin).lastFailure(), "resume before configure"), nullptr);
        ASSERT_TRUE(plugin.configure(48000, kBlock));
        ASSERT_TRUE(plugin.resume());
        Blocks blocks(2);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(blocks.run(plugin, 0.25f), std::vector<float>({0.25f, 0.25f}));  // gain 0.5: twice 0.5
        plugin.suspend();
        EXPECT_FALSE(plugin.configure(48000, 0));
        ASSERT_TRUE(plugin.configure(44100, 128));  // while suspended it may be set up anew
        ASSERT_TRUE(plugin.resume());
        // While running it is switched off for it and on again, and runs on.
        const int from = int(effect.log().size());
        ASSERT_TRUE(plugin.configure(48000, kBlock));
        EXPECT_EQ(blocks.run(plugin, 0.25f), std::vector<float>({0.25f, 0.25f}));
        const std::vector<std::string> restart = effect.log();
        const int off = find(restart, "component.setActive 0@U", from);
        const int setUp = find(restart, "processor.setupProcessing 0 256 48000@U", from);
        EXPECT_TRUE(off >= from && off < setUp && setUp < find(restart, "component.setActive 1@U", from))
            << off << " " << setUp;
        plugin.suspend();
        // The same class by its ID, as a performance finds it again.
        Loaded again = load(bundle("Vst3TestGain"), &events, plugin.identity().classId);
        ASSERT_TRUE(again.plugin) << again.failure;
        EXPECT_EQ(Vst3Module::loadedCount(), 1);
    }
    EXPECT_EQ(Vst3Module::loadedCount(), 0);
    const std::vector<std::string> log = effect.log();
    EXPECT_EQ(violations(log), "");
    EXPECT_EQ(effect.live(), 0) << "the host left references to the effect's objects";
    EXPECT_EQ(Vst3HostApplication::liveObjects(), 0) << "messages the host made were left alive";
    EXPECT_EQ(count(log, "InitDll@U"), 1) << "one InitDll for two instances of one module";
    EXPECT_EQ(count(log, "ExitDll@U"), 1);
    // The order of one instance's life.
    const char* const order[] = {"InitDll@U",
                                 "GetPluginFactory@U",
                                 "component.initialize@U",
                                 "component.getControllerClassId@U",
                                 "controller.initialize@U",
                                 "controller.hostName Talvenor Live@U",
                                 "controller.setComponentHandler@U",
                                 "component.connect@U",
                                 "controller.connect@U",
                                 "component.notify hello answer=42 text=hi@U",
                                 "component.getState@U",
                                 "controller.setComponentState@U",
                                 "processor.setBusArrangements 2/2@U",
                                 "controller.getParameterCount@U",
                                 "processor.setupProcessing 0 256 48000@U",
                                 "component.activateBus in 0 1@U",
                                 "component.activateBus in 1 0@U",
                                 "component.activateBus out 0 1@U",
                                 "component.setActive 1@U",
                                 "processor.setProcessing 1@U",
                                 "processor.process 256@A",
                                 "processor.setProcessing 0@U",
                                 "component.setActive 0@U",
                                 "processor.setupProcessing 0 128 44100@U",
                                 "component.disconnect@U",
                                 "controller.disconnect@U",
                                 "controller.setComponentHandler null@U",
                                 "controller.terminate@U",
                                 "component.terminate@U",
                                 "ExitDll@U"};
    int at = 0;
    for (const char* step : order) {
        const int next = find(log, step, at);
        ASSERT_GE(next, 0) << "missing or out of order: " << step;
        at = next;
    }
    EXPECT_EQ(count(log, "processor.process"), 4);  // three blocks, and one after the running set-up
    for (const std::string& line : log)
        EXPECT_FALSE(line.compare(0, 11, "controller.") == 0 && line.back() == 'A') << line;
}

// A parameter moved in the effect's editor reaches the processor in the next block, and
// the host hears of it; the host's own change does the same.
TEST(Vst3Backend, EditsReachTheAudioInTheNextBlock) {
    TestEffect effect(binary("Vst3TestGain"));
    ASSERT_TRUE(effect.ok());
    RecordingEvents events;
    Loaded loaded = load(bundle("Vst3TestGain"), &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& plugin = *loaded.plugin;
    ASSERT_EQ(plugin.parameterCount(), 2) << "the program-change parameter is the programs', not listed";
    EXPECT_EQ(plugin.programCount(), 3);
    char name[64];
    ASSERT_TRUE(plugin.parameterName(0, name, sizeof name));
    EXPECT_STREQ(name, "Gain");
    ASSERT_TRUE(plugin.parameterName(1, name, sizeof name));
    EXPECT_EQ(std::string(name), std::string(63, 'W'));  // a title without its end, cut to ours
    EXPECT_FALSE(plugin.parameterName(2, name, sizeof name));
    auto& vst3 = static_cast<Vst3Plugin&>(plugin);
    EXPECT_TRUE(vst3.parameterUnit(0, name, sizeof name));
    EXPECT_STREQ(name, "x");
    EXPECT_FALSE(vst3.parameterUnit(2, name, sizeof name));
    EXPECT_STREQ(name, "");
    EXPECT_FLOAT_EQ(plugin.parameterValue(0), 0.5f);
    ASSERT_TRUE(plugin.parameterValueText(0, name, sizeof name));
    EXPECT_STREQ(name, "x1.00");

    ASSERT_TRUE(plugin.configure(48000, kBlock));
    ASSERT_TRUE(plugin.resume());
    Blocks blocks(2);
    EXPECT_EQ(blocks.run(plugin, 0.25f)[0], 0.25f);
    ASSERT_EQ(effect.edit(7, 0.25), 0);  // the editor: begin, perform, end
    ASSERT_EQ(events.edits.size(), 1u);
    EXPECT_EQ(events.edits[0].first, 0);
    EXPECT_FLOAT_EQ(events.edits[0].second, 0.25f);
    EXPECT_EQ(blocks.run(plugin, 0.25f)[1], 0.125f);  // twice 0.25
    EXPECT_NE(effect.edit(7, 7.0), 0);                // out of range: refused, nobody told
    EXPECT_EQ(events.edits.size(), 1u);
    EXPECT_EQ(effect.edit(9999, 0.5), 0);              // an ID it never listed: the host is not told
    EXPECT_EQ(events.edits.size(), 1u);
    EXPECT_EQ(blocks.run(plugin, 0.25f)[0], 0.125f);
    // An edit from a thread of the effect's own reaches the next block and the host too.
    onAudioThread([&] { EXPECT_EQ(effect.edit(7, 0.5), 0); });
    ASSERT_EQ(events.edits.size(), 2u);
    EXPECT_EQ(events.edits[1], std::make_pair(int32_t(0), 0.5f));
    EXPECT_EQ(blocks.run(plugin, 0.25f)[0], 0.25f);

    plugin.setParameterValue(0, 1.0f);
    EXPECT_FLOAT_EQ(plugin.parameterValue(0), 1.0f);  // the controller knows at once
    EXPECT_EQ(blocks.run(plugin, 0.25f)[0], 0.5f);    // the processor at the next block
    // The processor's meter (its own output change) reaches the controller at idle.
    EXPECT_GT(events.uiCalls.load(), 0);
    plugin.uiIdle();
    EXPECT_FLOAT_EQ(plugin.parameterValue(1), 0.5f);
    plugin.suspend();

    const std::vector<std::string> log = effect.log();
    EXPECT_EQ(violations(log), "");
    const int edit = find(log, "processor.change 7=0.250 at 0@A");
    ASSERT_GE(edit, 0);
    EXPECT_EQ(count(std::vector<std::string>(log.begin(), log.begin() + edit), "processor.process"), 2)
        << "the edit arrived in the block after it was made";
    EXPECT_GE(find(log, "processor.change 7=1.000 at 0@A"), 0);
    EXPECT_GE(find(log, "controller.setParamNormalized 42=0.500@U"), 0);
}

TEST(Vst3Backend, ProgramsComeFromTheProgramChangeParameter) {
    TestEffect effect(binary("Vst3TestGain"));
    RecordingEvents events;
    Loaded loaded = load(bundle("Vst3TestGain"), &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& plugin = *loaded.plugin;
    ASSERT_EQ(plugin.programCount(), 3);
    char name[32];
    const char* const names[] = {"Clean", "Warm", "Hot"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(plugin.programName(i, name, sizeof name));
        EXPECT_STREQ(name, names[i]);
    }
    EXPECT_FALSE(plugin.programName(3, name, sizeof name));
    EXPECT_EQ(plugin.currentProgram(), 0);
    EXPECT_TRUE(plugin.selectProgram(2));
    EXPECT_EQ(plugin.currentProgram(), 2);
    EXPECT_FALSE(plugin.selectProgram(3));
    EXPECT_EQ(violations(effect.log()), "");
}

// State saved, changed and restored comes back byte for byte; a record that does not
// read, or one the effect refuses, leaves the effect as it was, with a reason.
TEST(Vst3Backend, StateRoundTripsAndBadRecordsChangeNothing) {
    TestEffect effect(binary("Vst3TestGain"));
    RecordingEvents events;
    Loaded loaded = load(bundle("Vst3TestGain"), &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    auto& plugin = static_cast<Vst3Plugin&>(*loaded.plugin);
    ASSERT_TRUE(plugin.configure(48000, kBlock));
    ASSERT_TRUE(plugin.resume());
    Blocks blocks(2);
    plugin.setParameterValue(0, 0.8f);
    blocks.run(plugin, 0.25f);  // the processor takes the value
    ByteRecord saved;
    ASSERT_TRUE(plugin.saveState(saved, nullptr, 0));
    const std::vector<uint8_t> first(saved.data(), saved.data() + saved.size());
    ASSERT_EQ(first.size(), 16u + 24u + 12u);  // header, the component's 24 bytes, the controller's 12

    plugin.setParameterValue(0, 0.1f);
    blocks.run(plugin, 0.25f);
    ASSERT_TRUE(plugin.restoreState(first.data(), first.size())) << plugin.lastFailure();
    EXPECT_NEAR(plugin.parameterValue(0), 0.8f, 1e-6);  // the controller heard the component's state
    EXPECT_NEAR(blocks.run(plugin, 0.25f)[0], 0.4f, 1e-6);
    ByteRecord again;
    ASSERT_TRUE(plugin.saveState(again, nullptr, 0));
    EXPECT_EQ(std::vector<uint8_t>(again.data(), again.data() + again.size()), first);

    // Records that do not read reach the effect not at all.
    effect.clear();
    const uint8_t garbage[20] = {'n', 'o', 't', ' ', 'a', ' ', 's', 't', 'a', 't', 'e'};
    EXPECT_FALSE(plugin.restoreState(garbage, sizeof garbage));
    EXPECT_NE(std::strstr(plugin.lastFailure(), "not a VST3 state record"), nullptr) << plugin.lastFailure();
    EXPECT_FALSE(plugin.restoreState(first.data(), first.size() - 1));
    EXPECT_FALSE(plugin.restoreState(nullptr, 0));
    EXPECT_EQ(find(effect.log(), "component.setState"), -1);

    // A record the effect refuses: it goes back to the state it had.
    plugin.setParameterValue(0, 0.3f);
    blocks.run(plugin, 0.25f);
    ByteRecord before;
    ASSERT_TRUE(plugin.saveState(before, nullptr, 0));
    std::vector<uint8_t> refused = first;
    refused[12] = 'X';  // the component's own magic
    EXPECT_FALSE(plugin.restoreState(refused.data(), refused.size()));
    EXPECT_NE(std::strstr(plugin.lastFailure(), "refused its stored state"), nullptr) << plugin.lastFailure();
    ByteRecord after;
    ASSERT_TRUE(plugin.saveState(after, nullptr, 0));
    EXPECT_EQ(std::vector<uint8_t>(after.data(), after.data() + after.size()),
              std::vector<uint8_t>(before.data(), before.data() + before.size()));
    EXPECT_NEAR(blocks.run(plugin, 0.25f)[0], 0.15f, 1e-6);
    plugin.suspend();
    EXPECT_EQ(violations(effect.log()), "");
}

// restartComponent: latency, parameters and a reload each reach the host as their event;
// a latency also as a restart, since a VST3 effect's new latency holds from its next
// activation.
TEST(Vst3Backend, RestartComponentTellsTheHostWhatChanged) {
    TestEffect effect(binary("Vst3TestGain"));
    RecordingEvents events;
    Loaded loaded = load(bundle("Vst3TestGain"), &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    EXPECT_EQ(loaded.plugin->latencyFrames(), 0);
    ASSERT_EQ(effect.setLatency(128), 0);
    EXPECT_EQ(events.latencyChanges.load(), 1);
    EXPECT_EQ(events.restarts.load(), 1);
    EXPECT_EQ(loaded.plugin->latencyFrames(), 128);
    ASSERT_EQ(effect.setLatency(0x7FFFFFFF), 0);  // absurd: taken as none
    EXPECT_EQ(loaded.plugin->latencyFrames(), 0);
    effect.setLatency(0);

    effect.clear();
    ASSERT_EQ(effect.restart(V3_RESTART_PARAM_TITLES_CHANGED), 0);
    EXPECT_EQ(events.parameterChanges.load(), 1);
    EXPECT_EQ(loaded.plugin->parameterCount(), 2);  // the list is read again
    EXPECT_GE(find(effect.log(), "controller.getParameterCount@U"), 0);
    ASSERT_EQ(effect.restart(V3_RESTART_PARAM_VALUES_CHANGED), 0);
    EXPECT_EQ(events.parameterChanges.load(), 2);
    ASSERT_EQ(effect.restart(V3_RESTART_IO_CHANGED), 0);
    EXPECT_EQ(events.restarts.load(), 4);
    EXPECT_EQ(events.latencyChanges.load(), 3);  // only the three latency changes above
    EXPECT_EQ(violations(effect.log()), "");
}

// The editor in a window of ours: its size, its request for another size, the host's
// resize within the view's constraints; a request from a view not open is refused.
TEST(Vst3Backend, EditorOpensInAWindowAndAsksToResize) {
    TestEffect effect(binary("Vst3TestGain"));
    RecordingEvents events;
    Loaded loaded = load(bundle("Vst3TestGain"), &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& plugin = *loaded.plugin;
    ASSERT_TRUE(plugin.hasEditor());
    HWND parent = CreateWindowExA(0, "STATIC", "editor", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(parent, nullptr);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(plugin.openEditor(parent, &width, &height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 200);
    EXPECT_FALSE(plugin.openEditor(parent, &width, &height));  // one at a time

    EXPECT_EQ(effect.requestResize(500, 400), 0);
    ASSERT_EQ(events.resizes.size(), 1u);
    EXPECT_EQ(events.resizes[0], std::make_pair(500, 400));
    events.grantResize = false;
    EXPECT_NE(effect.requestResize(600, 450), 0);
    EXPECT_NE(effect.requestResize(600, 100000), 0);  // absurd: not passed on
    EXPECT_NE(effect.requestResizeOfStrangeView(300, 300), 0);
    EXPECT_EQ(events.resizes.size(), 2u);

    width = 2000, height = 50;
    EXPECT_TRUE(plugin.resizeEditor(&width, &height));
    EXPECT_EQ(width, 1000);  // the view's constraints
    EXPECT_EQ(height, 100);
    plugin.closeEditor();
    EXPECT_NE(effect.requestResize(500, 400), 0);
    EXPECT_EQ(events.resizes.size(), 2u);
    DestroyWindow(parent);

    const std::vector<std::string> log = effect.log();
    EXPECT_EQ(violations(log), "");
    EXPECT_GE(find(log, "view.onSize 500x400@U"), 0);
    EXPECT_EQ(find(log, "view.onSize 600x450"), -1);
    EXPECT_GE(find(log, "view.onSize 1000x100@U"), 0);
    EXPECT_GE(find(log, "view.removed@U", find(log, "view.onSize 1000x100")), 0);
    EXPECT_GE(find(log, "view.setFrame null@U"), 0);
}

TEST(Vst3Backend, MonoOnlyEffectGetsMonoBuses) {
    TestEffect effect(binary("Vst3TestMono"));
    RecordingEvents events;
    Loaded loaded = load(bundle("Vst3TestMono"), &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& plugin = *loaded.plugin;
    EXPECT_EQ(plugin.inputCount(), 1);
    EXPECT_EQ(plugin.outputCount(), 1);
    ASSERT_TRUE(plugin.configure(48000, kBlock));
    ASSERT_TRUE(plugin.resume());
    Blocks blocks(1);
    EXPECT_EQ(blocks.run(plugin, 0.5f), std::vector<float>({0.5f}));
    plugin.suspend();
    const std::vector<std::string> log = effect.log();
    EXPECT_EQ(violations(log), "");
    EXPECT_LT(find(log, "processor.setBusArrangements 2/2"), find(log, "processor.setBusArrangements 1/1"));
}

// A component that is its own edit controller: one object, initialised once, not
// connected to itself; parameters, edits and state work through it all the same.
TEST(Vst3Backend, AComponentThatIsItsOwnControllerWorksAsOne) {
    TestEffect effect(binary("Vst3TestSingleObject"));
    ASSERT_TRUE(effect.ok());
    RecordingEvents events;
    {
        Loaded loaded = load(bundle("Vst3TestSingleObject"), &events);
        ASSERT_TRUE(loaded.plugin) << loaded.failure;
        auto& plugin = static_cast<Vst3Plugin&>(*loaded.plugin);
        EXPECT_TRUE(plugin.singleObject());
        ASSERT_EQ(plugin.parameterCount(), 2);
        ASSERT_TRUE(plugin.configure(48000, kBlock));
        ASSERT_TRUE(plugin.resume());
        Blocks blocks(2);
        EXPECT_EQ(blocks.run(plugin, 0.25f)[0], 0.25f);
        ASSERT_EQ(effect.edit(7, 0.75), 0);
        EXPECT_EQ(blocks.run(plugin, 0.25f)[0], 0.375f);
        ByteRecord saved;
        ASSERT_TRUE(plugin.saveState(saved, nullptr, 0));
        plugin.setParameterValue(0, 0.0f);
        ASSERT_TRUE(plugin.restoreState(saved.data(), saved.size())) << plugin.lastFailure();
        EXPECT_FLOAT_EQ(plugin.parameterValue(0), 0.75f);
        plugin.suspend();
    }
    const std::vector<std::string> log = effect.log();
    EXPECT_EQ(violations(log), "");
    EXPECT_EQ(count(log, "component.initialize"), 1);
    EXPECT_EQ(find(log, "controller.initialize"), -1);
    EXPECT_EQ(find(log, "controller.connect"), -1);
    EXPECT_EQ(find(log, "component.connect"), -1);
    EXPECT_GE(find(log, "controller.setComponentState@U"), 0);
    EXPECT_EQ(effect.live(), 0);
}

TEST(Vst3Backend, TheSingleFileLayoutLoads) {
    TestEffect effect(kDir + "Vst3TestSingleFile.vst3");
    RecordingEvents events;
    Loaded loaded = load(kDir + "Vst3TestSingleFile.vst3", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    EXPECT_STREQ(loaded.plugin->identity().name, "Talvenor Test Gain");
}

// Every kind of bad input is refused with a reason naming what failed, and leaves no
// module loaded and none of the effect's objects alive.
TEST(Vst3Backend, BadInputIsRefusedWithAReason) {
    struct Case {
        std::string path;
        const char* classId;
        const char* reason;
    };
    const std::string otherArch = std::string(vst3path::kOtherArchitecture);
    const Case cases[] = {
        {bundle("Vst3TestOtherWidth"), "", "holds only a "},
        {bundle("Vst3TestEmptyBundle"), "", "holds no binary for this edition"},
        {bundle("Vst3TestMissing"), "", "did not load"},
        {bundle("Vst3TestNoFactory"), "", "gives no plug-in factory"},
        {bundle("Vst3TestFactoryFails"), "", "component could not be created"},
        {bundle("Vst3TestNoEffect"), "", "names no audio effect class"},
        {bundle("Vst3TestInstrument"), "", "Talvenor Test Gain is an instrument"},
        {bundle("Vst3TestNoController"), "", "edit controller could not be created"},
        {bundle("Vst3TestRefuseBuses"), "", "neither a stereo nor a mono bus arrangement"},
        {bundle("Vst3TestLyingBuses"), "", "neither a stereo nor a mono bus arrangement"},
        {bundle("Vst3TestAbsurd"), "", "out of bounds: the number of parameters"},
        {bundle("Vst3TestGain"), "54414C5647414E310000000000000009", "no audio effect class 54414C56"},
        {bundle("Vst3TestGain"), "not an ID", "no audio effect class not an ID"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string name = c.path.substr(kDir.size(), c.path.size() - kDir.size() - 5);
        TestEffect effect(binary(name.c_str()));
        RecordingEvents events;
        Loaded loaded = load(c.path, &events, c.classId);
        EXPECT_FALSE(loaded.plugin);
        EXPECT_NE(loaded.failure.find(c.reason), std::string::npos) << loaded.failure;
        EXPECT_EQ(Vst3Module::loadedCount(), 0);
        if (effect.ok()) {
            const std::vector<std::string> log = effect.log();
            EXPECT_EQ(violations(log), "");
            EXPECT_EQ(effect.live(), 0) << "the host left references to the effect's objects";
            EXPECT_EQ(count(log, "InitDll"), count(log, "ExitDll"));
        }
    }
    // Every reason is in the string table.
    for (int id = kStrVst3NoBinary; id <= kStrVst3OutOfOrder; ++id) {
        char text[256];
        vst3Reason(text, sizeof text, id, "x", "y");
        EXPECT_EQ(std::strstr(text, "VST3 failure"), nullptr) << id;
    }
    const std::string other = bundle("Vst3TestOtherWidth");
    Loaded loaded = load(other, nullptr);
    EXPECT_NE(loaded.failure.find(otherArch), std::string::npos) << loaded.failure;
    EXPECT_EQ(Vst3HostApplication::liveObjects(), 0);
}

int gCaught = 0;
void countBreach(const char*) { ++gCaught; }

// The host's own rules hold in code: a call out of order is caught and not passed on.
TEST(Vst3Backend, CallsOutOfOrderAreCaughtAndNotPassedOn) {
    TestEffect effect(binary("Vst3TestGain"));
    RecordingEvents events;
    Loaded loaded = load(bundle("Vst3TestGain"), &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& plugin = *loaded.plugin;
    ASSERT_TRUE(plugin.configure(48000, kBlock));
    Vst3ThreadContract::setBreachHandler(&countBreach);
    Blocks blocks(2);
    blocks.run(plugin, 0.25f);  // never resumed
    EXPECT_EQ(gCaught, 1);
    ASSERT_TRUE(plugin.resume());
    float samples[2][kBlock * 2] = {};
    float* io[2] = {samples[0], samples[1]};
    onAudioThread([&] { plugin.process(io, io, kBlock * 2); });  // more than configured
    EXPECT_EQ(gCaught, 2);
    onAudioThread([&] {
        plugin.parameterValue(0);  // the controller from the audio thread
        plugin.setParameterValue(0, 1.0f);
        plugin.suspend();
    });
    EXPECT_EQ(gCaught, 5);
    plugin.suspend();
    Vst3ThreadContract::setBreachHandler(&failOnBreach);
    const std::vector<std::string> log = effect.log();
    EXPECT_EQ(violations(log), "");
    EXPECT_EQ(count(log, "processor.process"), 0);
    EXPECT_EQ(find(log, "controller.getParamNormalized@A"), -1);
}

}  // namespace
