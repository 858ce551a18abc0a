// The framework's record, dispatcher, entry functions, host queries and entry
// point, seen from a host, with a minimal effect that records what reaches it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "AudioEffect.h"
#include "PluginEntry.h"
#include "PluginTestSupport.h"

namespace {

using plugintest::dispatch;
using plugintest::RecordingHost;

struct Seen {
    int suspends = 0;
    int resumes = 0;
    int opens = 0;
    int closes = 0;
    int destroyed = 0;
    int constructed = 0;
    VstInt32 lastIndex = -1;
    float lastValue = 0.0f;
    float** lastInputs = nullptr;
    float** lastOutputs = nullptr;
    VstInt32 lastFrames = 0;
    int processCalls = 0;
    int replacingCalls = 0;
    bool lastIsPreset = false;
    VstInt32 lastByteSize = 0;
};
Seen seen;

class TestEffect : public AudioEffect {
public:
    explicit TestEffect(audioMasterCallback host) : AudioEffect(host, 8, 3) { ++seen.constructed; }
    ~TestEffect() override { ++seen.destroyed; }

    void setParameter(VstInt32 index, float value) override {
        seen.lastIndex = index;
        seen.lastValue = value;
    }
    float getParameter(VstInt32 index) override { return 0.25f * float(index); }
    void process(float** inputs, float** outputs, VstInt32 frames) override {
        ++seen.processCalls;
        noteBlock(inputs, outputs, frames);
    }
    void processReplacing(float** inputs, float** outputs, VstInt32 frames) override {
        ++seen.replacingCalls;
        noteBlock(inputs, outputs, frames);
    }
    void open() override { ++seen.opens; }
    void close() override { ++seen.closes; }
    void suspend() override { ++seen.suspends; }
    void resume() override { ++seen.resumes; }
    float getVu() override { return vu; }
    VstInt32 getChunk(void** data, bool isPreset) override {
        seen.lastIsPreset = isPreset;
        *data = chunk;
        return sizeof chunk;
    }
    VstInt32 setChunk(void*, VstInt32 byteSize, bool isPreset) override {
        seen.lastIsPreset = isPreset;
        seen.lastByteSize = byteSize;
        return 1;
    }
    void setEditor(AEffEditor* e) { editor = e; }

    float vu = 0.0f;
    char chunk[12] = {};

private:
    static void noteBlock(float** inputs, float** outputs, VstInt32 frames) {
        seen.lastInputs = inputs;
        seen.lastOutputs = outputs;
        seen.lastFrames = frames;
    }
};

// An effect that overrides nothing but process, to see the base behaviour.
class BareEffect : public AudioEffect {
public:
    explicit BareEffect(audioMasterCallback host) : AudioEffect(host, 4, 2) {}
    void process(float**, float**, VstInt32) override {}
};

struct EditorLog {
    int opens = 0, closes = 0, idles = 0, rects = 0, destroyed = 0;
    void* parent = nullptr;
};

class TestEditor : public AEffEditor {
public:
    explicit TestEditor(EditorLog& log) : log(log) {}
    ~TestEditor() override { ++log.destroyed; }
    VstInt32 getRect(ERect** r) override {
        ++log.rects;
        *r = &rect;
        return 1;
    }
    VstInt32 open(void* parent) override {
        ++log.opens;
        log.parent = parent;
        return 1;
    }
    void close() override { ++log.closes; }
    void idle() override { ++log.idles; }
    ERect rect{0, 0, 100, 200};
    EditorLog& log;
};

class AudioEffectTest : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen();
        RecordingHost::reset();
    }
};

