// The VST3 builds of our effects at the format's own interface, with no host of
// ours in between: the module's factory and class info against its moduleinfo.json,
// the buses, the parameters against the VST 2 effect, changes at offsets within a
// block against the VST 2 effect given the same block in pieces, and the calls a
// careless host makes out of order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "EffectModules.h"
#include "Vst3HostStubs.h"
#include "audio_processor.h"
#include "component.h"
#include "edit_controller.h"
#include "factory.h"

using namespace effecttest;

namespace {

constexpr int32_t kMaxFrames = 512;

std::string narrow(const int16_t* text) {
    std::string out;
    for (; *text; ++text)
        out += char(*text);
    return out;
}

// The class id as the format writes it in text: four 32-bit words in hex.
std::string classIdText(const v3_tuid id) {
    char text[40];
#if V3_COM_COMPAT
    const uint32_t w0 = uint32_t(id[0]) | uint32_t(id[1]) << 8 | uint32_t(id[2]) << 16 | uint32_t(id[3]) << 24;
    const uint32_t w1 = uint32_t(id[5]) << 24 | uint32_t(id[4]) << 16 | uint32_t(id[7]) << 8 | uint32_t(id[6]);
#else
    const uint32_t w0 = uint32_t(id[0]) << 24 | uint32_t(id[1]) << 16 | uint32_t(id[2]) << 8 | uint32_t(id[3]);
    const uint32_t w1 = uint32_t(id[4]) << 24 | uint32_t(id[5]) << 16 | uint32_t(id[6]) << 8 | uint32_t(id[7]);
#endif
    const uint32_t w2 = uint32_t(id[8]) << 24 | uint32_t(id[9]) << 16 | uint32_t(id[10]) << 8 | uint32_t(id[11]);
    const uint32_t w3 = uint32_t(id[12]) << 24 | uint32_t(id[13]) << 16 | uint32_t(id[14]) << 8 | uint32_t(id[15]);
    std::snprintf(text, sizeof text, "%08X%08X%08X%08X", unsigned(w0), unsigned(w1), unsigned(w2), unsigned(w3));
    return text;
}

// The text of the first `"key": "value"` in a JSON file (the file is ours and flat
// enough for this).
std::string jsonString(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\"");
    if (at == std::string::npos)
        return "";
    const size_t open = json.find('"', json.find(':', at) + 1);
    const size_t close = json.find('"', open + 1);
    return json.substr(open + 1, close - open - 1);
}

// One VST3 effect instance made by its module's factory, with its three interfaces.
class Vst3Effect {
public:
    explicit Vst3Effect(const EffectKind& kind) : module_(vst3Binary(kind.name)) {
        if (!module_.loaded())
            return;
#if defined(_WIN32)
        if (auto init = reinterpret_cast<bool (*)()>(module_.symbol("InitDll")))
            init();
#else
        if (auto init = reinterpret_cast<bool (*)(void*)>(module_.symbol("ModuleEntry")))
            init(nullptr);
#endif
        auto getFactory = reinterpret_cast<v3_plugin_factory** (V3_API*)()>(module_.symbol("GetPluginFactory"));
        factory = getFactory ? getFactory() : nullptr;
        if (!factory)
            return;
        v3_class_info_2 info;
        void* factory2 = nullptr;
        v3_cpp_obj_query_interface(factory, v3_plugin_factory_2_iid, reinterpret_cast<v3_funknown***>(&factory2));
        auto** f2 = static_cast<v3_plugin_factory_2**>(factory2);
        if (!f2 || v3_cpp_obj(f2)->get_class_info_2(f2, 0, &info) != V3_OK)
            return;
        std::memcpy(classId, info.class_id, sizeof classId);
        void* made = nullptr;
        if (v3_cpp_obj(factory)->create_instance(factory, classId, v3_component_iid, &made) != V3_OK || !made)
            return;
        component = static_cast<v3_component**>(made);
        void* other = nullptr;
        v3_cpp_obj_query_interface(component, v3_audio_processor_iid, reinterpret_cast<v3_funknown***>(&other));
        processor = static_cast<v3_audio_processor**>(other);
        other = nullptr;
        v3_cpp_obj_query_interface(component, v3_edit_controller_iid, reinterpret_cast<v3_funknown***>(&other));
        controller = static_cast<v3_edit_controller**>(other);
        v3_cpp_obj_initialize(component, nullptr);
    }
    ~Vst3Effect() {
        if (component) {
            v3_cpp_obj(component)->set_active(component, 0);
            v3_cpp_obj_terminate(component);
        }
        for (void** p : {reinterpret_cast<void**>(&controller), reinterpret_cast<void**>(&processor),
                         reinterpret_cast<void**>(&component)})
            if (*p)
                v3_cpp_obj_unref(static_cast<v3_funknown**>(*p));
    }
    bool ready() const { return component && processor && controller; }

