#include "Vst3Plugin.h"

#include <cmath>
#include <cstring>
#include <new>

#include "StringIds.h"
#include "Vst3MemoryStream.h"
#include "Vst3Module.h"
#include "Vst3Reasons.h"
#include "Vst3StateRecord.h"
#include "Vst3Text.h"

using vst3abi::call;

namespace {

constexpr v3_speaker_arrangement kMono = V3_SPEAKER_M;
constexpr v3_speaker_arrangement kStereo = V3_SPEAKER_L | V3_SPEAKER_R;
constexpr int32_t kMaxEditorSide = 16384;
constexpr uint32_t kMaxLatency = 1u << 24;  // over five minutes at 48 kHz: no effect's delay is longer

int32_t channelsOf(v3_speaker_arrangement arrangement) {
    int32_t count = 0;
    for (; arrangement; arrangement &= arrangement - 1)
        ++count;
    return count;
}

v3_plugin_base** baseOf(void* obj) { return static_cast<v3_plugin_base**>(obj); }

bool sensibleRect(const v3_view_rect& rect) {
    const int64_t width = int64_t(rect.right) - rect.left;
    const int64_t height = int64_t(rect.bottom) - rect.top;
    return width > 0 && height > 0 && width <= kMaxEditorSide && height <= kMaxEditorSide;
}

double clampNormalised(double value) {
    if (!(value >= 0.0))  // NaN too
        return 0.0;
    return value > 1.0 ? 1.0 : value;
}

}  // namespace

Vst3Plugin* Vst3Plugin::create(Vst3Module* module, const uint8_t classId[16], const PluginIdentity& identity,
                               PluginHostEvents* events, char* failure, size_t failureSize) {
    auto* plugin = new (std::nothrow) Vst3Plugin(module, identity, events);
    if (!plugin) {
        module->release();
        vst3Reason(failure, failureSize, kStrVst3NoMemory);
        return nullptr;
    }
    if (!plugin->open(classId, failure, failureSize)) {
        delete plugin;
        return nullptr;
    }
    return plugin;
}

Vst3Plugin::Vst3Plugin(Vst3Module* module, const PluginIdentity& identity, PluginHostEvents* events)
    : module_(module), identity_(identity), events_(events), handler_(this), frame_(this) {
    std::memset(&data_, 0, sizeof data_);
    std::memset(&context_, 0, sizeof context_);
    std::memset(&inputBus_, 0, sizeof inputBus_);
    std::memset(&outputBus_, 0, sizeof outputBus_);
    data_.process_mode = V3_REALTIME;
    data_.symbolic_sample_size = V3_SAMPLE_32;
}

Vst3Plugin::~Vst3Plugin() {
    contract_.uiCall("instance released off the UI thread");
    closeEditor();
    suspend();
    if (connected_) {
        call(componentPoint_.get(), &v3_connection_point::disconnect, v3_result(V3_OK), controllerPoint_.get());
        call(controllerPoint_.get(), &v3_connection_point::disconnect, v3_result(V3_OK), componentPoint_.get());
    }
    componentPoint_.reset();
    controllerPoint_.reset();
    if (handlerSet_)
        call(controller_.get(), &v3_edit_controller::set_component_handler, v3_result(V3_OK),
             static_cast<v3_component_handler**>(nullptr));
    if (controllerInitialised_)
        call(baseOf(controller_.get()), &v3_plugin_base::terminate, v3_result(V3_OK));
    controller_.reset();
    processor_.reset();
    if (componentInitialised_)
        call(baseOf(component_.get()), &v3_plugin_base::terminate, v3_result(V3_OK));
    component_.reset();
    for (ParameterList* list = parameterList_.load(); list;) {
        ParameterList* older = list->older;
        delete[] list->entries;
        delete list;
        list = older;
    }
    module_->release();
}

void Vst3Plugin::fail(int id, const char* insert) { vst3Reason(lastFailure_, sizeof lastFailure_, id, insert); }

// --- loading ---

