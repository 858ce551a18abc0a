// A plug-in served across the bridge's shared region, with the bridge's two serving
// threads standing in for its process: every seam call arrives as in process, a
// state larger than one answer crosses in pieces, the editor's moves and the
// plug-in's news reach the host at its idle call; and a bridge that hangs, ends or
// answers garbled never holds the audio past its deadline and is not called again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "BlockRhythm.h"
#include "LookingSlots.h"
#include "BridgePlugin.h"
#include "BridgeServer.h"

using namespace bridge;

namespace {

// As an auto-reset event: a ring before the wait is kept for it.
class ThreadBell : public Doorbell {
public:
    void ring() override {
        rings.fetch_add(1);
        std::lock_guard<std::mutex> hold(lock_);
        rung_ = true;
        woken_.notify_all();
    }
    Wake wait(uint32_t microseconds) override {
        std::unique_lock<std::mutex> hold(lock_);
        woken_.wait_for(hold, std::chrono::microseconds(microseconds), [&] { return rung_ || gone_; });
        if (gone_)
            return Wake::PeerGone;
        const bool rung = rung_;
        rung_ = false;
        return rung ? Wake::Rung : Wake::TimedOut;
    }
    void peerGone() {
        std::lock_guard<std::mutex> hold(lock_);
        gone_ = true;
        woken_.notify_all();
    }

