#include "BuiltInFormats.h"

#include <new>

#include "ClapBackend.h"
#include "Vst2Backend.h"
#include "Vst3Backend.h"

int createBuiltInBackends(const PluginHostInfo* info, PluginFormatBackend** backends, int max) {
    PluginFormatBackend* made[] = {new (std::nothrow) Vst2Backend(info), new (std::nothrow) Vst3Backend(),
                                   new (std::nothrow) ClapBackend()};
    int count = 0;
    for (PluginFormatBackend* backend : made) {
        if (backend && count < max)
            backends[count++] = backend;
        else
            delete backend;
    }
    return count;
}
