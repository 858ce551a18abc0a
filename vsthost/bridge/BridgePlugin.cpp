#include "BridgePlugin.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace bridge {

namespace {

constexpr int32_t kFadeFrames = 256;  // the dry signal's fade-in after a failure
constexpr int32_t kMaxCount = 1 << 16;  // parameters or programs beyond belief
constexpr char kCrashedAsItStarted[] = "it crashed its process as it started";
constexpr char kEndedAsItStarted[] = "its process ended as it started";
constexpr char kSilentAsItStarted[] = "its process did not answer";

}  // namespace

BridgePlugin::BridgePlugin(BridgeLink* link, PluginHostEvents* events)
    : link_(link), region_(link->region()), events_(events), placement_(link->editorPlacement()) {}

BridgePlugin::~BridgePlugin() {
    closeEditor();
    if (failure() == BridgeFailure::None)
        call(Command::Quit);
    link_->end();
    delete link_;
}

BridgePlugin* BridgePlugin::create(BridgeLink* link, PluginHostEvents* events, char* failure, size_t failureSize) {
    BridgePlugin* plugin = link ? new (std::nothrow) BridgePlugin(link, events) : nullptr;
    if (!plugin) {
        if (link) {
            link->end();
            delete link;
        }
        std::snprintf(failure, failureSize, "%s", "out of memory");
        return nullptr;
    }
    const bool answered = plugin->call(Command::Hello);
    MessageReader in = plugin->reader();
    if (!answered && plugin->failure() == BridgeFailure::None) {
        // The bridge is there, the plug-in did not load in it: the backend's reason.
        char reason[400] = "";
        in.text(reason, sizeof reason);
        std::snprintf(failure, failureSize, "%s", reason[0] ? reason : "it did not load in its process");
        delete plugin;
        return nullptr;
    }
    PluginIdentity& id = plugin->identity_;
    in.text(id.name, sizeof id.name);
    in.text(id.vendor, sizeof id.vendor);
    in.text(id.format, sizeof id.format);
    in.text(id.classId, sizeof id.classId);
    id.instrument = in.u32() != 0;
    plugin->inputs_ = in.i32();
    plugin->outputs_ = in.i32();
    plugin->parameters_ = in.i32();
    plugin->programs_ = in.i32();
    plugin->latency_ = in.i32();
    plugin->hasEditor_ = in.u32() != 0;
    const bool believable = in.atEnd() && plugin->inputs_ >= 0 && plugin->inputs_ <= kMaxChannels &&
                            plugin->outputs_ >= 0 && plugin->outputs_ <= kMaxChannels && plugin->parameters_ >= 0 &&
                            plugin->parameters_ <= kMaxCount && plugin->programs_ >= 0 &&
                            plugin->programs_ <= kMaxCount && plugin->latency_ >= 0;
    if (!answered || !believable) {
        std::snprintf(failure, failureSize, "%s",
                      plugin->failure() == BridgeFailure::Crashed            ? kCrashedAsItStarted
                      : plugin->failure() == BridgeFailure::Ended            ? kEndedAsItStarted
                      : plugin->failure() == BridgeFailure::StoppedAnswering ? kSilentAsItStarted
                                                                             : "its process answered garbled");
        delete plugin;
        return nullptr;
    }
    return plugin;
}

bool BridgePlugin::failedAsItStarted(const char* failure) {
    return failure && (std::strcmp(failure, kCrashedAsItStarted) == 0 || std::strcmp(failure, kEndedAsItStarted) == 0 ||
                       std::strcmp(failure, kSilentAsItStarted) == 0);
}

void BridgePlugin::markFailed(BridgeFailure why) {
    // Marked only: ending the process is the UI thread's (uiIdle), off the audio path.
    int32_t none = int32_t(BridgeFailure::None);
    failure_.compare_exchange_strong(none, int32_t(why), std::memory_order_acq_rel);
}

bool BridgePlugin::crashedSaid() const {
    // A process still being taken down (a debugger or the system's report holding it)
    // has said why before it missed its answer.
    return (region_->news.load(std::memory_order_acquire) & kNewsCrashed) != 0;
}

void BridgePlugin::fail(BridgeFailure why) const {
    int32_t none = int32_t(BridgeFailure::None);
    if (failure_.compare_exchange_strong(none, int32_t(why), std::memory_order_acq_rel))
        link_->end();  // a bridge that failed once is not trusted with another call
}

