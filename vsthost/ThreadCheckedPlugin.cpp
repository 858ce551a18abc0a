#include "ThreadCheckedPlugin.h"

namespace {

std::atomic<int> g_violations{0};
std::atomic<const char*> g_lastViolation{""};
std::atomic<ThreadCheckedPlugin::ViolationHandler> g_handler{nullptr};

void broken(const char* member) {
    g_lastViolation.store(member);
    g_violations.fetch_add(1);
    if (ThreadCheckedPlugin::ViolationHandler handler = g_handler.load())
        handler(member);
}

// Marks one process call for its scope; a second one at the same time is a fault.
class ProcessScope {
public:
    explicit ProcessScope(std::atomic<int>& count) : count_(count) {
        if (count_.fetch_add(1, std::memory_order_acquire) != 0)
            broken("process (overlapping another process call)");
    }
    ~ProcessScope() { count_.fetch_sub(1, std::memory_order_release); }
    ProcessScope(const ProcessScope&) = delete;
    ProcessScope& operator=(const ProcessScope&) = delete;

private:
    std::atomic<int>& count_;
};

}  // namespace

ThreadCheckedPlugin::ThreadCheckedPlugin(PluginInstance* inner)
    : inner_(inner), uiThread_(std::this_thread::get_id()) {}

ThreadCheckedPlugin::~ThreadCheckedPlugin() {
    onUiThread("~PluginInstance");
    outsideProcess("~PluginInstance");
    delete inner_;
}

int ThreadCheckedPlugin::violations() { return g_violations.load(); }
const char* ThreadCheckedPlugin::lastViolation() { return g_lastViolation.load(); }
ThreadCheckedPlugin::ViolationHandler ThreadCheckedPlugin::setViolationHandler(ViolationHandler handler) {
    return g_handler.exchange(handler);
}

void ThreadCheckedPlugin::onUiThread(const char* member) const {
    if (std::this_thread::get_id() != uiThread_)
        broken(member);
}

void ThreadCheckedPlugin::outsideProcess(const char* member) const {
    if (processing_.load(std::memory_order_acquire) != 0)
        broken(member);
}

const PluginIdentity& ThreadCheckedPlugin::identity() const { return inner_->identity(); }
int32_t ThreadCheckedPlugin::inputCount() const { return inner_->inputCount(); }
int32_t ThreadCheckedPlugin::outputCount() const { return inner_->outputCount(); }

bool ThreadCheckedPlugin::configure(double sampleRate, int32_t maxBlockFrames) {
    onUiThread("configure");
    outsideProcess("configure (during a process call)");
    return inner_->configure(sampleRate, maxBlockFrames);
}

bool ThreadCheckedPlugin::resume() {
    onUiThread("resume");
    outsideProcess("resume (during a process call)");
    resumed_ = inner_->resume();
    return resumed_;
}

void ThreadCheckedPlugin::suspend() {
    onUiThread("suspend");
    outsideProcess("suspend (during a process call)");
    inner_->suspend();
    resumed_ = false;
}

const char* ThreadCheckedPlugin::lastFailure() const {
    onUiThread("lastFailure");
    return inner_->lastFailure();
}

int32_t ThreadCheckedPlugin::latencyFrames() const {
    onUiThread("latencyFrames");
    return inner_->latencyFrames();
}

void ThreadCheckedPlugin::process(float* const* inputs, float* const* outputs, int32_t frames) {
    const ProcessScope scope(processing_);
    inner_->process(inputs, outputs, frames);
}

int32_t ThreadCheckedPlugin::parameterCount() const {
    onUiThread("parameterCount");
    return inner_->parameterCount();
}

bool ThreadCheckedPlugin::parameterName(int32_t index, char* text, size_t size) const {
    onUiThread("parameterName");
    return inner_->parameterName(index, text, size);
}

float ThreadCheckedPlugin::parameterValue(int32_t index) const {
    onUiThread("parameterValue");
    return inner_->parameterValue(index);
}

bool ThreadCheckedPlugin::parameterValueText(int32_t index, char* text, size_t size) const {
    onUiThread("parameterValueText");
    return inner_->parameterValueText(index, text, size);
}

bool ThreadCheckedPlugin::parameterUnit(int32_t index, char* text, size_t size) const {
    onUiThread("parameterUnit");
    return inner_->parameterUnit(index, text, size);
}

void ThreadCheckedPlugin::setParameterValue(int32_t index, float value) {
    onUiThread("setParameterValue");
    inner_->setParameterValue(index, value);
}

bool ThreadCheckedPlugin::setParameterInProcess(int32_t index, float value) {
    // The driver thread's call between two process calls: it must not overlap one.
    const ProcessScope scope(processing_);
    return inner_->setParameterInProcess(index, value);
}

int32_t ThreadCheckedPlugin::programCount() const {
    onUiThread("programCount");
    return inner_->programCount();
}

bool ThreadCheckedPlugin::programName(int32_t index, char* text, size_t size) const {
    onUiThread("programName");
    return inner_->programName(index, text, size);
}

int32_t ThreadCheckedPlugin::currentProgram() const {
    onUiThread("currentProgram");
    return inner_->currentProgram();
}

bool ThreadCheckedPlugin::selectProgram(int32_t index) {
    onUiThread("selectProgram");
    return inner_->selectProgram(index);
}

bool ThreadCheckedPlugin::saveState(ByteRecord& record, char* failure, size_t failureSize) {
    onUiThread("saveState");
    return inner_->saveState(record, failure, failureSize);
}

bool ThreadCheckedPlugin::restoreState(const uint8_t* data, size_t size) {
    onUiThread("restoreState");
    return inner_->restoreState(data, size);
}

bool ThreadCheckedPlugin::hasEditor() const {
    onUiThread("hasEditor");
    return inner_->hasEditor();
}

bool ThreadCheckedPlugin::openEditor(void* parent, int32_t* width, int32_t* height) {
    onUiThread("openEditor");
    return inner_->openEditor(parent, width, height);
}

void ThreadCheckedPlugin::closeEditor() {
    onUiThread("closeEditor");
    inner_->closeEditor();
}

bool ThreadCheckedPlugin::resizeEditor(int32_t* width, int32_t* height) {
    onUiThread("resizeEditor");
    return inner_->resizeEditor(width, height);
}

void ThreadCheckedPlugin::editorFrameChanged() {
    onUiThread("editorFrameChanged");
    inner_->editorFrameChanged();
}

bool ThreadCheckedPlugin::ownsEditorWindow(void* window) const {
    onUiThread("ownsEditorWindow");
    return inner_->ownsEditorWindow(window);
}

void ThreadCheckedPlugin::uiIdle() {
    onUiThread("uiIdle");
    inner_->uiIdle();
}
