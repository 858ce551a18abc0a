#include "PluginLibrary.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "PathNames.h"

namespace {

const char kCopyPrefix[] = "TalvenorLive-plugin-";

bool tempFolder(char* folder, DWORD size) {
    const DWORD length = GetTempPathA(size, folder);
    return length > 0 && length < size;
}

HMODULE loadPrivateCopy(const char* path, char* copyPath) {
    static std::atomic<unsigned> sequence{0};
    char folder[MAX_PATH];
    char base[32];
    if (!tempFolder(folder, sizeof folder))
        return nullptr;
    baseNameOf(path, base, sizeof base);
    const int written = std::snprintf(copyPath, MAX_PATH, "%s%s%lu-%u-%s.dll", folder, kCopyPrefix,
                                      GetCurrentProcessId(), sequence.fetch_add(1), base);
    if (written <= 0 || written >= MAX_PATH || !CopyFileA(path, copyPath, FALSE)) {
        copyPath[0] = '\0';
        return nullptr;
    }
    // The process's search path is left alone (another thread may be loading a
    // library). Libraries the plug-in depends on are found as for the original: it
    // is loaded and serves another slot, so they are loaded already under their names.
    HMODULE module = LoadLibraryExA(copyPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        DeleteFileA(copyPath);
        copyPath[0] = '\0';
    }
    return module;
}

}  // namespace

HMODULE PluginLibrary::load(const char* path, InUseTest inUse, void* context, char* copyPath) {
    copyPath[0] = '\0';
    HMODULE module = LoadLibraryA(path);
    if (!module || !inUse || !inUse(module, context))
        return module;
    FreeLibrary(module);
    return loadPrivateCopy(path, copyPath);
}

void PluginLibrary::release(HMODULE module, const char* copyPath) {
    if (module)
        FreeLibrary(module);
    if (copyPath && copyPath[0])
        DeleteFileA(copyPath);
}

VstEntryProc PluginLibrary::entryPoint(HMODULE module) {
    static const char* const kNames[] = {"main", "Main", "TalMain", "VSTPluginMain"};
    for (const char* name : kNames) {
        FARPROC entry = GetProcAddress(module, name);
        if (entry)
            return reinterpret_cast<VstEntryProc>(reinterpret_cast<void*>(entry));
    }
    return nullptr;
}

void PluginLibrary::removeStaleCopies() {
    char folder[MAX_PATH];
    if (!tempFolder(folder, sizeof folder))
        return;
    char pattern[MAX_PATH];
    if (std::snprintf(pattern, sizeof pattern, "%s%s*.dll", folder, kCopyPrefix) >= int(sizeof pattern))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        char file[MAX_PATH];
        if (std::snprintf(file, sizeof file, "%s%s", folder, found.cFileName) < int(sizeof file))
            DeleteFileA(file);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
