#pragma once
// One VST3 effect behind the plug-in seam: its component (and audio processor) and its
// edit controller (a separate object joined through connection points, or the same
// object), driven in the order the format asks for. Threads as PluginInstance names
// them; the format's rules are checked where the plug-in is called.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "PluginInstance.h"
#include "Vst3Abi.h"
#include "Vst3HostObjects.h"
#include "Vst3ParameterChanges.h"
#include "Vst3ThreadContract.h"

class Vst3Module;

class Vst3Plugin final : public PluginInstance, private Vst3HandlerTarget {
public:
    // UI thread. Creates the class classId of module (whose use it takes over: released
    // with the instance, or here on failure). Null with the reason in failure.
    static Vst3Plugin* create(Vst3Module* module, const uint8_t classId[16], const PluginIdentity& identity,
                              PluginHostEvents* events, char* failure, size_t failureSize);
    ~Vst3Plugin() override;

    // Any thread.
    const PluginIdentity& identity() const override { return identity_; }
    int32_t inputCount() const override { return inputs_; }
    int32_t outputCount() const override { return outputs_; }

    // UI thread, while suspended (configure) or to change that (resume, suspend).
    bool configure(double sampleRate, int32_t maxBlockFrames) override;
    bool resume() override;
    void suspend() override;
    int32_t latencyFrames() const override;

    // Audio thread, between resume and suspend.
    void process(float* const* inputs, float* const* outputs, int32_t frames) override;

    // UI thread from here on.

    int32_t parameterCount() const override;
    bool parameterName(int32_t index, char* text, size_t size) const override;
    float parameterValue(int32_t index) const override;
    bool parameterValueText(int32_t index, char* text, size_t size) const override;
    void setParameterValue(int32_t index, float value) override;

    int32_t programCount() const override;
    bool programName(int32_t index, char* text, size_t size) const override;
    int32_t currentProgram() const override;
    bool selectProgram(int32_t index) override;

    // With its reason, as the end of a sentence that starts with the name.
    bool saveState(ByteRecord& record, char* failure, size_t failureSize) override;
    bool restoreState(const uint8_t* data, size_t size) override;

    bool hasEditor() const override { return hasEditor_; }
    bool openEditor(void* parent, int32_t* width, int32_t* height) override;
    void closeEditor() override;
    bool resizeEditor(int32_t* width, int32_t* height) override;
    void uiIdle() override;

    // The unit shown after the value text ("dB"); false where the parameter has none.
    bool parameterUnit(int32_t index, char* text, size_t size) const override;

    // UI thread: why the last configure, resume, saveState or restoreState failed.
    const char* lastFailure() const override { return lastFailure_; }
    // The component and the controller are one object.
    bool singleObject() const { return singleObject_; }

    static constexpr int32_t kMaxParameters = 4096;
    static constexpr int32_t kMaxPrograms = 1024;
    static constexpr int32_t kMaxBuses = 64;
    static constexpr size_t kMaxStatePart = size_t(32) << 20;

private:
    struct Parameter {
        v3_param_id id;
        int32_t flags;
        int32_t stepCount;
        char name[64];
        char unit[32];
    };
    // One reading of the controller's parameters. A new reading replaces it for every
    // thread at once; the older ones stay until the instance goes, so that a thread
    // still looking an ID up in one never reads freed memory.
    struct ParameterList {
        Parameter* entries;
        int32_t count;    // entries, the program-change parameter last among them
        int32_t listed;   // what the host lists as parameters: the entries before it
        int32_t program;  // the index of the program-change parameter, or -1
        ParameterList* older;
    };

    Vst3Plugin(Vst3Module* module, const PluginIdentity& identity, PluginHostEvents* events);
    bool open(const uint8_t classId[16], char* failure, size_t failureSize);
    bool openController(const uint8_t componentId[16], char* failure, size_t failureSize);
    bool arrangeBuses(char* failure, size_t failureSize);
    // setupProcessing with the host's figures; the component is inactive.
    bool setUp(double sampleRate, int32_t maxBlockFrames);
    bool readParameters(char* failure, size_t failureSize);
    void refreshParametersIfStale() const;
    bool syncControllerWithComponent();
    bool applyState(const uint8_t* component, size_t componentSize, const uint8_t* controller,
                    size_t controllerSize);
    bool writeState(ByteRecord& record);
    void fail(int id, const char* insert = "");
    // A listed parameter by its index (the program-change parameter is none of them).
    const Parameter* parameter(int32_t index) const;
    void setValue(const Parameter& parameter, float value);
    const ParameterList* parameters() const;
    int32_t indexOf(v3_param_id id) const;

    // Vst3HandlerTarget
    v3_result beginEdit(v3_param_id id) override;
    v3_result performEdit(v3_param_id id, double value) override;
    v3_result endEdit(v3_param_id id) override;
    v3_result restartComponent(int32_t flags) override;
    v3_result resizeView(v3_plugin_view** view, v3_view_rect* rect) override;

    Vst3Module* module_;
    PluginIdentity identity_;
    PluginHostEvents* events_;
    Vst3ThreadContract contract_;
    Vst3ComponentHandler handler_;
    Vst3PlugFrame frame_;

    vst3abi::Ref<v3_component> component_;
    vst3abi::Ref<v3_audio_processor> processor_;
    vst3abi::Ref<v3_edit_controller> controller_;
    vst3abi::Ref<v3_connection_point> componentPoint_;
    vst3abi::Ref<v3_connection_point> controllerPoint_;
    bool componentInitialised_ = false;
    bool controllerInitialised_ = false;  // a controller of its own, initialised by us
    bool singleObject_ = false;
    bool connected_ = false;
    bool handlerSet_ = false;

    int32_t inputs_ = 0;
    int32_t outputs_ = 0;
    int32_t inputBuses_ = 0;   // audio buses of the component (the main one first)
    int32_t outputBuses_ = 0;

    double sampleRate_ = 0;
    int32_t maxBlock_ = 0;
    bool configured_ = false;
    bool busesActivated_ = false;
    bool active_ = false;                  // UI thread's view: setActive(true) answered
    std::atomic<bool> processing_{false};  // set before the first process, cleared before setActive(false)

    // Parameters, read on the UI thread; looked up by ID on any thread (performEdit).
    std::atomic<ParameterList*> parameterList_{nullptr};
    mutable std::atomic<bool> parametersStale_{false};

    // Changes into the next block (from setParameterValue and the editor), the block's
    // own changes in and out, and the processor's changes on their way to the controller.
    Vst3ParameterHandover toProcessor_;
    Vst3ParameterHandover toController_;
    Vst3ParameterChanges inputChanges_;
    Vst3ParameterChanges outputChanges_;
    Vst3EmptyEvents inputEvents_;
    Vst3EmptyEvents outputEvents_;
    // Only the main buses carry audio; the others are switched off.
    v3_audio_bus_buffers inputBus_;
    v3_audio_bus_buffers outputBus_;
    float* inputChannels_[2] = {nullptr, nullptr};
    float* outputChannels_[2] = {nullptr, nullptr};
    v3_process_data data_;
    v3_process_context context_;
    int64_t framesProcessed_ = 0;

    vst3abi::Ref<v3_plugin_view> view_;
    bool hasEditor_ = false;
    bool editorOpen_ = false;

    char lastFailure_[256] = "";
};
