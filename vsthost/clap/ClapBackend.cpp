#include "ClapBackend.h"
#include "PluginFolders.h"

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

bool ClapBackend::scanFolder(int32_t index, char* path, size_t size) const {
    // The list's entries first (at most kMaxScanFolders - 2 of them), then the two
    // folders every system has.
    const int32_t listed = kMaxScanFolders - 2;
    if (index < listed)
        return folderListEntry("CLAP_PATH", index, path, size);
    if (index == listed)
        return folderUnderVariable("CommonProgramFiles", "CLAP", path, size);
    if (index == listed + 1)
        return folderUnderVariable("LOCALAPPDATA", "Programs\\Common\\CLAP", path, size);
    return false;
}
