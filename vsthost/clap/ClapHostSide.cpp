// The host as the plug-in sees it: clap_host and the host extensions. The plug-in
// may call any of these from any thread at any time; each checks the thread the
// format names for it, and a call against the rules is counted and ignored.
#include "ClapPlugin.h"
#include "ClapText.h"

namespace {
constexpr size_t kMaxExtensionId = 256;
}  // namespace

ClapPlugin* ClapPlugin::from(const clap_host_t* host) {
    return host ? static_cast<ClapPlugin*>(host->host_data) : nullptr;
}

const void* ClapPlugin::hostExtension(const clap_host_t* host, const char* id) {
    static const clap_host_thread_check_t kThreadCheck = {hostIsMainThread, hostIsAudioThread};
    static const clap_host_latency_t kLatency = {hostLatencyChanged};
    static const clap_host_params_t kParams = {hostParamsRescan, hostParamsClear, hostParamsRequestFlush};
    static const clap_host_audio_ports_t kPorts = {hostPortsRescanSupported, hostPortsRescan};
    static const clap_host_state_t kState = {hostStateMarkDirty};
    static const clap_host_gui_t kGui = {hostGuiResizeHintsChanged, hostGuiRequestResize, hostGuiRequestShow,
                                         hostGuiRequestHide, hostGuiClosed};
    if (!from(host) || !id)
        return nullptr;
    if (pluginTextIs(id, CLAP_EXT_THREAD_CHECK, kMaxExtensionId))
        return &kThreadCheck;
    if (pluginTextIs(id, CLAP_EXT_LATENCY, kMaxExtensionId))
        return &kLatency;
    if (pluginTextIs(id, CLAP_EXT_PARAMS, kMaxExtensionId))
        return &kParams;
    if (pluginTextIs(id, CLAP_EXT_AUDIO_PORTS, kMaxExtensionId))
        return &kPorts;
    if (pluginTextIs(id, CLAP_EXT_STATE, kMaxExtensionId))
        return &kState;
    if (pluginTextIs(id, CLAP_EXT_GUI, kMaxExtensionId))
        return &kGui;
    return nullptr;
}

// The seam's host restarts at its next chance on the UI thread (suspend, resume).
void ClapPlugin::hostRequestRestart(const clap_host_t* host) {
    ClapPlugin* self = from(host);
    if (self && self->events_)
        self->events_->restartRequested();
}

// A live effect is processed without pause while resumed: nothing to wake.
void ClapPlugin::hostRequestProcess(const clap_host_t*) {}

void ClapPlugin::hostRequestCallback(const clap_host_t* host) {
    ClapPlugin* self = from(host);
    if (!self)
        return;
    self->callbackRequested_.store(true);
    if (self->events_)
        self->events_->uiCallRequested();
}

bool ClapPlugin::hostIsMainThread(const clap_host_t* host) {
    ClapPlugin* self = from(host);
    return self && self->onMainThread();
}

bool ClapPlugin::hostIsAudioThread(const clap_host_t* host) {
    ClapPlugin* self = from(host);
    return self && self->onAudioThread();
}

void ClapPlugin::hostLatencyChanged(const clap_host_t* host) {
    ClapPlugin* self = from(host);
    if (!self)
        return;
    if (!self->onMainThread()) {
        self->noteFault();
        return;
    }
    // While active the latency may not change; a restart gives the plug-in its chance.
    if (self->active_.load()) {
        self->noteFault();
        if (self->events_)
            self->events_->restartRequested();
        return;
    }
    self->readLatency();
    if (self->events_)
        self->events_->latencyChanged();
}

void ClapPlugin::hostParamsRescan(const clap_host_t* host, clap_param_rescan_flags flags) {
    ClapPlugin* self = from(host);
    if (!self)
        return;
    if (!self->onMainThread()) {
        self->noteFault();
        return;
    }
    if (flags & CLAP_PARAM_RESCAN_ALL) {
        // The list may only change while inactive (the audio thread looks ids up in it).
        if (self->active_.load()) {
            self->noteFault();
            if (self->events_)
                self->events_->restartRequested();
            return;
        }
        char reason[128];
        if (!self->parameters_.read(self->plugin_, self->params_, reason, sizeof reason)) {
            self->noteFault();  // the old list stays
            return;
        }
    } else if (flags & CLAP_PARAM_RESCAN_INFO) {
        self->parameters_.rereadNames(self->plugin_, self->params_);
    }
    self->readProgram();
    if (self->events_)
        self->events_->parametersChanged();
}

void ClapPlugin::hostParamsClear(const clap_host_t*, clap_id, clap_param_clear_flags) {}

void ClapPlugin::hostParamsRequestFlush(const clap_host_t* host) {
    ClapPlugin* self = from(host);
    if (!self)
        return;
    if (self->onAudioThread()) {
        self->noteFault();  // inside process the plug-in sends its changes itself
        return;
    }
    if (self->active_.load())
        return;  // the next process call carries them
    self->flushRequested_.store(true);
    if (self->events_)
        self->events_->uiCallRequested();
}

bool ClapPlugin::hostPortsRescanSupported(const clap_host_t*, uint32_t flag) {
    // The channel counts are fixed once loaded; only names may change.
    return flag == CLAP_AUDIO_PORTS_RESCAN_NAMES;
}

void ClapPlugin::hostPortsRescan(const clap_host_t* host, uint32_t flags) {
    ClapPlugin* self = from(host);
    if (self && (!self->onMainThread() || (flags & ~uint32_t(CLAP_AUDIO_PORTS_RESCAN_NAMES))))
        self->noteFault();
}

void ClapPlugin::hostStateMarkDirty(const clap_host_t* host) {
    ClapPlugin* self = from(host);
    if (self && !self->onMainThread())
        self->noteFault();
}

void ClapPlugin::hostGuiResizeHintsChanged(const clap_host_t*) {}

bool ClapPlugin::hostGuiRequestResize(const clap_host_t* host, uint32_t width, uint32_t height) {
    ClapPlugin* self = from(host);
    if (!self || !ClapEditor::saneSide(width) || !ClapEditor::saneSide(height)) {
        if (self)
            self->noteFault();
        return false;
    }
    return self->events_ && self->events_->editorResizeRequested(int32_t(width), int32_t(height));
}

// The editor lives in the host's window, which the host shows and hides.
bool ClapPlugin::hostGuiRequestShow(const clap_host_t*) { return false; }
bool ClapPlugin::hostGuiRequestHide(const clap_host_t*) { return false; }
void ClapPlugin::hostGuiClosed(const clap_host_t*, bool) {}
