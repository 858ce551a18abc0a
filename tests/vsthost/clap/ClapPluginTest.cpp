// The CLAP backend through the seam, as the effect host will drive it, with the test
// gain effect refereeing every call (order, state, thread). Natively and under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "ClapBackend.h"
#include "ClapPlugin.h"
#include "ClapTestSupport.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr int32_t kFrames = 256;

struct Loaded {
    std::unique_ptr<PluginInstance> plugin;
    std::string failure;
};

Loaded load(const char* module, PluginHostEvents* events, const char* classId = "") {
    ClapBackend backend;
    char failure[256] = "unchanged";
    Loaded out;
    out.plugin.reset(backend.load(clapTestModule(module).c_str(), classId, events, failure, sizeof failure));
    out.failure = failure;
    return out;
}

// Copies a module under another name, given in UTF-8.
bool copyModule(const std::string& from, const std::string& to) {
#ifdef _WIN32
    auto wide = [](const std::string& utf8) {
        std::wstring out(utf8.size() + 1, L'\0');
        const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], int(out.size()));
        out.resize(n > 0 ? size_t(n - 1) : 0);
        return out;
    };
    return CopyFileW(wide(from).c_str(), wide(to).c_str(), FALSE) != 0;
#else
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    return in.good() && out.good();
#endif
}

uint32_t faultsOf(PluginInstance& p) { return static_cast<ClapPlugin&>(p).containedFaults(); }

// A window to embed an editor in: a real one on Windows, a stand-in pointer natively.
class ParentWindow {
public:
    ParentWindow() {
#ifdef _WIN32
        window_ = CreateWindowExA(0, "STATIC", "editor frame", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                  nullptr, nullptr);
#else
        window_ = &stand_;
#endif
    }
    ~ParentWindow() {
#ifdef _WIN32
        if (window_)
            DestroyWindow(static_cast<HWND>(window_));
#endif
    }
    void* handle() const { return window_; }

private:
    void* window_ = nullptr;
    int stand_ = 0;
};

}  // namespace

TEST(ClapBackend, RecognisesClapFilesByName) {
    ClapBackend backend;
    EXPECT_STREQ(backend.formatLabel(), "CLAP");
    EXPECT_TRUE(backend.recognises("C:\\Program Files\\Common Files\\CLAP\\Gain.clap"));
    EXPECT_TRUE(backend.recognises("D:\\plugins\\Surge XT.CLAP"));
    EXPECT_FALSE(backend.recognises("C:\\VST\\Gain.dll"));
    EXPECT_FALSE(backend.recognises("C:\\VST\\Gain.clap.txt"));
    EXPECT_FALSE(backend.recognises("clap"));
}

// The whole life of an effect: the first audio-effect class chosen past an
// instrument, its calls in the format's order on the right threads, audio through it.
TEST(ClapBackend, RunsAnEffectThroughItsLifeInOrder) {
    ClapTestModule module("TestClapGain");
    ASSERT_TRUE(module.ok());
    module.clear();
    RecordingEvents events;
    {
        Loaded loaded = load("TestClapGain", &events);
        ASSERT_TRUE(loaded.plugin) << loaded.failure;
        PluginInstance& p = *loaded.plugin;
        EXPECT_STREQ(p.identity().name, "Test Gain");
        EXPECT_STREQ(p.identity().vendor, "Talvenor tests");
        EXPECT_STREQ(p.identity().format, "CLAP");
        EXPECT_STREQ(p.identity().classId, "talvenor.test.gain");
        EXPECT_EQ(p.inputCount(), 2);
        EXPECT_EQ(p.outputCount(), 2);
        ASSERT_EQ(p.parameterCount(), 2);
        char text[64];
        ASSERT_TRUE(p.parameterName(1, text, sizeof text));
        EXPECT_STREQ(text, "Trim");
        EXPECT_FLOAT_EQ(p.parameterValue(0), 0.5f);  // 1.0 of 0..2
        ASSERT_TRUE(p.parameterValueText(0, text, sizeof text));
        EXPECT_STREQ(text, "1.00 x");
        EXPECT_FALSE(p.parameterName(2, text, sizeof text));
        EXPECT_EQ(p.programCount(), 0);

        TestBlock before(2, kFrames);
        before.run(p);  // not resumed: the plug-in is not called, the input passes
        EXPECT_TRUE(before.scaledBy(1.0));
        ASSERT_TRUE(p.configure(48000.0, kFrames));
        ASSERT_TRUE(p.resume());
        for (int i = 0; i < 3; ++i) {
            TestBlock block(2, i == 1 ? 100 : kFrames);
            block.run(p);
            EXPECT_TRUE(block.scaledBy(1.0));
        }
        p.suspend();
        ASSERT_TRUE(p.resume());  // a second run starts processing again
        TestBlock again(2, kFrames);
        again.run(p);
        EXPECT_TRUE(again.scaledBy(1.0));
        p.suspend();
        EXPECT_EQ(faultsOf(p), 0u);
    }
    const auto log = module.log();
    EXPECT_TRUE(inOrder(log, {"entry.init", "create", "init", "audio_ports.count", "activate", "start_processing",
                              "process", "stop_processing", "deactivate", "activate", "start_processing", "process",
                              "stop_processing", "deactivate", "destroy", "entry.deinit"}));
    EXPECT_EQ(countOf(log, "entry.init"), 1);
    EXPECT_EQ(module.faults(), "");
}

