// The effect host with more than one format: a backend of the test's own beside
// VST 2, as CLAP or VST 3 will sit there. Loading picks the backend by the path,
// the scan asks every backend, and the host reaches the plug-in only through the
// seam, its calls checked for their thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EffectHost.h"
#include "PluginScan.h"
#include "ScratchNames.h"
#include "ThreadCheckedPlugin.h"
#include "WinInclude.h"

namespace {

const std::string kBin = TALVENOR_BIN_DIR;

// A stereo gain of two, in process, with one parameter and its state as four bytes.
class GainInstance final : public PluginInstance {
public:
    explicit GainInstance(PluginHostEvents* events) : events_(events) {
        std::snprintf(identity_.name, sizeof identity_.name, "Test Gain");
        std::snprintf(identity_.format, sizeof identity_.format, "TEST");
        std::snprintf(identity_.classId, sizeof identity_.classId, "gain");
    }
    const PluginIdentity& identity() const override { return identity_; }
    int32_t inputCount() const override { return 2; }
    int32_t outputCount() const override { return 2; }
    bool configure(double rate, int32_t frames) override {
        rate_ = rate, frames_ = frames;
        return true;
    }
    bool resume() override { return ++resumes, active = true; }
    void suspend() override { ++suspends, active = false; }
    int32_t latencyFrames() const override { return latency; }
    void process(float* const* in, float* const* out, int32_t frames) override {
        if (!active.load())
            ++processedInactive;
        if (askRestartFromProcess.exchange(false))
            events_->restartRequested();
        inPlace = in[0] == out[0] && in[1] == out[1];
        for (int ch = 0; ch < 2; ++ch)
            for (int32_t i = 0; i < frames; ++i)
                out[ch][i] = in[ch][i] * 2.0f * value_;
    }
    int32_t parameterCount() const override { return parameters; }
    bool parameterName(int32_t, char* text, size_t size) const override {
        return std::snprintf(text, size, "Gain") > 0;
    }
    float parameterValue(int32_t) const override { return value_; }
    bool parameterValueText(int32_t, char* text, size_t size) const override {
        return std::snprintf(text, size, "%.2f", double(value_)) > 0;
    }
    void setParameterValue(int32_t, float value) override { value_ = value; }
    int32_t programCount() const override { return 0; }
    bool programName(int32_t, char*, size_t) const override { return false; }
    int32_t currentProgram() const override { return 0; }
    bool selectProgram(int32_t) override { return true; }
    bool saveState(ByteRecord& record, char*, size_t) override {
        record.clear();
        return record.append(&value_, sizeof value_);
    }
    bool restoreState(const uint8_t* data, size_t size) override {
        if (size != sizeof value_)
            return false;
        std::memcpy(&value_, data, size);
        return true;
    }
    bool hasEditor() const override { return false; }
    bool openEditor(void*, int32_t*, int32_t*) override { return false; }
    void closeEditor() override {}
    bool resizeEditor(int32_t*, int32_t*) override { return false; }
    void uiIdle() override {}

    PluginHostEvents* events_;
    double rate_ = 0.0;
    int32_t frames_ = 0;
    int resumes = 0, suspends = 0;
    bool inPlace = false;
    std::atomic<bool> active{false}, askRestartFromProcess{false};
    std::atomic<int> processedInactive{0};
    int32_t latency = 0, parameters = 1;

private:
    PluginIdentity identity_{};
    float value_ = 0.5f;
};

// "*.tst" files are its own, "*.bnd" folders are bundles; "broken.tst" fails to load.
class TestBackend final : public PluginFormatBackend {
public:
    const char* formatLabel() const override { return "TEST"; }
    bool recognises(const char* path) const override { return endsWith(path, ".tst") || endsWith(path, ".bnd"); }
    bool isBundle(const char* path) const override { return endsWith(path, ".bnd"); }
    bool scanFolder(int32_t index, char* path, size_t size) const override {
        return index == 0 && !extraFolder.empty() && std::snprintf(path, size, "%s", extraFolder.c_str()) > 0;
    }
    PluginInstance* load(const char* path, const char* classId, PluginHostEvents* events, char* failure,
                         size_t size) override {
        lastClassId = classId;
        if (endsWith(path, "broken.tst")) {
            std::snprintf(failure, size, "the test file is broken");
            return nullptr;
        }
        loaded = new GainInstance(events);
        return loaded;
    }
    static bool endsWith(const std::string& text, const std::string& end) {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    }
    std::string extraFolder;
    std::string lastClassId;
    GainInstance* loaded = nullptr;
};

std::vector<std::string> g_violations;
void noteViolation(const char* member) { g_violations.emplace_back(member); }

void makeFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fclose(f);
}

}  // namespace