    std::atomic<int> rings{0};

private:
    std::mutex lock_;
    std::condition_variable woken_;
    bool rung_ = false;
    bool gone_ = false;
};

// A stereo gain with a mode, two programs, a state as long as asked, and a hang.
class GainPlugin : public PluginInstance {
public:
    explicit GainPlugin(size_t stateBytes) : state_(stateBytes) {
        std::snprintf(identity_.name, sizeof identity_.name, "Bridged Gain");
        std::snprintf(identity_.vendor, sizeof identity_.vendor, "Talvenor Tests");
        std::snprintf(identity_.format, sizeof identity_.format, "VST 2");
        for (size_t i = 0; i < state_.size(); ++i)
            state_[i] = uint8_t(i * 7 + 3);
    }
    const PluginIdentity& identity() const override { return identity_; }
    int32_t inputCount() const override { return 2; }
    int32_t outputCount() const override { return 2; }
    bool configure(double rate, int32_t frames) override { return rate > 0.0 && frames <= 2048; }
    bool resume() override { return true; }
    void suspend() override {}
    int32_t latencyFrames() const override { return 12; }
    void process(float* const* in, float* const* out, int32_t frames) override {
        while (hang.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int c = 0; c < 2; ++c)
            for (int32_t i = 0; i < frames; ++i)
                out[c][i] = in[c][i] * gain_ * (c == 1 && mode_ > 0.5f ? -1.0f : 1.0f);
    }
    int32_t parameterCount() const override { return 2; }
    bool parameterName(int32_t i, char* text, size_t size) const override {
        return i >= 0 && i < 2 && std::snprintf(text, size, "%s", i == 0 ? "Gain" : "Mode") > 0;
    }
    float parameterValue(int32_t i) const override { return i == 0 ? gain_ : mode_; }
    bool parameterValueText(int32_t i, char* text, size_t size) const override {
        return i >= 0 && i < 2 && std::snprintf(text, size, "%.2f", double(parameterValue(i))) > 0;
    }
    bool parameterUnit(int32_t i, char* text, size_t size) const override {
        return std::snprintf(text, size, "%s", i == 0 ? "x" : "") >= 0;
    }
    void setParameterValue(int32_t i, float v) override { (i == 0 ? gain_ : mode_) = v; }
    int32_t programCount() const override { return 2; }
    bool programName(int32_t i, char* text, size_t size) const override {
        return i >= 0 && i < 2 && std::snprintf(text, size, "%s", i == 0 ? "Clean" : "Loud") > 0;
    }
    int32_t currentProgram() const override { return program_; }
    bool selectProgram(int32_t i) override {
        if (i < 0 || i > 1)
            return false;
        program_ = i;
        gain_ = i == 0 ? 0.5f : 1.0f;
        return true;
    }
    bool saveState(ByteRecord& record, char*, size_t) override {
        while (hangSaving.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        record.clear();
        return record.append(state_.data(), state_.size());
    }
    bool restoreState(const uint8_t* data, size_t size) override {
        if (size != state_.size() || (size && data[0] != state_[0]))
            return false;  // not this plug-in's
        restored.assign(data, data + size);
        return true;
    }
    bool hasEditor() const override { return editor; }
    // An editor of 300 x 200 that takes a width of at most 500.
    bool openEditor(void* parent, int32_t* width, int32_t* height) override {
        if (!editor || !parent)
            return false;
        editorOpen = true;
        *width = 300;
        *height = 200;
        return true;
    }
    void closeEditor() override { editorOpen = false; }
    bool resizeEditor(int32_t* width, int32_t* height) override {
        *width = std::min(*width, int32_t(500));
        return editorOpen && *height > 0;
    }
    void uiIdle() override {
        ++idles;
        while (hangIdle.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    bool editor = false;
    bool editorOpen = false;
    std::atomic<bool> hangIdle{false};
    std::atomic<bool> hang{false};
    std::atomic<bool> hangSaving{false};
    std::vector<uint8_t> restored;
    int idles = 0;

private:
    PluginIdentity identity_ = {};
    std::vector<uint8_t> state_;
    float gain_ = 0.5f, mode_ = 0.0f;
    int32_t program_ = 0;
};

// The bridge's editor window as a record of what it was told (the bridge's UI thread;
// takeSize from any).
class RecordingEditorWindow : public EditorWindowHost {
public:
    bool open(PluginInstance& plugin, uint32_t programWindow, uint32_t* window, int32_t* width,
              int32_t* height) override {
        open_ = true;
        toldProgram = programWindow;
        if (!plugin.openEditor(this, width, height)) {
            open_ = false;
            return false;
        }
        *window = handle;
        return true;
    }
    void close(PluginInstance& plugin) override {
        plugin.closeEditor();
        open_ = false;
    }
    bool isOpen() const override { return open_.load(); }
    void takeSize(int32_t width, int32_t height) override {
        sizeWidth = width;
        sizeHeight = height;
    }
    uint32_t handle = 0x1234;
    std::atomic<uint32_t> toldProgram{0};
    std::atomic<int32_t> sizeWidth{0}, sizeHeight{0};

private:
    std::atomic<bool> open_{false};
};

// The program's placement of it, believing only the bridge's own window.
class RecordingPlacement : public EditorPlacement {
public:
    uint32_t topWindowOf(void*) const override { return 0x77; }
    bool attach(void* view, uint32_t window) override {
        if (window != ownWindow)
            return false;
        attachedTo = view;
        return true;
    }
    void follow() override { ++follows; }
    void detach() override {
        attachedTo = nullptr;
        ++detaches;
    }
    bool owns(void* window) const override { return attachedTo && window == reinterpret_cast<void*>(0x99); }
    uint32_t ownWindow = 0x1234;
    void* attachedTo = nullptr;
    int follows = 0, detaches = 0;
};

// The program's region and bells, and the bridge's two serving threads on them.
class ThreadBridge : public BridgeLink {
public:
    explicit ThreadBridge(PluginInstance* plugin, bool editors = false, Idler* idler = nullptr) : region_(new Region) {
        initialiseRegion(region_.get());
        server_.reset(new BridgeServer(region_.get(), uiTo_, uiFrom_, audioTo_, audioFrom_));
        server_->attach(plugin);
        if (editors)
            server_->attachEditorWindow(&editorWindow);
        editors_ = editors;
        ui_ = std::thread([this] { server_->serveUi(); });
        audio_ = std::thread([this, idler] { server_->serveAudio(stop_, idler); });
    }
    ~ThreadBridge() override {
        end();
        if (ui_.joinable())
            ui_.join();
        if (audio_.joinable())
            audio_.join();
    }
    // As a process that has ended for good: its serving threads are gone too, so no
    // call made after this is answered (end alone leaves a thread that was about to
    // look at its lane free to answer one more).
    void endAndWaitForItsThreads() {
        end();
        ui_.join();
        audio_.join();
    }
    BridgeServer& server() { return *server_; }
    Region* region() override { return region_.get(); }
    Doorbell& uiToBridge() override { return uiTo_; }
    Doorbell& uiFromBridge() override { return uiFrom_; }
    Doorbell& audioToBridge() override { return audioTo_; }
    Doorbell& audioFromBridge() override { return audioFrom_; }
    ThreadBell& audioBell() { return audioTo_; }
    EditorPlacement* editorPlacement() override { return editors_ ? &placement : nullptr; }
    RecordingEditorWindow editorWindow;
    RecordingPlacement placement;
    // As the process ending: both sides see the other gone.
    void end() override {
        ++ends;
        stop_ = true;
        for (ThreadBell* bell : {&uiTo_, &uiFrom_, &audioTo_, &audioFrom_})
            bell->peerGone();
    }
    std::atomic<int> ends{0};

private:
    bool editors_ = false;
    std::unique_ptr<Region> region_;
    ThreadBell uiTo_, uiFrom_, audioTo_, audioFrom_;
    std::unique_ptr<BridgeServer> server_;
    std::atomic<bool> stop_{false};
    std::thread ui_, audio_;
};

class RecordingEvents : public PluginHostEvents {
public:
    void parameterEdited(int32_t index, float value) override { edits.push_back({index, value}); }
    bool editorResizeRequested(int32_t width, int32_t height) override {
        sizes.push_back({width, height});
        return true;
    }
    void latencyChanged() override { ++latency; }
    void parametersChanged() override { ++parameters; }
    void restartRequested() override { ++restarts; }
    void uiCallRequested() override {}
    double tempo() const override { return 96.0; }
    std::vector<std::pair<int32_t, float>> edits;
    std::vector<std::pair<int32_t, int32_t>> sizes;
    int latency = 0, parameters = 0, restarts = 0;
};

std::string text(bool (PluginInstance::*query)(int32_t, char*, size_t) const, const PluginInstance& p, int32_t i) {
    char buffer[64] = "unset";
    return (p.*query)(i, buffer, sizeof buffer) ? buffer : std::string("(refused) ") + buffer;
}

std::vector<float> ramp(int32_t frames, float scale) {
    std::vector<float> v(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i)
        v[size_t(i)] = scale * float((i % 97) - 48) / 48.0f;
    return v;
}

}  // namespace

TEST(Bridge, ServesEverySeamCallAsInProcess) {
    GainPlugin gain(200000);  // three answers' worth of state
    ThreadBridge* link = new ThreadBridge(&gain);
    RecordingEvents events;
    char failure[128] = "";
    std::unique_ptr<BridgePlugin> bridged(BridgePlugin::create(link, &events, failure, sizeof failure));
    ASSERT_TRUE(bridged) << failure;
    EXPECT_STREQ(bridged->identity().name, "Bridged Gain");
    EXPECT_STREQ(bridged->identity().vendor, "Talvenor Tests");
    EXPECT_EQ(bridged->inputCount(), 2);
    EXPECT_EQ(bridged->parameterCount(), 2);
    EXPECT_EQ(bridged->programCount(), 2);
    EXPECT_EQ(bridged->latencyFrames(), 12);

    EXPECT_FALSE(bridged->configure(48000.0, 4096)) << "the plug-in's own refusal comes back";
    ASSERT_TRUE(bridged->configure(48000.0, 256));
    ASSERT_TRUE(bridged->resume());
    EXPECT_EQ(text(&PluginInstance::parameterName, *bridged, 1), "Mode");
    EXPECT_EQ(text(&PluginInstance::parameterUnit, *bridged, 0), "x");
    EXPECT_EQ(text(&PluginInstance::parameterName, *bridged, 7), "(refused) ");
    EXPECT_EQ(text(&PluginInstance::programName, *bridged, 1), "Loud");
    bridged->setParameterValue(0, 0.25f);
    bridged->setParameterValue(1, 1.0f);
    EXPECT_FLOAT_EQ(bridged->parameterValue(0), 0.25f);
    EXPECT_EQ(text(&PluginInstance::parameterValueText, *bridged, 0), "0.25");

    // Blocks in place, as the chain gives them.
    std::vector<float> left = ramp(256, 0.8f), right = ramp(256, -0.4f);
    const std::vector<float> dryLeft = left, dryRight = right;
    float* io[2] = {left.data(), right.data()};
    // A block past its 2.7 ms deadline on a busy machine goes dry: given again until
    // one is answered in time, which must then be the plug-in's.
    for (int tries = 0; tries < 50; ++tries) {
        left = dryLeft;
        right = dryRight;
        const uint32_t late = bridged->lateBlocks();
        bridged->process(io, io, 256);
        const bool dry = left[200] == dryLeft[200] || left[200] == dryLeft[200] * (200.0f / 256.0f);
        if (bridged->lateBlocks() == late && !dry)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (size_t i = 0; i < 256; ++i) {
        ASSERT_FLOAT_EQ(left[i], dryLeft[i] * 0.25f) << i;
        ASSERT_FLOAT_EQ(right[i], -dryRight[i] * 0.25f) << i;
    }
    EXPECT_TRUE(bridged->selectProgram(1));
    EXPECT_EQ(bridged->currentProgram(), 1);
    EXPECT_FLOAT_EQ(bridged->parameterValue(0), 1.0f);
    EXPECT_FALSE(bridged->selectProgram(2));

    ByteRecord state;
    ASSERT_TRUE(bridged->saveState(state, failure, sizeof failure)) << failure;
    ASSERT_EQ(state.size(), 200000u);
    EXPECT_EQ(state.data()[199999], uint8_t(199999 * 7 + 3));
    ASSERT_TRUE(bridged->restoreState(state.data(), state.size()));
    EXPECT_EQ(gain.restored, std::vector<uint8_t>(state.data(), state.data() + state.size()));
    EXPECT_EQ(events.parameters, 1);
    EXPECT_FALSE(bridged->restoreState(state.data(), 1000)) << "a record the plug-in refuses";

    // The editor's moves and the plug-in's news, at the host's idle call.
    link->server().parameterEdited(1, 0.75f);
    link->server().parameterEdited(0, 0.5f);
    link->server().parameterEdited(1, 0.125f);
    link->server().parameterEdited(99999, 0.5f);  // beyond what is kept: dropped
    link->server().latencyChanged();
    bridged->uiIdle();
    EXPECT_EQ(gain.idles, 1);
    ASSERT_EQ(events.edits.size(), 2u);
    EXPECT_EQ(events.edits[0], std::make_pair(int32_t(0), 0.5f));
    EXPECT_EQ(events.edits[1], std::make_pair(int32_t(1), 0.125f)) << "the latest move of each";
    EXPECT_EQ(events.latency, 1);
    EXPECT_EQ(bridged->failure(), BridgeFailure::None);
    EXPECT_EQ(link->ends.load(), 0);
}

TEST(Bridge, AHungEndedOrGarbledBridgeNeverHoldsTheAudio) {
    {  // late, then hung: a late block goes dry; one that stays unanswered ends it
        GainPlugin gain(16);
        ThreadBridge* link = new ThreadBridge(&gain);
        char failure[128] = "";
        std::unique_ptr<BridgePlugin> bridged(BridgePlugin::create(link, nullptr, failure, sizeof failure));
        ASSERT_TRUE(bridged) << failure;
        ASSERT_TRUE(bridged->configure(48000.0, 256));
        gain.hang = true;
        std::vector<float> left = ramp(256, 0.8f), right = ramp(256, 0.8f);
        const std::vector<float> dry = left;
        float* io[2] = {left.data(), right.data()};
        const auto start = std::chrono::steady_clock::now();
        bridged->process(io, io, 256);
        const auto took = std::chrono::steady_clock::now() - start;
        // Half a 5.3 ms block is the deadline; a second of slack still proves no wait.
        EXPECT_LT(took, std::chrono::seconds(1));
        EXPECT_EQ(bridged->lateBlocks(), 1u);
        EXPECT_EQ(bridged->failure(), BridgeFailure::None) << "one late block is not a hang";
        EXPECT_EQ(left[0], 0.0f) << "the dry signal fades in";
        EXPECT_FLOAT_EQ(left[128], dry[128] * 0.5f);
        // The bridge catches up: the next block is the plug-in's again.
        gain.hang = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        left = dry;
        io[0] = left.data();
        bridged->process(io, io, 256);
        EXPECT_FLOAT_EQ(left[10], dry[10] * 0.5f) << "the gain plays again";
        EXPECT_EQ(bridged->failure(), BridgeFailure::None);

        gain.hang = true;
        bridged->process(io, io, 256);  // late
        const auto hungFrom = std::chrono::steady_clock::now();
        while (bridged->failure() == BridgeFailure::None &&
               std::chrono::steady_clock::now() - hungFrom < std::chrono::seconds(5)) {
            left = dry;
            io[0] = left.data();
            bridged->process(io, io, 256);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_EQ(bridged->failure(), BridgeFailure::StoppedAnswering);
        EXPECT_GE(std::chrono::steady_clock::now() - hungFrom, std::chrono::microseconds(BridgePlugin::kHangMicroseconds));
        EXPECT_EQ(left, dry) << "a hung plug-in's position passes the signal whole";
        EXPECT_EQ(link->ends.load(), 0) << "ending the process is the UI thread's";
        bridged->uiIdle();
        EXPECT_GE(link->ends.load(), 1);
        EXPECT_FALSE(bridged->resume()) << "a failed bridge is not called again";
        gain.hang = false;
    }
    {  // the process ended: the next UI call says so at once
        GainPlugin gain(16);
        ThreadBridge* link = new ThreadBridge(&gain);
        char failure[128] = "";
        std::unique_ptr<BridgePlugin> bridged(BridgePlugin::create(link, nullptr, failure, sizeof failure));
        ASSERT_TRUE(bridged) << failure;
        link->endAndWaitForItsThreads();
        ByteRecord state;
        EXPECT_FALSE(bridged->saveState(state, failure, sizeof failure));
        EXPECT_STREQ(failure, "stopped answering while giving its state.");
        EXPECT_EQ(bridged->failure(), BridgeFailure::Ended) << "gone without saying it crashed";
        char how[128] = "";
        ASSERT_TRUE(bridged->failed(how, sizeof how));
        EXPECT_STREQ(how, "ended its process without a crash (it quit, or was ended from outside).");
    }
    {  // a bridge that answers nonsense: refused, named, and not believed again
        auto* region = new Region;
        initialiseRegion(region);
        struct Rogue : BridgeLink {
            std::unique_ptr<Region> owned;
            ThreadBell to, from, audioTo, audioFrom;
            std::thread answerer;
            std::atomic<bool> stop{false};
            Region* region() override { return owned.get(); }
            Doorbell& uiToBridge() override { return to; }
            Doorbell& uiFromBridge() override { return from; }
            Doorbell& audioToBridge() override { return audioTo; }
            Doorbell& audioFromBridge() override { return audioFrom; }
            void end() override { stop = true; }
            ~Rogue() override { answerer.join(); }
        };
        auto* rogue = new Rogue;
        rogue->owned.reset(region);
        rogue->answerer = std::thread([rogue] {
            uint32_t answered = 0;
            Doorbell::Wake why;
            while (!rogue->stop)
                if (waitForRequest(rogue->owned->ui.serials, answered, rogue->to, 20000, &why)) {
                    answered = rogue->owned->ui.serials.request.load();
                    rogue->owned->ui.size = 12;
                    std::memset(rogue->owned->ui.payload, 0xFF, 12);  // a text length past the end
                    rogue->owned->ui.status = 0;
                    answer(rogue->owned->ui.serials, answered, rogue->from);
                }
        });
        char failure[128] = "";
        EXPECT_EQ(BridgePlugin::create(rogue, nullptr, failure, sizeof failure), nullptr);
        EXPECT_STREQ(failure, "its process answered garbled");
    }
}

// The plug-in's own threads calling the host without pause while blocks and idle
// calls go on; then a state request the plug-in never answers: the audio lane keeps
// playing the plug-in meanwhile, and the UI call comes back failed after its bound.
// The audio lane's answering side, looking for blocks at the pace they come rather
// than sleeping: every block at a steady pace, back to back, after a pause and at a
// ragged pace is answered with the plug-in's output, none left waiting on a ring that
// was skipped; and blocks it was looking for needed no ring at all.
TEST(Bridge, ABridgeLookingForBlocksAnswersEveryOneAtAnyPace) {
    BlockRhythm rhythm;
    uint64_t from = 0, until = 0;
    for (uint64_t t = 0; t <= 8000; t += 1000) {
        EXPECT_FALSE(rhythm.window(&from, &until)) << "no pace before eight gaps";
        rhythm.arrived(10000 + t);
    }
    ASSERT_TRUE(rhythm.window(&from, &until));
    EXPECT_EQ(from, 18000u + 1000 - BlockRhythm::kLeadMicroseconds);
    EXPECT_EQ(until, 18000u + 1000 + BlockRhythm::kLagMicroseconds);
    // Wakes that come on time leave the bridge to sleep between blocks; one that left a
    // block waiting keeps it looking from one to the next while the pace holds.
    EXPECT_EQ(rhythm.stayAwakeUntil(), 0u);
    rhythm.arrived(19000, 120);  // waited no more than an eighth of the gap
    EXPECT_EQ(rhythm.stayAwakeUntil(), 0u);
    rhythm.arrived(20000, 600);
    EXPECT_EQ(rhythm.stayAwakeUntil(), 20000u + 2 * 1000 + 1000);
    // A block that came late and the two that caught up keep the pace, and the bridge
    // awake; past its late gap a driver that stopped is waited for asleep.
    rhythm.arrived(23700, 900);
    rhythm.arrived(23750);
    rhythm.arrived(23800);
    ASSERT_TRUE(rhythm.window(&from, &until)) << "one late block is no change of pace";
    EXPECT_EQ(from, 23800u + 1000 - BlockRhythm::kLeadMicroseconds);
    EXPECT_EQ(rhythm.stayAwakeUntil(), 23800u + 2 * 1000 + 1000) << "the stray gap is not the pace's";
    for (uint64_t t : {1023800, 2023800, 3023800})
        rhythm.arrived(t);  // a driver that starts and stops
    EXPECT_FALSE(rhythm.window(&from, &until));
    EXPECT_EQ(rhythm.stayAwakeUntil(), 0u) << "no pace: the bell";

    // Of three spare cores, one may be held for whole gaps; a holder that goes on
    // looking keeps its slot from being taken over as stale.
    LookingSlotTable three = {};
    LookingSlots whole(&three, 3, 11), windowed(&three, 3, 12), later(&three, 3, 13);
    EXPECT_TRUE(whole.take(100, true));
    EXPECT_FALSE(windowed.take(100, true));
    EXPECT_TRUE(windowed.take(100));
    EXPECT_TRUE(whole.mayKeep(115));
    EXPECT_FALSE(later.take(130, true)) << "refreshed at 115, not stale at 130";
    whole.give();
    EXPECT_TRUE(later.take(130, true));
    later.give();
    windowed.give();
    for (uint32_t at : {132u, 134u}) {  // alone, it keeps them
        whole.startWork(at);
        whole.stopWork();
    }
    EXPECT_TRUE(whole.take(136, true));
    whole.give();
    windowed.startWork(140);
    windowed.stopWork();
    EXPECT_FALSE(whole.take(150, true)) << "the program's bridges take turns: no whole gaps";
    EXPECT_TRUE(whole.take(150)) << "the moments around a block stay";
    EXPECT_FALSE(whole.take(151, true)) << "and looking near one is no grant of the gap";
    whole.give();
    EXPECT_TRUE(whole.take(140 + LookingSlots::kSharedMilliseconds, true));

    // One slot to look in: the second bridge waits for it, or takes it from one that
    // ended while looking.
    LookingSlotTable shared = {};
    LookingSlots first(&shared, 1, 100), second(&shared, 1, 200);
    EXPECT_TRUE(first.take(5));
    EXPECT_FALSE(second.take(6));
    first.give();
    EXPECT_TRUE(second.take(7));
    EXPECT_FALSE(first.take(7 + LookingSlots::kStaleMilliseconds));
    EXPECT_TRUE(first.take(8 + LookingSlots::kStaleMilliseconds)) << "a holder gone this long is taken over";
    first.give();
    LookingSlots third(&shared, 1, 300);
    third.startWork(40);
    EXPECT_FALSE(first.take(41)) << "no core to spare while another bridge processes";
    third.stopWork();
    EXPECT_TRUE(first.take(42));
    third.startWork(43);
    EXPECT_FALSE(first.mayKeep(43));

    class TestIdler : public Idler {
    public:
        uint32_t napMicroseconds() const override { return 80; }
        void nap() override { std::this_thread::sleep_for(std::chrono::microseconds(20)); }
        void relax() override { std::this_thread::yield(); }
        bool startLooking(bool wholeGap) override { return slots.take(1, wholeGap); }
        bool mayKeepLooking() override { return slots.mayKeep(1); }
        bool spareCore() override { return slots.spare(1); }
        void stopLooking() override { slots.give(); }
        void startWorking() override { slots.startWork(1); }
        void stopWorking() override { slots.stopWork(); }
        LookingSlotTable table = {};
        LookingSlots slots{&table, 1, 7};
    } idler;
    GainPlugin gain(16);
    ThreadBridge* link = new ThreadBridge(&gain, false, &idler);
    RecordingEvents events;
    char failure[128] = "";
    std::unique_ptr<BridgePlugin> bridged(BridgePlugin::create(link, &events, failure, sizeof failure));
    ASSERT_TRUE(bridged) << failure;
    ASSERT_TRUE(bridged->configure(48000.0, 256));
    ASSERT_TRUE(bridged->resume());

    AudioLane& lane = link->region()->audio;
    int calls = 0, wrong = 0, unanswered = 0;
    const int ringsBefore = link->audioBell().rings.load();
    auto block = [&] {
        lane.frames = 64;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 64; ++i)
                lane.in[c][i] = float(calls % 97 + i) * (c ? -0.01f : 0.01f);
        // Far past any block's deadline: only a lost wake-up runs into it.
        if (callAndWait(lane.serials, link->audioToBridge(), link->audioFromBridge(), 150000) != CallResult::Answered)
            ++unanswered;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 64; ++i)
                wrong += lane.out[c][i] != lane.in[c][i] * 0.5f;
        ++calls;
    };
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    for (int b = 0; b < 200; ++b) {  // a driver's steady pace
        std::this_thread::sleep_until(next += std::chrono::milliseconds(1));
        block();
    }
    for (int b = 0; b < 300; ++b)  // a render's
        block();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    next = Clock::now();
    for (int b = 0; b < 100; ++b) {  // ragged: some blocks early, some late
        next += std::chrono::microseconds(3000 + (b % 7 == 0 ? 900 : 0) - (b % 10 == 0 ? 700 : 0));
        std::this_thread::sleep_until(next);
        block();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    for (int b = 0; b < 100; ++b) {  // announced while the position before runs, at no pace
        std::this_thread::sleep_for(std::chrono::microseconds(b % 3 == 0 ? 4000 : 700 + 37 * (b % 11)));
        announce(lane.serials);
        std::this_thread::sleep_for(std::chrono::microseconds(b % 5 == 0 ? 2500 : 150));
        block();
    }
    EXPECT_EQ(unanswered, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_LT(link->audioBell().rings.load() - ringsBefore, calls) << "blocks it looked for needed no ring";
}

TEST(Bridge, FloodingThreadsAndAHungStateRequestHoldNeitherTheUiNorTheAudio) {
    GainPlugin gain(64);
    ThreadBridge* link = new ThreadBridge(&gain);
    RecordingEvents events;
    char failure[128] = "";
    std::unique_ptr<BridgePlugin> bridged(BridgePlugin::create(link, &events, failure, sizeof failure));
    ASSERT_TRUE(bridged) << failure;
    // 2048 frames: a deadline of 21 ms, which a block under a sanitizer still meets.
    ASSERT_TRUE(bridged->configure(48000.0, 2048));
    ASSERT_TRUE(bridged->resume());
    bridged->setParameterValue(0, 0.5f);
    const std::vector<float> dry = ramp(2048, 0.8f);
    std::vector<float> left, right;
    // True when the block came back as the plug-in plays it (or went dry for lateness).
    auto playedBlock = [&] {
        left = dry;
        right = dry;
        float* io[2] = {left.data(), right.data()};
        bridged->process(io, io, 2048);
        if (bridged->failure() != BridgeFailure::None || bridged->lateBlocks() > 0)
            return true;
        for (size_t i = 0; i < dry.size(); ++i)
            if (left[i] != dry[i] * 0.5f || right[i] != dry[i] * 0.5f)
                return false;
        return true;
    };

    std::atomic<bool> flooding{true};
    std::vector<std::thread> floods;
    for (int t = 0; t < 4; ++t)
        floods.emplace_back([&, t] {
            for (uint32_t n = 0; flooding.load(); ++n) {
                link->server().parameterEdited(n % 3 == 2 ? 5000 + t : int32_t(n % 2), float(n % 101) / 100.0f);
                link->server().latencyChanged();
                link->server().parametersChanged();
                link->server().uiCallRequested();
            }
        });
    for (int block = 0; block < 200; ++block) {
        ASSERT_TRUE(playedBlock()) << "block " << block;
        if (block % 10 == 0)
            bridged->uiIdle();
    }
    flooding = false;
    for (std::thread& t : floods)
        t.join();
    bridged->uiIdle();
    EXPECT_EQ(bridged->failure(), BridgeFailure::None);
    EXPECT_FALSE(events.edits.empty());
    for (const auto& [index, value] : events.edits) {
        EXPECT_TRUE(index == 0 || index == 1) << index;
        EXPECT_TRUE(value >= 0.0f && value <= 1.0f) << value;
    }
    EXPECT_GT(events.latency, 0);
    EXPECT_GT(events.parameters, 0);

    gain.hangSaving = true;
    std::atomic<bool> saved{false}, returned{false};
    char saveFailure[128] = "";
    const auto asked = std::chrono::steady_clock::now();
    std::thread ui([&] {
        ByteRecord state;
        saved = bridged->saveState(state, saveFailure, sizeof saveFailure);
        returned = true;
    });
    int playedWhileHung = 0;
    // The first block that is not the plug-in's output starts the dry signal's fade
    // from silence; it may come before the hung call returns or after.
    bool fadeSeen = false;
    float firstFailedSample = 1.0f;
    const auto noteFade = [&] {
        if (!fadeSeen && left[0] != dry[0] * 0.5f) {
            fadeSeen = true;
            firstFailedSample = left[0];
        }
    };
    while (!returned.load()) {
        ASSERT_TRUE(playedBlock());
        if (bridged->failure() == BridgeFailure::None)
            ++playedWhileHung;
        noteFade();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ui.join();
    const auto took = std::chrono::steady_clock::now() - asked;
    EXPECT_FALSE(saved.load());
    EXPECT_STREQ(saveFailure, "stopped answering while giving its state.");
    EXPECT_EQ(bridged->failure(), BridgeFailure::StoppedAnswering);
    EXPECT_GE(took, std::chrono::microseconds(BridgePlugin::kUiDeadlineMicroseconds));
    EXPECT_LT(took, std::chrono::microseconds(BridgePlugin::kUiDeadlineMicroseconds) + std::chrono::seconds(10));
    EXPECT_GT(playedWhileHung, 10) << "the audio lane went on while the UI lane hung";
    EXPECT_GE(link->ends.load(), 1);
    ASSERT_TRUE(playedBlock());
    noteFade();
    EXPECT_TRUE(fadeSeen);
    EXPECT_EQ(firstFailedSample, 0.0f) << "the dry signal fades in";
    EXPECT_TRUE(std::equal(dry.begin() + 256, dry.end(), left.begin() + 256))
        << "ended, the position passes its signal through";
    gain.hangSaving = false;
}

TEST(BridgeMessage, BelievesNoLengthItIsGiven) {
    uint8_t buffer[64];
    MessageWriter out(buffer, sizeof buffer);
    out.text("Gain");
    out.f32(0.5f);
    out.bytes("abc", 3);
    const uint32_t used = out.size();
    out.bytes(buffer, 60);  // does not fit
    EXPECT_FALSE(out.ok());

    MessageReader in(buffer, used, sizeof buffer);
    char name[3];
    EXPECT_TRUE(in.text(name, sizeof name));
    EXPECT_STREQ(name, "Ga") << "cut to the caller's field";
    EXPECT_EQ(in.f32(), 0.5f);
    uint32_t size = 0;
    EXPECT_EQ(std::memcmp(in.bytes(&size), "abc", 3), 0);
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(in.u32(), 0u);
    EXPECT_FALSE(in.ok()) << "reading past the end fails, and stays failed";

    MessageReader tooLong(buffer, 1000, sizeof buffer);
    EXPECT_FALSE(tooLong.ok()) << "a size past the payload";
    MessageReader limited(buffer, used, sizeof buffer);
    EXPECT_FALSE(limited.text(name, sizeof name, 3)) << "a text longer than its limit";
    const float nan = std::nanf("");
    MessageWriter bad(buffer, sizeof buffer);
    bad.f32(nan);
    MessageReader notFinite(buffer, bad.size(), sizeof buffer);
    notFinite.f32();
    EXPECT_FALSE(notFinite.ok());
}

// A bridged editor: opened in the bridge's window and placed by the program, the
// plug-in's own size change (from a thread of its own) reaching the host at its idle
// call, the user's size as the plug-in takes it, sizes beyond belief bounded, closed;
// a window that is not the bridge's refused as garbled; and a plug-in hung in its
// editor's idle never holding the UI thread past a short wait, ended once it has
// been stopped for the UI deadline.
TEST(Bridge, AnEditorCrossesAndABusyOneNeverHoldsTheUi) {
    using Clock = std::chrono::steady_clock;
    GainPlugin gain(16);
    gain.editor = true;
    ThreadBridge* link = new ThreadBridge(&gain, true);
    RecordingEvents events;
    char failure[128] = "";
    std::unique_ptr<BridgePlugin> bridged(BridgePlugin::create(link, &events, failure, sizeof failure));
    ASSERT_TRUE(bridged) << failure;
    ASSERT_TRUE(bridged->hasEditor());
    int view = 0;
    int32_t width = 0, height = 0;
    ASSERT_TRUE(bridged->openEditor(&view, &width, &height));
    EXPECT_EQ(width, 300);
    EXPECT_EQ(height, 200);
    EXPECT_TRUE(gain.editorOpen);
    EXPECT_EQ(link->editorWindow.toldProgram.load(), 0x77u) << "the bridge is told the window to keep above";
    EXPECT_EQ(link->placement.attachedTo, &view);
    bridged->editorFrameChanged();
    EXPECT_EQ(link->placement.follows, 1);
    EXPECT_TRUE(bridged->ownsEditorWindow(reinterpret_cast<void*>(0x99)));

    std::thread([&] { EXPECT_TRUE(link->server().editorResizeRequested(420, 260)); }).join();
    EXPECT_EQ(link->editorWindow.sizeWidth.load(), 420) << "the bridge's window takes it at once";
    bridged->uiIdle();
    ASSERT_EQ(events.sizes.size(), 1u);
    EXPECT_EQ(events.sizes[0], std::make_pair(int32_t(420), int32_t(260))) << "our frame follows at the idle call";
    bridged->uiIdle();
    EXPECT_EQ(events.sizes.size(), 1u) << "told once";
    width = 900;
    height = 300;
    ASSERT_TRUE(bridged->resizeEditor(&width, &height));
    EXPECT_EQ(width, 500) << "the user's size, as the plug-in takes it";
    EXPECT_EQ(link->editorWindow.sizeWidth.load(), 500);
    EXPECT_TRUE(link->server().editorResizeRequested(1 << 30, 5));
    EXPECT_EQ(link->editorWindow.sizeWidth.load(), kMaxEditorSide);
    bridged->uiIdle();
    ASSERT_EQ(events.sizes.size(), 2u);
    EXPECT_EQ(events.sizes[1], std::make_pair(kMaxEditorSide, int32_t(5)));
    bridged->closeEditor();
    EXPECT_FALSE(gain.editorOpen);
    EXPECT_FALSE(link->editorWindow.isOpen());
    EXPECT_EQ(link->placement.attachedTo, nullptr);
    EXPECT_FALSE(bridged->ownsEditorWindow(reinterpret_cast<void*>(0x99))) << "closed, it owns no window";
    EXPECT_FALSE(link->server().editorResizeRequested(300, 200)) << "no editor, no size";
    EXPECT_EQ(bridged->failure(), BridgeFailure::None);

    // Hung in its editor's idle: each idle call returns after a short wait; the
    // process is ended only once the UI deadline has passed.
    gain.hangIdle = true;
    const Clock::time_point hungFrom = Clock::now();
    Clock::duration longest{}, busyCall{};
    bridged->uiIdle();
    {  // a call made by the user meanwhile waits a while for the bridge, then is refused
        char name[32];
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(bridged->parameterName(0, name, sizeof name));
        busyCall = Clock::now() - start;
    }
    while (bridged->failure() == BridgeFailure::None && Clock::now() - hungFrom < std::chrono::seconds(8)) {
        const Clock::time_point start = Clock::now();
        bridged->uiIdle();
        longest = std::max(longest, Clock::now() - start);
        ByteRecord state;
        char why[96] = "";
        const Clock::time_point other = Clock::now();
        EXPECT_FALSE(bridged->saveState(state, why, sizeof why)) << "a state taken now and then does not wait";
        longest = std::max(longest, Clock::now() - other);
        std::this_thread::sleep_for(std::chrono::milliseconds(70));
    }
    EXPECT_EQ(bridged->failure(), BridgeFailure::StoppedAnswering);
    EXPECT_GE(Clock::now() - hungFrom, std::chrono::microseconds(BridgePlugin::kUiDeadlineMicroseconds));
    EXPECT_LT(longest, std::chrono::milliseconds(500)) << "the UI thread was held";
    EXPECT_GE(busyCall, std::chrono::microseconds(BridgePlugin::kBusyWaitMicroseconds)) << "it did not wait for the bridge";
    EXPECT_LT(busyCall, std::chrono::seconds(2)) << "another call waited past its bound";
    EXPECT_GE(link->ends.load(), 1);
    gain.hangIdle = false;
    bridged.reset();

    // A window the bridge says is its editor's, which is not its own: garbled.
    GainPlugin other(16);
    other.editor = true;
    ThreadBridge* lying = new ThreadBridge(&other, true);
    lying->editorWindow.handle = 0x999;
    std::unique_ptr<BridgePlugin> liar(BridgePlugin::create(lying, &events, failure, sizeof failure));
    ASSERT_TRUE(liar) << failure;
    EXPECT_FALSE(liar->openEditor(&view, &width, &height));
    EXPECT_EQ(liar->failure(), BridgeFailure::Garbled);
    EXPECT_GE(lying->ends.load(), 1);
}
