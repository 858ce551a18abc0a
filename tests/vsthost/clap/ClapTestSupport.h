#pragma once
// What the CLAP tests share: the test modules' paths, the module as the test sees it
// (the same one the host loaded, so its logs are the host's instance's), the host
// events recorded, and blocks run on a thread of their own as an audio thread.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ClapPlatform.h"
#include "PluginInstance.h"

inline std::string clapTestModule(const char* name) { return std::string(CLAP_TEST_DIR) + name + ".clap"; }

class ClapTestModule {
public:
    explicit ClapTestModule(const char* name) {
        char failure[256];
        module_ = clap_platform::openModule(clapTestModule(name).c_str(), failure, sizeof failure);
    }
    ~ClapTestModule() {
        if (module_)
            clap_platform::closeModule(module_);
    }
    bool ok() const { return module_ && fn<LogFn>("tcgLog"); }
    std::vector<std::string> log() const { return lines(fn<LogFn>("tcgLog")); }
    std::string faults() const {
        std::vector<char> text(16384);
        const int count = fn<LogFn>("tcgFaults")(text.data(), int(text.size()));
        return count ? std::to_string(count) + " faults:\n" + text.data() : std::string();
    }
    void clear() const { fn<void (*)()>("tcgClear")(); }
    void editorMoves(double gain) const { fn<void (*)(double)>("tcgEditorMoves")(gain); }
    void changeLatency(uint32_t frames) const { fn<void (*)(uint32_t)>("tcgChangeLatency")(frames); }
    bool requestResize(uint32_t w, uint32_t h) const {
        return fn<bool (*)(uint32_t, uint32_t)>("tcgRequestResize")(w, h);
    }
    void requestCallback() const { fn<void (*)()>("tcgRequestCallback")(); }
    void* editorParent() const { return fn<void* (*)()>("tcgEditorParent")(); }
    void* editorChild() const { return fn<void* (*)()>("tcgEditorChild")(); }

private:
    using LogFn = int (*)(char*, int);
    template <typename T>
    T fn(const char* name) const {
        return reinterpret_cast<T>(clap_platform::moduleSymbol(module_, name));
    }
    static std::vector<std::string> lines(LogFn get) {
        std::vector<char> text(65536);
        get(text.data(), int(text.size()));
        std::vector<std::string> out;
        for (const char* p = text.data(); *p;) {
            const char* end = std::strchr(p, '\n');
            out.emplace_back(p, end ? size_t(end - p) : std::strlen(p));
            p = end ? end + 1 : p + std::strlen(p);
        }
        return out;
    }
    void* module_ = nullptr;
};

// The host's side of the seam, recording what it is told (from any thread).
class RecordingEvents : public PluginHostEvents {
public:
    struct Edit {
        int32_t index;
        float value;
    };
    void parameterEdited(int32_t index, float value) override {
        std::lock_guard<std::mutex> hold(lock_);
        edits.push_back({index, value});
    }
    bool editorResizeRequested(int32_t width, int32_t height) override {
        std::lock_guard<std::mutex> hold(lock_);
        resizes.push_back({width, height});
        return acceptResize;
    }
    void latencyChanged() override { ++latencyChanges; }
    void parametersChanged() override { ++parameterChanges; }
    void restartRequested() override { ++restarts; }
    void uiCallRequested() override { ++uiCalls; }
    double tempo() const override { return 120.0; }

    std::vector<Edit> edits;
    std::vector<std::pair<int32_t, int32_t>> resizes;
    bool acceptResize = true;
    int latencyChanges = 0, parameterChanges = 0, restarts = 0, uiCalls = 0;

private:
    std::mutex lock_;
};

// Stereo (or mono) blocks of a known signal, processed on a thread of their own.
struct TestBlock {
    explicit TestBlock(int32_t channels, int32_t frames) : frames(frames), in(channels), out(channels) {
        for (int32_t c = 0; c < channels; ++c) {
            in[c].resize(size_t(frames));
            out[c].assign(size_t(frames), -9.0f);
            for (int32_t i = 0; i < frames; ++i)
                in[c][size_t(i)] = 0.01f * float(i % 50 + 1) * (c ? -1.0f : 1.0f);
        }
    }
    void run(PluginInstance& plugin) {
        std::vector<float*> ins, outs;
        for (auto& v : in)
            ins.push_back(v.data());
        for (auto& v : out)
            outs.push_back(v.data());
        std::thread audio([&] { plugin.process(ins.data(), outs.data(), frames); });
        audio.join();
    }
    // Every output sample is its input times gain.
    bool scaledBy(double gain) const {
        for (size_t c = 0; c < in.size(); ++c)
            for (size_t i = 0; i < in[c].size(); ++i)
                if (std::abs(out[c][i] - float(in[c][i] * gain)) > 1e-6f)
                    return false;
        return true;
    }
    int32_t frames;
    std::vector<std::vector<float>> in, out;
};

// True when wanted appear in log in this order (other lines between them allowed).
inline bool inOrder(const std::vector<std::string>& log, const std::vector<std::string>& wanted) {
    size_t at = 0;
    for (const auto& line : log)
        if (at < wanted.size() && line == wanted[at])
            ++at;
    return at == wanted.size();
}

inline int countOf(const std::vector<std::string>& log, const std::string& line) {
    int n = 0;
    for (const auto& l : log)
        n += l == line;
    return n;
}