// A value set on the UI thread between two blocks is heard from the first sample of
// the next block, not before; while suspended it reaches the plug-in at once.
TEST(ClapBackend, HostParameterChangeReachesTheNextBlock) {
    ClapTestModule module("TestClapGain");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapGain", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    ASSERT_TRUE(p.configure(44100.0, kFrames));
    ASSERT_TRUE(p.resume());
    TestBlock first(2, kFrames);
    first.run(p);
    p.setParameterValue(0, 0.25f);  // 0.5 of 0..2
    EXPECT_TRUE(first.scaledBy(1.0));
    TestBlock second(2, kFrames);
    second.run(p);
    EXPECT_TRUE(second.scaledBy(0.5));
    p.setParameterValue(1, 0.75f);  // trim: 6 dB of -12..12, in the same block as gain
    p.setParameterValue(0, 0.75f);
    TestBlock third(2, kFrames);
    third.run(p);
    EXPECT_TRUE(third.scaledBy(1.5));
    p.suspend();
    char text[64];
    ASSERT_TRUE(p.parameterValueText(1, text, sizeof text));
    EXPECT_STREQ(text, "+6 dB");

    p.setParameterValue(0, 1.0f);  // suspended: flushed on this thread
    EXPECT_FLOAT_EQ(p.parameterValue(0), 1.0f);
    p.setParameterValue(0, -3.0f);  // clamped to the range
    EXPECT_FLOAT_EQ(p.parameterValue(0), 0.0f);
    EXPECT_TRUE(events.edits.empty());  // the host's own changes are not echoed back
    EXPECT_EQ(faultsOf(p), 0u);
    EXPECT_EQ(module.faults(), "");
}

// A knob turned in the plug-in's editor: heard in the next block, and the host told
// (from the audio thread while processing, from a flush on the UI thread when not).
TEST(ClapBackend, EditorChangeIsHeardAtTheNextBlockAndReported) {
    ClapTestModule module("TestClapGain");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapGain", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    ASSERT_TRUE(p.configure(48000.0, kFrames));
    ASSERT_TRUE(p.resume());
    TestBlock first(2, kFrames);
    first.run(p);
    module.editorMoves(1.5);
    EXPECT_TRUE(first.scaledBy(1.0));
    EXPECT_TRUE(events.edits.empty());
    TestBlock second(2, kFrames);
    second.run(p);
    EXPECT_TRUE(second.scaledBy(1.5));
    ASSERT_EQ(events.edits.size(), 1u);
    EXPECT_EQ(events.edits[0].index, 0);
    EXPECT_FLOAT_EQ(events.edits[0].value, 0.75f);
    p.suspend();

    module.editorMoves(0.5);  // suspended: the plug-in asks for a flush
    EXPECT_EQ(events.uiCalls, 1);
    EXPECT_EQ(events.edits.size(), 1u);
    p.uiIdle();
    ASSERT_EQ(events.edits.size(), 2u);
    EXPECT_FLOAT_EQ(events.edits[1].value, 0.25f);
    EXPECT_FLOAT_EQ(p.parameterValue(0), 0.25f);
    EXPECT_EQ(countOf(module.log(), "params.flush"), 1);
    EXPECT_EQ(module.faults(), "");
}

