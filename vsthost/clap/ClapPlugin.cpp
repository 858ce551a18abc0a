#include "ClapPlugin.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "ClapClassChoice.h"
#include "ClapFailure.h"
#include "ClapModule.h"
#include "ClapPlatform.h"
#include "ClapStateStream.h"
#include "ClapText.h"

namespace {

constexpr uint32_t kMaxEditorSide = 16384;
constexpr uint32_t kMaxLatency = 1u << 22;  // about a minute and a half at 48 kHz
constexpr int32_t kMaxBlockFrames = 1 << 16;

bool saneSide(uint32_t v) { return v >= 1 && v <= kMaxEditorSide; }

}  // namespace

ClapPlugin* ClapPlugin::create(ClapModule* module, const char* classId, PluginHostEvents* events, char* failure,
                               size_t failureSize) {
    const clap_plugin_descriptor_t* descriptor =
        chooseClapClass(module->pluginFactory(), classId, failure, failureSize);
    if (!descriptor) {
        module->release();
        return nullptr;
    }
    ClapPlugin* plugin = new (std::nothrow) ClapPlugin(module, events);
    if (!plugin) {
        module->release();
        describeClapFailure(ClapFailure::OutOfMemory, nullptr, failure, failureSize);
        return nullptr;
    }
    if (!plugin->open(descriptor, failure, failureSize)) {
        delete plugin;  // destroys what was created and releases the module
        return nullptr;
    }
    return plugin;
}

ClapPlugin::ClapPlugin(ClapModule* module, PluginHostEvents* events)
    : module_(module),
      events_(events),
      mainThread_(clap_platform::currentThreadToken()),
      outEvents_(parameterFromPlugin, this) {
    host_.clap_version = CLAP_VERSION;
    host_.host_data = this;
    host_.name = "Talvenor Live";
    host_.vendor = "Talvenor";
    host_.url = "";
    host_.version = "2";
    host_.get_extension = hostExtension;
    host_.request_restart = hostRequestRestart;
    host_.request_process = hostRequestProcess;
    host_.request_callback = hostRequestCallback;
    transport_.header.size = sizeof transport_;
    transport_.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
    transport_.header.type = CLAP_EVENT_TRANSPORT;
    transport_.tsig_num = 4;
    transport_.tsig_denom = 4;
}

ClapPlugin::~ClapPlugin() {
    closeEditor();
    suspend();
    if (plugin_)
        plugin_->destroy(plugin_);
    freeBuffers();
    module_->release();
}

bool ClapPlugin::open(const clap_plugin_descriptor_t* descriptor, char* failure, size_t failureSize) {
    const size_t idLength = copyPluginText(identity_.classId, sizeof identity_.classId, descriptor->id, 1024);
    if (idLength + 1 >= sizeof identity_.classId && descriptor->id[idLength] != '\0') {
        describeClapFailure(ClapFailure::ClassIdTooLong, nullptr, failure, failureSize);
        return false;
    }
    copyPluginText(identity_.name, sizeof identity_.name, descriptor->name, sizeof identity_.name);
    copyPluginText(identity_.vendor, sizeof identity_.vendor, descriptor->vendor, sizeof identity_.vendor);
    copyPluginText(identity_.format, sizeof identity_.format, "CLAP", 8);

    const clap_plugin_factory_t* factory = module_->pluginFactory();
    const clap_plugin_t* plugin = factory->create_plugin(factory, &host_, identity_.classId);
    if (!plugin) {
        describeClapFailure(ClapFailure::CreateFailed, identity_.classId, failure, failureSize);
        return false;
    }
    // Without destroy nothing can be done with it, not even letting it go.
    if (!plugin->destroy) {
        describeClapFailure(ClapFailure::PluginIncomplete, "destroy", failure, failureSize);
        return false;
    }
    plugin_ = plugin;
    const char* missing = !plugin->init               ? "init"
                          : !plugin->activate         ? "activate"
                          : !plugin->deactivate       ? "deactivate"
                          : !plugin->start_processing ? "start_processing"
                          : !plugin->stop_processing  ? "stop_processing"
                          : !plugin->process          ? "process"
                          : !plugin->get_extension    ? "get_extension"
                                                      : nullptr;
    if (missing) {
        describeClapFailure(ClapFailure::PluginIncomplete, missing, failure, failureSize);
        return false;
    }
    if (!plugin->init(plugin)) {
        describeClapFailure(ClapFailure::PluginInitFailed, nullptr, failure, failureSize);
        return false;
    }
    initialised_ = true;
    queryExtensions();
    if (!readPorts(failure, failureSize))
        return false;
    char reason[128] = "";
    if (!parameters_.read(plugin_, params_, reason, sizeof reason)) {
        describeClapFailure(ClapFailure::ParametersUnreadable, reason, failure, failureSize);
        return false;
    }
    readLatency();
    return true;
}