bool Vst3Plugin::open(const uint8_t classId[16], char* failure, size_t failureSize) {
    void* obj = nullptr;
    v3_result result = call(module_->factory(), &v3_plugin_factory::create_instance, v3_result(V3_NOT_IMPLEMENTED),
                            classId, v3_component_iid, &obj);
    if (result != V3_OK || !obj || !*static_cast<void**>(obj)) {
        vst3Reason(failure, failureSize, kStrVst3ComponentFailed);
        return false;
    }
    component_.reset(static_cast<v3_component**>(obj));
    if (call(baseOf(obj), &v3_plugin_base::initialize, v3_result(V3_NOT_IMPLEMENTED), Vst3HostApplication::context()) !=
        V3_OK) {
        vst3Reason(failure, failureSize, kStrVst3ComponentFailed);
        return false;
    }
    componentInitialised_ = true;
    processor_.reset(component_.as<v3_audio_processor>(v3_audio_processor_iid));
    if (!processor_) {
        vst3Reason(failure, failureSize, kStrVst3NoProcessor);
        return false;
    }
    if (call(processor_.get(), &v3_audio_processor::can_process_sample_size, v3_result(V3_FALSE),
             int32_t(V3_SAMPLE_32)) != V3_OK) {
        vst3Reason(failure, failureSize, kStrVst3No32Bit);
        return false;
    }
    if (!openController(classId, failure, failureSize) || !arrangeBuses(failure, failureSize) ||
        !readParameters(failure, failureSize))
        return false;
    // Whether there is an editor is known only from a view of it, released at once.
    if (contract_.controllerCall()) {
        vst3abi::Ref<v3_plugin_view> view(call(controller_.get(), &v3_edit_controller::create_view,
                                               static_cast<v3_plugin_view**>(nullptr), "editor"));
        hasEditor_ = view && call(view.get(), &v3_plugin_view::is_platform_type_supported,
                                  v3_result(V3_FALSE), "HWND") == V3_OK;
    }
    return true;
}

bool Vst3Plugin::openController(const uint8_t componentId[16], char* failure, size_t failureSize) {
    controller_.reset(component_.as<v3_edit_controller>(v3_edit_controller_iid));
    if (controller_) {
        singleObject_ = true;  // initialised with the component
    } else {
        v3_tuid controllerId;
        std::memset(controllerId, 0, sizeof controllerId);
        static const v3_tuid kNone = {0};
        void* obj = nullptr;
        if (call(component_.get(), &v3_component::get_controller_class_id, v3_result(V3_NOT_IMPLEMENTED),
                 controllerId) != V3_OK ||
            v3_tuid_match(controllerId, kNone) || v3_tuid_match(controllerId, componentId) ||
            call(module_->factory(), &v3_plugin_factory::create_instance, v3_result(V3_NOT_IMPLEMENTED),
                 static_cast<const uint8_t*>(controllerId), v3_edit_controller_iid, &obj) != V3_OK ||
            !obj || !*static_cast<void**>(obj)) {
            vst3Reason(failure, failureSize, kStrVst3ControllerFailed);
            return false;
        }
        controller_.reset(static_cast<v3_edit_controller**>(obj));
        if (call(baseOf(obj), &v3_plugin_base::initialize, v3_result(V3_NOT_IMPLEMENTED),
                 Vst3HostApplication::context()) != V3_OK) {
            vst3Reason(failure, failureSize, kStrVst3ControllerFailed);
            return false;
        }
        controllerInitialised_ = true;
        // The handler before the connection, as the format's sequence has it.
        call(controller_.get(), &v3_edit_controller::set_component_handler, v3_result(V3_OK), handler_.handler());
        handlerSet_ = true;
        // Component and controller talk to each other through their connection points.
        componentPoint_.reset(component_.as<v3_connection_point>(v3_connection_point_iid));
        controllerPoint_.reset(controller_.as<v3_connection_point>(v3_connection_point_iid));
        if (componentPoint_ && controllerPoint_) {
            call(componentPoint_.get(), &v3_connection_point::connect, v3_result(V3_OK), controllerPoint_.get());
            call(controllerPoint_.get(), &v3_connection_point::connect, v3_result(V3_OK), componentPoint_.get());
            connected_ = true;
        }
    }
    if (!handlerSet_) {
        call(controller_.get(), &v3_edit_controller::set_component_handler, v3_result(V3_OK), handler_.handler());
        handlerSet_ = true;
    }
    syncControllerWithComponent();
    return true;
}

// The controller learns the component's state (its parameters' values) from it.
bool Vst3Plugin::syncControllerWithComponent() {
    Vst3MemoryStream* state = Vst3MemoryStream::createWriter(kMaxStatePart);
    if (!state)
        return false;
    bool synced = false;
    if (call(component_.get(), &v3_component::get_state, v3_result(V3_NOT_IMPLEMENTED), state->stream()) == V3_OK &&
        !state->overflowed()) {
        Vst3MemoryStream* reader = Vst3MemoryStream::createReader(state->data(), state->size());
        if (reader && contract_.controllerCall())
            synced = call(controller_.get(), &v3_edit_controller::set_component_state, v3_result(V3_NOT_IMPLEMENTED),
                          reader->stream()) == V3_OK;
        if (reader)
            reader->release();
    }
    state->release();
    return synced;
}

