#pragma once
// One CLAP module file, shared by every instance made from it. Its clap_entry is
// initialised once, when the first instance needs it, and deinitialised when the
// last one is gone. UI thread only.
#include <cstddef>

#include "ClapAbi.h"
#include "ClapFailure.h"

class ClapModule {
public:
    // The module of path, opened and initialised on first use. Null with the reason
    // in failure when it is no module, exports no usable entry or refuses to start.
    static ClapModule* acquire(const char* path, char* failure, size_t failureSize);
    void release();

    // Null when the module offers none (or offers one lacking a function).
    const clap_plugin_factory_t* pluginFactory() const { return factory_; }

    ClapModule(const ClapModule&) = delete;
    ClapModule& operator=(const ClapModule&) = delete;

private:
    ClapModule() = default;
    ~ClapModule() = default;
    void* library_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_factory_t* factory_ = nullptr;
    int references_ = 0;
    ClapModule* next_ = nullptr;
};
