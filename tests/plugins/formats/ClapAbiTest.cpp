// The CLAP builds of our effects at the format's own interface: the entry, the
// factory and descriptor, the ports and parameters against the VST 2 effect,
// parameter events at their frames against the VST 2 effect given the block in
// pieces, the state record's fixed layout, and calls out of order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EffectModules.h"
#include "clap/entry.h"
#include "clap/events.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/plugin-factory.h"
#include "clap/process.h"

using namespace effecttest;

namespace {

constexpr uint32_t kMaxFrames = 512;

const void* CLAP_ABI noExtension(const clap_host_t*, const char*) { return nullptr; }
void CLAP_ABI noRequest(const clap_host_t*) {}
const clap_host_t kHost = {CLAP_VERSION, nullptr, "format tests", "Talvenor", "", "1",
                           noExtension, noRequest, noRequest, noRequest};

// Events handed to the plug-in, in order.
class EventList {
public:
    void add(uint32_t time, clap_id id, double value) {
        clap_event_param_value_t e;
        std::memset(&e, 0, sizeof e);
        e.header.size = sizeof e;
        e.header.time = time;
        e.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
        e.header.type = CLAP_EVENT_PARAM_VALUE;
        e.param_id = id;
        e.note_id = -1;
        e.port_index = e.channel = e.key = -1;
        e.value = value;
        events_.push_back(e);
    }
    void clear() { events_.clear(); }
    const clap_input_events_t* list() {
        list_.ctx = this;
        list_.size = [](const clap_input_events_t* l) { return uint32_t(static_cast<EventList*>(l->ctx)->events_.size()); };
        list_.get = [](const clap_input_events_t* l, uint32_t i) -> const clap_event_header_t* {
            auto& events = static_cast<EventList*>(l->ctx)->events_;
            return i < events.size() ? &events[i].header : nullptr;
        };
        return &list_;
    }

private:
    std::vector<clap_event_param_value_t> events_;
    clap_input_events_t list_;
};

struct ByteStream {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    clap_ostream_t out{this, [](const clap_ostream_t* s, const void* data, uint64_t size) -> int64_t {
                           auto* self = static_cast<ByteStream*>(s->ctx);
                           const uint8_t* from = static_cast<const uint8_t*>(data);
                           self->bytes.insert(self->bytes.end(), from, from + size);
                           return int64_t(size);
                       }};
    // Reads in small pieces, as a host may.
    clap_istream_t in{this, [](const clap_istream_t* s, void* data, uint64_t size) -> int64_t {
                          auto* self = static_cast<ByteStream*>(s->ctx);
                          size_t n = self->bytes.size() - self->position;
                          n = n < size ? n : size_t(size);
                          n = n < 7 ? n : 7;
                          if (n)
                              std::memcpy(data, self->bytes.data() + self->position, n);
                          self->position += n;
                          return int64_t(n);
                      }};
};

class ClapEffect {
public:
    explicit ClapEffect(const EffectKind& kind) : module_(clapPath(kind.name)) {
        entry_ = static_cast<const clap_plugin_entry_t*>(module_.symbol("clap_entry"));
        if (!entry_ || !entry_->init(clapPath(kind.name).c_str()))
            return;
        factory = static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
        if (!factory || factory->get_plugin_count(factory) != 1)
            return;
        descriptor = factory->get_plugin_descriptor(factory, 0);
        plugin = factory->create_plugin(factory, &kHost, descriptor->id);
        if (!plugin || !plugin->init(plugin))
            return;
        params = static_cast<const clap_plugin_params_t*>(plugin->get_extension(plugin, CLAP_EXT_PARAMS));
        ports = static_cast<const clap_plugin_audio_ports_t*>(plugin->get_extension(plugin, CLAP_EXT_AUDIO_PORTS));
        state = static_cast<const clap_plugin_state_t*>(plugin->get_extension(plugin, CLAP_EXT_STATE));
    }
    ~ClapEffect() {
        if (plugin) {
            plugin->deactivate(plugin);
            plugin->destroy(plugin);
        }
        if (entry_)
            entry_->deinit();
    }
    bool ready() const { return params && ports && state; }
    bool start(uint32_t maxFrames = kMaxFrames) {
        return plugin->activate(plugin, 44100.0, 1, maxFrames) && plugin->start_processing(plugin);
    }
    clap_process_status process(float** in, float** out, uint32_t channels, uint32_t frames, EventList* events) {
        clap_audio_buffer_t inBuffer = {in, nullptr, channels, 0, 0};
        clap_audio_buffer_t outBuffer = {out, nullptr, channels, 0, 0};
        EventList none;
        clap_process_t call;
        std::memset(&call, 0, sizeof call);
        call.frames_count = frames;
        call.audio_inputs = &inBuffer;
        call.audio_outputs = &outBuffer;
        call.audio_inputs_count = 1;
        call.audio_outputs_count = 1;
        call.in_events = (events ? events : &none)->list();
        return plugin->process(plugin, &call);
    }
    std::vector<uint8_t> saved() {
        ByteStream stream;
        EXPECT_TRUE(state->save(plugin, &stream.out));
        return stream.bytes;
    }
    bool load(const std::vector<uint8_t>& bytes) {
        ByteStream stream;
        stream.bytes = bytes;
        return state->load(plugin, &stream.in);
    }
    double value(clap_id id) {
        double v = -1.0;
        params->get_value(plugin, id, &v);
        return v;
    }