TEST(EffectHostBackends, LoadingPicksTheBackendThatRecognisesThePath) {
    EffectHost host;
    TestBackend backend;
    ASSERT_EQ(host.backendCount(), 3);
    EXPECT_STREQ(host.backend(0)->formatLabel(), "VST 2");
    EXPECT_STREQ(host.backend(1)->formatLabel(), "VST3");
    EXPECT_STREQ(host.backend(2)->formatLabel(), "CLAP");
    ASSERT_TRUE(host.registerBackend(&backend));
    TestBackend sameLabel;
    EXPECT_FALSE(host.registerBackend(&sameLabel)) << "one backend per format";
    EXPECT_EQ(host.backendFor("C:\\x\\Overdrive.dll"), host.backend(0));
    EXPECT_EQ(host.backendFor("C:\\x\\Gain.tst"), &backend);
    EXPECT_EQ(host.backendFor("C:\\x\\Gain.vst3"), host.backend(1));
    EXPECT_EQ(host.backendFor("C:\\x\\Gain.clap"), host.backend(2));
    EXPECT_EQ(host.backendFor("C:\\x\\Gain.lv2"), nullptr);

    // Loaded, configured and resumed through the seam, the class named.
    host.setSampleRate(48000.0f);
    EffectSlot* slot = host.loadPluginClass("C:\\x\\Gain.tst", nullptr, "gain");
    ASSERT_NE(slot, nullptr) << host.lastLoadFailure();
    EXPECT_EQ(backend.lastClassId, "gain");
    EXPECT_EQ(backend.loaded->rate_, 48000.0);
    EXPECT_EQ(backend.loaded->frames_, 1024);
    EXPECT_EQ(backend.loaded->resumes, 1);
    EXPECT_STREQ(host.formatOf(slot), "TEST");
    char name[32];
    ASSERT_TRUE(host.effectName(slot, name));
    EXPECT_STREQ(name, "Test Gain");
    ASSERT_EQ(slot->parameterCount, 1);
    EXPECT_EQ(slot->parameters[0], 0.5f);

    // Matching channels are processed in place.
    float left[16], right[16];
    for (int i = 0; i < 16; ++i)
        left[i] = right[i] = float(i);
    float* live[2] = {left, right};
    host.processSlot(slot, live, 2, 16);
    EXPECT_TRUE(backend.loaded->inPlace);
    EXPECT_EQ(left[3], 3.0f);
    // A bypassed position suspends it; its state travels in the blob like any other.
    host.setSlotActive(slot, false);
    EXPECT_EQ(backend.loaded->suspends, 1);
    const uint8_t* blob = nullptr;
    const int32_t length = host.buildStateBlob(&blob);
    ASSERT_EQ(length, int32_t(8 + std::strlen(slot->path) + 4 + 19));
    const float three = 0.75f;
    ASSERT_TRUE(host.restoreState(slot, reinterpret_cast<const uint8_t*>(&three), sizeof three));
    EXPECT_EQ(slot->parameters[0], 0.75f) << "the host's copy follows";

    // Failures name the path and the backend's reason, or that no format reads it.
    EXPECT_EQ(host.loadPlugin(-1, "C:\\x\\broken.tst"), nullptr);
    EXPECT_STREQ(host.lastLoadFailure(), "C:\\x\\broken.tst: the test file is broken");
    EXPECT_EQ(host.loadPlugin(-1, "C:\\x\\Gain.lv2"), nullptr);
    EXPECT_STREQ(host.lastLoadFailure(), "C:\\x\\Gain.lv2: no plug-in format of this program reads such a file");
    EXPECT_EQ(host.loadPluginClass("C:\\x\\Gain.lv2", "LV2", ""), nullptr);
    EXPECT_STREQ(host.lastLoadFailure(), "C:\\x\\Gain.lv2: this edition of Talvenor Live has no LV2 support");
    // One that loads and will not start says why, as the format tells it.
    const std::string wontStart = kBin + "test-clap\\TestClapActivateFails.clap";
    EXPECT_EQ(host.loadPlugin(-1, wontStart.c_str()), nullptr);
    EXPECT_EQ(std::string(host.lastLoadFailure()), wontStart + ": it refused to start at 48000 Hz and 1024 frames");
    host.unloadAllSlots();
}

