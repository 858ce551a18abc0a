#include "Vst3Module.h"

#include <cstring>
#include <new>

#include "StringIds.h"
#include "Vst3HostObjects.h"
#include "Vst3Reasons.h"
#include "WinInclude.h"

namespace {

Vst3Module* gModules = nullptr;  // UI thread only

using InitProc = bool (*)();
using ExitProc = bool (*)();
using FactoryProc = v3_plugin_factory** (V3_API*)();

template <class T>
T procedure(HMODULE library, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void systemReason(DWORD error, char* text, size_t size) {
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, DWORD(size), nullptr);
    size_t end = length < size ? length : 0;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' '))
        --end;
    text[end] = '\0';
    for (char* insert; (insert = std::strstr(text, "%1")) != nullptr;)
        insert[0] = 'i', insert[1] = 't';
}

}  // namespace

int Vst3Module::loadedCount() {
    int count = 0;
    for (Vst3Module* m = gModules; m; m = m->next_)
        ++count;
    return count;
}

Vst3Module* Vst3Module::acquire(const char* binaryPath, char* failure, size_t failureSize) {
    for (Vst3Module* m = gModules; m; m = m->next_) {
        if (lstrcmpiA(m->path_, binaryPath) == 0) {
            ++m->users_;
            return m;
        }
    }
    if (std::strlen(binaryPath) >= sizeof(path_)) {
        vst3Reason(failure, failureSize, kStrVst3LoadFailed, "the path is too long");
        return nullptr;
    }
    auto* module = new (std::nothrow) Vst3Module;
    if (!module) {
        vst3Reason(failure, failureSize, kStrVst3NoMemory);
        return nullptr;
    }
    std::strcpy(module->path_, binaryPath);
    HMODULE library = LoadLibraryA(binaryPath);
    if (!library) {
        char reason[256];
        systemReason(GetLastError(), reason, sizeof reason);
        vst3Reason(failure, failureSize, kStrVst3LoadFailed, reason);
        delete module;
        return nullptr;
    }
    module->library_ = library;
    if (InitProc init = procedure<InitProc>(library, "InitDll")) {
        if (!init()) {
            vst3Reason(failure, failureSize, kStrVst3InitFailed);
            module->unload();
            return nullptr;
        }
        module->initialised_ = true;
    }
    FactoryProc getFactory = procedure<FactoryProc>(library, "GetPluginFactory");
    if (!getFactory)
        getFactory = procedure<FactoryProc>(library, "_GetPluginFactory@0");
    v3_plugin_factory** factory = getFactory ? getFactory() : nullptr;
    if (!factory || !*factory) {
        vst3Reason(failure, failureSize, kStrVst3NoFactory);
        module->unload();
        return nullptr;
    }
    module->factory_ = factory;
    module->factory2_ = static_cast<v3_plugin_factory_2**>(vst3abi::query(factory, v3_plugin_factory_2_iid));
    module->factory3_ = static_cast<v3_plugin_factory_3**>(vst3abi::query(factory, v3_plugin_factory_3_iid));
    if (module->factory3_)
        vst3abi::call(module->factory3_, &v3_plugin_factory_3::set_host_context, v3_result(V3_OK),
                      Vst3HostApplication::context());
    module->users_ = 1;
    module->next_ = gModules;
    gModules = module;
    return module;
}

void Vst3Module::release() {
    if (--users_ > 0)
        return;
    for (Vst3Module** at = &gModules; *at; at = &(*at)->next_) {
        if (*at == this) {
            *at = next_;
            break;
        }
    }
    unload();
}

void Vst3Module::unload() {
    vst3abi::release(factory3_);
    vst3abi::release(factory2_);
    vst3abi::release(factory_);
    factory_ = nullptr;
    if (library_) {
        HMODULE library = static_cast<HMODULE>(library_);
        if (initialised_) {
            if (ExitProc exit = procedure<ExitProc>(library, "ExitDll"))
                exit();
        }
        FreeLibrary(library);
    }
    delete this;
}
