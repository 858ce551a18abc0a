#include "ProgramFolder.h"

#include <cstdio>
#include <cstring>

#include "WinInclude.h"

namespace {

const char kPluginFolderName[] = "VST Plugins\\";

bool isFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// folder followed by the plug-in folder's name; false when it does not fit.
bool pluginFolderOf(const char* folder, char* out, size_t size) {
    const int written = std::snprintf(out, size, "%s%s", folder, kPluginFolderName);
    return written > 0 && size_t(written) < size;
}

}  // namespace

bool runningProgramFolder(char* folder, size_t size) {
    if (size == 0)
        return false;
    folder[0] = '\0';
    char path[MAX_PATH + 1] = "";
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;  // a cut path names another file
    char* slash = std::strrchr(path, '\\');
    if (!slash || size_t(slash - path) + 2 > size)
        return false;
    slash[1] = '\0';
    std::memcpy(folder, path, size_t(slash - path) + 2);
    return true;
}

void chooseProgramFolders(const char* storedFolder, char* programFolder, char* pluginFolder, size_t size) {
    if (size == 0)
        return;
    programFolder[0] = pluginFolder[0] = '\0';
    char running[MAX_PATH + 1];
    char plugins[MAX_PATH + 16];
    if (runningProgramFolder(running, sizeof running) && pluginFolderOf(running, plugins, sizeof plugins) &&
        isFolder(plugins) && std::strlen(plugins) < size) {
        std::snprintf(programFolder, size, "%s", running);
        std::snprintf(pluginFolder, size, "%s", plugins);
        return;
    }
    if (!storedFolder || !storedFolder[0] || !pluginFolderOf(storedFolder, plugins, sizeof plugins) ||
        std::strlen(plugins) >= size)
        return;
    std::snprintf(programFolder, size, "%s", storedFolder);
    std::snprintf(pluginFolder, size, "%s", plugins);
}