void ClapPlugin::queryExtensions() {
    // An extension lacking a function the host calls is treated as absent.
    auto params = static_cast<const clap_plugin_params_t*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
    if (params && params->count && params->get_info && params->get_value)
        params_ = params;
    auto ports = static_cast<const clap_plugin_audio_ports_t*>(plugin_->get_extension(plugin_, CLAP_EXT_AUDIO_PORTS));
    if (ports && ports->count && ports->get)
        ports_ = ports;
    auto latency = static_cast<const clap_plugin_latency_t*>(plugin_->get_extension(plugin_, CLAP_EXT_LATENCY));
    if (latency && latency->get)
        latencyExt_ = latency;
    auto state = static_cast<const clap_plugin_state_t*>(plugin_->get_extension(plugin_, CLAP_EXT_STATE));
    if (state && state->save && state->load)
        state_ = state;
    auto gui = static_cast<const clap_plugin_gui_t*>(plugin_->get_extension(plugin_, CLAP_EXT_GUI));
    if (gui && gui->is_api_supported && gui->create && gui->destroy && gui->get_size && gui->set_parent)
        gui_ = gui;
}

bool ClapPlugin::readPortList(bool input, Port* ports, uint32_t* count, char* failure, size_t failureSize) {
    const char* side = input ? "input" : "output";
    const uint32_t n = ports_->count(plugin_, input);
    if (n > kMaxPorts) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "it counts %lu %s ports", static_cast<unsigned long>(n), side);
        describeClapFailure(ClapFailure::PortsUnreadable, detail, failure, failureSize);
        return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
        clap_audio_port_info_t info;
        std::memset(&info, 0, sizeof info);
        info.id = CLAP_INVALID_ID;
        info.in_place_pair = CLAP_INVALID_ID;
        char detail[64];
        if (!ports_->get(plugin_, i, input, &info)) {
            std::snprintf(detail, sizeof detail, "%s port %lu gives no information", side,
                          static_cast<unsigned long>(i));
            describeClapFailure(ClapFailure::PortsUnreadable, detail, failure, failureSize);
            return false;
        }
        // The main ports' channel counts are judged by readPorts; the others must be
        // small enough to be given buffers.
        if (i > 0 && (info.channel_count == 0 || info.channel_count > kMaxPortChannels)) {
            std::snprintf(detail, sizeof detail, "%s port %lu has %lu channels", side, static_cast<unsigned long>(i),
                          static_cast<unsigned long>(info.channel_count));
            describeClapFailure(ClapFailure::PortsUnreadable, detail, failure, failureSize);
            return false;
        }
        ports[i].channels = info.channel_count;
        ports[i].inPlace = input && i == 0 && info.in_place_pair != CLAP_INVALID_ID;
        ports[i].id = info.id;
        ports[i].pair = info.in_place_pair;
    }
    *count = n;
    return true;
}

bool ClapPlugin::readPorts(char* failure, size_t failureSize) {
    if (!ports_) {
        describeClapFailure(ClapFailure::PortLayoutRefused, "not declared", failure, failureSize);
        return false;
    }
    if (!readPortList(true, inPorts_, &inPortCount_, failure, failureSize) ||
        !readPortList(false, outPorts_, &outPortCount_, failure, failureSize))
        return false;
    const uint32_t in = inPortCount_ ? inPorts_[0].channels : 0;
    const uint32_t out = outPortCount_ ? outPorts_[0].channels : 0;
    if (in < 1 || in > 2 || out < 1 || out > 2) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "%lu channels in and %lu out", static_cast<unsigned long>(in),
                      static_cast<unsigned long>(out));
        describeClapFailure(ClapFailure::PortLayoutRefused, detail, failure, failureSize);
        return false;
    }
    inPorts_[0].inPlace = inPorts_[0].inPlace && inPorts_[0].pair == outPorts_[0].id;
    inputs_ = int32_t(in);
    outputs_ = int32_t(out);
    return true;
}

