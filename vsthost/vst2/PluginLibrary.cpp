#include "PluginLibrary.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "PathNames.h"
#include "PluginFaultNote.h"

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
        return nullptr;
    }
    notePluginCopy(module, path);  // a crash in the copy is the original plug-in's
    return module;
}

// The machine field of a PE file's header, or 0 when the file is not one.
WORD machineOfFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    uint8_t head[kPeHeadBytes];
    DWORD got = 0;
    const BOOL read = ReadFile(file, head, sizeof head, &got, nullptr);
    CloseHandle(file);
    return read ? peMachine(head, got) : 0;
}

}  // namespace

void PluginLibrary::describeLoadFailure(const char* path, unsigned long error, char* text, size_t size) {
    if (size == 0)
        return;
    char reason[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        reason, sizeof reason, nullptr);
    size_t end = length < sizeof reason ? length : 0;
    while (end > 0 && (reason[end - 1] == '\r' || reason[end - 1] == '\n' || reason[end - 1] == ' '))
        --end;
    reason[end] = '\0';
    // System texts name the file as an insert ("%1 is not a valid Win32 application").
    for (char* insert; (insert = std::strstr(reason, "%1")) != nullptr;)
        insert[0] = 'i', insert[1] = 't';
    if (!reason[0])
        std::snprintf(reason, sizeof reason, "system error %lu", error);
    const LibraryWidth width = widthOfMachine(machineOfFile(path));
    if (width != LibraryWidth::Unknown && width != ownWidth())
        std::snprintf(text, size, "%s (it is a %s plug-in; this %s edition of Talvenor Live loads %s plug-ins)",
                      reason, widthName(width), widthName(ownWidth()), widthName(ownWidth()));
    else
        std::snprintf(text, size, "%s", reason);
}

LibraryWidth PluginLibrary::widthOf(const char* path) { return widthOfMachine(machineOfFile(path)); }

HMODULE PluginLibrary::load(const char* path, InUseTest inUse, void* context, char* copyPath) {
    copyPath[0] = '\0';
    HMODULE module = LoadLibraryA(path);
    if (!module || !inUse || !inUse(module, context))
        return module;
    FreeLibrary(module);
    return loadPrivateCopy(path, copyPath);
}

void PluginLibrary::release(HMODULE module, const char* copyPath) {
    if (copyPath && copyPath[0])
        forgetPluginCopy(module);
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
