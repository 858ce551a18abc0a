#pragma once
// A plug-in that runs in a bridge process, behind the seam like any other: each UI
// call is one bounded round trip on the UI lane, each block one on the audio lane
// with a deadline well inside the block period. A bridge that crashes, ends or
// misses a deadline is not waited for again: the position passes its signal through
// dry (faded in), and failure() says what happened. Portable: the link to the
// process (its region, its bells, ending it) is given by whoever started it.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "BridgeCall.h"
#include "BridgeMessage.h"
#include "BridgeRegion.h"
#include "PluginInstance.h"

namespace bridge {

// The program's side of a bridged editor's window (the platform's): the editor is a
// top-level window of the bridge's, which this keeps over the view that holds its
// place in the program's editor frame. Nothing here waits for the bridge. UI thread.
class EditorPlacement {
public:
    virtual ~EditorPlacement() = default;
    // The program's top-level window that holds view, as the bridge is told it.
    virtual uint32_t topWindowOf(void* view) const = 0;
    // Takes the bridge's window for view; false when it is no window of the bridge's.
    virtual bool attach(void* view, uint32_t bridgeWindow) = 0;
    // Brings the window to the view's place on the screen, clipped to what of the view
    // is not covered, above the program's window, hidden while the view cannot be seen.
    virtual void follow() = 0;
    // Hides the window and forgets it (the bridge destroys it).
    virtual void detach() = 0;
    // Whether window is the attached one or another top-level window of its process
    // (a menu or dialog the plug-in opened from its editor).
    virtual bool owns(void* window) const = 0;
};

// The running bridge process as the program's side holds it.
class BridgeLink {
public:
    virtual ~BridgeLink() = default;
    virtual Region* region() = 0;
    virtual Doorbell& uiToBridge() = 0;
    virtual Doorbell& uiFromBridge() = 0;
    virtual Doorbell& audioToBridge() = 0;
    virtual Doorbell& audioFromBridge() = 0;
    // Ends the process, whatever it is doing; then nothing of it is touched again.
    virtual void end() = 0;
    // Where the bridge's editor windows are kept; null where none can be (the editor
    // is then not offered).
    virtual EditorPlacement* editorPlacement() { return nullptr; }
};

// Crashed: its process faulted (the bridge said so as it went); Ended: its process
// ended without a fault (the plug-in called exit or abort, or it was ended from
// outside); StoppedAnswering: it missed a deadline by far and was ended; Garbled: it
// answered what no bridge of ours says, and was ended.
enum class BridgeFailure : int32_t { None, Crashed, StoppedAnswering, Garbled, Ended };

class BridgePlugin final : public PluginInstance {
public:
    // UI thread: asks the bridge for its plug-in's identity and counts. Takes the link
    // either way; null with the reason in failure when the bridge does not answer.
    static BridgePlugin* create(BridgeLink* link, PluginHostEvents* events, char* failure, size_t failureSize);
    ~BridgePlugin() override;
    // True when create's failure says the bridge's process crashed, ended or stopped
    // answering as the plug-in was opened (not that the plug-in refused to load).
    static bool failedAsItStarted(const char* failure);
    BridgePlugin(const BridgePlugin&) = delete;
    BridgePlugin& operator=(const BridgePlugin&) = delete;

    // Any thread: what went wrong, once something did.
    BridgeFailure failure() const { return BridgeFailure(failure_.load(std::memory_order_acquire)); }

    const PluginIdentity& identity() const override { return identity_; }
    int32_t inputCount() const override { return inputs_; }
    int32_t outputCount() const override { return outputs_; }

    bool configure(double sampleRate, int32_t maxBlockFrames) override;
    bool resume() override;
    void suspend() override;
    const char* lastFailure() const override { return lastFailure_; }
    bool failed(char* how, size_t size) const override;
    int32_t latencyFrames() const override { return latency_; }

    void process(float* const* inputs, float* const* outputs, int32_t frames) override;
    void blockComing() override;

    int32_t parameterCount() const override { return parameters_; }
    bool parameterName(int32_t index, char* text, size_t size) const override;
    float parameterValue(int32_t index) const override;
    bool parameterValueText(int32_t index, char* text, size_t size) const override;
    bool parameterUnit(int32_t index, char* text, size_t size) const override;
    void setParameterValue(int32_t index, float value) override;

    int32_t programCount() const override { return programs_; }
    bool programName(int32_t index, char* text, size_t size) const override;
    int32_t currentProgram() const override;
    bool selectProgram(int32_t index) override;

    bool saveState(ByteRecord& record, char* failure, size_t failureSize) override;
    bool restoreState(const uint8_t* data, size_t size) override;

