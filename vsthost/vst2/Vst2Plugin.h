#pragma once
// One VST 2 effect behind the seam: every dispatcher call the host makes, the state
// records ("CHUNK"/"PARAM", the bytes performance files keep) and what the host
// callback answers about this instance. Portable: the library that holds the effect
// is released through Vst2Library, so tests and the bench run it natively.
#include <atomic>
#include <cstdint>

#include "LookupList.h"
#include "PluginInstance.h"
#include "VstInterface.h"

// The loaded file behind an effect; released when its instance goes. UI thread.
class Vst2Library {
public:
    virtual ~Vst2Library() = default;
    virtual const void* handle() const = 0;
    // The private copy loaded in place of the original file; empty when none.
    virtual const char* privateCopy() const = 0;
};

// The label VST 2 plug-ins are shown and stored with.
constexpr char kVst2FormatLabel[] = "VST 2";

class Vst2Plugin final : public PluginInstance {
public:
    static constexpr int kTextSize = 260;
    // Frames processed at once when the effect's outputs need buffers of our own.
    static constexpr int32_t kScratchFrames = 1024;

    // UI thread. Takes ownership of library (may be null). The effect answered
    // effIdentify and is not yet opened: this sends effOpen. directory is the
    // folder answered to the plug-in's get-directory request.
    Vst2Plugin(AEffect* effect, PluginHostEvents* events, const char* path, Vst2Library* library);
    // UI thread: closes an open editor, switches the effect off and closes it, then
    // releases its library.
    ~Vst2Plugin() override;
    Vst2Plugin(const Vst2Plugin&) = delete;
    Vst2Plugin& operator=(const Vst2Plugin&) = delete;

    AEffect* effect() const { return effect_; }
    const Vst2Library* library() const { return library_; }
    // The instance that holds effect, for the host callback; see Lookup.
    static const LookupList<Vst2Plugin>& instances();

    // --- the host callback's requests about this instance, any thread ---
    void noteNeedsIdle() { needsIdle_.store(1, std::memory_order_relaxed); }
    bool needsIdle() const { return needsIdle_.load(std::memory_order_relaxed) != 0; }
    const char* directory() const { return directory_; }
    PluginHostEvents* events() const { return events_; }

    const PluginIdentity& identity() const override;
    int32_t inputCount() const override;
    int32_t outputCount() const override;
    bool configure(double sampleRate, int32_t maxBlockFrames) override;
    bool resume() override;
    void suspend() override;
    int32_t latencyFrames() const override;
    void process(float* const* inputs, float* const* outputs, int32_t frames) override;
    int32_t parameterCount() const override;
    bool parameterName(int32_t index, char* text, size_t size) const override;
    float parameterValue(int32_t index) const override;
    bool parameterValueText(int32_t index, char* text, size_t size) const override;
    bool parameterUnit(int32_t index, char* text, size_t size) const override;
    void setParameterValue(int32_t index, float value) override;
    // VST 2 plug-ins take setParameter from the audio thread as well.
    bool setParameterInProcess(int32_t index, float value) override;
    int32_t programCount() const override;
    bool programName(int32_t index, char* text, size_t size) const override;
    int32_t currentProgram() const override;
    bool selectProgram(int32_t index) override;
    bool saveState(ByteRecord& record, char* failure, size_t failureSize) override;
    bool restoreState(const uint8_t* data, size_t size) override;
    bool hasEditor() const override;
    bool openEditor(void* parent, int32_t* width, int32_t* height) override;
    void closeEditor() override;
    bool resizeEditor(int32_t* width, int32_t* height) override;
    void uiIdle() override;

    // For the instance list.
    Vst2Plugin* next = nullptr;
    const void* lookupKey() const { return effect_; }

private:
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) const;
    bool text(VstInt32 opcode, int32_t index, char* out, size_t size) const;
    bool readProgramNames() const;
    void readIdentity() const;

    AEffect* effect_;
    PluginHostEvents* events_;
    Vst2Library* library_;
    char directory_[kTextSize] = "";
    char path_[kTextSize] = "";
    std::atomic<uint8_t> needsIdle_{0};
    bool editorOpen_ = false;
    double sampleRate_ = 0.0;
    int32_t blockFrames_ = 0;
    // Read on first use: VST 2 effects are asked for names only once opened and
    // configured, and the host asks while loading, on the UI thread.
    mutable bool identityRead_ = false;
    mutable PluginIdentity identity_{};
    mutable char* programNames_ = nullptr;  // programCount names of kProgramNameSize
    mutable int32_t programNamesRead_ = 0;
    alignas(16) float scratch_[2][kScratchFrames];
};

// The function every VST 2 plug-in receives to ask the host for information and
// services (Vst2HostCallback.cpp). Any thread.
VstIntPtr VSTCALLBACK hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt);
// What the callback answers to every plug-in alike; set by the VST 2 backend.
void setVst2HostInfo(const PluginHostInfo* info);

// The VST 2 instance behind a checked plug-in of the host, or null for another format.
class ThreadCheckedPlugin;
Vst2Plugin* vst2PluginOf(const ThreadCheckedPlugin* plugin);