template <typename Fill>
bool BridgePlugin::call(Command command, Fill fill, uint32_t deadline) const {
    // A call from inside another (a message answered while it waits) would take the lane
    // from it: refused.
    if (inCall_)
        return false;
    lastCallMade_ = false;
    struct InCall {
        bool& flag;
        explicit InCall(bool& f) : flag(f) { flag = true; }
        ~InCall() { flag = false; }
    } inCall(inCall_);
    if (failure() != BridgeFailure::None || !settleLate(kBusyWaitMicroseconds))
        return false;
    UiLane& lane = region_->ui;
    MessageWriter out(lane.payload, kUiPayloadBytes);
    fill(out);
    if (!out.ok())
        return false;
    lane.command = uint32_t(command);
    lane.size = out.size();
    const CallResult result = callAndWait(lane.serials, link_->uiToBridge(), link_->uiFromBridge(), deadline);
    if (result == CallResult::TimedOut && deadline < kUiDeadlineMicroseconds && !crashedSaid()) {
        // Late, not yet hung: the answer is looked for again before the next call.
        lateCallSince_ = steadyMicroseconds();
        lateCommand_ = command;
        lastStatus_ = Status::Refused;
        return false;
    }
    if (result != CallResult::Answered) {
        fail(result == CallResult::PeerGone ? goneWhy()
             : crashedSaid()                ? BridgeFailure::Crashed
                                            : BridgeFailure::StoppedAnswering);
        return false;
    }
    lastCallMade_ = statusBelievable();
    return lastCallMade_ && lastStatus_ == Status::Ok;
}

bool BridgePlugin::statusBelievable() const {
    const UiLane& lane = region_->ui;
    const int32_t status = lane.status;
    if (status < int32_t(Status::Ok) || status > int32_t(Status::Unknown) || lane.size > kUiPayloadBytes) {
        fail(BridgeFailure::Garbled);
        return false;
    }
    lastStatus_ = Status(status);
    return true;
}

bool BridgePlugin::settleLate(uint32_t wait) const {
    if (lateCallSince_ == 0)
        return true;
    const uint64_t start = steadyMicroseconds();
    const Serials& serials = region_->ui.serials;
    for (;;) {
        if (serials.reply.load(std::memory_order_acquire) == serials.request.load(std::memory_order_relaxed)) {
            lateCallSince_ = 0;
            if (!statusBelievable())
                return false;
            lastCallMade_ = true;  // its answer is there to read
            if (lateCommand_ == Command::Idle && lastStatus_ == Status::Ok)
                takeEdits();
            lastCallMade_ = false;  // read: what follows is the next call's
            return true;
        }
        const uint64_t now = steadyMicroseconds();
        if (crashedSaid() || link_->uiFromBridge().wait(0) == Doorbell::Wake::PeerGone) {
            fail(goneWhy());
            return false;
        }
        if (now - lateCallSince_ > kUiDeadlineMicroseconds) {
            fail(BridgeFailure::StoppedAnswering);
            return false;
        }
        if (now - start >= wait) {
            lastStatus_ = Status::Refused;  // busy: this call is not made
            return false;
        }
        link_->uiFromBridge().wait(1000);  // a pause that also sees the process go
    }
}

bool BridgePlugin::call(Command command) const {
    return call(command, [](MessageWriter&) {});
}

MessageReader BridgePlugin::reader() const {
    // Nothing to read of a call not made: the lane may be the bridge's still.
    return MessageReader(region_->ui.payload,
                         failure() == BridgeFailure::None && lastCallMade_ ? region_->ui.size : 0, kUiPayloadBytes);
}

bool BridgePlugin::configure(double sampleRate, int32_t maxBlockFrames) {
    lastFailure_[0] = '\0';
    if (!std::isfinite(sampleRate) || sampleRate <= 0.0 || maxBlockFrames < 1 || maxBlockFrames > kMaxFrames)
        return false;
    const bool ok = call(Command::Configure, [&](MessageWriter& out) {
        out.f64(sampleRate);
        out.i32(maxBlockFrames);
    });
    MessageReader in = reader();
    in.text(lastFailure_, sizeof lastFailure_);
    const int32_t latency = in.i32();
    if (in.ok() && latency >= 0)
        latency_ = latency;
    if (ok) {
        sampleRate_ = sampleRate;
        maxFrames_ = maxBlockFrames;
    }
    return ok;
}

bool BridgePlugin::resume() {
    lastFailure_[0] = '\0';
    const bool ok = call(Command::Resume);
    MessageReader in = reader();
    in.text(lastFailure_, sizeof lastFailure_);
    const int32_t latency = in.i32();
    if (in.ok() && latency >= 0)
        latency_ = latency;
    return ok;
}