// State saved, restored into a second instance of the same module and saved again is
// the same bytes; a state that does not read leaves the plug-in as it was.
TEST(ClapBackend, StateRoundTripsByteForByteAndABadStateChangesNothing) {
    ClapTestModule module("TestClapGain");
    module.clear();
    RecordingEvents events;
    Loaded a = load("TestClapGain", &events);
    ASSERT_TRUE(a.plugin) << a.failure;
    a.plugin->setParameterValue(0, 0.3f);
    a.plugin->setParameterValue(1, 0.25f);
    ByteRecord saved;
    ASSERT_TRUE(a.plugin->saveState(saved, nullptr, 0));
    EXPECT_EQ(saved.size(), 2020u);

    Loaded b = load("TestClapGain", &events);  // the module is shared, its entry started once
    ASSERT_TRUE(b.plugin) << b.failure;
    EXPECT_EQ(countOf(module.log(), "entry.init"), 1);
    ASSERT_TRUE(b.plugin->restoreState(saved.data(), saved.size()));
    EXPECT_EQ(events.parameterChanges, 1);
    ByteRecord again;
    ASSERT_TRUE(b.plugin->saveState(again, nullptr, 0));
    ASSERT_EQ(again.size(), saved.size());
    EXPECT_EQ(std::memcmp(again.data(), saved.data(), saved.size()), 0);
    EXPECT_FLOAT_EQ(b.plugin->parameterValue(0), a.plugin->parameterValue(0));
    EXPECT_FLOAT_EQ(b.plugin->parameterValue(1), 0.25f);

    std::vector<uint8_t> broken(saved.data(), saved.data() + saved.size());
    broken[1000] ^= 0xFF;
    EXPECT_FALSE(b.plugin->restoreState(broken.data(), broken.size()));
    EXPECT_FALSE(b.plugin->restoreState(saved.data(), 100));  // cut short
    EXPECT_FALSE(b.plugin->restoreState(nullptr, 0));
    ByteRecord after;
    ASSERT_TRUE(b.plugin->saveState(after, nullptr, 0));
    ASSERT_EQ(after.size(), saved.size());
    EXPECT_EQ(std::memcmp(after.data(), saved.data(), saved.size()), 0);
    EXPECT_EQ(events.parameterChanges, 1);

    a.plugin.reset();
    EXPECT_EQ(countOf(module.log(), "entry.deinit"), 0);  // b still lives
    b.plugin.reset();
    EXPECT_EQ(countOf(module.log(), "entry.deinit"), 1);
    EXPECT_EQ(module.faults(), "");
}

// Latency changes at once while inactive; while active through a restart, after which
// the new latency is read.
TEST(ClapBackend, LatencyChangeIsReadAtOnceOrAfterARestart) {
    ClapTestModule module("TestClapGain");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapGain", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    EXPECT_EQ(p.latencyFrames(), 0);
    module.changeLatency(64);
    EXPECT_EQ(events.latencyChanges, 1);
    EXPECT_EQ(p.latencyFrames(), 64);

    ASSERT_TRUE(p.configure(48000.0, kFrames));
    ASSERT_TRUE(p.resume());
    TestBlock block(2, kFrames);
    block.run(p);
    module.changeLatency(128);
    EXPECT_EQ(events.restarts, 1);
    EXPECT_EQ(p.latencyFrames(), 64);
    p.suspend();  // the restart, as the host makes it
    ASSERT_TRUE(p.resume());
    EXPECT_EQ(p.latencyFrames(), 128);
    block.run(p);
    p.suspend();
    EXPECT_EQ(faultsOf(p), 0u);
    EXPECT_EQ(module.faults(), "");
}

// The editor embedded in the host's window, sized by the plug-in, resized through its
// own adjustment, and its request for another size passed to the host.
TEST(ClapBackend, EditorEmbedsResizesAndAsksForASize) {
    ClapTestModule module("TestClapGain");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapGain", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    ParentWindow parent;
    ASSERT_TRUE(parent.handle());
    ASSERT_TRUE(p.hasEditor());
    int32_t w = 0, h = 0;
    ASSERT_TRUE(p.openEditor(parent.handle(), &w, &h));
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(module.editorParent(), parent.handle());
#ifdef _WIN32
    ASSERT_TRUE(module.editorChild());
    EXPECT_EQ(GetParent(static_cast<HWND>(module.editorChild())), static_cast<HWND>(parent.handle()));
#endif
    w = 455;
    h = 333;
    EXPECT_TRUE(p.resizeEditor(&w, &h));
    EXPECT_EQ(w, 450);
    EXPECT_EQ(h, 330);
    EXPECT_TRUE(module.requestResize(640, 480));
    events.acceptResize = false;
    EXPECT_FALSE(module.requestResize(800, 600));
    EXPECT_FALSE(module.requestResize(0, 100000));  // absurd: not passed on
    ASSERT_EQ(events.resizes.size(), 2u);
    EXPECT_EQ(events.resizes[0], std::make_pair(640, 480));
    p.closeEditor();
    p.closeEditor();  // once is enough
    EXPECT_TRUE(inOrder(module.log(), {"gui.is_api_supported", "gui.create", "gui.get_size", "gui.set_parent",
                                       "gui.show", "gui.adjust_size", "gui.set_size", "size 450x330", "gui.hide",
                                       "gui.destroy"}));
    EXPECT_EQ(countOf(module.log(), "gui.destroy"), 1);
    EXPECT_EQ(module.faults(), "");
}

