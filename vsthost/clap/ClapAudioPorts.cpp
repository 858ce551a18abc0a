#include "ClapAudioPorts.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "ClapFailure.h"

bool ClapAudioPorts::readList(const clap_plugin_t* plugin, const clap_plugin_audio_ports_t* ports, bool input,
                              char* failure, size_t failureSize) {
    const char* side = input ? "input" : "output";
    Port* list = input ? inputs_ : outputs_;
    const uint32_t n = ports->count(plugin, input);
    char detail[64];
    if (n > kMaxPorts) {
        std::snprintf(detail, sizeof detail, "it counts %lu %s ports", static_cast<unsigned long>(n), side);
        describeClapFailure(ClapFailure::PortsUnreadable, detail, failure, failureSize);
        return false;
    }
    for (uint32_t i = 0; i < n; ++i) {
        clap_audio_port_info_t info;
        std::memset(&info, 0, sizeof info);
        info.id = CLAP_INVALID_ID;
        info.in_place_pair = CLAP_INVALID_ID;
        if (!ports->get(plugin, i, input, &info)) {
            std::snprintf(detail, sizeof detail, "%s port %lu gives no information", side,
                          static_cast<unsigned long>(i));
            describeClapFailure(ClapFailure::PortsUnreadable, detail, failure, failureSize);
            return false;
        }
        // The main ports are judged by read; the others need only fit their buffers.
        if (i > 0 && (info.channel_count == 0 || info.channel_count > kMaxPortChannels)) {
            std::snprintf(detail, sizeof detail, "%s port %lu has %lu channels", side, static_cast<unsigned long>(i),
                          static_cast<unsigned long>(info.channel_count));
            describeClapFailure(ClapFailure::PortsUnreadable, detail, failure, failureSize);
            return false;
        }
        list[i].channels = info.channel_count;
        list[i].id = info.id;
        list[i].pair = info.in_place_pair;
    }
    (input ? inputCount_ : outputCount_) = n;
    return true;
}

bool ClapAudioPorts::read(const clap_plugin_t* plugin, const clap_plugin_audio_ports_t* ports, char* failure,
                          size_t failureSize) {
    inputCount_ = outputCount_ = 0;
    if (!ports) {
        describeClapFailure(ClapFailure::PortLayoutRefused, "not declared", failure, failureSize);
        return false;
    }
    if (!readList(plugin, ports, true, failure, failureSize) || !readList(plugin, ports, false, failure, failureSize))
        return false;
    const uint32_t in = inputCount_ ? inputs_[0].channels : 0;
    const uint32_t out = outputCount_ ? outputs_[0].channels : 0;
    if (in < 1 || in > 2 || out < 1 || out > 2) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "%lu channels in and %lu out", static_cast<unsigned long>(in),
                      static_cast<unsigned long>(out));
        describeClapFailure(ClapFailure::PortLayoutRefused, detail, failure, failureSize);
        inputCount_ = outputCount_ = 0;
        return false;
    }
    inPlace_ = inputs_[0].pair != CLAP_INVALID_ID && inputs_[0].pair == outputs_[0].id;
    return true;
}

bool ClapAudioPorts::prepare(int32_t maxFrames) {
    delete[] scratch_;
    scratch_ = nullptr;
    if (maxFrames < 1 || !inputCount_ || !outputCount_)
        return false;
    size_t channels = inputs_[0].channels;  // the copies of the main input
    for (uint32_t p = 1; p < inputCount_; ++p)
        channels += inputs_[p].channels;
    for (uint32_t p = 1; p < outputCount_; ++p)
        channels += outputs_[p].channels;
    const size_t total = channels * size_t(maxFrames);
    scratch_ = new (std::nothrow) float[total];
    if (!scratch_)
        return false;
    std::memset(scratch_, 0, total * sizeof(float));
    maxFrames_ = maxFrames;
    float* next = scratch_;
    for (uint32_t c = 0; c < inputs_[0].channels; ++c, next += maxFrames)
        copiedInputs_[c] = next;
    for (uint32_t p = 0; p < inputCount_; ++p) {
        for (uint32_t c = 0; p > 0 && c < inputs_[p].channels; ++c, next += maxFrames)
            inChannels_[p][c] = next;
        inBuffers_[p] = {inChannels_[p], nullptr, inputs_[p].channels, 0, 0};
    }
    for (uint32_t p = 0; p < outputCount_; ++p) {
        for (uint32_t c = 0; p > 0 && c < outputs_[p].channels; ++c, next += maxFrames)
            outChannels_[p][c] = next;
        outBuffers_[p] = {outChannels_[p], nullptr, outputs_[p].channels, 0, 0};
    }
    return true;
}

void ClapAudioPorts::bind(float* const* inputs, float* const* outputs, int32_t frames) {
    const int32_t ins = mainInputs(), outs = mainOutputs();
    bool aliased = false;
    for (int32_t c = 0; !inPlace_ && c < ins; ++c)
        for (int32_t k = 0; k < outs; ++k)
            aliased = aliased || inputs[c] == outputs[k];
    for (int32_t c = 0; c < ins; ++c) {
        float* source = inputs[c];
        if (aliased && frames <= maxFrames_) {
            std::memcpy(copiedInputs_[c], source, size_t(frames) * sizeof(float));
            source = copiedInputs_[c];
        }
        inChannels_[0][c] = source;
    }
    for (int32_t c = 0; c < outs; ++c)
        outChannels_[0][c] = outputs[c];
    for (uint32_t p = 0; p < outputCount_; ++p)
        outBuffers_[p].constant_mask = 0;
    // Side inputs are silence again, whatever the plug-in did to them.
    for (uint32_t p = 1; p < inputCount_; ++p)
        for (uint32_t c = 0; c < inputs_[p].channels; ++c)
            std::memset(inChannels_[p][c], 0, size_t(frames) * sizeof(float));
}
