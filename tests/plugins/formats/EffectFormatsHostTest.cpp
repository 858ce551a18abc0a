// Our three effects in every format through the program's own host: the VST3 and
// CLAP builds loaded by the host's backends against the VST 2 build (the DLL under
// Windows, the same effect object in this process natively), for the same names,
// units, texts and programs, bit-identical output, and state round trips.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClapBackend.h"
#include "EffectModules.h"
#include "PluginInstance.h"
#include "Vst2Plugin.h"
#if defined(_WIN32)
#include <windows.h>

#include "ParameterView.h"
#include "Vst2Backend.h"
#include "Vst3Backend.h"
#endif

using namespace effecttest;

namespace {

constexpr double kRate = 44100.0;
constexpr int32_t kBlock = 512;

// Keeps the last edit the plug-in reported (UI thread only in these tests).
class QuietEvents : public PluginHostEvents {
public:
    void parameterEdited(int32_t index, float value) override {
        lastEditIndex = index;
        lastEditValue = value;
        ++edits;
    }
    int32_t lastEditIndex = -1;
    float lastEditValue = -1.0f;
    int edits = 0;
    bool editorResizeRequested(int32_t, int32_t) override { return false; }
    void latencyChanged() override {}
    void parametersChanged() override {}
    void restartRequested() override {}
    void uiCallRequested() override {}
    double tempo() const override { return 120.0; }
};

class FixedHostInfo : public PluginHostInfo {
public:
    double sampleRate() const override { return kRate; }
    int32_t maxBlockFrames() const override { return kBlock; }
    double tempo() const override { return 120.0; }
};

QuietEvents gEvents;
FixedHostInfo gInfo;

using Instance = std::unique_ptr<PluginInstance>;

Instance loadWith(PluginFormatBackend& backend, const std::string& path) {
    char failure[256] = {};
    PluginInstance* instance = backend.load(path.c_str(), "", &gEvents, failure, sizeof failure);
    EXPECT_NE(instance, nullptr) << path << ": " << failure;
    return Instance(instance);
}

Instance loadVst2(const EffectKind& kind) {
#if defined(_WIN32)
    Vst2Backend backend(&gInfo);
    return loadWith(backend, vst2Path(kind.name));
#else
    return Instance(new Vst2Plugin(kind.make()->getAeffect(), &gEvents, "in-process.dll", nullptr));
#endif
}

Instance loadClap(const EffectKind& kind) {
    ClapBackend backend;
    return loadWith(backend, clapPath(kind.name));
}

#if defined(_WIN32)
Instance loadVst3(const EffectKind& kind) {
    Vst3Backend backend;
    return loadWith(backend, vst3Bundle(kind.name));
}
#endif

// The formats under test besides VST 2, each with how it shows a value's unit.
struct Format {
    const char* label;
    Instance (*load)(const EffectKind&);
    bool unitInText;  // CLAP has no unit field: the text carries it
};

std::vector<Format> formats() {
    std::vector<Format> list = {{"CLAP", loadClap, true}};
#if defined(_WIN32)
    list.push_back({"VST3", loadVst3, false});
#endif
    return list;
}

std::string text(bool (PluginInstance::*query)(int32_t, char*, size_t) const, const PluginInstance& p, int32_t i) {
    char buffer[256] = {};
    (p.*query)(i, buffer, sizeof buffer);
    return buffer;
}

// Processes blocks of the test signal on a thread of its own (the audio thread),
// starting at frame start.
std::vector<std::vector<float>> render(PluginInstance& p, int channels, int start, int blocks) {
    std::vector<std::vector<float>> in, out;
    for (int c = 0; c < channels; ++c) {
        std::vector<float> whole = testSignal(start + blocks * kBlock, c);
        in.emplace_back(whole.begin() + start, whole.end());
        out.emplace_back(size_t(blocks * kBlock), -7.0f);
    }
    std::thread audio([&] {
        for (int b = 0; b < blocks; ++b) {
            float* ins[2] = {};
            float* outs[2] = {};
            for (int c = 0; c < channels; ++c) {
                ins[c] = in[size_t(c)].data() + b * kBlock;
                outs[c] = out[size_t(c)].data() + b * kBlock;
            }
            p.process(ins, outs, kBlock);
        }
    });
    audio.join();
    return out;
}

// Settings used across the tests: every parameter away from its default.
float settingFor(int32_t index, int round) { return float((index * 37 + round * 53) % 100) / 99.0f; }

void applySettings(PluginInstance& p, int32_t count, int round) {
    for (int32_t i = 0; i < count; ++i)
        p.setParameterValue(i, settingFor(i, round));
}

class EffectFormats : public ::testing::TestWithParam<int> {
protected:
    const EffectKind& kind() const { return effectKinds()[size_t(GetParam())]; }
};

TEST_P(EffectFormats, ParametersAndProgramsAreThoseOfTheVst2Build) {
    for (const Format& format : formats()) {
        SCOPED_TRACE(format.label);
        Instance vst2 = loadVst2(kind());
        ASSERT_TRUE(vst2);
        const int32_t count = vst2->parameterCount();
        ASSERT_GT(count, 0);
        Instance other = format.load(kind());
        ASSERT_TRUE(other);
        EXPECT_EQ(other->inputCount(), vst2->inputCount());
        EXPECT_EQ(other->outputCount(), vst2->outputCount());
        // VST3 carries the programs as one more parameter, the program list.
        EXPECT_EQ(other->parameterCount(), count) << "the programs are no parameter";
        for (int32_t i = 0; i < count; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(text(&PluginInstance::parameterName, *other, i), text(&PluginInstance::parameterName, *vst2, i));
            EXPECT_FLOAT_EQ(other->parameterValue(i), vst2->parameterValue(i)) << "default";
            const std::string unit = text(&PluginInstance::parameterUnit, *vst2, i);
            if (!format.unitInText) {
                EXPECT_EQ(text(&PluginInstance::parameterUnit, *other, i), unit);
            }
            for (float v : {0.0f, 0.13f, 0.5f, 0.77f, 1.0f}) {
                vst2->setParameterValue(i, v);
                other->setParameterValue(i, v);
                std::string expected = text(&PluginInstance::parameterValueText, *vst2, i);
                if (format.unitInText && !unit.empty())
                    expected += " " + unit;
                EXPECT_EQ(text(&PluginInstance::parameterValueText, *other, i), expected) << "at " << v;
                EXPECT_FLOAT_EQ(other->parameterValue(i), v);
            }
        }
        {
            ASSERT_EQ(other->programCount(), vst2->programCount());
            // The effect's own names (the VST 2 host shows its own text for an empty one).
            Vst2Reference reference(kind());
            for (int32_t p = 0; p < vst2->programCount(); ++p) {
                char a[64] = {}, b[256] = {};
                EXPECT_TRUE(other->programName(p, a, sizeof a));
                reference.effect().setProgram(p);
                reference.effect().getProgramName(b);
                EXPECT_STREQ(a, b) << "program " << p;
            }
            EXPECT_TRUE(other->selectProgram(3));
            vst2->selectProgram(3);
            EXPECT_EQ(other->currentProgram(), 3);
            for (int32_t i = 0; i < count; ++i)
                EXPECT_FLOAT_EQ(other->parameterValue(i), vst2->parameterValue(i)) << "program 3, parameter " << i;
            // While running, the choice reaches the effect with the next block (program 3
            // is made to differ from the untouched program 5 first).
            applySettings(*other, count, 1);
            applySettings(*vst2, count, 1);
            ASSERT_TRUE(other->configure(kRate, kBlock) && other->resume());
            ASSERT_TRUE(vst2->configure(kRate, kBlock) && vst2->resume());
            EXPECT_TRUE(other->selectProgram(5));
            vst2->selectProgram(5);
            EXPECT_EQ(other->currentProgram(), 5);
            const auto a = render(*other, other->inputCount(), 0, 2);
            const auto b = render(*vst2, vst2->inputCount(), 0, 2);
            EXPECT_EQ(a, b) << "program 5 sounds otherwise";
            other->uiIdle();
            for (int32_t i = 0; i < count; ++i) {
                EXPECT_FLOAT_EQ(other->parameterValue(i), vst2->parameterValue(i)) << "program 5, parameter " << i;
                EXPECT_NE(other->parameterValue(i), settingFor(i, 1)) << "program 3's value, parameter " << i;
            }
            EXPECT_FALSE(other->selectProgram(vst2->programCount()));
            EXPECT_FALSE(other->selectProgram(-1));
            EXPECT_EQ(other->currentProgram(), 5);
            other->suspend();
            vst2->suspend();
        }
    }
}

TEST_P(EffectFormats, OutputIsBitIdenticalToTheVst2Build) {
    Instance vst2 = loadVst2(kind());
    ASSERT_TRUE(vst2);
    const int32_t count = vst2->parameterCount();
    std::vector<Instance> others;
    for (const Format& format : formats())
        others.push_back(format.load(kind()));
    std::vector<PluginInstance*> all = {vst2.get()};
    for (Instance& o : others) {
        ASSERT_TRUE(o);
        all.push_back(o.get());
    }
    for (PluginInstance* p : all) {
        ASSERT_TRUE(p->configure(kRate, kBlock));
        ASSERT_TRUE(p->resume());
    }
    // Three stretches, the settings changed between them while processing runs.
    for (int round = 0; round < 3; ++round) {
        for (PluginInstance* p : all)
            applySettings(*p, count, round);
        const auto expected = render(*vst2, kind().channels, round * 8 * kBlock, 8);
        for (size_t f = 0; f < others.size(); ++f) {
            const auto got = render(*others[f], kind().channels, round * 8 * kBlock, 8);
            for (int c = 0; c < kind().channels; ++c)
                EXPECT_TRUE(sameBits(got[size_t(c)], expected[size_t(c)]))
                    << formats()[f].label << " channel " << c << " round " << round;
        }
    }
    for (PluginInstance* p : all)
        p->suspend();
}

TEST_P(EffectFormats, StateRoundTripsAndForeignStatesLeaveTheEffectAsItWas) {
    for (const Format& format : formats()) {
        SCOPED_TRACE(format.label);
        Instance first = format.load(kind());
        ASSERT_TRUE(first);
        const int32_t count = first->parameterCount();
        applySettings(*first, count, 2);
        ByteRecord saved;
        char failure[128] = {};
        ASSERT_TRUE(first->saveState(saved, failure, sizeof failure)) << failure;

        Instance second = format.load(kind());
        ASSERT_TRUE(second);
        ASSERT_TRUE(second->restoreState(saved.data(), saved.size()));
        for (int32_t i = 0; i < count; ++i)
            EXPECT_FLOAT_EQ(second->parameterValue(i), settingFor(i, 2));

        // Both now process alike.
        for (PluginInstance* p : {first.get(), second.get()}) {
            ASSERT_TRUE(p->configure(kRate, kBlock));
            ASSERT_TRUE(p->resume());
        }
        const auto a = render(*first, kind().channels, 0, 4);
        const auto b = render(*second, kind().channels, 0, 4);
        for (int c = 0; c < kind().channels; ++c)
            EXPECT_TRUE(sameBits(a[size_t(c)], b[size_t(c)])) << "channel " << c;

        // A cut record, a damaged one and another effect's: refused, values kept
        // (suspended, so that the values reach the plug-in without a block).
        for (PluginInstance* p : {first.get(), second.get()})
            p->suspend();
        std::vector<uint8_t> bytes(saved.data(), saved.data() + saved.size());
        applySettings(*second, count, 0);
        EXPECT_FALSE(second->restoreState(bytes.data(), bytes.size() / 2));
        std::vector<uint8_t> damaged = bytes;
        damaged[damaged.size() / 2] ^= 0x40;
        EXPECT_FALSE(second->restoreState(damaged.data(), damaged.size()));
        const EffectKind& otherKind = effectKinds()[size_t((GetParam() + 1) % 3)];
        Instance foreign = format.load(otherKind);
        ASSERT_TRUE(foreign);
        ByteRecord foreignState;
        ASSERT_TRUE(foreign->saveState(foreignState, failure, sizeof failure));
        EXPECT_FALSE(second->restoreState(foreignState.data(), foreignState.size()));
        for (int32_t i = 0; i < count; ++i)
            EXPECT_FLOAT_EQ(second->parameterValue(i), settingFor(i, 0)) << "parameter " << i;
    }
}

#if defined(_WIN32)
// The drawn editor of both builds: embedded in the host's window, resized as the
// host asks (never below its rows), and dragging across a row sets that parameter
// and tells the host.
TEST_P(EffectFormats, EditorOpensResizesAndSetsParametersByDragging) {
    for (const Format& format : formats()) {
        SCOPED_TRACE(format.label);
        Instance effect = format.load(kind());
        ASSERT_TRUE(effect);
        ASSERT_TRUE(effect->hasEditor());
        HWND parent = CreateWindowExA(0, "STATIC", "editor test", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
        int32_t width = 0, height = 0;
        ASSERT_TRUE(effect->openEditor(parent, &width, &height));
        HWND view = GetWindow(parent, GW_CHILD);
        ASSERT_NE(view, nullptr) << "the editor made no window in the host's";
        const int32_t rows = effect->parameterCount();
        EXPECT_GE(height, rows * ParameterView::kRowHeight);
        EXPECT_GE(width, ParameterView::kMinWidth);

        int32_t w = 600, h = height + 100;
        EXPECT_TRUE(effect->resizeEditor(&w, &h));
        RECT client;
        GetClientRect(view, &client);
        EXPECT_EQ(client.right, 600);
        EXPECT_EQ(client.bottom, height + 100);
        w = 50, h = 10;
        effect->resizeEditor(&w, &h);
        EXPECT_GE(w, ParameterView::kMinWidth) << "resized below the editor's least width";
        EXPECT_GE(h, rows * ParameterView::kRowHeight) << "resized below its rows";

        GetClientRect(view, &client);
        const int32_t last = rows - 1;
        const LPARAM onRow = MAKELPARAM(client.right / 2, ParameterView::kMargin + last * ParameterView::kRowHeight +
                                                              ParameterView::kRowHeight / 2);
        gEvents.edits = 0;
        SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, onRow);
        SendMessageA(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(client.right - 1, HIWORD(onRow)));
        SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(client.right - 1, HIWORD(onRow)));
        effect->uiIdle();
        EXPECT_FLOAT_EQ(effect->parameterValue(last), 1.0f) << "dragged to the right end";
        EXPECT_GT(gEvents.edits, 0) << "the host was not told";
        EXPECT_EQ(gEvents.lastEditIndex, last);
        EXPECT_FLOAT_EQ(gEvents.lastEditValue, 1.0f);
        SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(0, HIWORD(onRow)));
        SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(0, HIWORD(onRow)));
        effect->uiIdle();
        EXPECT_FLOAT_EQ(effect->parameterValue(last), 0.0f) << "pressed at the left end";

        effect->closeEditor();
        EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr) << "the editor's window outlived it";
        // Open again after closing, then the instance goes with its editor open.
        ASSERT_TRUE(effect->openEditor(parent, &width, &height));
        effect.reset();
        DestroyWindow(parent);
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Effects, EffectFormats, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(effectKinds()[size_t(info.param)].name);
                         });

}  // namespace