bool ClapPlugin::allocateBuffers() {
    freeBuffers();
    size_t channels = size_t(inputs_);  // the copies of the main input
    for (uint32_t p = 1; p < inPortCount_; ++p)
        channels += inPorts_[p].channels;
    for (uint32_t p = 1; p < outPortCount_; ++p)
        channels += outPorts_[p].channels;
    const size_t total = channels * size_t(maxFrames_);
    scratch_ = new (std::nothrow) float[total];
    if (!scratch_)
        return false;
    std::memset(scratch_, 0, total * sizeof(float));
    float* next = scratch_;
    for (int32_t c = 0; c < inputs_; ++c, next += maxFrames_)
        copiedInputs_[c] = next;
    for (uint32_t p = 0; p < inPortCount_; ++p) {
        for (uint32_t c = 0; p > 0 && c < inPorts_[p].channels; ++c, next += maxFrames_)
            inChannels_[p][c] = next;  // ports beyond the main one hear silence
        inBuffers_[p] = {inChannels_[p], nullptr, p == 0 ? uint32_t(inputs_) : inPorts_[p].channels, 0, 0};
    }
    for (uint32_t p = 0; p < outPortCount_; ++p) {
        for (uint32_t c = 0; p > 0 && c < outPorts_[p].channels; ++c, next += maxFrames_)
            outChannels_[p][c] = next;
        outBuffers_[p] = {outChannels_[p], nullptr, p == 0 ? uint32_t(outputs_) : outPorts_[p].channels, 0, 0};
    }
    return true;
}

void ClapPlugin::freeBuffers() {
    delete[] scratch_;
    scratch_ = nullptr;
}

bool ClapPlugin::configure(double sampleRate, int32_t maxBlockFrames) {
    if (active_.load() || !std::isfinite(sampleRate) || sampleRate < 1000.0 || sampleRate > 1e6 ||
        maxBlockFrames < 1 || maxBlockFrames > kMaxBlockFrames)
        return false;
    sampleRate_ = sampleRate;
    maxFrames_ = maxBlockFrames;
    return allocateBuffers();
}

bool ClapPlugin::resume() {
    if (active_.load())
        return true;
    if (!scratch_ || !plugin_->activate(plugin_, sampleRate_, 1, uint32_t(maxFrames_)))
        return false;
    processing_ = false;
    startRefused_ = false;
    active_.store(true, std::memory_order_release);
    readLatency();
    return true;
}

void ClapPlugin::suspend() {
    if (!active_.load())
        return;
    // The audio thread has stopped calling process: this thread stands in for it.
    if (processing_) {
        audioThread_.store(clap_platform::currentThreadToken());
        plugin_->stop_processing(plugin_);
        processing_ = false;
    }
    audioThread_.store(0);
    plugin_->deactivate(plugin_);
    active_.store(false, std::memory_order_release);
    // Values set after the last block reach the plug-in now.
    if (!changes_.empty())
        flushOnMainThread();
}

void ClapPlugin::passThrough(float* const* inputs, float* const* outputs, int32_t frames) {
    if (!inputs || !outputs || frames <= 0)
        return;
    for (int32_t c = 0; c < outputs_; ++c) {
        const float* source = inputs[c < inputs_ ? c : inputs_ - 1];
        if (source && outputs[c] && source != outputs[c])
            std::memcpy(outputs[c], source, size_t(frames) * sizeof(float));
    }
}