TEST_F(AudioEffectTest, ConstructorFillsTheRecord) {
    BareEffect effect(RecordingHost::callback);
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(0x56737450, e->magic);
    EXPECT_EQ(4, e->numPrograms);
    EXPECT_EQ(2, e->numParams);
    EXPECT_EQ(1, e->numInputs);
    EXPECT_EQ(2, e->numOutputs);
    EXPECT_EQ(0, e->flags);
    EXPECT_EQ(0, e->resvd1);
    EXPECT_EQ(0, e->resvd2);
    EXPECT_EQ(0, e->initialDelay);
    EXPECT_EQ(0, e->realQualities);
    EXPECT_EQ(0, e->offQualities);
    EXPECT_EQ(1.0f, e->ioRatio);
    EXPECT_EQ(&effect, e->object);
    EXPECT_EQ(nullptr, e->user);
    EXPECT_EQ(0x4E6F4566, e->uniqueID);
    EXPECT_EQ(1, e->version);
    EXPECT_NE(nullptr, e->dispatcher);
    EXPECT_NE(nullptr, e->process);
    EXPECT_NE(nullptr, e->processReplacing);
    EXPECT_NE(nullptr, e->setParameter);
    EXPECT_NE(nullptr, e->getParameter);
    for (char byte : e->future)
        EXPECT_EQ(0, byte);
    EXPECT_EQ(44100.0f, effect.getSampleRate());
    EXPECT_EQ(1024, effect.getBlockSize());
    EXPECT_EQ(0, effect.getProgram());
    // No host queries are made while constructing.
    EXPECT_TRUE(RecordingHost::calls().empty());
}

TEST_F(AudioEffectTest, RecordSettersChangeOnlyTheirField) {
    BareEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    effect.setUniqueID(0x74616C50);
    effect.setNumInputs(2);
    effect.setNumOutputs(1);
    effect.setInitialDelay(64);
    effect.setRealtimeQualities(3);
    effect.setOfflineQualities(5);
    EXPECT_EQ(0x74616C50, e->uniqueID);
    EXPECT_EQ(2, e->numInputs);
    EXPECT_EQ(1, e->numOutputs);
    EXPECT_EQ(64, e->initialDelay);
    EXPECT_EQ(3, e->realQualities);
    EXPECT_EQ(5, e->offQualities);

    effect.hasClip(true);
    EXPECT_EQ(2, e->flags);
    effect.hasVu(true);
    EXPECT_EQ(6, e->flags);
    effect.canMono(true);
    EXPECT_EQ(14, e->flags);
    effect.canProcessReplacing(true);
    EXPECT_EQ(30, e->flags);
    effect.programsAreChunks(true);
    EXPECT_EQ(62, e->flags);
    effect.hasVu(false);
    EXPECT_EQ(58, e->flags);
    effect.canMono(false);
    effect.hasClip(false);
    effect.programsAreChunks(false);
    EXPECT_EQ(16, e->flags);
}

TEST_F(AudioEffectTest, BaseOperationsAnswerEmptyAndZero) {
    BareEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    char text[64];
    for (VstInt32 opcode : {effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName}) {
        std::strcpy(text, "host text");
        EXPECT_EQ(0, dispatch(e, opcode, 1, 0, text));
        EXPECT_STREQ("", text) << opcode;
    }
    EXPECT_EQ(0.0f, e->getParameter(e, 0));
    e->setParameter(e, 0, 0.7f);
    EXPECT_EQ(0.0f, e->getParameter(e, 0));
    EXPECT_EQ(0, dispatch(e, effGetVu));
    void* data = nullptr;
    EXPECT_EQ(0, dispatch(e, effGetChunk, 0, 0, &data));
    EXPECT_EQ(0, dispatch(e, effSetChunk, 0, 4, text));
    float in[4] = {1, 2, 3, 4}, out[4] = {9, 9, 9, 9};
    float* ins[2] = {in, in};
    float* outs[2] = {out, out};
    e->processReplacing(e, ins, outs, 4);
    EXPECT_EQ(9.0f, out[0]);
}

