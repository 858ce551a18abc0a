#include "ClapModule.h"

#include <cstdio>
#include <new>

#include "ClapPlatform.h"

namespace {

ClapModule* gModules = nullptr;  // the modules in use; UI thread only

void fail(ClapFailure failure, const char* detail, char* text, size_t size) {
    describeClapFailure(failure, detail, text, size);
}

}  // namespace

ClapModule* ClapModule::acquire(const char* path, char* failure, size_t failureSize) {
    char reason[256] = "";
    void* library = clap_platform::openModule(path, reason, sizeof reason);
    if (!library) {
        fail(ClapFailure::NotAModule, reason, failure, failureSize);
        return nullptr;
    }
    // The system hands out one handle per file: a module already serving an instance
    // is the same one, and its entry is not initialised a second time.
    for (ClapModule* m = gModules; m; m = m->next_)
        if (m->library_ == library) {
            clap_platform::closeModule(library);  // the module keeps its own reference
            ++m->references_;
            return m;
        }
    const clap_plugin_entry_t* entry =
        static_cast<const clap_plugin_entry_t*>(clap_platform::moduleSymbol(library, "clap_entry"));
    if (!entry) {
        clap_platform::closeModule(library);
        fail(ClapFailure::NoEntry, nullptr, failure, failureSize);
        return nullptr;
    }
    if (!clapVersionAccepted(entry->clap_version)) {
        char version[48];
        std::snprintf(version, sizeof version, "%lu.%lu.%lu", static_cast<unsigned long>(entry->clap_version.major),
                      static_cast<unsigned long>(entry->clap_version.minor),
                      static_cast<unsigned long>(entry->clap_version.revision));
        clap_platform::closeModule(library);
        fail(ClapFailure::VersionRefused, version, failure, failureSize);
        return nullptr;
    }
    if (!entry->init || !entry->deinit || !entry->get_factory) {
        clap_platform::closeModule(library);
        fail(ClapFailure::EntryIncomplete, nullptr, failure, failureSize);
        return nullptr;
    }
    ClapModule* module = new (std::nothrow) ClapModule;
    if (!module) {
        clap_platform::closeModule(library);
        fail(ClapFailure::OutOfMemory, nullptr, failure, failureSize);
        return nullptr;
    }
    if (!entry->init(path)) {
        // A module whose init failed gets no other call, deinit included.
        delete module;
        clap_platform::closeModule(library);
        fail(ClapFailure::EntryInitFailed, nullptr, failure, failureSize);
        return nullptr;
    }
    const clap_plugin_factory_t* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (factory && (!factory->get_plugin_count || !factory->get_plugin_descriptor || !factory->create_plugin))
        factory = nullptr;
    module->library_ = library;
    module->entry_ = entry;
    module->factory_ = factory;
    module->references_ = 1;
    module->next_ = gModules;
    gModules = module;
    return module;
}

void ClapModule::release() {
    if (--references_ > 0)
        return;
    for (ClapModule** link = &gModules; *link; link = &(*link)->next_)
        if (*link == this) {
            *link = next_;
            break;
        }
    entry_->deinit();
    clap_platform::closeModule(library_);
    delete this;
}