    bool start(double rate = 44100.0, int32_t maxFrames = kMaxFrames) {
        v3_process_setup setup = {V3_REALTIME, V3_SAMPLE_32, maxFrames, rate};
        return v3_cpp_obj(processor)->setup_processing(processor, &setup) == V3_OK &&
               v3_cpp_obj(component)->set_active(component, 1) == V3_OK &&
               v3_cpp_obj(processor)->set_processing(processor, 1) == V3_OK;
    }

    v3_result process(float** in, float** out, int32_t channels, int32_t frames, ParameterChanges* changes) {
        v3_audio_bus_buffers inBus = {channels, 0, {in}};
        v3_audio_bus_buffers outBus = {channels, 0, {out}};
        v3_process_data data;
        std::memset(&data, 0, sizeof data);
        data.process_mode = V3_REALTIME;
        data.symbolic_sample_size = V3_SAMPLE_32;
        data.nframes = frames;
        data.num_input_buses = 1;
        data.num_output_buses = 1;
        data.inputs = &inBus;
        data.outputs = &outBus;
        data.input_params = changes ? changes->changes() : nullptr;
        return v3_cpp_obj(processor)->process(processor, &data);
    }

    std::vector<uint8_t> state() {
        MemoryStream stream;
        EXPECT_EQ(v3_cpp_obj(component)->get_state(component, stream.stream()), V3_OK);
        return stream.bytes();
    }
    v3_result setState(const std::vector<uint8_t>& bytes, size_t size) {
        MemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(size)));
        return v3_cpp_obj(component)->set_state(component, stream.stream());
    }

    Module module_;
    v3_plugin_factory** factory = nullptr;
    v3_tuid classId = {};
    v3_component** component = nullptr;
    v3_audio_processor** processor = nullptr;
    v3_edit_controller** controller = nullptr;
};

// A stored state, saved by one edition's build: the other edition (and a later
// build) must read it, and save the same bytes for the same settings.
std::string storedStatePath(const char* effect, const char* format) {
    return std::string(TALVENOR_STATE_FIXTURES) + effect + "." + format + ".state";
}
std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}
bool writeStates() { return std::getenv("TALVENOR_WRITE_STATES") != nullptr; }
float storedSetting(int32_t index) { return float((index * 37 + 11) % 100) / 99.0f; }

class Vst3Abi : public ::testing::TestWithParam<int> {
protected:
    const EffectKind& kind() const { return effectKinds()[size_t(GetParam())]; }
};

TEST_P(Vst3Abi, FactoryAndClassInfoMatchTheBundlesModuleInfo) {
    Vst3Effect effect(kind());
    ASSERT_TRUE(effect.factory) << vst3Binary(kind().name);
    v3_factory_info factoryInfo;
    ASSERT_EQ(v3_cpp_obj(effect.factory)->get_factory_info(effect.factory, &factoryInfo), V3_OK);
    EXPECT_STREQ(factoryInfo.vendor, "Talvenor Software");
    ASSERT_EQ(v3_cpp_obj(effect.factory)->num_classes(effect.factory), 1);
    v3_class_info info;
    ASSERT_EQ(v3_cpp_obj(effect.factory)->get_class_info(effect.factory, 0, &info), V3_OK);
    EXPECT_STREQ(info.category, "Audio Module Class");
    EXPECT_STREQ(info.name, kind().name);
    EXPECT_NE(v3_cpp_obj(effect.factory)->get_class_info(effect.factory, 1, &info), V3_OK);

    std::ifstream file(vst3Bundle(kind().name) + kSeparator + "Contents" + kSeparator + "Resources" + kSeparator +
                       "moduleinfo.json");
    ASSERT_TRUE(file.good());
    std::stringstream json;
    json << file.rdbuf();
    EXPECT_EQ(jsonString(json.str(), "CID"), classIdText(info.class_id));
    EXPECT_EQ(jsonString(json.str(), "Name"), kind().name);
    EXPECT_EQ(jsonString(json.str(), "Category"), "Audio Module Class");

    // An unknown class and a null answer are refused.
    void* made = reinterpret_cast<void*>(1);
    v3_tuid unknown = {};
    EXPECT_NE(v3_cpp_obj(effect.factory)->create_instance(effect.factory, unknown, v3_component_iid, &made), V3_OK);
    EXPECT_EQ(made, nullptr);
    EXPECT_NE(v3_cpp_obj(effect.factory)->create_instance(effect.factory, info.class_id, v3_component_iid, nullptr),
              V3_OK);
}

