#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <memory>

#include "EffectSlot.h"
#include "SlotProcessing.h"
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"

namespace {

// A plug-in record whose processing is a lambda-free function that can see what the
// host handed it.
struct FakePlugin {
    AEffect effect{};
    float* inputBuffers[2] = {nullptr, nullptr};  // what the host passed, kept at call time
    bool inputsSilent = false;
    int calls = 0;
};

FakePlugin* pluginOf(AEffect* e) { return static_cast<FakePlugin*>(e->object); }

// Output k = sum of inputs times (k + 1); remembers the buffers it was given.
void VSTCALLBACK scaleAndSpread(AEffect* e, float** in, float** out, VstInt32 frames) {
    FakePlugin* p = pluginOf(e);
    p->inputsSilent = true;
    for (int c = 0; c < e->numInputs; ++c) {
        p->inputBuffers[c] = in[c];
        for (VstInt32 i = 0; i < frames; ++i)
            p->inputsSilent = p->inputsSilent && in[c][i] == 0.0f;
    }
    ++p->calls;
    for (VstInt32 i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < e->numInputs; ++c)
            sum += in[c][i];
        for (int k = 0; k < e->numOutputs; ++k)
            out[k][i] = sum * float(k + 1);
    }
}

// An accumulating plug-in: adds its input to whatever the outputs hold.
void VSTCALLBACK accumulate(AEffect* e, float** in, float** out, VstInt32 frames) {
    ++pluginOf(e)->calls;
    for (VstInt32 i = 0; i < frames; ++i)
        for (int k = 0; k < e->numOutputs; ++k)
            out[k][i] += in[0][i];
}

struct Rig {
    FakePlugin plugin;
    EffectSlot slot;
    std::unique_ptr<ThreadCheckedPlugin> instance;
    SlotProcessing processing;
    std::vector<float> left, right;
    float* live[2];

    Rig(int inputs, int outputs, bool replacing = true) : left(256), right(256) {
        plugin.effect.magic = kEffectMagic;
        plugin.effect.numInputs = inputs;
        plugin.effect.numOutputs = outputs;
        plugin.effect.object = &plugin;
        if (replacing) {
            plugin.effect.flags = effFlagsCanReplacing;
            plugin.effect.processReplacing = scaleAndSpread;
        } else {
            plugin.effect.process = accumulate;
        }
        // The effect reached through the VST 2 backend's instance, as the host does.
        instance.reset(new ThreadCheckedPlugin(new Vst2Plugin(&plugin.effect, nullptr, "", nullptr)));
        slot.plugin = instance.get();
        for (int i = 0; i < 256; ++i) {
            left[i] = 0.001f * float(i);
            right[i] = -0.5f + 0.002f * float(i);
        }
        live[0] = left.data();
        live[1] = right.data();
    }
};

}  // namespace

TEST(SlotProcessing, MonoIntoOneInTwoOutReadsInPlaceAndSumsBack) {
    Rig rig(1, 2);
    const std::vector<float> dry = rig.left;
    rig.processing.processSlot(&rig.slot, rig.live, 1, 256);
    ASSERT_EQ(rig.plugin.calls, 1);
    EXPECT_EQ(rig.plugin.inputBuffers[0], rig.live[0]);  // read in place, no copy
    for (int i = 0; i < 256; ++i)
        ASSERT_FLOAT_EQ(rig.left[i], dry[i] * 1.0f + dry[i] * 2.0f);
}

TEST(SlotProcessing, StereoIntoOneInputIsLeftPlusRight) {
    Rig rig(1, 1);
    const std::vector<float> l = rig.left, r = rig.right;
    rig.processing.processSlot(&rig.slot, rig.live, 2, 256);
    EXPECT_NE(rig.plugin.inputBuffers[0], rig.live[0]);  // a scratch buffer
    for (int i = 0; i < 256; ++i) {
        ASSERT_FLOAT_EQ(rig.left[i], l[i] + r[i]);  // the one output feeds both channels
        ASSERT_FLOAT_EQ(rig.right[i], l[i] + r[i]);
    }
}

TEST(SlotProcessing, MatchingStereoReplacesTheSignal) {
    Rig rig(2, 2);
    const std::vector<float> l = rig.left, r = rig.right;
    rig.processing.processSlot(&rig.slot, rig.live, 2, 256);
    EXPECT_EQ(rig.plugin.inputBuffers[0], rig.live[0]);
    EXPECT_EQ(rig.plugin.inputBuffers[1], rig.live[1]);
    for (int i = 0; i < 256; ++i) {
        ASSERT_FLOAT_EQ(rig.left[i], l[i] + r[i]);
        ASSERT_FLOAT_EQ(rig.right[i], 2.0f * (l[i] + r[i]));
    }
}

TEST(SlotProcessing, UnsupportedChannelCountsPassTheSignal) {
    for (auto io : {std::pair<int, int>{2, 3}, {0, 2}, {3, 2}, {1, 0}}) {
        Rig rig(io.first, io.second);
        const std::vector<float> l = rig.left;
        rig.processing.processSlot(&rig.slot, rig.live, 2, 256);
        EXPECT_EQ(rig.plugin.calls, 0);
        EXPECT_EQ(rig.left, l);
    }
}

TEST(SlotProcessing, AccumulatingPluginsGetClearedOutputs) {
    Rig rig(1, 2, false);
    const std::vector<float> l = rig.left;
    // Dirty the scratch outputs first through a replacing plug-in in the same host.
    Rig other(1, 2);
    other.processing.processSlot(&other.slot, other.live, 1, 256);
    rig.processing.processSlot(&rig.slot, rig.live, 1, 256);
    rig.processing.processSlot(&rig.slot, rig.live, 1, 256);
    ASSERT_EQ(rig.plugin.calls, 2);
    for (int i = 0; i < 256; ++i)
        ASSERT_FLOAT_EQ(rig.left[i], 4.0f * l[i]);  // twice: each pass doubles (two outputs summed)
}

TEST(SlotProcessing, NoLiveChannelsMeansSilenceIn) {
    Rig rig(2, 2);
    Rig mono(1, 1);
    // Leave a mix of the live channels in the scratch inputs first.
    rig.processing.processSlot(&mono.slot, rig.live, 2, 256);
    rig.processing.processSlot(&rig.slot, rig.live, 0, 256);
    ASSERT_EQ(rig.plugin.calls, 1);
    EXPECT_TRUE(rig.plugin.inputsSilent);
}