void BridgePlugin::suspend() { call(Command::Suspend); }

void BridgePlugin::passDry(float* const* inputs, float* const* outputs, int32_t frames) {
    for (int32_t c = 0; c < outputs_; ++c) {
        const float* from = inputs[c < inputs_ ? c : inputs_ - 1];
        float* to = outputs[c];
        if (!from || !to)
            continue;
        for (int32_t i = 0; i < frames; ++i) {
            const int32_t at = fadeDone_ + i;
            to[i] = at >= kFadeFrames ? from[i] : from[i] * (float(at) / float(kFadeFrames));
        }
    }
    fadeDone_ = fadeDone_ + frames < kFadeFrames ? fadeDone_ + frames : kFadeFrames;
}

void BridgePlugin::process(float* const* inputs, float* const* outputs, int32_t frames) {
    if (!inputs || !outputs || frames <= 0 || inputs_ < 1 || outputs_ < 1)
        return;
    if (frames > maxFrames_ || failure() != BridgeFailure::None)
        return passDry(inputs, outputs, frames);
    AudioLane& lane = region_->audio;
    if (lateSince_ != 0) {
        // A block is still out: the lane is the bridge's until it answers.
        if (lane.serials.reply.load(std::memory_order_acquire) != lane.serials.request.load(std::memory_order_relaxed)) {
            const bool gone = crashedSaid() || link_->audioFromBridge().wait(0) == Doorbell::Wake::PeerGone;
            // A second unanswered, of the clock or of the audio (a render's seconds pass sooner).
            lateFrames_ += frames;
            const bool hung = steadyMicroseconds() - lateSince_ > kHangMicroseconds ||
                              double(lateFrames_) > sampleRate_ * double(kHangMicroseconds) * 1e-6;
            if (gone || hung)
                markFailed(gone ? goneWhy() : BridgeFailure::StoppedAnswering);
            return passDry(inputs, outputs, frames);
        }
        lateSince_ = 0;  // it answered after all: the plug-in plays again from this block
    }
    for (int32_t c = 0; c < inputs_; ++c)
        std::memcpy(lane.in[c], inputs[c], sizeof(float) * size_t(frames));
    lane.frames = frames;
    lane.tempo = events_ ? events_->tempo() : 0.0;
    // Half the block's period: the rest of the chain and the driver need the other half.
    const double period = double(frames) / sampleRate_ * 1e6;
    const uint32_t deadline = period * 0.5 < 500.0 ? 500 : uint32_t(period * 0.5);
    const CallResult result =
        callAndWait(lane.serials, link_->audioToBridge(), link_->audioFromBridge(), deadline);
    if (result != CallResult::Answered) {
        fadeDone_ = 0;
        if (result == CallResult::PeerGone || crashedSaid()) {
            markFailed(goneWhy());
        } else {
            // Late: this block goes dry, and the bridge has kHangMicroseconds to answer.
            lateBlocks_.fetch_add(1, std::memory_order_relaxed);
            lateSince_ = steadyMicroseconds();
            lateFrames_ = frames;
        }
        return passDry(inputs, outputs, frames);
    }
    for (int32_t c = 0; c < outputs_; ++c)
        std::memcpy(outputs[c], lane.out[c], sizeof(float) * size_t(frames));
}

void BridgePlugin::blockComing() {
    // Not while a block is still out or the bridge has failed: the lane is not ours.
    if (lateSince_ != 0 || failure() != BridgeFailure::None)
        return;
    announce(region_->audio.serials);
}

bool BridgePlugin::textCall(Command command, int32_t index, char* text, size_t size) const {
    if (!text || size == 0)
        return false;
    text[0] = '\0';
    const bool ok = call(command, [&](MessageWriter& out) { out.i32(index); });
    if (!lastCallMade_ || lastStatus_ == Status::Malformed || failure() != BridgeFailure::None)
        return false;
    MessageReader in = reader();
    if (!in.text(text, size)) {
        fail(BridgeFailure::Garbled);
        return false;
    }
    return ok;
}

bool BridgePlugin::parameterName(int32_t index, char* text, size_t size) const {
    return textCall(Command::ParameterName, index, text, size);
}

bool BridgePlugin::parameterValueText(int32_t index, char* text, size_t size) const {
    return textCall(Command::ParameterText, index, text, size);
}

bool BridgePlugin::parameterUnit(int32_t index, char* text, size_t size) const {
    return textCall(Command::ParameterUnit, index, text, size);
}

bool BridgePlugin::programName(int32_t index, char* text, size_t size) const {
    return textCall(Command::ProgramName, index, text, size);
}