void ClapPlugin::process(float* const* inputs, float* const* outputs, int32_t frames) {
    if (!active_.load(std::memory_order_acquire) || !inputs || !outputs || frames <= 0 || frames > maxFrames_)
        return passThrough(inputs, outputs, frames);
    audioThread_.store(clap_platform::currentThreadToken(), std::memory_order_relaxed);
    if (!processing_) {
        if (startRefused_ || !plugin_->start_processing(plugin_)) {
            startRefused_ = true;
            return passThrough(inputs, outputs, frames);
        }
        processing_ = true;
    }
    inEvents_.clear();
    inEvents_.takeFrom(changes_);

    // A plug-in that cannot work in place gets a copy of any input that is also an output.
    bool aliased = false;
    for (int32_t c = 0; !inPorts_[0].inPlace && c < inputs_; ++c)
        for (int32_t k = 0; k < outputs_; ++k)
            aliased = aliased || inputs[c] == outputs[k];
    for (int32_t c = 0; c < inputs_; ++c) {
        float* source = inputs[c];
        if (aliased) {
            std::memcpy(copiedInputs_[c], source, size_t(frames) * sizeof(float));
            source = copiedInputs_[c];
        }
        inChannels_[0][c] = source;
    }
    for (int32_t c = 0; c < outputs_; ++c)
        outChannels_[0][c] = outputs[c];
    for (uint32_t p = 0; p < outPortCount_; ++p)
        outBuffers_[p].constant_mask = 0;

    const double tempo = events_ ? events_->tempo() : 0.0;
    transport_.flags = std::isfinite(tempo) && tempo > 0.0 ? CLAP_TRANSPORT_HAS_TEMPO : 0;
    transport_.tempo = transport_.flags ? tempo : 0.0;

    clap_process_t call;
    call.steady_time = steadyTime_;
    call.frames_count = uint32_t(frames);
    call.transport = &transport_;
    call.audio_inputs = inBuffers_;
    call.audio_outputs = outBuffers_;
    call.audio_inputs_count = inPortCount_;
    call.audio_outputs_count = outPortCount_;
    call.in_events = inEvents_.list();
    call.out_events = outEvents_.list();
    const clap_process_status status = plugin_->process(plugin_, &call);
    steadyTime_ += frames;
    if (status == CLAP_PROCESS_ERROR)  // the output is not to be used
        for (int32_t c = 0; c < outputs_; ++c)
            std::memset(outputs[c], 0, size_t(frames) * sizeof(float));
}

void ClapPlugin::parameterFromPlugin(void* context, clap_id id, double value) {
    ClapPlugin* self = static_cast<ClapPlugin*>(context);
    const int32_t index = self->parameters_.indexOf(id);
    if (index < 0) {
        self->noteFault();
        return;
    }
    if (self->events_)
        self->events_->parameterEdited(index, ClapParameterTable::toNormalised(*self->parameters_.at(index), value));
}

void ClapPlugin::flushOnMainThread() {
    // Without flush, queued values wait for the next process call.
    if (!params_ || !params_->flush)
        return;
    inEvents_.clear();
    inEvents_.takeFrom(changes_);
    params_->flush(plugin_, inEvents_.list(), outEvents_.list());
    inEvents_.clear();
}

void ClapPlugin::readLatency() {
    if (!latencyExt_)
        return;
    const uint32_t frames = latencyExt_->get(plugin_);
    if (frames > kMaxLatency) {
        noteFault();
        latency_ = 0;
        return;
    }
    latency_ = int32_t(frames);
}

bool ClapPlugin::parameterName(int32_t index, char* text, size_t size) const {
    const ClapParameter* p = parameters_.at(index);
    if (!p || !text || size == 0)
        return false;
    copyPluginText(text, size, p->name, sizeof p->name);
    return true;
}

float ClapPlugin::parameterValue(int32_t index) const {
    const ClapParameter* p = parameters_.at(index);
    if (!p)
        return 0.0f;
    double value = p->defaultValue;
    if (!params_->get_value(plugin_, p->id, &value))
        value = p->defaultValue;
    return ClapParameterTable::toNormalised(*p, value);
}

bool ClapPlugin::parameterValueText(int32_t index, char* text, size_t size) const {
    const ClapParameter* p = parameters_.at(index);
    if (!p || !text || size == 0)
        return false;
    double value = p->defaultValue;
    if (!params_->get_value(plugin_, p->id, &value) || !std::isfinite(value))
        value = p->defaultValue;
    char shown[CLAP_NAME_SIZE];
    std::memset(shown, 0, sizeof shown);
    if (params_->value_to_text && params_->value_to_text(plugin_, p->id, value, shown, sizeof shown)) {
        copyPluginText(text, size, shown, sizeof shown);
        return true;
    }
    std::snprintf(text, size, "%g", value);
    return true;
}

void ClapPlugin::setParameterValue(int32_t index, float value) {
    const ClapParameter* p = parameters_.at(index);
    if (!p || (p->flags & CLAP_PARAM_IS_READONLY) || !std::isfinite(value))
        return;
    // A full queue (hundreds of moves between two blocks) drops the newest move.
    if (!changes_.push({p->id, p->cookie, ClapParameterTable::toPlain(*p, value)}))
        return;
    if (!active_.load())
        flushOnMainThread();
}