    Module module_;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_factory_t* factory = nullptr;
    const clap_plugin_descriptor_t* descriptor = nullptr;
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_audio_ports_t* ports = nullptr;
    const clap_plugin_state_t* state = nullptr;
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

class ClapAbi : public ::testing::TestWithParam<int> {
protected:
    const EffectKind& kind() const { return effectKinds()[size_t(GetParam())]; }
};

TEST_P(ClapAbi, DescriptorPortsAndParametersAreTheVst2Builds) {
    ClapEffect effect(kind());
    ASSERT_TRUE(effect.ready()) << clapPath(kind().name);
    EXPECT_STREQ(effect.descriptor->name, kind().name);
    EXPECT_STREQ(effect.descriptor->features[0], "audio-effect");
    EXPECT_EQ(effect.factory->create_plugin(effect.factory, &kHost, "com.example.other"), nullptr);
    for (bool input : {true, false}) {
        ASSERT_EQ(effect.ports->count(effect.plugin, input), 1u);
        clap_audio_port_info_t port;
        ASSERT_TRUE(effect.ports->get(effect.plugin, 0, input, &port));
        EXPECT_EQ(port.channel_count, uint32_t(kind().channels));
        EXPECT_TRUE(port.flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_FALSE(effect.ports->get(effect.plugin, 1, input, &port));
    }
    Vst2Reference reference(kind());
    AudioEffect& vst2 = reference.effect();
    const uint32_t count = uint32_t(vst2.getAeffect()->numParams);
    // The effect's parameters, then the program list.
    ASSERT_EQ(effect.params->count(effect.plugin), count + 1);
    for (uint32_t i = 0; i < count; ++i) {
        clap_param_info_t info;
        ASSERT_TRUE(effect.params->get_info(effect.plugin, i, &info));
        char name[256] = {};
        vst2.getParameterName(int32_t(i), name);
        EXPECT_STREQ(info.name, name);
        EXPECT_EQ(info.min_value, 0.0);
        EXPECT_EQ(info.max_value, 1.0);
        EXPECT_FLOAT_EQ(float(info.default_value), vst2.getParameter(int32_t(i)));
        EXPECT_TRUE(info.flags & CLAP_PARAM_IS_AUTOMATABLE);
    }
    clap_param_info_t info;
    char text[64];
    double value;
    ASSERT_TRUE(effect.params->get_info(effect.plugin, count, &info));
    const clap_id programs = info.id;
    EXPECT_STREQ(info.name, "Program");
    EXPECT_TRUE(info.flags & CLAP_PARAM_IS_STEPPED);
    EXPECT_EQ(info.min_value, 0.0);
    EXPECT_EQ(info.max_value, double(vst2.getAeffect()->numPrograms - 1));
    EXPECT_FALSE(effect.params->get_value(effect.plugin, count, &value)) << "an index is no id";
    for (int32_t p = 0; p < vst2.getAeffect()->numPrograms; ++p) {
        char expected[256] = {};
        vst2.setProgram(p);
        vst2.getProgramName(expected);
        ASSERT_TRUE(effect.params->value_to_text(effect.plugin, programs, double(p), text, sizeof text));
        EXPECT_STREQ(text, expected) << "program " << p;
        if (expected[0]) {  // names may repeat: the first program of the name
            ASSERT_TRUE(effect.params->text_to_value(effect.plugin, programs, expected, &value));
            char named[64];
            ASSERT_TRUE(effect.params->value_to_text(effect.plugin, programs, value, named, sizeof named));
            EXPECT_STREQ(named, expected);
            EXPECT_LE(value, double(p));
        }
    }
    ASSERT_TRUE(effect.params->text_to_value(effect.plugin, programs, "4", &value));
    EXPECT_EQ(value, 3.0) << "programs are numbered from 1";
    EXPECT_FALSE(effect.params->text_to_value(effect.plugin, programs, "17", &value));
    EXPECT_FALSE(effect.params->text_to_value(effect.plugin, 0, "1", &value));
    // Choosing a program by event gives its values, as the VST 2 build's program does.
    EventList events;
    events.add(0, programs, 2.6);  // a stepped value between steps means the nearest
    effect.params->flush(effect.plugin, events.list(), nullptr);
    EXPECT_EQ(effect.value(programs), 3.0);
    vst2.setProgram(3);
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_FLOAT_EQ(float(effect.value(i)), vst2.getParameter(int32_t(i))) << "program 3, parameter " << i;
    EXPECT_FALSE(effect.params->get_info(effect.plugin, count + 1, &info));
    EXPECT_FALSE(effect.params->value_to_text(effect.plugin, 0xFFFFFFFFu, 0.5, text, sizeof text));
}

TEST_P(ClapAbi, EventsTakeEffectAtTheirFrame) {
    ClapEffect effect(kind());
    ASSERT_TRUE(effect.ready());
    ASSERT_TRUE(effect.start());
    Vst2Reference reference(kind());
    const int channels = kind().channels;
    const int32_t count = reference.effect().getAeffect()->numParams;
    const int blocks = 6;
    std::vector<std::vector<float>> in, expected, got;
    for (int c = 0; c < channels; ++c) {
        in.push_back(testSignal(blocks * int(kMaxFrames), c));
        expected.emplace_back(in.back().size(), 0.0f);
        got.emplace_back(in.back().size(), 0.0f);
    }
    EventList events;
    for (int b = 0; b < blocks; ++b) {
        const uint32_t first = uint32_t(b * 113) % kMaxFrames;
        const uint32_t second = first + uint32_t(40 + b * 31) % (kMaxFrames - first);
        const float v1 = float(b % 3) / 2.0f, v2 = float((b * 3) % 5) / 4.0f;
        const int32_t i2 = (b + 1) % count;
        events.clear();
        events.add(first, 0, v1);
        events.add(second, clap_id(i2), v2);
        events.add(second, 999, 0.5);  // not ours: ignored
        float* ins[2] = {};
        float* outs[2] = {};
        for (int c = 0; c < channels; ++c) {
            ins[c] = in[size_t(c)].data() + b * int(kMaxFrames);
            outs[c] = got[size_t(c)].data() + b * int(kMaxFrames);
        }
        ASSERT_EQ(effect.process(ins, outs, uint32_t(channels), kMaxFrames, &events), CLAP_PROCESS_CONTINUE);
        const int base = b * int(kMaxFrames);
        if (first > 0)
            reference.process(in, expected, base, int(first));
        reference.effect().setParameter(0, v1);
        if (second > first)
            reference.process(in, expected, base + int(first), int(second - first));
        reference.effect().setParameter(i2, v2);
        reference.process(in, expected, base + int(second), int(kMaxFrames - second));
    }
    for (int c = 0; c < channels; ++c)
        EXPECT_TRUE(sameBits(got[size_t(c)], expected[size_t(c)])) << "channel " << c;
    for (int32_t i = 0; i < count; ++i)
        EXPECT_FLOAT_EQ(float(effect.value(clap_id(i))), reference.effect().getParameter(i));
}

// The record reads the same in either width: fixed sizes, little-endian throughout.
TEST_P(ClapAbi, StateHasItsFixedLittleEndianLayout) {
    ClapEffect effect(kind());
    ASSERT_TRUE(effect.ready());
    EventList events;
    events.add(0, 0, 0.375);
    effect.params->flush(effect.plugin, events.list(), nullptr);
    const std::vector<uint8_t> bytes = effect.saved();
    auto u32 = [&](size_t at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    ASSERT_GE(bytes.size(), 28u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "TLFX");
    EXPECT_EQ(u32(4), 1u);
    const uint32_t programs = u32(12), parameters = u32(16);
    EXPECT_EQ(programs, 16u);
    EXPECT_EQ(parameters + 1, effect.params->count(effect.plugin)) << "the program list is not stored as one";
    EXPECT_EQ(bytes.size(), 24 + 4 * programs * parameters + 4);
    EXPECT_EQ(u32(20), 0u) << "current program";
    for (uint32_t i = 0; i < parameters; ++i) {
        const uint32_t bits = u32(24 + 4 * i);
        float v;
        std::memcpy(&v, &bits, 4);
        EXPECT_EQ(double(v), effect.value(i)) << "parameter " << i;
    }
    ClapEffect other(kind());
    ASSERT_TRUE(other.ready());
    ASSERT_TRUE(other.load(bytes));
    EXPECT_EQ(other.value(0), 0.375);
    EXPECT_EQ(other.saved(), bytes);
}

TEST_P(ClapAbi, OutOfOrderCallsAreRefusedAndLeaveTheEffectAsItWas) {
    ClapEffect effect(kind());
    ASSERT_TRUE(effect.ready());
    const uint32_t channels = uint32_t(kind().channels);
    std::vector<float> a(kMaxFrames, 0.25f), b(kMaxFrames, -9.0f), c(kMaxFrames, -9.0f);
    float* ins[2] = {a.data(), a.data()};
    float* outs[2] = {b.data(), c.data()};
    EXPECT_EQ(effect.process(ins, outs, channels, 64, nullptr), CLAP_PROCESS_ERROR) << "before activation";
    EXPECT_EQ(b[0], -9.0f);
    EXPECT_EQ(effect.plugin->process(effect.plugin, nullptr), CLAP_PROCESS_ERROR);

    const std::vector<uint8_t> before = effect.saved();
    EXPECT_FALSE(effect.load(std::vector<uint8_t>(before.begin(), before.end() - 1)));
    EXPECT_FALSE(effect.load({}));
    std::vector<uint8_t> damaged = before;
    damaged[30] ^= 0x01;
    EXPECT_FALSE(effect.load(damaged));
    ClapEffect foreign(effectKinds()[size_t((GetParam() + 1) % 3)]);
    ASSERT_TRUE(foreign.ready());
    EXPECT_FALSE(effect.load(foreign.saved()));
    EXPECT_EQ(effect.saved(), before);

    ASSERT_TRUE(effect.start(64));
    EXPECT_FALSE(effect.plugin->activate(effect.plugin, 44100.0, 1, 64)) << "activated twice";
    EventList events;
    events.add(0, 0, 0.5);
    EXPECT_EQ(effect.process(ins, outs, channels, 0, &events), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(effect.value(0), 0.5);
    float* missing[2] = {nullptr, nullptr};
    EXPECT_EQ(effect.process(missing, outs, channels, 64, nullptr), CLAP_PROCESS_ERROR);
    EXPECT_EQ(effect.process(ins, missing, channels, 64, nullptr), CLAP_PROCESS_ERROR);
    EXPECT_EQ(effect.process(ins, outs, channels - 1, 64, nullptr), CLAP_PROCESS_ERROR);
    // Longer than announced: processed whole.
    EXPECT_EQ(effect.process(ins, outs, channels, kMaxFrames, nullptr), CLAP_PROCESS_CONTINUE);
    EXPECT_NE(b[kMaxFrames - 1], -9.0f);
}

TEST_P(ClapAbi, StateSavedByEitherEditionLoadsInBoth) {
    ClapEffect effect(kind());
    ASSERT_TRUE(effect.ready());
    EventList events;
    const uint32_t count = effect.params->count(effect.plugin) - 1;  // the parameters, not the program list
    for (uint32_t i = 0; i < count; ++i)
        events.add(0, i, storedSetting(int32_t(i)));
    effect.params->flush(effect.plugin, events.list(), nullptr);
    const std::vector<uint8_t> saved = effect.saved();
    const std::string path = storedStatePath(kind().name, "clap");
    if (writeStates()) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(saved.data()), long(saved.size()));
        return;
    }
    const std::vector<uint8_t> stored = readBytes(path);
    ASSERT_FALSE(stored.empty()) << path;
    EXPECT_EQ(saved, stored) << "this edition saves other bytes for the same settings";
    ClapEffect fresh(kind());
    ASSERT_TRUE(fresh.ready());
    ASSERT_TRUE(fresh.load(stored));
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_FLOAT_EQ(float(fresh.value(i)), storedSetting(int32_t(i)));
}

INSTANTIATE_TEST_SUITE_P(Effects, ClapAbi, ::testing::Values(0, 1, 2), [](const ::testing::TestParamInfo<int>& info) {
    return std::string(effectKinds()[size_t(info.param)].name);
});

}  // namespace
