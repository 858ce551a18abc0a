#pragma once
// The plug-in's audio ports as the host feeds them: the main input and output carry
// the seam's one or two channels; ports beyond them get buffers of their own (the
// side inputs silence). Read on the UI thread while inactive, bound per call on the
// audio thread without allocating.
#include <cstddef>
#include <cstdint>

#include "ClapAbi.h"

class ClapAudioPorts {
public:
    static constexpr uint32_t kMaxPorts = 16;
    static constexpr uint32_t kMaxPortChannels = 8;

    ClapAudioPorts() = default;
    ~ClapAudioPorts() { delete[] scratch_; }
    ClapAudioPorts(const ClapAudioPorts&) = delete;
    ClapAudioPorts& operator=(const ClapAudioPorts&) = delete;

    // UI thread, inactive. False with the reason in failure when the ports do not
    // read or the main ones are not mono or stereo.
    bool read(const clap_plugin_t* plugin, const clap_plugin_audio_ports_t* ports, char* failure, size_t failureSize);
    int32_t mainInputs() const { return inputCount_ ? int32_t(inputs_[0].channels) : 0; }
    int32_t mainOutputs() const { return outputCount_ ? int32_t(outputs_[0].channels) : 0; }

    // UI thread, inactive: buffers for calls of up to maxFrames.
    bool prepare(int32_t maxFrames);
    bool prepared() const { return scratch_ != nullptr; }

    // Audio thread: the main channels for one call. An input that is also an output is
    // copied first unless the plug-in declared it may work in place.
    void bind(float* const* inputs, float* const* outputs, int32_t frames);
    const clap_audio_buffer_t* inputBuffers() const { return inBuffers_; }
    clap_audio_buffer_t* outputBuffers() { return outBuffers_; }
    uint32_t inputPortCount() const { return inputCount_; }
    uint32_t outputPortCount() const { return outputCount_; }

private:
    struct Port {
        uint32_t channels = 0;
        clap_id id = CLAP_INVALID_ID;
        clap_id pair = CLAP_INVALID_ID;  // the port it may share buffers with
    };
    bool readList(const clap_plugin_t* plugin, const clap_plugin_audio_ports_t* ports, bool input, char* failure,
                  size_t failureSize);

    Port inputs_[kMaxPorts], outputs_[kMaxPorts];
    uint32_t inputCount_ = 0, outputCount_ = 0;
    bool inPlace_ = false;
    int32_t maxFrames_ = 0;
    float* scratch_ = nullptr;
    float* copiedInputs_[2] = {};
    float* inChannels_[kMaxPorts][kMaxPortChannels] = {};
    float* outChannels_[kMaxPorts][kMaxPortChannels] = {};
    clap_audio_buffer_t inBuffers_[kMaxPorts] = {};
    clap_audio_buffer_t outBuffers_[kMaxPorts] = {};
};
