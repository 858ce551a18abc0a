#include "SlotProcessing.h"

#include <cstring>
#include <thread>

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

namespace {

// Marks the driver thread inside a slot's processing for the UI thread's hold. The
// order (mark, then look at held) pairs with SlotHold's (hold, then look at the mark):
// with both sequentially consistent, one of the two always sees the other.
class InProcess {
public:
    explicit InProcess(EffectSlot& slot) : slot_(slot) { __atomic_store_n(&slot_.inProcess, 1, __ATOMIC_SEQ_CST); }
    ~InProcess() { __atomic_store_n(&slot_.inProcess, 0, __ATOMIC_RELEASE); }
    InProcess(const InProcess&) = delete;
    InProcess& operator=(const InProcess&) = delete;
    bool held() const { return __atomic_load_n(&slot_.held, __ATOMIC_SEQ_CST) != 0; }

private:
    EffectSlot& slot_;
};

}  // namespace

SlotHold::SlotHold(EffectSlot& slot) : slot_(slot) {
    __atomic_store_n(&slot_.held, 1, __ATOMIC_SEQ_CST);
    // One sub-block's processing at most.
    while (__atomic_load_n(&slot_.inProcess, __ATOMIC_SEQ_CST))
        std::this_thread::yield();
}

SlotHold::~SlotHold() { __atomic_store_n(&slot_.held, 0, __ATOMIC_RELEASE); }

void SlotProcessing::slotComing(EffectSlot* slot) {
    PluginInstance* plugin = slot ? slot->plugin : nullptr;
    if (!plugin)
        return;
    const InProcess inProcess(*slot);
    if (!inProcess.held())
        plugin->blockComing();
}

void SlotProcessing::processSlot(EffectSlot* slot, float* const* channels, int32_t channelCount, int32_t frames) {
    PluginInstance* plugin = slot ? slot->plugin : nullptr;
    if (!plugin || frames <= 0)
        return;
    const InProcess inProcess(*slot);
    if (inProcess.held())
        return;  // passed by dry while the UI thread has the plug-in
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