    // The editor is a window of the bridge's, kept over parent by the link's
    // placement: nothing of the program's is its parent or owner.
    bool hasEditor() const override { return hasEditor_ && placement_; }
    bool openEditor(void* parent, int32_t* width, int32_t* height) override;
    void closeEditor() override;
    bool resizeEditor(int32_t* width, int32_t* height) override;
    void editorFrameChanged() override;
    bool ownsEditorWindow(void* window) const override;
    void uiIdle() override;

    // How long a UI call may take before the bridge counts as stopped.
    static constexpr uint32_t kUiDeadlineMicroseconds = 3000000;
    // How long a whole state may take to cross, in however many pieces: a bridge that
    // answers each piece just in time cannot hold the UI thread for longer.
    static constexpr uint64_t kStateDeadlineMicroseconds = 10000000;
    // How long a late block may stay unanswered (of the clock, or of the audio gone by)
    // before the bridge counts as hung. A block past its deadline alone (a busy
    // machine) costs only that block: it goes dry.
    static constexpr uint64_t kHangMicroseconds = 1000000;
    // How long the UI thread waits for the answer to an idle call, which comes every
    // timer tick: one not in by then is looked for at the next tick, so that a plug-in
    // busy (or hung) in its editor holds the program's windows for no longer. Hung for
    // kUiDeadlineMicroseconds, its process is ended.
    static constexpr uint32_t kIdleDeadlineMicroseconds = 50000;
    // How long another UI call waits for a late idle answer before it is refused (a
    // bridge still busy starting, or the plug-in's editor busy for a moment). A state
    // taken now and then does not wait: it is refused at once.
    static constexpr uint32_t kBusyWaitMicroseconds = 1000000;
    // Any thread: blocks that went dry because the bridge answered past the deadline.
    uint32_t lateBlocks() const { return lateBlocks_.load(std::memory_order_relaxed); }

private:
    BridgePlugin(BridgeLink* link, PluginHostEvents* events);
    // One UI call: the request's fields written by fill, the answer read by the
    // caller from reader(). False when the bridge failed (it is then ended) or refused.
    // A call with a deadline shorter than kUiDeadlineMicroseconds may be late: it is then
    // left out (false, the bridge not failed) and settled by a later call.
    template <typename Fill>
    bool call(Command command, Fill fill, uint32_t deadline = kUiDeadlineMicroseconds) const;
    bool call(Command command) const;
    // A late call's answer, waited for up to wait: true once it is in (an idle's edits
    // taken), false while it is still out or when the bridge failed waiting for it.
    bool settleLate(uint32_t wait) const;
    bool statusBelievable() const;
    void takeEdits() const;
    bool readEditorSize(MessageReader& in, int32_t* width, int32_t* height) const;
    MessageReader reader() const;
    bool textCall(Command command, int32_t index, char* text, size_t size) const;
    void fail(BridgeFailure why) const;
    bool crashedSaid() const;
    // Why a process that is gone went: it said it crashed, or it just ended.
    BridgeFailure goneWhy() const { return crashedSaid() ? BridgeFailure::Crashed : BridgeFailure::Ended; }
    void markFailed(BridgeFailure why);
    void passDry(float* const* inputs, float* const* outputs, int32_t frames);

    BridgeLink* link_;
    Region* region_;
    PluginHostEvents* events_;
    PluginIdentity identity_ = {};
    int32_t inputs_ = 0, outputs_ = 0, parameters_ = 0, programs_ = 0;
    int32_t latency_ = 0;
    double sampleRate_ = 48000.0;
    int32_t maxFrames_ = 0;
    mutable std::atomic<int32_t> failure_{int32_t(BridgeFailure::None)};
    mutable Status lastStatus_ = Status::Ok;
    mutable char lastFailure_[200] = "";
    int32_t fadeDone_ = 0;  // audio thread: frames of the dry signal's fade-in passed
    uint64_t lateSince_ = 0;  // audio thread: when the block still out was sent, or 0
    int64_t lateFrames_ = 0;  // audio thread: frames gone by since then
    std::atomic<uint32_t> lateBlocks_{0};
    mutable bool inCall_ = false;         // UI thread: a call waits for its answer
    mutable bool lastCallMade_ = false;   // UI thread: the last call was answered (its reply is there)
    mutable uint64_t lateCallSince_ = 0;  // UI thread: when the late call was sent, or 0
    mutable Command lateCommand_ = Command::Idle;
    bool hasEditor_ = false;
    EditorPlacement* placement_;  // the link's; null where editors cannot be shown
    bool editorOpen_ = false;
    int32_t editorWidth_ = 0, editorHeight_ = 0;
};

}  // namespace bridge