float BridgePlugin::parameterValue(int32_t index) const {
    if (!call(Command::ParameterValue, [&](MessageWriter& out) { out.i32(index); }))
        return 0.0f;
    MessageReader in = reader();
    const float value = in.f32();
    return in.ok() && value >= 0.0f && value <= 1.0f ? value : 0.0f;
}

void BridgePlugin::setParameterValue(int32_t index, float value) {
    if (index < 0 || index >= parameters_ || !std::isfinite(value))
        return;
    call(Command::SetParameter, [&](MessageWriter& out) {
        out.i32(index);
        out.f32(value);
    });
}

int32_t BridgePlugin::currentProgram() const {
    if (!call(Command::CurrentProgram))
        return 0;
    MessageReader in = reader();
    const int32_t program = in.i32();
    return in.ok() && program >= 0 && program < programs_ ? program : 0;
}

bool BridgePlugin::selectProgram(int32_t index) {
    return index >= 0 && index < programs_ && call(Command::SelectProgram, [&](MessageWriter& out) { out.i32(index); });
}

bool BridgePlugin::saveState(ByteRecord& record, char* failure, size_t failureSize) {
    record.clear();
    auto refuse = [&](const char* why) {
        if (failure && failureSize)
            std::snprintf(failure, failureSize, "%s", why);
        record.clear();
        return false;
    };
    if (!settleLate(0)) {
        // Busy in its editor (or hung there, which its idle calls will find): the
        // state is asked again later rather than the UI thread kept waiting for it.
        return refuse(this->failure() != BridgeFailure::None ? "stopped answering while giving its state."
                                                              : "was busy in its process and did not give its state.");
    }
    uint32_t total = 0;
    const uint64_t start = steadyMicroseconds();
    for (uint32_t offset = 0;;) {
        if (offset > 0 && steadyMicroseconds() - start > kStateDeadlineMicroseconds) {
            fail(BridgeFailure::StoppedAnswering);
            return refuse("took too long giving its state, and its process was ended.");
        }
        const bool ok = call(Command::SaveState, [&](MessageWriter& out) { out.u32(offset); });
        if (this->failure() != BridgeFailure::None)
            return refuse("stopped answering while giving its state.");
        if (!lastCallMade_)
            return refuse("was busy in its process and did not give its state.");
        MessageReader in = reader();
        char said[256] = "";
        in.text(said, sizeof said);
        if (!ok) {
            // The plug-in's own words, as the backend in the bridge put them.
            return refuse(said[0] ? said : "would not give its state.");
        }
        const uint32_t whole = in.u32();
        uint32_t size = 0;
        const uint8_t* piece = in.bytes(&size);
        if (!in.ok() || (offset == 0 ? whole > ByteRecord::kDefaultLimit : whole != total) ||
            size > whole - offset || (size == 0 && offset < whole)) {
            fail(BridgeFailure::Garbled);
            return refuse("gave its state garbled from its process.");
        }
        total = whole;
        if (!record.append(piece, size))
            return refuse("gave a state larger than a performance can hold.");
        offset += size;
        if (offset == total)
            return true;
    }
}

bool BridgePlugin::restoreState(const uint8_t* data, size_t size) {
    lastFailure_[0] = '\0';
    if ((!data && size) || size > ByteRecord::kDefaultLimit)
        return false;
    if (!call(Command::RestoreBegin, [&](MessageWriter& out) { out.u32(uint32_t(size)); }))
        return false;
    const uint64_t start = steadyMicroseconds();
    for (size_t done = 0; done < size;) {
        if (steadyMicroseconds() - start > kStateDeadlineMicroseconds) {
            fail(BridgeFailure::StoppedAnswering);
            return false;
        }
        size_t piece = 0;
        const bool ok = call(Command::RestorePiece, [&](MessageWriter& out) {
            const size_t room = out.roomForBytes();
            piece = size - done < room ? size - done : room;
            out.bytes(data + done, uint32_t(piece));
        });
        if (!ok)
            return false;
        done += piece;
    }
    const bool ok = call(Command::RestoreCommit);
    MessageReader in = reader();
    in.text(lastFailure_, sizeof lastFailure_);
    if (ok && events_)
        events_->parametersChanged();
    return ok;
}

bool BridgePlugin::failed(char* how, size_t size) const {
    const BridgeFailure why = failure();
    if (why == BridgeFailure::None)
        return false;
    if (how && size)
        std::snprintf(how, size, "%s",
                      why == BridgeFailure::Crashed            ? "crashed: its process ended."
                      : why == BridgeFailure::Ended
                          ? "ended its process without a crash (it quit, or was ended from outside)."
                      : why == BridgeFailure::StoppedAnswering ? "stopped answering, and its process was ended."
                                                               : "answered garbled, and its process was ended.");
    return true;
}

