#include "SlotProcessing.h"

#include <cstring>

#include "EffectSlot.h"
#include "SampleFormat.h"
#include "ThreadCheckedPlugin.h"

SlotProcessing::SlotProcessing() {
    for (int ch = 0; ch < 2; ++ch) {
        clearSamples(scratchIn_[ch], kMaxFrames);
        clearSamples(scratchOut_[ch], kMaxFrames);
    }
}

SlotProcessing::~SlotProcessing() = default;

void SlotProcessing::processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames) {
    PluginInstance* plugin = slot ? slot->plugin : nullptr;
    if (!plugin || frames <= 0)
        return;
    if (frames > kMaxFrames)
        frames = kMaxFrames;
    const int32_t inputs = plugin->inputCount();
    const int32_t outputs = plugin->outputCount();
    if (inputs < 1 || inputs > 2 || outputs < 1 || outputs > 2)
        return;

    // The live buffers themselves, in place, when both counts match.
    if (channelCount == inputs && channelCount == outputs) {
        plugin->process(channels, channels, frames);
        return;
    }
    // Inputs: the live buffers when their count matches, otherwise a mix of them (one
    // live channel feeds both inputs; two into one input are summed).
    float* in[2] = {scratchIn_[0], scratchIn_[1]};
    if (channelCount == inputs) {
        in[0] = channels[0];
        in[1] = inputs == 2 ? channels[1] : nullptr;
    } else {
        for (int32_t ch = 0; ch < inputs; ++ch)
            clearSamples(scratchIn_[ch], frames);
        mixChannels(channels, channelCount, in, inputs, frames, 1.0f);
    }
    // The plug-in's output replaces the live signal; nothing of the dry signal stays.
    if (channelCount == outputs) {
        plugin->process(in, channels, frames);
        return;
    }
    float* out[2] = {scratchOut_[0], scratchOut_[1]};
    plugin->process(in, out, frames);
    for (int32_t ch = 0; ch < channelCount; ++ch)
        clearSamples(channels[ch], frames);
    mixChannels(out, outputs, channels, channelCount, frames, 1.0f);
}