// The scan asks every backend which entries are its own, walks into no bundle, and
// lists a plug-in of one name in two formats twice, each with its format. A VST 2
// plug-in and a CLAP one side by side look the same to it.
TEST(EffectHostBackends, TheScanListsEveryFormatsOwnFiles) {
    EffectHost host;
    TestBackend backend;
    ASSERT_TRUE(host.registerBackend(&backend));
    RunScratchFolder user("scan-formats"), extra("scan-formats-extra");
    const std::string dir = user.path() + "\\";
    ASSERT_TRUE(CreateDirectoryA((dir + "Echo.bnd").c_str(), nullptr));
    makeFile(dir + "Echo.bnd\\inside.dll");  // inside a bundle: not a plug-in of its own
    makeFile(dir + "Echo.dll");
    makeFile(dir + "Echo.tst.txt");
    makeFile(extra.path() + "\\Gain.tst");
    backend.extraFolder = extra.path() + "\\";

    PluginScan scan;
    scan.host = &host;
    std::snprintf(scan.vstDir, sizeof scan.vstDir, "%s", dir.c_str());
    ASSERT_TRUE(rescanPlugins(scan));
    std::vector<std::string> listed;
    for (const PluginEntry* e = host.pluginList(); e; e = e->next)
        listed.push_back(std::string(e->path).substr(std::string(e->path).rfind('\\') + 1) + " " + e->format);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"Echo.bnd TEST", "Echo.dll VST 2", "Gain.tst TEST"}));
    EXPECT_EQ(scan.count, 3);
    EXPECT_EQ(backend.loaded, nullptr) << "the scan loads nothing";
    host.clearPluginList();
    DeleteFileA((dir + "Echo.bnd\\inside.dll").c_str());
    RemoveDirectoryA((dir + "Echo.bnd").c_str());
}

// A plug-in loaded by the real host is called from another thread: the call is
// caught and named; the host's own calls through the real path were not.
TEST(EffectHostBackends, CallsFromAnotherThreadAreCaught) {
    g_violations.clear();
    const ThreadCheckedPlugin::ViolationHandler previous = ThreadCheckedPlugin::setViolationHandler(noteViolation);
    {
        EffectHost host;
        EffectSlot* slot = host.loadPlugin(-1, (kBin + "VST Plugins\\Overdrive.dll").c_str());
        ASSERT_NE(slot, nullptr) << host.lastLoadFailure();
        const uint8_t* blob = nullptr;
        EXPECT_GT(host.buildStateBlob(&blob), 8);
        float samples[64] = {};
        float* live[1] = {samples};
        std::thread([&] { host.processSlot(slot, live, 1, 64); }).join();
        EXPECT_TRUE(g_violations.empty()) << g_violations.front();

        ByteRecord state;
        std::thread([&] { slot->plugin->saveState(state, nullptr, 0); }).join();
        ASSERT_EQ(g_violations.size(), 1u);
        EXPECT_EQ(g_violations[0], "saveState");
    }
    ThreadCheckedPlugin::setViolationHandler(previous);
    EXPECT_EQ(g_violations.size(), 1u) << "unloading keeps the rules";
}