TEST_F(AudioEffectTest, IdentifiesItselfAndAnswersNothingBeyondTheBaseOpcodes) {
    TestEffect effect(RecordingHost::callback);
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(0x4E764566, dispatch(e, effIdentify));

    AEffect before;
    std::memcpy(&before, e, sizeof before);
    char buffer[256];
    std::memset(buffer, 0x5A, sizeof buffer);
    for (VstInt32 opcode : {16, 17, 18, 20, 21, 25, 29, 35, 38, 43, 45, 51, 53, 58, 71, 1000, -1}) {
        EXPECT_EQ(0, dispatch(e, opcode, 1, 1, buffer, 1.0f)) << opcode;
    }
    EXPECT_EQ(0, std::memcmp(&before, e, sizeof before));
    for (unsigned char byte : buffer)
        EXPECT_EQ(0x5A, byte);
    EXPECT_EQ(0, seen.suspends + seen.resumes + seen.opens + seen.closes);
    EXPECT_TRUE(RecordingHost::calls().empty());
}

TEST_F(AudioEffectTest, ProgramSelectionStaysWithinTheProgramList) {
    TestEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    EXPECT_EQ(0, dispatch(e, effSetProgram, 0, 5));
    EXPECT_EQ(5, dispatch(e, effGetProgram));
    EXPECT_EQ(0, dispatch(e, effSetProgram, 0, 8));
    EXPECT_EQ(0, dispatch(e, effSetProgram, 0, -1));
    EXPECT_EQ(0, dispatch(e, effSetProgram, 0, VstIntPtr(0x7FFFFFFF)));
    EXPECT_EQ(5, dispatch(e, effGetProgram));
    EXPECT_EQ(0, dispatch(e, effSetProgram, 0, 7));
    EXPECT_EQ(7, dispatch(e, effGetProgram));
}

TEST_F(AudioEffectTest, SettingAProgramNameClearsTheHostsText) {
    TestEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    char name[32] = "My favourite";
    EXPECT_EQ(0, dispatch(e, effSetProgramName, 0, 0, name));
    EXPECT_EQ('\0', name[0]);
    EXPECT_EQ('y', name[1]);
    EXPECT_EQ(0, dispatch(e, effSetProgramName, 0, 0, nullptr));
}

TEST_F(AudioEffectTest, VuMeterIsScaledToSixteenBitsAndTruncated) {
    TestEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    effect.vu = 0.5f;
    EXPECT_EQ(16383, dispatch(e, effGetVu));
    effect.vu = 1.0f;
    EXPECT_EQ(32767, dispatch(e, effGetVu));
    effect.vu = -0.25f;
    EXPECT_EQ(-8191, dispatch(e, effGetVu));
    effect.vu = NAN;
    EXPECT_EQ(0, dispatch(e, effGetVu));
    effect.vu = 1e30f;
    EXPECT_EQ(0, dispatch(e, effGetVu));
}

TEST_F(AudioEffectTest, SampleRateBlockSizeAndMainsReachTheEffect) {
    TestEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(48000.0f, effect.getSampleRate());
    // A rate that cannot be used keeps the previous one.
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 0.0f);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, -44100.0f);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, NAN);
    dispatch(e, effSetSampleRate, 0, 0, nullptr, INFINITY);
    EXPECT_EQ(48000.0f, effect.getSampleRate());
    dispatch(e, effSetBlockSize, 0, 256);
    EXPECT_EQ(256, effect.getBlockSize());

    dispatch(e, effMainsChanged, 0, 1);
    dispatch(e, effMainsChanged, 0, 7);
    EXPECT_EQ(2, seen.resumes);
    EXPECT_EQ(0, seen.suspends);
    dispatch(e, effMainsChanged, 0, 0);
    EXPECT_EQ(1, seen.suspends);
    dispatch(e, effOpen);
    EXPECT_EQ(1, seen.opens);
}

