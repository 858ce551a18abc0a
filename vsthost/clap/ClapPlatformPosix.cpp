#include <dlfcn.h>
#include <pthread.h>

#include <cstdio>

#include "ClapPlatform.h"

namespace clap_platform {

void* openModule(const char* path, char* failure, size_t failureSize) {
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        std::snprintf(failure, failureSize, "%s", reason ? reason : "the module did not open");
    }
    return module;
}

void* moduleSymbol(void* module, const char* name) { return dlsym(module, name); }

void closeModule(void* module) { dlclose(module); }

uint64_t currentThreadToken() { return uint64_t(pthread_self()) | 1u; }

}  // namespace clap_platform