bool Vst3Plugin::arrangeBuses(char* failure, size_t failureSize) {
    inputBuses_ = call(component_.get(), &v3_component::get_bus_count, int32_t(-1), int32_t(V3_AUDIO),
                       int32_t(V3_INPUT));
    outputBuses_ = call(component_.get(), &v3_component::get_bus_count, int32_t(-1), int32_t(V3_AUDIO),
                        int32_t(V3_OUTPUT));
    if (inputBuses_ < 0 || inputBuses_ > kMaxBuses || outputBuses_ < 0 || outputBuses_ > kMaxBuses) {
        vst3Reason(failure, failureSize, kStrVst3AbsurdAnswer, "the number of audio buses");
        return false;
    }
    if (inputBuses_ == 0 || outputBuses_ == 0) {
        vst3Reason(failure, failureSize, kStrVst3NoAudioBuses);
        return false;
    }
    // The other buses keep what they have; the main ones are offered stereo, then mono.
    v3_speaker_arrangement ins[kMaxBuses];
    v3_speaker_arrangement outs[kMaxBuses];
    for (int32_t i = 0; i < inputBuses_; ++i) {
        ins[i] = 0;
        call(processor_.get(), &v3_audio_processor::get_bus_arrangement, v3_result(V3_FALSE), int32_t(V3_INPUT), i,
             &ins[i]);
    }
    for (int32_t i = 0; i < outputBuses_; ++i) {
        outs[i] = 0;
        call(processor_.get(), &v3_audio_processor::get_bus_arrangement, v3_result(V3_FALSE), int32_t(V3_OUTPUT), i,
             &outs[i]);
    }
    static const v3_speaker_arrangement kChoices[][2] = {
        {kStereo, kStereo}, {kMono, kMono}, {kMono, kStereo}, {kStereo, kMono}};
    bool arranged = false;
    for (const auto& choice : kChoices) {
        ins[0] = choice[0];
        outs[0] = choice[1];
        if (call(processor_.get(), &v3_audio_processor::set_bus_arrangements, v3_result(V3_FALSE), ins, inputBuses_,
                 outs, outputBuses_) != V3_OK)
            continue;
        // What the component says it now has is what it will process.
        v3_speaker_arrangement in = 0;
        v3_speaker_arrangement out = 0;
        if (call(processor_.get(), &v3_audio_processor::get_bus_arrangement, v3_result(V3_FALSE), int32_t(V3_INPUT),
                 int32_t(0), &in) != V3_OK)
            in = choice[0];
        if (call(processor_.get(), &v3_audio_processor::get_bus_arrangement, v3_result(V3_FALSE), int32_t(V3_OUTPUT),
                 int32_t(0), &out) != V3_OK)
            out = choice[1];
        const int32_t inCount = channelsOf(in);
        const int32_t outCount = channelsOf(out);
        if (inCount >= 1 && inCount <= 2 && outCount >= 1 && outCount <= 2) {
            inputs_ = inCount;
            outputs_ = outCount;
            arranged = true;
            break;
        }
    }
    if (!arranged) {
        vst3Reason(failure, failureSize, kStrVst3BusesRefused);
        return false;
    }
    inputBus_.num_channels = inputs_;
    inputBus_.channel_buffers_32 = inputChannels_;
    outputBus_.num_channels = outputs_;
    outputBus_.channel_buffers_32 = outputChannels_;
    return true;
}

