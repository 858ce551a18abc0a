#pragma once
// A VST3 binary loaded once for all its instances: InitDll on the first use, the
// factory kept, ExitDll and the library freed when the last instance lets go. UI thread.
#include <cstddef>

#include "Vst3Abi.h"

class Vst3Module {
public:
    // The module of binaryPath, loaded now or shared; null with the reason in failure.
    static Vst3Module* acquire(const char* binaryPath, char* failure, size_t failureSize);
    // Gives back one acquire.
    void release();

    v3_plugin_factory** factory() const { return factory_; }
    // The factory's newer interfaces, or null where it has none (counted references
    // held by the module).
    v3_plugin_factory_2** factory2() const { return factory2_; }
    v3_plugin_factory_3** factory3() const { return factory3_; }
    // Modules loaded now (for tests of the sharing).
    static int loadedCount();

private:
    Vst3Module() = default;
    ~Vst3Module() = default;
    void unload();

    char path_[1024] = "";
    void* library_ = nullptr;  // HMODULE
    v3_plugin_factory** factory_ = nullptr;
    v3_plugin_factory_2** factory2_ = nullptr;
    v3_plugin_factory_3** factory3_ = nullptr;
    bool initialised_ = false;  // InitDll answered true: ExitDll is owed
    int users_ = 0;
    Vst3Module* next_ = nullptr;
};
