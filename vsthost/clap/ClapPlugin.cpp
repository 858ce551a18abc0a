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
#include "ProductVersion.h"

namespace {

constexpr uint32_t kMaxLatency = 1u << 22;  // about a minute and a half at 48 kHz
constexpr int32_t kMaxBlockFrames = 1 << 16;

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
    host_.name = TALVENOR_PRODUCT_NAME;
    host_.vendor = TALVENOR_COMPANY_NAME;
    host_.url = "";
    host_.version = TALVENOR_VERSION_TEXT;
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
    // Released on whatever thread: the plug-in must be let go all the same.
    editor_.close();
    stopAndDeactivate();
    if (plugin_)
        plugin_->destroy(plugin_);
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
    if (!plugin->init) {
        describeClapFailure(ClapFailure::PluginIncomplete, "init", failure, failureSize);
        return false;
    }
    // Every created plug-in is initialised, even one the host will refuse at once.
    if (!plugin->init(plugin)) {
        describeClapFailure(ClapFailure::PluginInitFailed, nullptr, failure, failureSize);
        return false;
    }
    const char* missing = !plugin->activate         ? "activate"
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
    queryExtensions();
    if (!audioPorts_.read(plugin_, ports_, failure, failureSize))
        return false;
    inputs_ = audioPorts_.mainInputs();
    outputs_ = audioPorts_.mainOutputs();
    char reason[128] = "";
    if (!parameters_.read(plugin_, params_, reason, sizeof reason)) {
        describeClapFailure(ClapFailure::ParametersUnreadable, reason, failure, failureSize);
        return false;
    }
    readLatency();
    readProgram();
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
    editor_.attach(plugin_, static_cast<const clap_plugin_gui_t*>(plugin_->get_extension(plugin_, CLAP_EXT_GUI)));
}

bool ClapPlugin::configure(double sampleRate, int32_t maxBlockFrames) {
    if (!calledOnMainThread())
        return false;
    lastFailure_[0] = '\0';
    if (!std::isfinite(sampleRate) || sampleRate < 1000.0 || sampleRate > 1e6 || maxBlockFrames < 1 ||
        maxBlockFrames > kMaxBlockFrames) {
        describeClapFailure(ClapFailure::FiguresRefused, "", lastFailure_, sizeof lastFailure_);
        return false;
    }
    // The rate and block size are fixed while active: an active plug-in is deactivated
    // for the change and activated again with the new ones.
    const bool wasActive = active_.load();
    if (wasActive)
        suspend();
    sampleRate_ = sampleRate;
    maxFrames_ = maxBlockFrames;
    if (!audioPorts_.prepare(maxBlockFrames)) {
        describeClapFailure(ClapFailure::OutOfMemory, "", lastFailure_, sizeof lastFailure_);
        return false;
    }
    return !wasActive || resume();
}

bool ClapPlugin::resume() {
    if (!calledOnMainThread())
        return false;
    if (active_.load())
        return true;
    lastFailure_[0] = '\0';
    if (!audioPorts_.prepared() || !plugin_->activate(plugin_, sampleRate_, 1, uint32_t(maxFrames_))) {
        char figures[64];
        std::snprintf(figures, sizeof figures, "%.0f Hz and %d frames", sampleRate_, int(maxFrames_));
        describeClapFailure(ClapFailure::ActivateRefused, figures, lastFailure_, sizeof lastFailure_);
        return false;
    }
    processing_ = false;
    startRefused_ = false;
    active_.store(true, std::memory_order_release);
    readLatency();
    return true;
}

void ClapPlugin::suspend() {
    if (calledOnMainThread())
        stopAndDeactivate();
}

