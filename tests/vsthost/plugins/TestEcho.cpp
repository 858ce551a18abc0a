// A VST 2 echo with a long feedback for the tests of performance switches: its tail
// rings on for seconds after its input stops, so a switch that cut the outgoing
// chain off would be heard (and measured) at once. Parameter 0 sets the delay (10 ms
// to 1 s, default 300 ms), parameter 1 the feedback (0 to 0.9, default 0.72).
#include <cstring>
#include <vector>

#include "VstInterface.h"

namespace {

const int kMaxDelayFrames = 192000;  // 1 s at 192 kHz

struct Echo {
    AEffect effect;
    float parameters[2] = {0.2929f, 0.8f};
    double rate = 44100.0;
    std::vector<float> lines[2];
    int at = 0;
    Echo() {
        lines[0].assign(kMaxDelayFrames, 0.0f);
        lines[1].assign(kMaxDelayFrames, 0.0f);
    }
    int delayFrames() const {
        const double seconds = 0.01 + 0.99 * parameters[0];
        int frames = int(seconds * rate);
        return frames < 1 ? 1 : (frames > kMaxDelayFrames ? kMaxDelayFrames : frames);
    }
};

VstIntPtr VSTCALLBACK dispatcher(AEffect* e, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float opt) {
    auto* self = static_cast<Echo*>(e->object);
    switch (opcode) {
    case effIdentify:
        return kEffectIdentifyAnswer;
    case effSetSampleRate:
        if (opt >= 1000.0f && opt <= 192000.0f)
            self->rate = opt;
        return 1;
    case effGetEffectName:
        std::strcpy(static_cast<char*>(ptr), "Test Echo");
        return 1;
    case effClose:
        delete self;
        return 1;
    default:
        return 0;
    }
}

// Each output is its input plus the echo line read one delay back.
void VSTCALLBACK processReplacing(AEffect* e, float** in, float** out, VstInt32 frames) {
    auto* self = static_cast<Echo*>(e->object);
    const int delay = self->delayFrames();
    const float feedback = 0.9f * self->parameters[1];
    int at = self->at;
    for (VstInt32 i = 0; i < frames; ++i) {
        const int from = (at - delay + kMaxDelayFrames) % kMaxDelayFrames;
        for (int c = 0; c < 2; ++c) {
            const float dry = in[c][i];
            const float echoed = self->lines[c][from];
            self->lines[c][at] = dry + echoed * feedback;
            out[c][i] = dry + echoed;
        }
        at = (at + 1) % kMaxDelayFrames;
    }
    self->at = at;
}

void VSTCALLBACK setParameter(AEffect* e, VstInt32 index, float value) {
    if (index >= 0 && index < 2 && value >= 0.0f && value <= 1.0f)
        static_cast<Echo*>(e->object)->parameters[index] = value;
}

float VSTCALLBACK getParameter(AEffect* e, VstInt32 index) {
    return index >= 0 && index < 2 ? static_cast<Echo*>(e->object)->parameters[index] : 0.0f;
}

}  // namespace

extern "C" AEffect* testEchoMain(audioMasterCallback) {
    auto* self = new Echo();
    AEffect& e = self->effect;
    std::memset(&e, 0, sizeof e);
    e.magic = kEffectMagic;
    e.dispatcher = dispatcher;
    e.processReplacing = processReplacing;
    e.setParameter = setParameter;
    e.getParameter = getParameter;
    e.numPrograms = 1;
    e.numParams = 2;
    e.numInputs = 2;
    e.numOutputs = 2;
    e.flags = effFlagsCanReplacing;
    e.ioRatio = 1.0f;
    e.object = self;
    e.uniqueID = fourCharCode('e', 'c', 'h', 'o');
    e.version = 1;
    return &e;
}
