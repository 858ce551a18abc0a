#pragma once
// What the format tests share: where the builds of our effects lie, a module
// loader for both platforms, the in-process VST 2 form of each effect as the
// reference, and a test signal.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "AudioEffect.h"
#include "OverdriveEffect.h"
#include "VibratoTremoloEffect.h"
#include "WahEffect.h"

namespace effecttest {

struct EffectKind {
    const char* name;
    int channels;
    AudioEffect* (*make)();
};

inline const std::vector<EffectKind>& effectKinds() {
    static const std::vector<EffectKind> kinds = {
        {"Modulane", 2, [] { return static_cast<AudioEffect*>(new VibratoTremoloEffect(nullptr)); }},
        {"Filtrace", 2, [] { return static_cast<AudioEffect*>(new WahEffect(nullptr)); }},
        {"Overdrive", 1, [] { return static_cast<AudioEffect*>(new OverdriveEffect(nullptr)); }},
    };
    return kinds;
}

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#if defined(_WIN64)
constexpr char kVst3Architecture[] = "x86_64-win";
#else
constexpr char kVst3Architecture[] = "x86-win";
#endif
#else
constexpr char kSeparator = '/';
constexpr char kVst3Architecture[] = TALVENOR_NATIVE_VST3_ARCH;
#endif

// The build's bin folder, ending in its separator.
inline std::string binDir() { return TALVENOR_EFFECTS_BIN_DIR; }
inline std::string vst2Path(const char* name) {
    return binDir() + "VST Plugins" + kSeparator + name + ".dll";
}
inline std::string vst3Bundle(const char* name) { return binDir() + "VST3" + kSeparator + name + ".vst3"; }
inline std::string vst3Binary(const char* name) {
    return vst3Bundle(name) + kSeparator + "Contents" + kSeparator + kVst3Architecture + kSeparator + name + ".vst3";
}
inline std::string clapPath(const char* name) { return binDir() + "CLAP" + kSeparator + name + ".clap"; }

// A loaded library, released with the object.
class Module {
public:
    explicit Module(const std::string& path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path.c_str());
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Module() {
#if defined(_WIN32)
        if (handle_)
            FreeLibrary(static_cast<HMODULE>(handle_));
#else
        if (handle_)
            dlclose(handle_);
#endif
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    bool loaded() const { return handle_ != nullptr; }
    void* symbol(const char* name) const {
        if (!handle_)
            return nullptr;
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        return dlsym(handle_, name);
#endif
    }

private:
    void* handle_ = nullptr;
};

// A signal with every frequency in it: a swept tone over noise, different per channel.
inline std::vector<float> testSignal(int frames, int channel) {
    std::vector<float> samples(frames > 0 ? size_t(frames) : 0);
    uint32_t noise = 12345u + uint32_t(channel) * 977u;
    for (int i = 0; i < frames; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = double(i) / 44100.0;
        const double tone = 0.5 * std::sin(2.0 * 3.14159265358979 * (110.0 + 900.0 * t) * t + channel);
        samples[size_t(i)] = float(tone + 0.1 * (double(noise >> 8) / double(1u << 24) - 0.5));
    }
    return samples;
}

// The reference: the effect as the VST 2 build runs it, in this process.
class Vst2Reference {
public:
    explicit Vst2Reference(const EffectKind& kind, float sampleRate = 44100.0f, int32_t maxFrames = 512)
        : effect_(kind.make()), channels_(kind.channels) {
        effect_->dispatcher(effOpen, 0, 0, nullptr, 0.0f);
        effect_->dispatcher(effSetSampleRate, 0, 0, nullptr, sampleRate);
        effect_->dispatcher(effSetBlockSize, 0, maxFrames, nullptr, 0.0f);
        effect_->dispatcher(effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    ~Vst2Reference() { delete effect_; }
    AudioEffect& effect() { return *effect_; }
    // Processes frames of in (one vector per channel) from position start.
    void process(const std::vector<std::vector<float>>& in, std::vector<std::vector<float>>& out, int start,
                 int frames) {
        float* ins[2] = {};
        float* outs[2] = {};
        for (int c = 0; c < channels_; ++c) {
            ins[c] = const_cast<float*>(in[size_t(c)].data()) + start;
            outs[c] = out[size_t(c)].data() + start;
        }
        effect_->processReplacing(ins, outs, frames);
    }

private:
    AudioEffect* effect_;
    int channels_;
};

inline bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace effecttest