bool Vst3Plugin::readParameters(char* failure, size_t failureSize) {
    if (!contract_.controllerCall())
        return false;
    const int32_t count = call(controller_.get(), &v3_edit_controller::get_parameter_count, int32_t(-1));
    if (count < 0 || count > kMaxParameters) {
        vst3Reason(failure, failureSize, kStrVst3AbsurdAnswer, "the number of parameters");
        return false;
    }
    auto* reading = new (std::nothrow) ParameterList;
    Parameter* list = count ? new (std::nothrow) Parameter[count] : nullptr;
    if (!reading || (count && !list)) {
        delete reading;
        delete[] list;
        vst3Reason(failure, failureSize, kStrVst3NoMemory);
        return false;
    }
    auto take = [](Parameter& p, const v3_param_info& info) {
        p.id = info.param_id;
        p.flags = info.flags;
        p.stepCount = info.step_count;
        vst3text::fromUtf16(info.title, 128, p.name, sizeof p.name);
        vst3text::fromUtf16(info.units, 128, p.unit, sizeof p.unit);
    };
    // The program-change parameter is the programs' and not one of the listed
    // parameters (the host shows programs apart): the first is kept after them.
    int32_t used = 0;
    bool programFound = false;
    v3_param_info programInfo;
    for (int32_t i = 0; i < count; ++i) {
        v3_param_info info;
        std::memset(&info, 0, sizeof info);
        if (call(controller_.get(), &v3_edit_controller::get_parameter_info, v3_result(V3_FALSE), i, &info) != V3_OK)
            continue;  // a parameter that does not describe itself is not shown
        if (info.flags & V3_PARAM_PROGRAM_CHANGE) {
            if (!programFound && info.step_count > 0 && info.step_count < kMaxPrograms) {
                programFound = true;
                programInfo = info;
            }
        } else if (!(info.flags & V3_PARAM_IS_HIDDEN)) {
            take(list[used++], info);
        }
    }
    const int32_t listed = used;
    int32_t program = -1;
    if (programFound) {
        take(list[used], programInfo);
        program = used++;
    }
    reading->entries = list;
    reading->count = used;
    reading->listed = listed;
    reading->program = program;
    reading->older = parameterList_.load(std::memory_order_relaxed);
    parameterList_.store(reading, std::memory_order_release);
    return true;
}

void Vst3Plugin::refreshParametersIfStale() const {
    if (!parametersStale_.exchange(false))
        return;
    char ignored[8];
    const_cast<Vst3Plugin*>(this)->readParameters(ignored, sizeof ignored);
}

const Vst3Plugin::ParameterList* Vst3Plugin::parameters() const {
    refreshParametersIfStale();
    return parameterList_.load(std::memory_order_acquire);
}

const Vst3Plugin::Parameter* Vst3Plugin::parameter(int32_t index) const {
    const ParameterList* list = parameters();
    return list && index >= 0 && index < list->listed ? &list->entries[index] : nullptr;
}

// Any thread: the reading it finds stays valid while the instance lives.
int32_t Vst3Plugin::indexOf(v3_param_id id) const {
    const ParameterList* list = parameterList_.load(std::memory_order_acquire);
    for (int32_t i = 0; list && i < list->count; ++i)
        if (list->entries[i].id == id)
            return i;
    return -1;
}

// --- processing ---

bool Vst3Plugin::configure(double sampleRate, int32_t maxBlockFrames) {
    if (!contract_.uiCall("configure off the UI thread"))
        return false;
    if (!(sampleRate > 0.0 && sampleRate <= 1e6) || maxBlockFrames < 1 || maxBlockFrames > 65536) {
        fail(kStrVst3SetupRefused);
        return false;
    }
    // A VST3 effect is set up only while inactive: a running one is switched off for
    // its new rate or block size and on again, as the host expects of its backends.
    if (active_) {
        suspend();
        return setUp(sampleRate, maxBlockFrames) && resume();
    }
    return setUp(sampleRate, maxBlockFrames);
}

bool Vst3Plugin::setUp(double sampleRate, int32_t maxBlockFrames) {
    v3_process_setup setup;
    setup.process_mode = V3_REALTIME;
    setup.symbolic_sample_size = V3_SAMPLE_32;
    setup.max_block_size = maxBlockFrames;
    setup.sample_rate = sampleRate;
    if (call(processor_.get(), &v3_audio_processor::setup_processing, v3_result(V3_NOT_IMPLEMENTED), &setup) != V3_OK) {
        fail(kStrVst3SetupRefused);
        configured_ = false;
        return false;
    }
    sampleRate_ = sampleRate;
    maxBlock_ = maxBlockFrames;
    configured_ = true;
    return true;
}

