#include "Vst2Backend.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "PluginLibrary.h"
#include "Vst2Plugin.h"
#include "WinInclude.h"

namespace {

// A module loaded for one instance, with its private copy if it has one.
class WindowsLibrary final : public Vst2Library {
public:
    WindowsLibrary(HMODULE module, const char* copy) : module_(module) {
        std::snprintf(copy_, sizeof copy_, "%s", copy);
    }
    ~WindowsLibrary() override { PluginLibrary::release(module_, copy_); }
    WindowsLibrary(const WindowsLibrary&) = delete;
    WindowsLibrary& operator=(const WindowsLibrary&) = delete;
    const void* handle() const override { return module_; }
    const char* privateCopy() const override { return copy_; }

private:
    HMODULE module_;
    char copy_[MAX_PATH];
};

bool moduleServesAnInstance(void* module, void* /*context*/) {
    for (const Vst2Plugin* p = Vst2Plugin::instances().first(); p; p = p->next)
        if (p->library() && p->library()->handle() == module)
            return true;
    return false;
}

void say(char* failure, size_t size, const char* text) {
    if (failure && size)
        std::snprintf(failure, size, "%s", text);
}

bool endsWith(const char* text, const char* end, bool anyCase) {
    const size_t length = std::strlen(text), endLength = std::strlen(end);
    if (length < endLength)
        return false;
    const char* tail = text + length - endLength;
    return anyCase ? _stricmp(tail, end) == 0 : std::strcmp(tail, end) == 0;
}

}  // namespace

Vst2Backend::Vst2Backend(const PluginHostInfo* info) {
    setVst2HostInfo(info);
    PluginLibrary::removeStaleCopies();
}

Vst2Backend::~Vst2Backend() { setVst2HostInfo(nullptr); }

const char* Vst2Backend::formatLabel() const { return kVst2FormatLabel; }

bool Vst2Backend::recognises(const char* path) const { return path && endsWith(path, ".dll", true); }

bool Vst2Backend::scanLists(const char* fileName) const {
    const char* dot = std::strrchr(fileName, '.');
    return dot && std::strcmp(dot + 1, "dll") == 0;
}

PluginInstance* Vst2Backend::load(const char* path, const char* /*classId*/, PluginHostEvents* events, char* failure,
                                  size_t failureSize) {
    // A VST 2 library holds one effect: there is no class to choose.
    char copy[MAX_PATH];
    HMODULE module = PluginLibrary::load(path, moduleServesAnInstance, nullptr, copy);
    if (!module) {
        if (failure && failureSize)
            PluginLibrary::describeLoadFailure(path, GetLastError(), failure, failureSize);
        return nullptr;
    }
    auto* library = new (std::nothrow) WindowsLibrary(module, copy);
    if (!library) {
        PluginLibrary::release(module, copy);
        say(failure, failureSize, "there is not enough memory");
        return nullptr;
    }
    VstEntryProc entry = PluginLibrary::entryPoint(module);
    if (!entry) {
        delete library;
        say(failure, failureSize, "the library exports no VST 2 entry point");
        return nullptr;
    }
    AEffect* effect = entry(hostCallback);
    bool known = false;
    {
        // Never let two instances hold one record: the second would call into an
        // effect that the first one's unloading closes.
        const LookupList<Vst2Plugin>::Lookup lookup(Vst2Plugin::instances());
        known = effect && lookup.find(effect);
    }
    if (!effect || known || !effect->dispatcher || effect->magic != kEffectMagic ||
        effect->dispatcher(effect, effIdentify, 0, 0, nullptr, 0.0f) != kEffectIdentifyAnswer ||
        (effect->numParams > 0 && !effect->getParameter)) {
        delete library;  // refused before it was opened: nothing to switch off or close
        say(failure, failureSize, "the library did not answer as a VST 2 effect");
        return nullptr;
    }
    auto* plugin = new (std::nothrow) Vst2Plugin(effect, events, path, library);
    if (!plugin) {
        delete library;
        say(failure, failureSize, "there is not enough memory");
    }
    return plugin;
}