TEST_F(AudioEffectTest, ChunkOpcodesPassThePresetFlagFromTheIndex) {
    TestEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    void* data = nullptr;
    EXPECT_EQ(12, dispatch(e, effGetChunk, 1, 0, &data));
    EXPECT_EQ(effect.chunk, data);
    EXPECT_TRUE(seen.lastIsPreset);
    EXPECT_EQ(1, dispatch(e, effSetChunk, 0, 77, effect.chunk));
    EXPECT_FALSE(seen.lastIsPreset);
    EXPECT_EQ(77, seen.lastByteSize);
}

TEST_F(AudioEffectTest, EditorOpcodesForwardOnlyWhenThereIsAnEditor) {
    EditorLog log;
    {
        TestEffect effect(nullptr);
        AEffect* e = effect.getAeffect();
        ERect* rect = nullptr;
        EXPECT_EQ(0, dispatch(e, effEditGetRect, 0, 0, &rect));
        EXPECT_EQ(nullptr, rect);
        EXPECT_EQ(0, dispatch(e, effEditOpen, 0, 0, &log));

        effect.setEditor(new TestEditor(log));
        EXPECT_EQ(1, dispatch(e, effEditGetRect, 0, 0, &rect));
        ASSERT_NE(nullptr, rect);
        EXPECT_EQ(200, rect->right);
        EXPECT_EQ(1, dispatch(e, effEditOpen, 0, 0, &log));
        EXPECT_EQ(&log, log.parent);
        dispatch(e, effEditIdle);
        dispatch(e, effEditClose);
        EXPECT_EQ(1, log.idles);
        EXPECT_EQ(1, log.closes);
        EXPECT_EQ(0, log.destroyed);
    }
    EXPECT_EQ(1, log.destroyed);
}

TEST_F(AudioEffectTest, EntryFunctionsForwardToTheObject) {
    TestEffect effect(nullptr);
    AEffect* e = effect.getAeffect();
    e->setParameter(e, 2, 0.75f);
    EXPECT_EQ(2, seen.lastIndex);
    EXPECT_EQ(0.75f, seen.lastValue);
    EXPECT_EQ(0.5f, e->getParameter(e, 2));

    float a[8] = {}, b[8] = {};
    float* ins[1] = {a};
    float* outs[1] = {b};
    e->processReplacing(e, ins, outs, 8);
    EXPECT_EQ(1, seen.replacingCalls);
    EXPECT_EQ(ins, seen.lastInputs);
    EXPECT_EQ(outs, seen.lastOutputs);
    EXPECT_EQ(8, seen.lastFrames);
    e->process(e, outs, ins, 3);
    EXPECT_EQ(1, seen.processCalls);
    EXPECT_EQ(outs, seen.lastInputs);
    EXPECT_EQ(3, seen.lastFrames);
}

TEST_F(AudioEffectTest, CloseCallsCloseThenDestroysTheObject) {
    TestEffect* effect = new TestEffect(nullptr);
    AEffect* e = effect->getAeffect();
    EXPECT_EQ(1, dispatch(e, effClose));
    EXPECT_EQ(1, seen.closes);
    EXPECT_EQ(1, seen.destroyed);
}

TEST_F(AudioEffectTest, EntryPointKeepsOneObjectAndMakesAFreshOneAfterClose) {
    AEffect* first = pluginEntry<TestEffect>(RecordingHost::callback);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, pluginEntry<TestEffect>(RecordingHost::callback));
    EXPECT_EQ(1, seen.constructed);

    EXPECT_EQ(1, dispatch(first, effClose));
    EXPECT_EQ(1, seen.destroyed);

    // The kept pointer went with the object: the next call builds a new one
    // (under AddressSanitizer, touching the old record would fail here).
    AEffect* second = pluginEntry<TestEffect>(RecordingHost::callback);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(2, seen.constructed);
    EXPECT_EQ(0x56737450, second->magic);
    EXPECT_EQ(0x4E764566, dispatch(second, effIdentify));
    EXPECT_EQ(1, dispatch(second, effClose));
    EXPECT_EQ(2, seen.destroyed);
}

