#pragma once
// One CLAP plug-in instance behind the host's seam. The plug-in's main thread is the
// thread that loaded it (the host's UI thread): the seam's UI-thread members called
// from another thread are refused, as they would reach the plug-in off its main
// thread. Its audio thread is whichever thread is in process, and during suspend the
// UI thread, once processing has stopped.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "ClapAbi.h"
#include "ClapAudioPorts.h"
#include "ClapEditor.h"
#include "ClapEvents.h"
#include "ClapParameters.h"
#include "PluginInstance.h"

class ClapModule;

class ClapPlugin final : public PluginInstance {
public:
    // UI thread. Creates and initialises the class classId (empty: the first audio
    // effect) of module; takes over the caller's reference to module either way.
    static ClapPlugin* create(ClapModule* module, const char* classId, PluginHostEvents* events, char* failure,
                              size_t failureSize);
    // UI thread.
    ~ClapPlugin() override;

    // Any thread.
    const PluginIdentity& identity() const override { return identity_; }
    int32_t inputCount() const override { return inputs_; }
    int32_t outputCount() const override { return outputs_; }

    // UI thread, while suspended.
    bool configure(double sampleRate, int32_t maxBlockFrames) override;
    bool resume() override;
    void suspend() override;
    int32_t latencyFrames() const override { return latency_; }
    const char* lastFailure() const override { return lastFailure_; }

    // Audio thread.
    void process(float* const* inputs, float* const* outputs, int32_t frames) override;

    // UI thread.
    int32_t parameterCount() const override { return parameters_.count(); }
    bool parameterName(int32_t index, char* text, size_t size) const override;
    float parameterValue(int32_t index) const override;
    bool parameterValueText(int32_t index, char* text, size_t size) const override;
    void setParameterValue(int32_t index, float value) override;

    // UI thread: the plug-in's program list parameter, where it has one.
    int32_t programCount() const override { return parameters_.programCount(); }
    bool programName(int32_t index, char* text, size_t size) const override;
    int32_t currentProgram() const override;
    bool selectProgram(int32_t index) override;

    // UI thread.
    bool saveState(ByteRecord& record, char* failure, size_t failureSize) override;
    bool restoreState(const uint8_t* data, size_t size) override;

    // UI thread.
    bool hasEditor() const override;
    bool openEditor(void* parent, int32_t* width, int32_t* height) override;
    void closeEditor() override;
    bool resizeEditor(int32_t* width, int32_t* height) override;
    void uiIdle() override;

    // Any thread: calls the plug-in made against the format's rules (wrong thread,
    // wrong state, malformed events), which the host ignored. For diagnosis and tests.
    uint32_t containedFaults() const;
    // Any thread: calls of the seam's UI-thread members from another thread, refused
    // (they would reach the plug-in off its main thread).
    uint32_t refusedOffThreadCalls() const;

    ClapPlugin(const ClapPlugin&) = delete;
    ClapPlugin& operator=(const ClapPlugin&) = delete;

private:
    ClapPlugin(ClapModule* module, PluginHostEvents* events);
    bool open(const clap_plugin_descriptor_t* descriptor, char* failure, size_t failureSize);
    void queryExtensions();
    void readLatency();
    void readProgram();
    void stopAndDeactivate();
    void flushOnMainThread();
    bool calledOnMainThread() const;  // counts a refusal when not
    void passThrough(float* const* inputs, float* const* outputs, int32_t frames);
    bool onMainThread() const;
    bool onAudioThread() const;
    void noteFault() { faults_.fetch_add(1, std::memory_order_relaxed); }
    static void parameterFromPlugin(void* context, clap_id id, double value);

    // The host's side, as the plug-in calls it (ClapHostSide.cpp).
    static ClapPlugin* from(const clap_host_t* host);
    static const void* hostExtension(const clap_host_t* host, const char* id);
    static void hostRequestRestart(const clap_host_t* host);
    static void hostRequestProcess(const clap_host_t* host);
    static void hostRequestCallback(const clap_host_t* host);
    static bool hostIsMainThread(const clap_host_t* host);
    static bool hostIsAudioThread(const clap_host_t* host);
    static void hostLatencyChanged(const clap_host_t* host);
    static void hostParamsRescan(const clap_host_t* host, clap_param_rescan_flags flags);
    static void hostParamsClear(const clap_host_t* host, clap_id id, clap_param_clear_flags flags);
    static void hostParamsRequestFlush(const clap_host_t* host);
    static bool hostPortsRescanSupported(const clap_host_t* host, uint32_t flag);
    static void hostPortsRescan(const clap_host_t* host, uint32_t flags);
    static void hostStateMarkDirty(const clap_host_t* host);
    static void hostGuiResizeHintsChanged(const clap_host_t* host);
    static bool hostGuiRequestResize(const clap_host_t* host, uint32_t width, uint32_t height);
    static bool hostGuiRequestShow(const clap_host_t* host);
    static bool hostGuiRequestHide(const clap_host_t* host);
    static void hostGuiClosed(const clap_host_t* host, bool wasDestroyed);

    clap_host_t host_;
    ClapModule* module_;
    PluginHostEvents* events_;
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* params_ = nullptr;
    const clap_plugin_audio_ports_t* ports_ = nullptr;
    const clap_plugin_latency_t* latencyExt_ = nullptr;
    const clap_plugin_state_t* state_ = nullptr;

    PluginIdentity identity_ = {};
    int32_t inputs_ = 0, outputs_ = 0;
    ClapAudioPorts audioPorts_;
    ClapEditor editor_;

    double sampleRate_ = 0.0;
    int32_t maxFrames_ = 0;
    int32_t latency_ = 0;
    const uint64_t mainThread_;
    std::atomic<uint64_t> audioThread_{0};
    std::atomic<bool> active_{false};
    bool processing_ = false;        // audio thread (and suspend, once it has stopped)
    bool startRefused_ = false;      // audio thread: start_processing said no until the next resume
    int64_t steadyTime_ = 0;

    std::atomic<bool> callbackRequested_{false};
    std::atomic<bool> flushRequested_{false};
    mutable std::atomic<uint32_t> faults_{0};
    mutable std::atomic<uint32_t> offThreadCalls_{0};

    ClapParameterTable parameters_;
    std::atomic<int32_t> program_{0};  // the program chosen, as either side last said
    ClapParamQueue changes_;
    ClapInputEvents inEvents_;
    ClapOutputEvents outEvents_;
    clap_event_transport_t transport_ = {};
    char lastFailure_[200] = "";
};