bool Vst3Plugin::resume() {
    if (!contract_.uiCall("resume off the UI thread"))
        return false;
    if (active_)
        return true;
    if (!configured_) {
        fail(kStrVst3OutOfOrder, "resume before configure");
        return false;
    }
    // The main buses on, the others off: once set up, before the first activation.
    if (!busesActivated_) {
        for (int32_t i = 0; i < inputBuses_; ++i)
            call(component_.get(), &v3_component::activate_bus, v3_result(V3_OK), int32_t(V3_AUDIO),
                 int32_t(V3_INPUT), i, v3_bool(i == 0));
        for (int32_t i = 0; i < outputBuses_; ++i)
            call(component_.get(), &v3_component::activate_bus, v3_result(V3_OK), int32_t(V3_AUDIO),
                 int32_t(V3_OUTPUT), i, v3_bool(i == 0));
        busesActivated_ = true;
    }
    if (call(component_.get(), &v3_component::set_active, v3_result(V3_NOT_IMPLEMENTED), v3_bool(1)) != V3_OK) {
        fail(kStrVst3ActivateRefused);
        return false;
    }
    active_ = true;
    const v3_result processing =
        call(processor_.get(), &v3_audio_processor::set_processing, v3_result(V3_NOT_IMPLEMENTED), v3_bool(1));
    if (processing != V3_OK && processing != v3_result(V3_NOT_IMPLEMENTED)) {
        call(component_.get(), &v3_component::set_active, v3_result(V3_OK), v3_bool(0));
        active_ = false;
        fail(kStrVst3ActivateRefused);
        return false;
    }
    context_.sample_rate = sampleRate_;
    framesProcessed_ = 0;
    processing_.store(true, std::memory_order_release);
    return true;
}

void Vst3Plugin::suspend() {
    if (!contract_.uiCall("suspend off the UI thread") || !active_)
        return;
    processing_.store(false, std::memory_order_release);
    call(processor_.get(), &v3_audio_processor::set_processing, v3_result(V3_OK), v3_bool(0));
    call(component_.get(), &v3_component::set_active, v3_result(V3_OK), v3_bool(0));
    active_ = false;
}

int32_t Vst3Plugin::latencyFrames() const {
    if (!contract_.uiCall("latency asked off the UI thread"))
        return 0;
    const uint32_t latency = call(processor_.get(), &v3_audio_processor::get_latency_samples, uint32_t(0));
    return latency <= kMaxLatency ? int32_t(latency) : 0;
}

void Vst3Plugin::process(float* const* inputs, float* const* outputs, int32_t frames) {
    if (!Vst3ThreadContract::expect(processing_.load(std::memory_order_acquire),
                                    "process while the component is not active and processing") ||
        !Vst3ThreadContract::expect(frames >= 0 && frames <= maxBlock_, "process of more frames than configured"))
        return;
    inputChanges_.clear();
    toProcessor_.drainInto(inputChanges_);
    outputChanges_.clear();
    for (int32_t c = 0; c < inputs_; ++c)
        inputChannels_[c] = inputs[c];
    for (int32_t c = 0; c < outputs_; ++c)
        outputChannels_[c] = outputs[c];
    // Every field again: the plug-in was handed the structures and may have written them.
    inputBus_.num_channels = inputs_;
    inputBus_.channel_silence_bitset = 0;
    inputBus_.channel_buffers_32 = inputChannels_;
    outputBus_.num_channels = outputs_;
    outputBus_.channel_silence_bitset = 0;
    outputBus_.channel_buffers_32 = outputChannels_;
    data_.process_mode = V3_REALTIME;
    data_.symbolic_sample_size = V3_SAMPLE_32;
    data_.nframes = frames;
    data_.num_input_buses = 1;
    data_.num_output_buses = 1;
    data_.inputs = &inputBus_;
    data_.outputs = &outputBus_;
    data_.input_params = inputChanges_.changes();
    data_.output_params = outputChanges_.changes();
    data_.input_events = inputEvents_.list();
    data_.output_events = outputEvents_.list();
    data_.ctx = &context_;
    context_.state = V3_PROCESS_CTX_TEMPO_VALID | V3_PROCESS_CTX_CONT_TIME_VALID;
    context_.sample_rate = sampleRate_;
    context_.bpm = events_ ? events_->tempo() : 120.0;
    context_.continuous_time_in_samples = framesProcessed_;
    context_.project_time_in_samples = framesProcessed_;
    call(processor_.get(), &v3_audio_processor::process, v3_result(V3_OK), &data_);
    framesProcessed_ += frames;
    // The processor's own changes go to the controller on the UI thread.
    bool news = false;
    for (int32_t q = 0; q < outputChanges_.queueCount(); ++q) {
        if (outputChanges_.pointCount(q) > 0)
            news |= toController_.push(outputChanges_.queueId(q), outputChanges_.lastValue(q));
    }
    if (news && events_)
        events_->uiCallRequested();
}

// --- parameters ---

int32_t Vst3Plugin::parameterCount() const {
    const ParameterList* list = parameters();
    return list ? list->listed : 0;
}

bool Vst3Plugin::parameterName(int32_t index, char* text, size_t size) const {
    const Parameter* p = parameter(index);
    if (!p || size == 0)
        return false;
    vst3text::fromField(p->name, sizeof p->name, text, size);
    return true;
}