// request_callback from any thread becomes one on_main_thread call in the next uiIdle.
TEST(ClapBackend, CallbackRequestIsAnsweredInUiIdle) {
    ClapTestModule module("TestClapGain");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapGain", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    std::thread other([&] { module.requestCallback(); });
    other.join();
    EXPECT_EQ(events.uiCalls, 1);
    EXPECT_EQ(countOf(module.log(), "on_main_thread"), 0);
    loaded.plugin->uiIdle();
    loaded.plugin->uiIdle();
    EXPECT_EQ(countOf(module.log(), "on_main_thread"), 1);
    EXPECT_EQ(module.faults(), "");
}

TEST(ClapBackend, MonoOnlyEffectGetsOneChannel) {
    ClapTestModule module("TestClapGainMono");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapGainMono", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    EXPECT_EQ(p.inputCount(), 1);
    EXPECT_EQ(p.outputCount(), 1);
    ASSERT_TRUE(p.configure(48000.0, kFrames));
    ASSERT_TRUE(p.resume());
    p.setParameterValue(0, 0.1f);
    TestBlock block(1, kFrames);
    block.run(p);
    EXPECT_TRUE(block.scaledBy(0.2));
    // In place, as the host's chain calls it: the plug-in gets a copy of the input.
    std::vector<float> samples(kFrames, 0.5f);
    float* channel[1] = {samples.data()};
    std::thread audio([&] { p.process(channel, channel, kFrames); });
    audio.join();
    EXPECT_FLOAT_EQ(samples[0], 0.1f);
    EXPECT_FLOAT_EQ(samples[kFrames - 1], 0.1f);
    p.suspend();
    EXPECT_EQ(module.faults(), "");
}

// A side input beyond the main one hears silence; a plug-in that may work in place
// is given the host's buffers as they are.
TEST(ClapBackend, SideInputIsSilentAndInPlaceIsPassedThrough) {
    ClapTestModule module("TestClapSidechain");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapSidechain", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    EXPECT_EQ(p.inputCount(), 2);
    ASSERT_TRUE(p.configure(48000.0, kFrames));
    ASSERT_TRUE(p.resume());
    TestBlock apart(2, kFrames);
    apart.run(p);
    EXPECT_TRUE(apart.scaledBy(1.0));
    EXPECT_EQ(countOf(module.log(), "in place"), 0);
    p.setParameterValue(0, 1.0f);
    std::vector<float> left(kFrames, 0.25f), right(kFrames, -0.25f);
    float* channels[2] = {left.data(), right.data()};
    std::thread audio([&] { p.process(channels, channels, kFrames); });
    audio.join();
    EXPECT_FLOAT_EQ(left[7], 0.5f);
    EXPECT_FLOAT_EQ(right[kFrames - 1], -0.5f);
    EXPECT_EQ(countOf(module.log(), "in place"), 1);
    p.suspend();
    EXPECT_EQ(module.faults(), "");
}