void ClapPlugin::stopAndDeactivate() {
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

    audioPorts_.bind(inputs, outputs, frames);

    const double tempo = events_ ? events_->tempo() : 0.0;
    transport_.flags = std::isfinite(tempo) && tempo > 0.0 ? CLAP_TRANSPORT_HAS_TEMPO : 0;
    transport_.tempo = transport_.flags ? tempo : 0.0;

    clap_process_t call;
    call.steady_time = steadyTime_;
    call.frames_count = uint32_t(frames);
    call.transport = &transport_;
    call.audio_inputs = audioPorts_.inputBuffers();
    call.audio_outputs = audioPorts_.outputBuffers();
    call.audio_inputs_count = audioPorts_.inputPortCount();
    call.audio_outputs_count = audioPorts_.outputPortCount();
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
    const ClapParameter* programs = self->parameters_.programList();
    if (programs && id == programs->id) {
        // The plug-in's own program choice (its editor's): its values follow in a rescan.
        const double plain = ClapParameterTable::toPlain(*programs, ClapParameterTable::toNormalised(*programs, value));
        self->program_.store(int32_t(plain), std::memory_order_relaxed);
        return;
    }
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

void ClapPlugin::readProgram() {
    const ClapParameter* programs = parameters_.programList();
    double value = 0.0;
    if (!programs || !params_->get_value(plugin_, programs->id, &value) || !std::isfinite(value))
        value = 0.0;
    const float normalised = programs ? ClapParameterTable::toNormalised(*programs, value) : 0.0f;
    program_.store(programs ? int32_t(ClapParameterTable::toPlain(*programs, normalised)) : 0);
}

bool ClapPlugin::programName(int32_t index, char* text, size_t size) const {
    const ClapParameter* programs = parameters_.programList();
    if (!programs || index < 0 || index >= programCount() || !text || size == 0 || !calledOnMainThread())
        return false;
    char shown[CLAP_NAME_SIZE];
    std::memset(shown, 0, sizeof shown);
    if (!params_->value_to_text || !params_->value_to_text(plugin_, programs->id, double(index), shown, sizeof shown))
        return false;  // the host shows it as nameless
    copyPluginText(text, size, shown, sizeof shown);
    return true;
}

int32_t ClapPlugin::currentProgram() const { return program_.load(std::memory_order_relaxed); }

bool ClapPlugin::selectProgram(int32_t index) {
    const ClapParameter* programs = parameters_.programList();
    if (!programs || index < 0 || index >= programCount() || !calledOnMainThread())
        return false;
    if (!changes_.push({programs->id, programs->cookie, double(index)}))
        return false;
    program_.store(index, std::memory_order_relaxed);
    if (!active_.load())
        flushOnMainThread();
    return true;
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
    if (!p || !calledOnMainThread())
        return 0.0f;
    double value = p->defaultValue;
    if (!params_->get_value(plugin_, p->id, &value))
        value = p->defaultValue;
    return ClapParameterTable::toNormalised(*p, value);
}

bool ClapPlugin::parameterValueText(int32_t index, char* text, size_t size) const {
    const ClapParameter* p = parameters_.at(index);
    if (!p || !text || size == 0 || !calledOnMainThread())
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
    // One producer for the queue: the main thread.
    if (!p || (p->flags & CLAP_PARAM_IS_READONLY) || !std::isfinite(value) || !calledOnMainThread())
        return;
    // A full queue (hundreds of moves between two blocks) drops the newest move.
    if (!changes_.push({p->id, p->cookie, ClapParameterTable::toPlain(*p, value)}))
        return;
    if (!active_.load())
        flushOnMainThread();
}

bool ClapPlugin::saveState(ByteRecord& record, char* failure, size_t failureSize) {
    record.clear();
    auto fail = [&](const char* why) {
        if (failure && failureSize)
            std::snprintf(failure, failureSize, "%s", why);
        record.clear();
        return false;
    };
    if (!calledOnMainThread())
        return fail("was asked for its state from another thread than its own.");
    if (!state_)
        return fail("keeps no state.");
    ClapStateWriter writer(record);
    if (!state_->save(plugin_, writer.stream()))
        return fail("would not give its state.");
    if (writer.failed())
        return fail("gave a state larger than a performance can hold.");
    return true;
}

bool ClapPlugin::restoreState(const uint8_t* data, size_t size) {
    if (!state_ || (!data && size) || !calledOnMainThread())
        return false;
    // CLAP has no trial load: a state that does not read is answered by loading the
    // state the plug-in had before.
    ByteRecord before;
    char ignored[8];
    const bool haveBefore = saveState(before, ignored, sizeof ignored);
    ClapStateReader reader(data, size);
    if (state_->load(plugin_, reader.stream())) {
        readProgram();
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

bool ClapPlugin::hasEditor() const { return calledOnMainThread() && editor_.available(); }

bool ClapPlugin::openEditor(void* parent, int32_t* width, int32_t* height) {
    return calledOnMainThread() && editor_.open(parent, width, height);
}

void ClapPlugin::closeEditor() {
    if (calledOnMainThread())
        editor_.close();
}

bool ClapPlugin::resizeEditor(int32_t* width, int32_t* height) {
    return calledOnMainThread() && editor_.resize(width, height);
}

void ClapPlugin::uiIdle() {
    if (!calledOnMainThread())
        return;
    if (callbackRequested_.exchange(false) && plugin_->on_main_thread)
        plugin_->on_main_thread(plugin_);
    // While active the next process call carries the plug-in's changes.
    if (flushRequested_.exchange(false) && !active_.load())
        flushOnMainThread();
}

uint32_t ClapPlugin::containedFaults() const {
    return faults_.load(std::memory_order_relaxed) + outEvents_.refused();
}

bool ClapPlugin::calledOnMainThread() const {
    if (onMainThread())
        return true;
    offThreadCalls_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

uint32_t ClapPlugin::refusedOffThreadCalls() const { return offThreadCalls_.load(std::memory_order_relaxed); }

bool ClapPlugin::onMainThread() const { return clap_platform::currentThreadToken() == mainThread_; }

bool ClapPlugin::onAudioThread() const {
    return clap_platform::currentThreadToken() == audioThread_.load(std::memory_order_relaxed);
}