TEST_F(AudioEffectTest, HostQueriesPassTheRecordAndUseTheAnswers) {
    TestEffect effect(RecordingHost::callback);
    AEffect* e = effect.getAeffect();

    RecordingHost::reset(2400);
    EXPECT_EQ(2400, effect.getMasterVersion());
    RecordingHost::reset(0x1234);
    EXPECT_EQ(0x1234, effect.getCurrentUniqueId());
    RecordingHost::reset(0);
    EXPECT_EQ(1, effect.getMasterVersion());
    effect.masterIdle();
    EXPECT_TRUE(effect.isInputConnected(3));
    EXPECT_TRUE(effect.isOutputConnected(1));
    const std::vector<plugintest::HostCall> calls = RecordingHost::calls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(audioMasterVersion, calls[0].opcode);
    EXPECT_EQ(audioMasterIdle, calls[1].opcode);
    EXPECT_EQ(audioMasterPinConnected, calls[2].opcode);
    EXPECT_EQ(3, calls[2].index);
    EXPECT_EQ(0, calls[2].value);
    EXPECT_EQ(audioMasterPinConnected, calls[3].opcode);
    EXPECT_EQ(1, calls[3].index);
    EXPECT_EQ(1, calls[3].value);
    for (const plugintest::HostCall& call : calls) {
        EXPECT_EQ(e, call.effect);
        EXPECT_EQ(nullptr, call.ptr);
        EXPECT_EQ(0.0f, call.opt);
    }

    RecordingHost::reset(1);
    EXPECT_FALSE(effect.isInputConnected(0));
    EXPECT_FALSE(effect.isOutputConnected(0));
}

TEST_F(AudioEffectTest, HostQueriesWithoutAHostGiveTheirDefaults) {
    TestEffect effect(nullptr);
    EXPECT_EQ(1, effect.getMasterVersion());
    EXPECT_EQ(0, effect.getCurrentUniqueId());
    effect.masterIdle();
    EXPECT_TRUE(effect.isInputConnected(0));
    EXPECT_TRUE(effect.isOutputConnected(1));
    EXPECT_EQ(0, effect.setParameterAutomated(1, 0.3f));
    EXPECT_EQ(1, seen.lastIndex);
    EXPECT_EQ(0.3f, seen.lastValue);
}

TEST_F(AudioEffectTest, AutomationSetsTheParameterThenTellsTheHost) {
    TestEffect effect(RecordingHost::callback);
    RecordingHost::reset(42);
    EXPECT_EQ(42, effect.setParameterAutomated(2, 0.625f));
    EXPECT_EQ(2, seen.lastIndex);
    EXPECT_EQ(0.625f, seen.lastValue);
    ASSERT_EQ(1u, RecordingHost::calls().size());
    const plugintest::HostCall& call = RecordingHost::calls()[0];
    EXPECT_EQ(effect.getAeffect(), call.effect);
    EXPECT_EQ(audioMasterAutomate, call.opcode);
    EXPECT_EQ(2, call.index);
    EXPECT_EQ(0, call.value);
    EXPECT_EQ(nullptr, call.ptr);
    EXPECT_EQ(0.625f, call.opt);
}

TEST_F(AudioEffectTest, TextOperationsUseTheEffectsSampleRate) {
    TestEffect effect(nullptr);
    char text[16];
    effect.setSampleRate(48000.0f);
    effect.Hz2string(480.0f, text);
    EXPECT_STREQ("100.0000", text);
    effect.ms2string(480.0f, text);
    EXPECT_STREQ("10.00000", text);
    effect.dB2string(0.5f, text);
    EXPECT_STREQ("-6.02059", text);
    effect.float2string(3.25f, text);
    EXPECT_STREQ("3.250000", text);
    effect.long2string(123, text);
    EXPECT_STREQ("    123", text);
}

}  // namespace