TEST_P(Vst3Abi, BusesAreTheVst2BuildsChannelsAndOtherArrangementsAreRefused) {
    Vst3Effect effect(kind());
    ASSERT_TRUE(effect.ready());
    auto* c = v3_cpp_obj(effect.component);
    EXPECT_EQ(c->get_bus_count(effect.component, V3_AUDIO, V3_INPUT), 1);
    EXPECT_EQ(c->get_bus_count(effect.component, V3_AUDIO, V3_OUTPUT), 1);
    EXPECT_EQ(c->get_bus_count(effect.component, V3_EVENT, V3_INPUT), 0);
    v3_bus_info bus;
    ASSERT_EQ(c->get_bus_info(effect.component, V3_AUDIO, V3_INPUT, 0, &bus), V3_OK);
    EXPECT_EQ(bus.channel_count, kind().channels);
    EXPECT_EQ(bus.bus_type, V3_MAIN);
    EXPECT_NE(c->get_bus_info(effect.component, V3_AUDIO, V3_INPUT, 1, &bus), V3_OK);

    auto* p = v3_cpp_obj(effect.processor);
    v3_speaker_arrangement ours = kind().channels == 1 ? v3_speaker_arrangement(V3_SPEAKER_M)
                                                       : v3_speaker_arrangement(V3_SPEAKER_L | V3_SPEAKER_R);
    v3_speaker_arrangement in = ours, out = ours;
    EXPECT_EQ(p->set_bus_arrangements(effect.processor, &in, 1, &out, 1), V3_OK);
    v3_speaker_arrangement surround = 0x3F;
    EXPECT_EQ(p->set_bus_arrangements(effect.processor, &surround, 1, &surround, 1), V3_FALSE);
    EXPECT_NE(p->set_bus_arrangements(effect.processor, &in, 2, &out, 1), V3_OK);
    v3_speaker_arrangement answered = 0;
    ASSERT_EQ(p->get_bus_arrangement(effect.processor, V3_OUTPUT, 0, &answered), V3_OK);
    EXPECT_EQ(answered, ours);
    EXPECT_EQ(p->can_process_sample_size(effect.processor, V3_SAMPLE_64), V3_FALSE);
    EXPECT_EQ(p->can_process_sample_size(effect.processor, V3_SAMPLE_32), V3_OK);
}

TEST_P(Vst3Abi, ParametersAreTheVst2BuildsAndUnknownOnesAreRefused) {
    Vst3Effect effect(kind());
    ASSERT_TRUE(effect.ready());
    Vst2Reference reference(kind());
    AudioEffect& vst2 = reference.effect();
    const int32_t count = vst2.getAeffect()->numParams;
    auto* e = v3_cpp_obj(effect.controller);
    ASSERT_EQ(e->get_parameter_count(effect.controller), count + 1);
    for (int32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        v3_param_info info;
        ASSERT_EQ(e->get_parameter_info(effect.controller, i, &info), V3_OK);
        char name[256] = {}, label[256] = {};
        vst2.getParameterName(i, name);
        vst2.getParameterLabel(i, label);
        EXPECT_EQ(narrow(info.title), name);
        EXPECT_EQ(narrow(info.units), label);
        EXPECT_FLOAT_EQ(float(info.default_normalised_value), vst2.getParameter(i));
        EXPECT_TRUE(info.flags & V3_PARAM_CAN_AUTOMATE);
        for (float v : {0.0f, 0.25f, 0.6f, 1.0f}) {
            int16_t shown[128] = {};
            ASSERT_EQ(e->get_parameter_string_for_value(effect.controller, info.param_id, v, shown), V3_OK);
            char display[256] = {};
            vst2.setParameter(i, v);
            vst2.getParameterDisplay(i, display);
            EXPECT_EQ(narrow(shown), display) << "at " << v;
        }
    }
    v3_param_info program;
    ASSERT_EQ(e->get_parameter_info(effect.controller, count, &program), V3_OK);
    EXPECT_TRUE(program.flags & V3_PARAM_PROGRAM_CHANGE);
    EXPECT_EQ(program.step_count, vst2.getAeffect()->numPrograms - 1);

    v3_param_info info;
    int16_t shown[128];
    EXPECT_EQ(e->get_parameter_info(effect.controller, count + 1, &info), V3_INVALID_ARG);
    EXPECT_EQ(e->get_parameter_info(effect.controller, -1, &info), V3_INVALID_ARG);
    EXPECT_EQ(e->get_parameter_string_for_value(effect.controller, 77, 0.5, shown), V3_INVALID_ARG);
    EXPECT_EQ(e->set_parameter_normalised(effect.controller, 77, 0.5), V3_INVALID_ARG);
    EXPECT_EQ(e->get_parameter_normalised(effect.controller, 77), 0.0);
}

