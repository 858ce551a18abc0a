#pragma once
// The host's side of the seam's thread rules: every call the host makes into a
// plug-in goes through this wrapper, which checks the thread each member names in
// PluginInstance.h. UI-thread members must come from the thread that loaded the
// plug-in; process must not overlap itself, and configure, resume, suspend and the
// destructor must not overlap a process call. A broken rule is counted and reported
// (the call still goes through, as before the check existed); tests make it fail.
// Portable; the checks take no lock and allocate nothing.
#include <atomic>
#include <thread>

#include "PluginInstance.h"

class ThreadCheckedPlugin final : public PluginInstance {
public:
    // Takes ownership of inner. Constructed on the UI thread (the loading thread).
    explicit ThreadCheckedPlugin(PluginInstance* inner);
    ~ThreadCheckedPlugin() override;
    ThreadCheckedPlugin(const ThreadCheckedPlugin&) = delete;
    ThreadCheckedPlugin& operator=(const ThreadCheckedPlugin&) = delete;

    // The backend's instance, for code that knows its format (tests, the bench).
    PluginInstance* inner() const { return inner_; }
    // UI thread: whether the last of resume and suspend was a resume that succeeded.
    bool resumed() const { return resumed_; }

    // --- any thread ---
    // Rules broken since the program started, and the member that broke the last one.
    static int violations();
    static const char* lastViolation();
    // Called at once with the member's name (from the thread that broke the rule);
    // null for none. Tests install one that fails the test. Returns the one before.
    using ViolationHandler = void (*)(const char* member);
    static ViolationHandler setViolationHandler(ViolationHandler handler);

    const PluginIdentity& identity() const override;
    int32_t inputCount() const override;
    int32_t outputCount() const override;
    bool configure(double sampleRate, int32_t maxBlockFrames) override;
    bool resume() override;
    void suspend() override;
    const char* lastFailure() const override;
    bool failed(char* how, size_t size) const override { return inner_->failed(how, size); }
    int32_t latencyFrames() const override;
    void process(float* const* inputs, float* const* outputs, int32_t frames) override;
    void blockComing() override { inner_->blockComing(); }
    int32_t parameterCount() const override;
    bool parameterName(int32_t index, char* text, size_t size) const override;
    float parameterValue(int32_t index) const override;
    bool parameterValueText(int32_t index, char* text, size_t size) const override;
    bool parameterUnit(int32_t index, char* text, size_t size) const override;
    void setParameterValue(int32_t index, float value) override;
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
    void editorFrameChanged() override;
    bool ownsEditorWindow(void* window) const override;
    void uiIdle() override;

private:
    void onUiThread(const char* member) const;
    void outsideProcess(const char* member) const;

    PluginInstance* inner_;
    std::thread::id uiThread_;
    mutable std::atomic<int> processing_{0};
    bool resumed_ = false;
};
