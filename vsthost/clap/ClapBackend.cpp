#include "ClapBackend.h"

#include "ClapModule.h"
#include "ClapPlugin.h"
#include "ClapText.h"

bool ClapBackend::recognises(const char* path) const { return path && endsWithNoCase(path, ".clap"); }

PluginInstance* ClapBackend::load(const char* path, const char* classId, PluginHostEvents* events, char* failure,
                                  size_t failureSize) {
    if (failure && failureSize)
        failure[0] = '\0';
    if (!path)
        return nullptr;
    ClapModule* module = ClapModule::acquire(path, failure, failureSize);
    if (!module)
        return nullptr;
    return ClapPlugin::create(module, classId, events, failure, failureSize);
}