bool Vst3Plugin::parameterUnit(int32_t index, char* text, size_t size) const {
    const Parameter* p = parameter(index);
    if (size == 0)
        return false;
    vst3text::fromField(p ? p->unit : "", p ? sizeof p->unit : 0, text, size);
    return text[0] != '\0';
}

float Vst3Plugin::parameterValue(int32_t index) const {
    const Parameter* p = parameter(index);
    if (!p || !contract_.controllerCall())
        return 0.0f;
    return float(clampNormalised(call(controller_.get(), &v3_edit_controller::get_parameter_normalised, 0.0, p->id)));
}

bool Vst3Plugin::parameterValueText(int32_t index, char* text, size_t size) const {
    const Parameter* p = parameter(index);
    if (!p || size == 0 || !contract_.controllerCall())
        return false;
    const double value = clampNormalised(call(controller_.get(), &v3_edit_controller::get_parameter_normalised, 0.0, p->id));
    int16_t answer[129];
    std::memset(answer, 0, sizeof answer);
    if (call(controller_.get(), &v3_edit_controller::get_parameter_string_for_value, v3_result(V3_FALSE), p->id, value,
             answer) != V3_OK)
        return false;
    vst3text::fromUtf16(answer, 128, text, size);
    return true;
}

void Vst3Plugin::setParameterValue(int32_t index, float value) {
    if (const Parameter* p = parameter(index))
        setValue(*p, value);
}

void Vst3Plugin::setValue(const Parameter& p, float value) {
    if (!contract_.controllerCall())
        return;
    const double normalised = clampNormalised(value);
    call(controller_.get(), &v3_edit_controller::set_parameter_normalised, v3_result(V3_OK), p.id, normalised);
    toProcessor_.push(p.id, normalised);
}

// --- programs: the controller's program-change parameter, where it has one ---

int32_t Vst3Plugin::programCount() const {
    const ParameterList* list = parameters();
    return list && list->program >= 0 ? list->entries[list->program].stepCount + 1 : 0;
}

bool Vst3Plugin::programName(int32_t index, char* text, size_t size) const {
    const int32_t count = programCount();
    if (index < 0 || index >= count || size == 0 || !contract_.controllerCall())
        return false;
    const ParameterList* list = parameters();
    const Parameter& p = list->entries[list->program];
    int16_t answer[129];
    std::memset(answer, 0, sizeof answer);
    if (call(controller_.get(), &v3_edit_controller::get_parameter_string_for_value, v3_result(V3_FALSE), p.id,
             double(index) / p.stepCount, answer) != V3_OK)
        return false;
    vst3text::fromUtf16(answer, 128, text, size);
    return true;
}

int32_t Vst3Plugin::currentProgram() const {
    if (programCount() == 0 || !contract_.controllerCall())
        return 0;
    const ParameterList* list = parameters();
    const Parameter& p = list->entries[list->program];
    const double value = clampNormalised(call(controller_.get(), &v3_edit_controller::get_parameter_normalised, 0.0, p.id));
    return int32_t(std::lround(value * p.stepCount));
}

bool Vst3Plugin::selectProgram(int32_t index) {
    if (index < 0 || index >= programCount())
        return false;
    const ParameterList* list = parameters();
    const Parameter& program = list->entries[list->program];
    setValue(program, float(double(index) / program.stepCount));
    return true;
}

// --- state ---

bool Vst3Plugin::writeState(ByteRecord& record) {
    Vst3MemoryStream* component = Vst3MemoryStream::createWriter(kMaxStatePart);
    Vst3MemoryStream* controller = Vst3MemoryStream::createWriter(kMaxStatePart);
    bool written = false;
    if (!component || !controller) {
        fail(kStrVst3NoMemory);
    } else if (call(component_.get(), &v3_component::get_state, v3_result(V3_NOT_IMPLEMENTED), component->stream()) !=
               V3_OK) {
        fail(component->overflowed() ? kStrVst3StateTooLarge : kStrVst3StateRefused, "the component's");
    } else if (contract_.controllerCall()) {
        // A controller without a state of its own stores an empty part.
        const v3_result answer =
            call(controller_.get(), &v3_edit_controller::get_state, v3_result(V3_NOT_IMPLEMENTED), controller->stream());
        Vst3StateParts parts;
        parts.component = component->data();
        parts.componentSize = component->size();
        parts.controller = answer == V3_OK ? controller->data() : nullptr;
        parts.controllerSize = answer == V3_OK ? controller->size() : 0;
        if (component->overflowed() || controller->overflowed() || !vst3state::write(record, parts))
            fail(kStrVst3StateTooLarge);
        else
            written = true;
    }
    if (component)
        component->release();
    if (controller)
        controller->release();
    return written;
}