// Changes at offsets within blocks: the output equals the VST 2 effect processing
// each block in pieces split at the changes, setParameter between them, also when
// the host has set the controller's value before the block.
TEST_P(Vst3Abi, ChangesWithinABlockTakeEffectAtTheirFrame) {
    Vst3Effect effect(kind());
    ASSERT_TRUE(effect.ready());
    ASSERT_TRUE(effect.start());
    Vst2Reference reference(kind());
    const int channels = kind().channels;
    const int32_t count = reference.effect().getAeffect()->numParams;
    const int blocks = 6;
    std::vector<std::vector<float>> in, expected, got;
    for (int c = 0; c < channels; ++c) {
        in.push_back(testSignal(blocks * kMaxFrames, c));
        expected.emplace_back(in.back().size(), 0.0f);
        got.emplace_back(in.back().size(), 0.0f);
    }
    ParameterChanges changes;
    for (int b = 0; b < blocks; ++b) {
        // Two changes per block at frames that differ from block to block (one at
        // frame 0 in the first), the second to another parameter where there is one.
        const int32_t first = b == 0 ? 0 : (b * 97) % kMaxFrames;
        const int32_t second = (first + 131 + b * 29) % kMaxFrames;
        struct Point {
            int32_t offset, index;
            float value;
        } points[2] = {{first, 0, float(b % 4) / 3.0f}, {second, (b + 1) % count, float((b * 5) % 7) / 6.0f}};
        if (points[1].offset < points[0].offset)
            std::swap(points[0], points[1]);
        changes.clear();
        for (const Point& p : points) {
            changes.add(v3_param_id(p.index), p.offset, p.value);
            // A host shows the value on the controller too, before the block: the
            // processor must still take it at its frame.
            v3_cpp_obj(effect.controller)->set_parameter_normalised(effect.controller, v3_param_id(p.index), p.value);
        }
        float* ins[2] = {};
        float* outs[2] = {};
        for (int c = 0; c < channels; ++c) {
            ins[c] = in[size_t(c)].data() + b * kMaxFrames;
            outs[c] = got[size_t(c)].data() + b * kMaxFrames;
        }
        ASSERT_EQ(effect.process(ins, outs, channels, kMaxFrames, &changes), V3_OK);
        int32_t at = 0;
        for (const Point& p : points) {
            if (p.offset > at)
                reference.process(in, expected, b * kMaxFrames + at, p.offset - at);
            at = p.offset > at ? p.offset : at;
            reference.effect().setParameter(p.index, p.value);
        }
        reference.process(in, expected, b * kMaxFrames + at, kMaxFrames - at);
    }
    for (int c = 0; c < channels; ++c)
        EXPECT_TRUE(sameBits(got[size_t(c)], expected[size_t(c)])) << "channel " << c;
    for (int32_t i = 0; i < count; ++i)
        EXPECT_FLOAT_EQ(float(v3_cpp_obj(effect.controller)->get_parameter_normalised(effect.controller, i)),
                        reference.effect().getParameter(i));
}