// What a plug-in asks of its host from any thread is acted on at the UI thread's next
// call: a restart is made with the plug-in out of processing while the driver thread
// goes on around it, then its latency and parameter list are read again; an answer
// that is not believed leaves the host's copy as it was.
TEST(EffectHostBackends, WhatAPluginAsksForIsDoneOnTheUiThreadOutOfProcessing) {
    g_violations.clear();
    const ThreadCheckedPlugin::ViolationHandler previous = ThreadCheckedPlugin::setViolationHandler(noteViolation);
    {
        EffectHost host;
        TestBackend backend;
        ASSERT_TRUE(host.registerBackend(&backend));
        EffectSlot* slot = host.loadPluginClass("C:\\x\\Gain.tst", nullptr, "gain");
        ASSERT_NE(slot, nullptr) << host.lastLoadFailure();
        GainInstance& gain = *backend.loaded;
        EXPECT_EQ(host.serviceSlot(slot), 0) << "nothing was asked";

        std::atomic<bool> driving{true};
        std::atomic<long> blocks{0};
        std::thread driver([&] {
            float left[64], right[64];
            float* live[2] = {left, right};
            while (driving.load()) {
                host.processSlot(slot, live, 2, 64);
                ++blocks;
            }
        });
        auto blocksPass = [&] {
            const long from = blocks.load();
            while (blocks.load() < from + 50)
                std::this_thread::yield();
        };
        blocksPass();
        // Asked from the driver thread while processing, done here. The latency and
        // the longer parameter list come with it.
        gain.latency = 96;
        gain.parameters = 3;
        gain.askRestartFromProcess = true;
        while (gain.askRestartFromProcess.load())
            std::this_thread::yield();
        const uint8_t restarted = host.serviceSlot(slot);
        EXPECT_EQ(restarted, EffectSlot::kNewsRestart | EffectSlot::kNewsLatency | EffectSlot::kNewsParameters);
        EXPECT_EQ(gain.suspends, 1);
        EXPECT_EQ(gain.resumes, 2);
        EXPECT_EQ(slot->latency, 96);
        ASSERT_EQ(slot->parameterCount, 3);
        EXPECT_EQ(slot->parameters[2], 0.5f);
        blocksPass();
        EXPECT_EQ(gain.processedInactive.load(), 0) << "processed while suspended for the restart";

        // A latency alone is read again without a restart; an absurd one is not believed.
        gain.latency = 2000000;
        gain.events_->latencyChanged();
        EXPECT_EQ(host.serviceSlot(slot), EffectSlot::kNewsLatency);
        EXPECT_EQ(slot->latency, 0);
        EXPECT_EQ(gain.suspends, 1);
        // A parameter list too long to be true leaves the host's list as it was.
        gain.parameters = 1 << 24;
        gain.events_->parametersChanged();
        EXPECT_EQ(host.serviceSlot(slot), 0);
        EXPECT_EQ(slot->parameterCount, 3);
        driving = false;
        driver.join();

        // A bypassed position (the chain no longer calls it) stays suspended through
        // its restart.
        host.setSlotActive(slot, false);
        gain.events_->restartRequested();
        host.serviceSlot(slot);
        EXPECT_FALSE(gain.active.load());
        EXPECT_EQ(gain.resumes, 2);
    }
    ThreadCheckedPlugin::setViolationHandler(previous);
    EXPECT_TRUE(g_violations.empty()) << g_violations.front();
}