bool Vst3Plugin::saveState(ByteRecord& record, char* failure, size_t failureSize) {
    const bool saved = contract_.uiCall("state saved off the UI thread") && writeState(record);
    if (failure && failureSize)
        vst3text::fromField(saved ? "" : lastFailure_, sizeof lastFailure_, failure, failureSize);
    return saved;
}

bool Vst3Plugin::applyState(const uint8_t* component, size_t componentSize, const uint8_t* controller,
                            size_t controllerSize) {
    Vst3MemoryStream* forComponent = Vst3MemoryStream::createReader(component, componentSize);
    Vst3MemoryStream* forController = Vst3MemoryStream::createReader(component, componentSize);
    Vst3MemoryStream* controllerOwn = Vst3MemoryStream::createReader(controller, controllerSize);
    bool applied = false;
    if (!forComponent || !forController || !controllerOwn) {
        fail(kStrVst3NoMemory);
    } else if (call(component_.get(), &v3_component::set_state, v3_result(V3_NOT_IMPLEMENTED),
                    forComponent->stream()) != V3_OK) {
        fail(kStrVst3StateRefused, "the component's part");
    } else if (contract_.controllerCall()) {
        // The controller takes the component's state first, then its own.
        call(controller_.get(), &v3_edit_controller::set_component_state, v3_result(V3_OK), forController->stream());
        if (controllerSize > 0 && call(controller_.get(), &v3_edit_controller::set_state,
                                       v3_result(V3_NOT_IMPLEMENTED), controllerOwn->stream()) != V3_OK)
            fail(kStrVst3StateRefused, "the controller's part");
        else
            applied = true;
    }
    if (forComponent)
        forComponent->release();
    if (forController)
        forController->release();
    if (controllerOwn)
        controllerOwn->release();
    return applied;
}

bool Vst3Plugin::restoreState(const uint8_t* data, size_t size) {
    if (!contract_.uiCall("state restored off the UI thread"))
        return false;
    Vst3StateParts parts;
    if (!vst3state::read(data, size, &parts)) {
        fail(kStrVst3StateUnreadable);
        return false;
    }
    // The state it has now, to go back to when the new one is refused half-way.
    ByteRecord before;
    const bool kept = writeState(before);
    if (applyState(parts.component, parts.componentSize, parts.controller, parts.controllerSize))
        return true;
    char reason[sizeof lastFailure_];
    std::memcpy(reason, lastFailure_, sizeof reason);
    Vst3StateParts previous;
    if (kept && vst3state::read(before.data(), before.size(), &previous))
        applyState(previous.component, previous.componentSize, previous.controller, previous.controllerSize);
    std::memcpy(lastFailure_, reason, sizeof reason);
    return false;
}

// --- editor ---

bool Vst3Plugin::openEditor(void* parent, int32_t* width, int32_t* height) {
    if (!contract_.uiCall("editor opened off the UI thread") || !hasEditor_ || editorOpen_ || !parent ||
        !contract_.controllerCall())
        return false;
    view_.reset(call(controller_.get(), &v3_edit_controller::create_view, static_cast<v3_plugin_view**>(nullptr),
                     "editor"));
    if (!view_ || call(view_.get(), &v3_plugin_view::is_platform_type_supported, v3_result(V3_FALSE), "HWND") != V3_OK) {
        view_.reset();
        return false;
    }
    call(view_.get(), &v3_plugin_view::set_frame, v3_result(V3_OK), frame_.frame());
    if (call(view_.get(), &v3_plugin_view::attached, v3_result(V3_FALSE), parent, "HWND") != V3_OK) {
        call(view_.get(), &v3_plugin_view::set_frame, v3_result(V3_OK), static_cast<v3_plugin_frame**>(nullptr));
        view_.reset();
        return false;
    }
    editorOpen_ = true;
    v3_view_rect rect = {0, 0, 0, 0};
    if (call(view_.get(), &v3_plugin_view::get_size, v3_result(V3_FALSE), &rect) != V3_OK || !sensibleRect(rect))
        rect = {0, 0, 400, 300};  // a view that tells no sensible size gets a common one
    if (width)
        *width = rect.right - rect.left;
    if (height)
        *height = rect.bottom - rect.top;
    return true;
}