TEST_P(Vst3Abi, OutOfOrderCallsAreRefusedAndLeaveTheEffectAsItWas) {
    Vst3Effect effect(kind());
    ASSERT_TRUE(effect.ready());
    const int channels = kind().channels;
    std::vector<float> a(kMaxFrames * 2, 0.25f), b(kMaxFrames * 2, -9.0f), c(kMaxFrames * 2, -9.0f);
    float* ins[2] = {a.data(), a.data() + kMaxFrames};
    float* outs[2] = {b.data(), c.data()};

    // Before activation.
    EXPECT_EQ(effect.process(ins, outs, channels, kMaxFrames, nullptr), V3_NOT_INITIALIZED);
    EXPECT_EQ(b[0], -9.0f) << "an inactive effect wrote its output";
    EXPECT_NE(v3_cpp_obj(effect.processor)->process(effect.processor, nullptr), V3_OK);

    // States that are not this effect's, and one cut short: refused, nothing changed.
    auto* e = v3_cpp_obj(effect.controller);
    ASSERT_EQ(e->set_parameter_normalised(effect.controller, 0, 0.3), V3_OK);
    const std::vector<uint8_t> before = effect.state();
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(effect.setState(before, before.size() - 1), V3_FALSE);
    EXPECT_EQ(effect.setState(before, 0), V3_FALSE);
    std::vector<uint8_t> longer = before;
    longer.push_back(0);
    EXPECT_EQ(effect.setState(longer, longer.size()), V3_FALSE);
    std::vector<uint8_t> otherTag = before;
    otherTag[8] ^= 1;
    EXPECT_EQ(effect.setState(otherTag, otherTag.size()), V3_FALSE);
    std::vector<uint8_t> garbage(5000, 0xAB);
    EXPECT_EQ(effect.setState(garbage, garbage.size()), V3_FALSE);
    EXPECT_EQ(effect.state(), before);
    EXPECT_EQ(effect.setState(before, before.size()), V3_OK);

    // Active: zero frames carry changes only, missing buffers are refused, a block
    // longer than announced is processed whole as the VST 2 build processes it.
    ASSERT_TRUE(effect.start(44100.0, 64));
    ParameterChanges changes;
    changes.add(0, 0, 0.75);
    EXPECT_EQ(effect.process(ins, outs, channels, 0, &changes), V3_OK);
    EXPECT_FLOAT_EQ(float(e->get_parameter_normalised(effect.controller, 0)), 0.75f);
    float* missing[2] = {nullptr, nullptr};
    EXPECT_NE(effect.process(missing, outs, channels, 64, nullptr), V3_OK);
    EXPECT_NE(effect.process(ins, missing, channels, 64, nullptr), V3_OK);
    EXPECT_NE(effect.process(ins, outs, channels - 1, 64, nullptr), V3_OK);

    Vst2Reference reference(kind(), 44100.0f, 64);
    reference.effect().setParameter(0, 0.3f);
    reference.effect().setParameter(0, 0.75f);
    std::vector<std::vector<float>> in, expected;
    for (int ch = 0; ch < channels; ++ch) {
        in.push_back(testSignal(kMaxFrames, ch));
        expected.emplace_back(size_t(kMaxFrames), 0.0f);
    }
    reference.process(in, expected, 0, kMaxFrames);
    float* signal[2] = {in[0].data(), in[size_t(channels - 1)].data()};
    ASSERT_EQ(effect.process(signal, outs, channels, kMaxFrames, nullptr), V3_OK);
    EXPECT_TRUE(sameBits(std::vector<float>(b.begin(), b.begin() + kMaxFrames), expected[0]));
}

TEST_P(Vst3Abi, StateSavedByEitherEditionLoadsInBoth) {
    Vst3Effect effect(kind());
    ASSERT_TRUE(effect.ready());
    auto* e = v3_cpp_obj(effect.controller);
    const int32_t count = e->get_parameter_count(effect.controller) - 1;
    for (int32_t i = 0; i < count; ++i)
        ASSERT_EQ(e->set_parameter_normalised(effect.controller, v3_param_id(i), storedSetting(i)), V3_OK);
    const std::vector<uint8_t> saved = effect.state();
    const std::string path = storedStatePath(kind().name, "vst3");
    if (writeStates()) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(saved.data()), long(saved.size()));
        return;
    }
    const std::vector<uint8_t> stored = readBytes(path);
    ASSERT_FALSE(stored.empty()) << path;
    EXPECT_EQ(saved, stored) << "this edition saves other bytes for the same settings";
    Vst3Effect fresh(kind());
    ASSERT_TRUE(fresh.ready());
    ASSERT_EQ(fresh.setState(stored, stored.size()), V3_OK);
    for (int32_t i = 0; i < count; ++i)
        EXPECT_FLOAT_EQ(float(v3_cpp_obj(fresh.controller)->get_parameter_normalised(fresh.controller, v3_param_id(i))),
                        storedSetting(i));
}

INSTANTIATE_TEST_SUITE_P(Effects, Vst3Abi, ::testing::Values(0, 1, 2), [](const ::testing::TestParamInfo<int>& info) {
    return std::string(effectKinds()[size_t(info.param)].name);
});

}  // namespace
