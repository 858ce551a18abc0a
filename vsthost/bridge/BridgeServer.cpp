#include "BridgeServer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "BlockRhythm.h"

namespace bridge {

namespace {

// How long a serving thread waits before looking again whether to go on.
constexpr uint32_t kServeWait = 200000;
constexpr uint32_t kTextLimit = 512;

}  // namespace

BridgeServer::BridgeServer(Region* region, Doorbell& uiIn, Doorbell& uiOut, Doorbell& audioIn, Doorbell& audioOut)
    : region_(region), uiIn_(uiIn), uiOut_(uiOut), audioIn_(audioIn), audioOut_(audioOut) {
    for (auto& bits : editedBits_)
        bits.store(0, std::memory_order_relaxed);
    for (auto& value : edited_)
        value.store(0.0f, std::memory_order_relaxed);
}

void BridgeServer::parameterEdited(int32_t index, float value) {
    if (index < 0 || index >= kEditedParameters || !std::isfinite(value))
        return;
    edited_[index].store(value, std::memory_order_relaxed);
    editedBits_[index / 32].fetch_or(1u << (index % 32), std::memory_order_release);
}

void BridgeServer::setLoadFailure(const char* reason) {
    std::snprintf(loadFailure_, sizeof loadFailure_, "%s", reason && reason[0] ? reason : "it did not load");
}

void BridgeServer::serveUi() {
    answeredUi_ = region_->ui.serials.reply.load(std::memory_order_acquire);  // a request already waiting is served
    while (!quit_) {
        Doorbell::Wake why;
        if (!waitForRequest(region_->ui.serials, answeredUi_, uiIn_, kServeWait, &why)) {
            if (why == Doorbell::Wake::PeerGone)
                return;
            continue;
        }
        serveWaitingUi();
    }
}

bool BridgeServer::serveWaitingUi() {
    const uint32_t serial = region_->ui.serials.request.load(std::memory_order_acquire);
    if (servingUi_ || quit_ || serial == answeredUi_)
        return false;  // nothing waits, or a call is being answered further out
    servingUi_ = true;
    const Command command = Command(region_->ui.command);
    MessageReader in(region_->ui.payload, region_->ui.size, kUiPayloadBytes);
    // The answer is built aside: the request's bytes are read while it is written.
    MessageWriter out(reply_, kUiPayloadBytes);
    Status status = Status::Unknown;
    if (plugin_ || command == Command::Quit) {
        status = answerUi(command, in, out) ? Status::Ok : Status::Refused;
    } else if (command == Command::Hello) {
        out.text(loadFailure_);
        status = Status::Refused;
    }
    if (!in.ok() || !out.ok())
        status = Status::Malformed;
    std::memcpy(region_->ui.payload, reply_, out.size());
    region_->ui.size = out.size();
    region_->ui.status = int32_t(status);
    answer(region_->ui.serials, serial, uiOut_);
    answeredUi_ = serial;
    servingUi_ = false;
    if (command == Command::Quit)
        quit_ = true;
    return true;
}

bool BridgeServer::answerUi(Command command, MessageReader& in, MessageWriter& out) {
    char text[kTextLimit];
    switch (command) {
    case Command::Hello: {
        const PluginIdentity& id = plugin_->identity();
        out.text(id.name);
        out.text(id.vendor);
        out.text(id.format);
        out.text(id.classId);
        out.u32(id.instrument ? 1 : 0);
        out.i32(plugin_->inputCount());
        out.i32(plugin_->outputCount());
        out.i32(plugin_->parameterCount());
        out.i32(plugin_->programCount());
        out.i32(plugin_->latencyFrames());
        out.u32(plugin_->hasEditor() ? 1 : 0);
        return true;
    }
    case Command::Configure: {
        const double rate = in.f64();
        const int32_t frames = in.i32();
        if (!in.ok() || frames < 1 || frames > kMaxFrames)
            return false;
        const bool ok = plugin_->configure(rate, frames);
        maxFrames_.store(ok ? frames : 0, std::memory_order_release);
        out.text(ok ? "" : plugin_->lastFailure());
        out.i32(plugin_->latencyFrames());
        return ok;
    }
    case Command::Resume: {
        const bool ok = plugin_->resume();
        out.text(ok ? "" : plugin_->lastFailure());
        out.i32(plugin_->latencyFrames());
        return ok;
    }
    case Command::Suspend:
        plugin_->suspend();
        return true;
    case Command::ParameterName:
    case Command::ParameterText:
    case Command::ParameterUnit:
    case Command::ProgramName: {
        const int32_t index = in.i32();
        text[0] = '\0';
        const bool ok = command == Command::ParameterName   ? plugin_->parameterName(index, text, sizeof text)
                        : command == Command::ParameterText ? plugin_->parameterValueText(index, text, sizeof text)
                        : command == Command::ParameterUnit ? plugin_->parameterUnit(index, text, sizeof text)
                                                            : plugin_->programName(index, text, sizeof text);
        text[sizeof text - 1] = '\0';
        out.text(text);
        return ok;
    }
    case Command::ParameterValue:
        out.f32(plugin_->parameterValue(in.i32()));
        return in.ok();
    case Command::SetParameter: {
        const int32_t index = in.i32();
        const float value = in.f32();
        if (!in.ok())
            return false;
        plugin_->setParameterValue(index, value);
        return true;
    }
    case Command::SelectProgram:
        return plugin_->selectProgram(in.i32()) && in.ok();
    case Command::CurrentProgram:
        out.i32(plugin_->currentProgram());
        return true;
    case Command::SaveState: {
        const uint32_t offset = in.u32();
        if (!in.ok())
            return false;
        if (offset == 0) {
            char failure[256] = "";
            if (!plugin_->saveState(record_, failure, sizeof failure)) {
                record_.clear();
                out.text(failure);
                return false;
            }
        }
        if (offset > record_.size())
            return false;
        out.text("");
        out.u32(uint32_t(record_.size()));
        uint32_t piece = uint32_t(record_.size() - offset);
        const uint32_t room = out.roomForBytes();
        piece = piece < room ? piece : room;
        out.bytes(record_.data() + offset, piece);
        return true;
    }
    case Command::RestoreBegin:
        restoreTotal_ = in.u32();
        record_.clear();
        return in.ok() && restoreTotal_ <= ByteRecord::kDefaultLimit;
    case Command::RestorePiece: {
        uint32_t size = 0;
        const uint8_t* bytes = in.bytes(&size);
        return in.ok() && record_.size() + size <= restoreTotal_ && record_.append(bytes, size);
    }
    case Command::RestoreCommit: {
        const bool whole = record_.size() == restoreTotal_;
        const bool ok = whole && plugin_->restoreState(record_.data(), record_.size());
        record_.release();
        out.text(ok || !whole ? "" : plugin_->lastFailure());
        return ok;
    }
    case Command::Idle: {
        plugin_->uiIdle();
        // The moves made since the last Idle, as many as the answer holds.
        const uint32_t countAt = out.size();
        out.u32(0);
        uint32_t count = 0;
        for (int32_t word = 0; word < kEditedParameters / 32; ++word) {
            uint32_t bits = editedBits_[word].exchange(0, std::memory_order_acquire);
            for (; bits; bits &= bits - 1) {
                const int32_t index = word * 32 + __builtin_ctz(bits);
                out.i32(index);
                out.f32(edited_[index].load(std::memory_order_relaxed));
                ++count;
            }
        }
        out.patchU32(countAt, count);
        return out.ok();
    }
    case Command::Quit:
        return true;
    case Command::EditorOpen:
    case Command::EditorClose:
    case Command::EditorResize:
    case Command::EditorSize:
        return answerEditor(command, in, out);
    }
    return false;
}

void BridgeServer::keepEditorSize(int32_t width, int32_t height) {
    editorWidth_.store(boundedEditorSide(width), std::memory_order_relaxed);
    editorHeight_.store(boundedEditorSide(height), std::memory_order_relaxed);
}

bool BridgeServer::editorResizeRequested(int32_t width, int32_t height) {
    if (!editorWindow_ || !editorWindow_->isOpen() || width < 1 || height < 1)
        return false;
    keepEditorSize(width, height);
    editorWindow_->takeSize(editorWidth_.load(std::memory_order_relaxed), editorHeight_.load(std::memory_order_relaxed));
    region_->news.fetch_or(kNewsEditorSize);
    return true;
}

bool BridgeServer::answerEditor(Command command, MessageReader& in, MessageWriter& out) {
    if (!editorWindow_ || !plugin_->hasEditor())
        return false;
    switch (command) {
    case Command::EditorOpen: {
        const uint32_t programWindow = in.u32();
        if (!in.ok())
            return false;
        if (editorWindow_->isOpen())
            editorWindow_->close(*plugin_);
        uint32_t window = 0;
        int32_t width = 0, height = 0;
        if (!editorWindow_->open(*plugin_, programWindow, &window, &width, &height))
            return false;
        // The size the window holds: one the plug-in asked for while opening included.
        keepEditorSize(width, height);
        out.u32(window);
        out.i32(editorWidth_.load(std::memory_order_relaxed));
        out.i32(editorHeight_.load(std::memory_order_relaxed));
        return true;
    }
    case Command::EditorClose:
        if (editorWindow_->isOpen())
            editorWindow_->close(*plugin_);
        return true;
    case Command::EditorResize: {
        int32_t width = in.i32();
        int32_t height = in.i32();
        if (!in.ok() || !editorWindow_->isOpen() || width < 1 || height < 1)
            return false;
        if (!plugin_->resizeEditor(&width, &height))
            return false;
        keepEditorSize(width, height);
        editorWindow_->takeSize(editorWidth_.load(), editorHeight_.load());
        out.i32(editorWidth_.load(std::memory_order_relaxed));
        out.i32(editorHeight_.load(std::memory_order_relaxed));
        return true;
    }
    case Command::EditorSize:
        if (!editorWindow_->isOpen())
            return false;
        out.i32(editorWidth_.load(std::memory_order_relaxed));
        out.i32(editorHeight_.load(std::memory_order_relaxed));
        return true;
    default:
        return false;
    }
}

void BridgeServer::serveAudio(const std::atomic<bool>& stop, Idler* idler) {
    uint32_t answered = region_->audio.serials.reply.load(std::memory_order_acquire);
    BlockRhythm rhythm;
    while (!stop.load(std::memory_order_relaxed)) {
        Doorbell::Wake why;
        const bool came = idler ? waitForBlock(region_->audio.serials, answered, audioIn_, *idler, rhythm, kServeWait, &why)
                                : waitForRequest(region_->audio.serials, answered, audioIn_, kServeWait, &why);
        if (!came) {
            if (why == Doorbell::Wake::PeerGone)
                return;
            continue;
        }
        const uint32_t serial = region_->audio.serials.request.load(std::memory_order_acquire);
        if (idler)
            idler->startWorking();
        answerBlock();
        answer(region_->audio.serials, serial, audioOut_);
        if (idler)
            idler->stopWorking();
        answered = serial;
    }
}

void BridgeServer::answerBlock() {
    AudioLane& lane = region_->audio;
    const int32_t frames = lane.frames;
    const double tempo = lane.tempo;
    tempo_.store(std::isfinite(tempo) ? tempo : 0.0, std::memory_order_relaxed);
    const int32_t most = maxFrames_.load(std::memory_order_acquire);
    if (!plugin_ || frames < 1 || frames > most)
        return;  // the program asked for what it did not configure: the output is left
    float* in[kMaxChannels] = {lane.in[0], lane.in[1]};
    float* out[kMaxChannels] = {lane.out[0], lane.out[1]};
    plugin_->process(in, out, frames);
}

}  // namespace bridge