void Vst3Plugin::closeEditor() {
    if (!view_ || !contract_.uiCall("editor closed off the UI thread"))
        return;
    if (editorOpen_)
        call(view_.get(), &v3_plugin_view::removed, v3_result(V3_OK));
    call(view_.get(), &v3_plugin_view::set_frame, v3_result(V3_OK), static_cast<v3_plugin_frame**>(nullptr));
    view_.reset();
    editorOpen_ = false;
}

bool Vst3Plugin::resizeEditor(int32_t* width, int32_t* height) {
    if (!view_ || !width || !height || !contract_.uiCall("editor resized off the UI thread"))
        return false;
    v3_view_rect rect = {0, 0, *width, *height};
    const bool resizable = call(view_.get(), &v3_plugin_view::can_resize, v3_result(V3_FALSE)) == V3_OK;
    if (resizable && sensibleRect(rect)) {
        // The view may bend the size to its constraints; what it answers is what it gets.
        call(view_.get(), &v3_plugin_view::check_size_constraint, v3_result(V3_OK), &rect);
        if (sensibleRect(rect) &&
            call(view_.get(), &v3_plugin_view::on_size, v3_result(V3_FALSE), &rect) == V3_OK) {
            *width = rect.right - rect.left;
            *height = rect.bottom - rect.top;
            return true;
        }
    }
    v3_view_rect now = {0, 0, 0, 0};
    if (call(view_.get(), &v3_plugin_view::get_size, v3_result(V3_FALSE), &now) == V3_OK && sensibleRect(now)) {
        *width = now.right - now.left;
        *height = now.bottom - now.top;
    }
    return false;
}

void Vst3Plugin::uiIdle() {
    if (!contract_.uiCall("idle off the UI thread"))
        return;
    refreshParametersIfStale();
    // The processor's changes reach the controller; a few rounds at most per call.
    for (int round = 0; round < 4 && !toController_.empty(); ++round) {
        Vst3ParameterChanges news;
        toController_.drainInto(news);
        for (int32_t q = 0; q < news.queueCount() && contract_.controllerCall(); ++q)
            call(controller_.get(), &v3_edit_controller::set_parameter_normalised, v3_result(V3_OK), news.queueId(q),
                 clampNormalised(news.lastValue(q)));
    }
}

// --- what the plug-in tells us ---

v3_result Vst3Plugin::beginEdit(v3_param_id id) { return indexOf(id) >= 0 ? v3_result(V3_OK) : v3_result(V3_INVALID_ARG); }

v3_result Vst3Plugin::endEdit(v3_param_id id) { return indexOf(id) >= 0 ? v3_result(V3_OK) : v3_result(V3_INVALID_ARG); }

// The editor moved a parameter: the controller knows; the processor learns it at the
// next block and the host is told.
v3_result Vst3Plugin::performEdit(v3_param_id id, double value) {
    if (!(value >= 0.0 && value <= 1.0))
        return V3_INVALID_ARG;
    // A hidden parameter is not listed, yet its edits are the processor's all the same.
    const int32_t index = indexOf(id);
    toProcessor_.push(id, value);
    if (index >= 0 && events_)
        events_->parameterEdited(index, float(value));
    return V3_OK;
}

v3_result Vst3Plugin::restartComponent(int32_t flags) {
    if (!events_)
        return V3_OK;
    // A new latency takes effect through deactivation and activation: the host's restart.
    if (flags & V3_RESTART_LATENCY_CHANGED) {
        events_->latencyChanged();
        events_->restartRequested();
    }
    if (flags & (V3_RESTART_PARAM_TITLES_CHANGED | V3_RESTART_PARAM_VALUES_CHANGED)) {
        if (flags & V3_RESTART_PARAM_TITLES_CHANGED)
            parametersStale_.store(true);
        events_->parametersChanged();
    }
    if (flags & (V3_RESTART_RELOAD_COMPONENT | V3_RESTART_IO_CHANGED))
        events_->restartRequested();
    return V3_OK;
}

v3_result Vst3Plugin::resizeView(v3_plugin_view** view, v3_view_rect* rect) {
    if (!contract_.uiCall("editor asked to resize off the UI thread"))
        return V3_FALSE;
    if (!view || view != view_.get() || !rect || !sensibleRect(*rect))
        return V3_INVALID_ARG;
    v3_view_rect size = *rect;
    if (!events_ || !events_->editorResizeRequested(size.right - size.left, size.bottom - size.top))
        return V3_FALSE;
    call(view_.get(), &v3_plugin_view::on_size, v3_result(V3_OK), &size);
    return V3_OK;
}