// Every way a module can fail to give an effect is refused with a reason naming what
// failed, and the module is left as the rules ask (deinit after a good init, destroy
// after a create, nothing after a failed init).
TEST(ClapBackend, RefusesBadModulesWithAReason) {
    struct Case {
        const char* module;
        const char* classId;
        const char* reason;
        bool entryStarted;
    };
    const Case cases[] = {
        {"TestClapNoEntry", "", "exports no clap_entry", false},
        {"TestClapDevVersion", "", "built for CLAP 0.", false},
        {"TestClapEntryInitFails", "", "refused to start", false},
        {"TestClapNoFactory", "", "offers no plug-in factory", true},
        {"TestClapInstrument", "", "holds no audio effect", true},
        {"TestClapInstrument", "talvenor.test.gain", "\"talvenor.test.gain\" is an instrument", true},
        {"TestClapGain", "talvenor.test.synth", "\"talvenor.test.synth\" is an instrument", true},
        {"TestClapGain", "no.such.id", "no plug-in with the id \"no.such.id\"", true},
        {"TestClapCreateFails", "", "failed to create the plug-in \"talvenor.test.gain\"", true},
        {"TestClapInitFails", "", "failed to initialise", true},
        {"TestClapSixChannels", "", "6 channels in and 6 out", true},
        {"TestClapPortsFail", "", "input port 0 gives no information", true},
        {"TestClapParamFlood", "", "counts 2147483647 parameters", true},
        {"TestClapPortFlood", "", "counts 1000000 input ports", true},
        {"TestClapDuplicateIds", "", "two parameters have the id 7", true},
        {"TestClapNoProcess", "", "lacks a function every CLAP plug-in has (process)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.module) + " " + c.classId);
        ClapTestModule module(c.module);
        ASSERT_TRUE(module.ok());
        module.clear();
        RecordingEvents events;
        Loaded loaded = load(c.module, &events, c.classId);
        EXPECT_FALSE(loaded.plugin);
        EXPECT_NE(loaded.failure.find(c.reason), std::string::npos) << loaded.failure;
        const auto log = module.log();
        EXPECT_EQ(countOf(log, "entry.deinit"), c.entryStarted ? 1 : 0);
        EXPECT_EQ(countOf(log, "create"), countOf(log, "destroy") + (std::string(c.module) == "TestClapCreateFails"));
        EXPECT_EQ(countOf(log, "activate"), 0);
        EXPECT_EQ(module.faults(), "");
    }
}

TEST(ClapBackend, RefusesAFileThatIsNoModule) {
    const std::string path = clapTestModule("NotAModule");
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    std::fputs("this is text, not a CLAP module\n", file);
    std::fclose(file);
    ClapBackend backend;
    RecordingEvents events;
    char failure[256] = "";
    EXPECT_EQ(backend.load(path.c_str(), "", &events, failure, sizeof failure), nullptr);
    EXPECT_NE(std::string(failure).find("not a loadable module"), std::string::npos) << failure;
    EXPECT_EQ(backend.load((path + ".missing.clap").c_str(), "", &events, failure, sizeof failure), nullptr);
    EXPECT_NE(std::string(failure).find("not a loadable module"), std::string::npos) << failure;
}

// An effect that will not activate: resume says so, the audio passes untouched and no
// processing call is made; it is released in order.
TEST(ClapBackend, EffectThatWillNotActivateIsContained) {
    ClapTestModule module("TestClapActivateFails");
    module.clear();
    RecordingEvents events;
    {
        Loaded loaded = load("TestClapActivateFails", &events);
        ASSERT_TRUE(loaded.plugin) << loaded.failure;
        ASSERT_TRUE(loaded.plugin->configure(48000.0, kFrames));
        EXPECT_FALSE(loaded.plugin->resume());
        EXPECT_STREQ(loaded.plugin->lastFailure(), ("it refused to start at 48000 Hz and " +
                                                    std::to_string(kFrames) + " frames").c_str());
        EXPECT_FALSE(loaded.plugin->configure(48000.0, 0));
        EXPECT_STREQ(loaded.plugin->lastFailure(), "the rate or block size is outside what Talvenor Live hosts");
        TestBlock block(2, kFrames);
        block.run(*loaded.plugin);
        EXPECT_TRUE(block.scaledBy(1.0));
        loaded.plugin->suspend();
    }
    const auto log = module.log();
    EXPECT_EQ(countOf(log, "start_processing"), 0);
    EXPECT_EQ(countOf(log, "deactivate"), 0);
    EXPECT_TRUE(inOrder(log, {"activate", "destroy", "entry.deinit"}));
    EXPECT_EQ(module.faults(), "");
}

// Unterminated texts are cut to their fields; malformed output events, unknown ids,
// an absurd latency and host calls from the wrong thread are refused and counted,
// while the audio goes on.
TEST(ClapBackend, AbsurdAnswersAreCutOrRefused) {
    ClapTestModule module("TestClapAbsurd");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapAbsurd", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    EXPECT_EQ(std::string(p.identity().vendor), std::string(63, 'V'));
    char name[300];
    ASSERT_TRUE(p.parameterName(0, name, sizeof name));
    EXPECT_EQ(std::string(name), std::string(127, 'A'));
    char text[16];
    ASSERT_TRUE(p.parameterValueText(0, text, sizeof text));
    EXPECT_EQ(std::string(text), std::string(15, 'B'));
    EXPECT_EQ(p.latencyFrames(), 0);
    ASSERT_TRUE(p.configure(48000.0, kFrames));
    ASSERT_TRUE(p.resume());
    TestBlock block(2, kFrames);
    block.run(p);
    EXPECT_TRUE(block.scaledBy(1.0));
    p.suspend();
    EXPECT_TRUE(events.edits.empty());
    // Main-thread calls made from the audio thread changed nothing.
    EXPECT_EQ(events.latencyChanges, 0);
    EXPECT_EQ(events.parameterChanges, 0);
    EXPECT_EQ(events.uiCalls, 0);
    EXPECT_EQ(p.parameterCount(), 2);
    // The block's null event, absurd size, short value and unknown id, its three calls
    // from the wrong thread, and the latency read at load and at resume.
    EXPECT_EQ(faultsOf(p), 9u);
    EXPECT_EQ(module.faults(), "");
}

// Extensions whose functions are null count as absent: no parameters, no editor, no
// state, no latency, and the effect still runs.
TEST(ClapBackend, ExtensionsWithNullFunctionsCountAsAbsent) {
    ClapTestModule module("TestClapHollowExtensions");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapHollowExtensions", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    EXPECT_EQ(p.parameterCount(), 0);
    EXPECT_FALSE(p.hasEditor());
    ParentWindow parent;
    int32_t w = 0, h = 0;
    EXPECT_FALSE(p.openEditor(parent.handle(), &w, &h));
    ByteRecord state;
    EXPECT_FALSE(p.saveState(state, nullptr, 0));
    const uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_FALSE(p.restoreState(bytes, sizeof bytes));
    EXPECT_EQ(p.latencyFrames(), 0);
    p.setParameterValue(0, 0.5f);
    ASSERT_TRUE(p.configure(48000.0, kFrames));
    ASSERT_TRUE(p.resume());
    TestBlock block(2, kFrames);
    block.run(p);
    EXPECT_TRUE(block.scaledBy(1.0));
    p.suspend();
    EXPECT_EQ(module.faults(), "");
}

// The seam's UI-thread members called from another thread never reach the plug-in.
TEST(ClapBackend, UiThreadCallsFromAnotherThreadAreRefused) {
    ClapTestModule module("TestClapGain");
    module.clear();
    RecordingEvents events;
    Loaded loaded = load("TestClapGain", &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    PluginInstance& p = *loaded.plugin;
    ClapPlugin& clap = static_cast<ClapPlugin&>(p);
    ParentWindow parent;
    std::thread other([&] {
        EXPECT_FALSE(p.configure(48000.0, kFrames));
        EXPECT_FALSE(p.resume());
        p.setParameterValue(0, 1.0f);
        ByteRecord state;
        EXPECT_FALSE(p.saveState(state, nullptr, 0));
        int32_t w = 0, h = 0;
        EXPECT_FALSE(p.openEditor(parent.handle(), &w, &h));
        p.uiIdle();
    });
    other.join();
    EXPECT_EQ(clap.refusedOffThreadCalls(), 6u);
    EXPECT_FLOAT_EQ(p.parameterValue(0), 0.5f);
    const auto log = module.log();
    EXPECT_EQ(countOf(log, "activate"), 0);
    EXPECT_EQ(countOf(log, "state.save"), 0);
    EXPECT_EQ(countOf(log, "gui.create"), 0);
    ASSERT_TRUE(p.configure(48000.0, kFrames));  // from its own thread all is well
    ASSERT_TRUE(p.resume());
    p.suspend();
    EXPECT_EQ(module.faults(), "");
}

// Paths are UTF-8: a module in a folder of any language loads.
TEST(ClapBackend, LoadsAModuleWhosePathIsNotAscii) {
    const char* name = "Test Gain \xC3\xA9\xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC";  // "é ü 日本"
    ASSERT_TRUE(copyModule(clapTestModule("TestClapGain"), clapTestModule(name)));
    RecordingEvents events;
    Loaded loaded = load(name, &events);
    ASSERT_TRUE(loaded.plugin) << loaded.failure;
    EXPECT_STREQ(loaded.plugin->identity().name, "Test Gain");
    ClapTestModule module(name);
    ASSERT_TRUE(module.ok());
    EXPECT_EQ(countOf(module.log(), "entry.init"), 1);
    loaded.plugin.reset();
    EXPECT_EQ(module.faults(), "");
}