bool BridgePlugin::readEditorSize(MessageReader& in, int32_t* width, int32_t* height) const {
    *width = in.i32();
    *height = in.i32();
    if (in.ok() && *width > 0 && *width <= kMaxEditorSide && *height > 0 && *height <= kMaxEditorSide)
        return true;
    fail(BridgeFailure::Garbled);  // our bridge bounds every size it gives
    return false;
}

bool BridgePlugin::openEditor(void* parent, int32_t* width, int32_t* height) {
    if (!hasEditor() || !parent || !width || !height)
        return false;
    if (editorOpen_)
        closeEditor();
    const uint32_t top = placement_->topWindowOf(parent);
    if (!call(Command::EditorOpen, [&](MessageWriter& out) { out.u32(top); }))
        return false;
    MessageReader in = reader();
    const uint32_t window = in.u32();
    int32_t w = 0, h = 0;
    if (!readEditorSize(in, &w, &h))
        return false;
    if (!placement_->attach(parent, window)) {
        fail(BridgeFailure::Garbled);  // a window that is not its own
        return false;
    }
    editorOpen_ = true;
    editorWidth_ = *width = w;
    editorHeight_ = *height = h;
    return true;
}

void BridgePlugin::closeEditor() {
    if (!editorOpen_)
        return;
    editorOpen_ = false;
    placement_->detach();  // gone from the screen at once, however long the bridge takes
    call(Command::EditorClose);
}

bool BridgePlugin::resizeEditor(int32_t* width, int32_t* height) {
    if (!editorOpen_ || !width || !height)
        return false;
    const int32_t askedWidth = *width, askedHeight = *height;
    if (askedWidth < 1 || askedWidth > kMaxEditorSide || askedHeight < 1 || askedHeight > kMaxEditorSide)
        return false;
    const bool ok = call(Command::EditorResize, [&](MessageWriter& out) {
        out.i32(askedWidth);
        out.i32(askedHeight);
    });
    if (!ok)
        return false;
    MessageReader in = reader();
    int32_t w = 0, h = 0;
    if (!readEditorSize(in, &w, &h))
        return false;
    editorWidth_ = *width = w;
    editorHeight_ = *height = h;
    placement_->follow();
    return true;
}

void BridgePlugin::editorFrameChanged() {
    if (editorOpen_ && failure() == BridgeFailure::None)
        placement_->follow();
}

bool BridgePlugin::ownsEditorWindow(void* window) const {
    return editorOpen_ && failure() == BridgeFailure::None && placement_->owns(window);
}

void BridgePlugin::uiIdle() {
    if (failure() != BridgeFailure::None) {
        if (placement_ && editorOpen_)
            placement_->detach();
        link_->end();  // a failure the audio thread only marked
        return;
    }
    if (editorOpen_)
        placement_->follow();  // first: it waits for nothing
    if (lateCallSince_ != 0 && !settleLate(0))
        return;  // still busy: its news waits too
    // The crash bit stays: it is the bridge's last word, read after its process went.
    const uint32_t news = region_->news.fetch_and(kNewsCrashed, std::memory_order_acq_rel);
    if (events_) {
        if (news & kNewsLatency)
            events_->latencyChanged();
        if (news & kNewsParameters)
            events_->parametersChanged();
        if (news & kNewsRestart)
            events_->restartRequested();
    }
    if ((news & kNewsEditorSize) && editorOpen_ && call(Command::EditorSize)) {
        MessageReader in = reader();
        int32_t width = 0, height = 0;
        if (readEditorSize(in, &width, &height) && (width != editorWidth_ || height != editorHeight_)) {
            editorWidth_ = width;
            editorHeight_ = height;
            if (events_)
                events_->editorResizeRequested(width, height);
            placement_->follow();
        }
    }
    if (call(Command::Idle, [](MessageWriter&) {}, kIdleDeadlineMicroseconds))
        takeEdits();
}

void BridgePlugin::takeEdits() const {
    MessageReader in = reader();
    const uint32_t count = in.u32();
    for (uint32_t i = 0; in.ok() && i < count; ++i) {
        const int32_t index = in.i32();
        const float value = in.f32();
        if (in.ok() && events_ && index >= 0 && index < parameters_ && value >= 0.0f && value <= 1.0f)
            events_->parameterEdited(index, value);
    }
}

}  // namespace bridge