bool ClapPlugin::saveState(ByteRecord& record) {
    record.clear();
    if (!state_)
        return false;
    ClapStateWriter writer(record);
    const bool saved = state_->save(plugin_, writer.stream()) && !writer.failed();
    if (!saved)
        record.clear();
    return saved;
}

bool ClapPlugin::restoreState(const uint8_t* data, size_t size) {
    if (!state_ || (!data && size))
        return false;
    // CLAP has no trial load: a state that does not read is answered by loading the
    // state the plug-in had before.
    ByteRecord before;
    const bool haveBefore = saveState(before);
    ClapStateReader reader(data, size);
    if (state_->load(plugin_, reader.stream())) {
        if (events_)
            events_->parametersChanged();
        return true;
    }
    if (haveBefore) {
        ClapStateReader back(before.data(), before.size());
        state_->load(plugin_, back.stream());
    }
    return false;
}

bool ClapPlugin::hasEditor() const { return gui_ && gui_->is_api_supported(plugin_, CLAP_WINDOW_API_WIN32, false); }

bool ClapPlugin::openEditor(void* parent, int32_t* width, int32_t* height) {
    if (!parent || !width || !height || !hasEditor())
        return false;
    uint32_t w = 0, h = 0;
    if (editorOpen_) {
        if (!gui_->get_size(plugin_, &w, &h) || !saneSide(w) || !saneSide(h))
            return false;
        *width = int32_t(w);
        *height = int32_t(h);
        return true;
    }
    if (!gui_->create(plugin_, CLAP_WINDOW_API_WIN32, false))
        return false;
    clap_window_t window;
    window.api = CLAP_WINDOW_API_WIN32;
    window.win32 = parent;
    if (!gui_->get_size(plugin_, &w, &h) || !saneSide(w) || !saneSide(h) || !gui_->set_parent(plugin_, &window)) {
        gui_->destroy(plugin_);
        return false;
    }
    if (gui_->show)
        gui_->show(plugin_);
    editorOpen_ = true;
    *width = int32_t(w);
    *height = int32_t(h);
    return true;
}

void ClapPlugin::closeEditor() {
    if (!editorOpen_)
        return;
    if (gui_->hide)
        gui_->hide(plugin_);
    gui_->destroy(plugin_);
    editorOpen_ = false;
}

bool ClapPlugin::resizeEditor(int32_t* width, int32_t* height) {
    if (!editorOpen_ || !width || !height)
        return false;
    const bool resizable = gui_->can_resize && gui_->set_size && gui_->can_resize(plugin_);
    if (resizable && *width > 0 && *height > 0) {
        uint32_t w = uint32_t(*width) < kMaxEditorSide ? uint32_t(*width) : kMaxEditorSide;
        uint32_t h = uint32_t(*height) < kMaxEditorSide ? uint32_t(*height) : kMaxEditorSide;
        uint32_t aw = w, ah = h;
        if (gui_->adjust_size && gui_->adjust_size(plugin_, &aw, &ah) && saneSide(aw) && saneSide(ah)) {
            w = aw;
            h = ah;
        }
        if (gui_->set_size(plugin_, w, h)) {
            *width = int32_t(w);
            *height = int32_t(h);
            return true;
        }
    }
    uint32_t w = 0, h = 0;
    if (gui_->get_size(plugin_, &w, &h) && saneSide(w) && saneSide(h)) {
        *width = int32_t(w);
        *height = int32_t(h);
    }
    return false;
}

void ClapPlugin::uiIdle() {
    if (callbackRequested_.exchange(false) && plugin_->on_main_thread)
        plugin_->on_main_thread(plugin_);
    // While active the next process call carries the plug-in's changes.
    if (flushRequested_.exchange(false) && !active_.load())
        flushOnMainThread();
}

uint32_t ClapPlugin::containedFaults() const {
    return faults_.load(std::memory_order_relaxed) + outEvents_.refused();
}

bool ClapPlugin::onMainThread() const { return clap_platform::currentThreadToken() == mainThread_; }

bool ClapPlugin::onAudioThread() const {
    return clap_platform::currentThreadToken() == audioThread_.load(std::memory_order_relaxed);
}
