#include "PluginFaultNote.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "FailedPlugins.h"
#include "FaultingCaller.h"
#include "RegistryKeys.h"
#include "WinInclude.h"

namespace {

constexpr char kCrashedValue[] = "Crashed Plug-in";
constexpr int kNotes = 64;
constexpr int kPathSize = 260;

// Written by the UI thread only; read by the fault handler on any thread. An entry's
// path is complete before its count makes it visible.
struct Note {
    std::atomic<int> count{0};
    char path[kPathSize] = "";
};
Note g_notes[kNotes];
// A copy's entry is complete before used makes it visible; the copy's module is loaded
// meanwhile, so no fault can ask for it half-written.
struct CopyNote {
    std::atomic<int> used{0};
    HMODULE copy = nullptr;
    char original[kPathSize] = "";
};
constexpr int kCopies = 32;
CopyNote g_copies[kCopies];
HKEY g_settings = nullptr;  // opened at install: the handler only writes to it
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;

// No CRT formatting: this runs inside a crashing process.
void copyPath(char* to, size_t size, const char* from) {
    size_t i = 0;
    for (; i + 1 < size && from[i]; ++i)
        to[i] = from[i];
    to[i] = '\0';
}

bool samePath(const char* a, const char* b) { return _stricmp(a, b) == 0; }

// The module's file lies in the noted path: it is that file, or inside that folder (a
// bundle).
bool fileIsIn(const char* file, const char* noted) {
    const size_t n = std::strlen(noted);
    return n > 0 && _strnicmp(file, noted, n) == 0 && (file[n] == '\0' || file[n] == '\\' || file[n] == '/');
}

const char* notedFileOfModule(HMODULE module, const char* file) {
    for (Note& note : g_notes)
        if (note.count.load(std::memory_order_acquire) > 0 && fileIsIn(file, note.path))
            return note.path;
    // A private copy stands for its original, while that is noted.
    for (CopyNote& copy : g_copies)
        if (copy.used.load(std::memory_order_acquire) == 1 && copy.copy == module)
            for (Note& note : g_notes)
                if (note.count.load(std::memory_order_acquire) > 0 && samePath(copy.original, note.path))
                    return note.path;
    return nullptr;
}

// The module holding this code address, by its file; false when it lies in none.
bool moduleFileAt(const void* address, HMODULE& module, char (&file)[MAX_PATH]) {
    module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module) ||
        !module)
        return false;
    const DWORD length = GetModuleFileNameA(module, file, sizeof file);
    return length > 0 && length < sizeof file;
}

// Who a code address speaks for: this program, a noted plug-in (`noted` then names it),
// or neither (a system library, a plug-in's helper library, or no module at all).
enum class CodeOwner { Program, Plugin, Neither };

CodeOwner ownerOf(const void* address, const char*& noted) {
    noted = nullptr;
    HMODULE module = nullptr;
    char file[MAX_PATH];
    if (!moduleFileAt(address, module, file))
        return CodeOwner::Neither;
    if (module == GetModuleHandleA(nullptr))
        return CodeOwner::Program;
    noted = notedFileOfModule(module, file);
    return noted ? CodeOwner::Plugin : CodeOwner::Neither;
}

// The walk's decision: the first caller that is this program's (blaming nobody: our own
// call into the system went wrong) or a noted plug-in's (blaming it).
struct CallerVerdict {
    const char* blamed = nullptr;
};

bool callerDecides(const void* code, void* user) {
    const char* noted = nullptr;
    const CodeOwner owner = ownerOf(code, noted);
    if (owner == CodeOwner::Neither)
        return false;
    static_cast<CallerVerdict*>(user)->blamed = noted;
    return true;
}

LONG WINAPI noteFaultingPlugin(EXCEPTION_POINTERS* info) {
    char path[kPathSize];
    if (g_settings && blamedPluginOf(info, path, sizeof path)) {
        RegSetValueExA(g_settings, kCrashedValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                       DWORD(std::strlen(path) + 1));
        RegFlushKey(g_settings);
        // The plug-in's fault, and the next start says whose: the process ends here,
        // not in a debugger's or the system's crash dialog that would wait for a player.
        TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    }
    return g_previous ? g_previous(info) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void notePluginInProcess(const char* path) {
    if (!path || !path[0] || std::strlen(path) >= size_t(kPathSize))
        return;
    for (Note& note : g_notes)
        if (note.count.load(std::memory_order_relaxed) > 0 && samePath(note.path, path)) {
            note.count.fetch_add(1, std::memory_order_release);
            return;
        }
    for (Note& note : g_notes)
        if (note.count.load(std::memory_order_relaxed) == 0) {
            std::snprintf(note.path, sizeof note.path, "%s", path);
            note.count.store(1, std::memory_order_release);
            return;
        }
    // More files than notes: this one's crash goes untold, as before notes existed.
}

void notePluginOutOfProcess(const char* path) {
    if (!path)
        return;
    for (Note& note : g_notes)
        if (note.count.load(std::memory_order_relaxed) > 0 && samePath(note.path, path)) {
            note.count.fetch_sub(1, std::memory_order_release);
            return;
        }
}

void notePluginCopy(HMODULE copyModule, const char* originalPath) {
    if (!copyModule || !originalPath || std::strlen(originalPath) >= size_t(kPathSize))
        return;
    for (CopyNote& copy : g_copies) {
        int unused = 0;
        if (copy.used.load(std::memory_order_relaxed) == 0 &&
            copy.used.compare_exchange_strong(unused, -1, std::memory_order_acquire)) {
            copy.copy = copyModule;
            copyPath(copy.original, sizeof copy.original, originalPath);
            copy.used.store(1, std::memory_order_release);
            return;
        }
    }
    // More copies than entries: this one's crash goes untold.
}

void forgetPluginCopy(HMODULE copyModule) {
    if (!copyModule)
        return;
    for (CopyNote& copy : g_copies)
        if (copy.used.load(std::memory_order_acquire) == 1 && copy.copy == copyModule) {
            copy.used.store(0, std::memory_order_release);
            return;
        }
}

bool notedPluginAt(const void* address, char* path, size_t size) {
    const char* noted = nullptr;
    if (!path || size == 0 || ownerOf(address, noted) != CodeOwner::Plugin)
        return false;
    copyPath(path, size, noted);
    return true;
}

bool blamedPluginOf(const EXCEPTION_POINTERS* info, char* path, size_t size) {
    if (!info || !info->ExceptionRecord || !path || size == 0)
        return false;
    const char* noted = nullptr;
    switch (ownerOf(info->ExceptionRecord->ExceptionAddress, noted)) {
    case CodeOwner::Plugin:
        copyPath(path, size, noted);
        return true;
    case CodeOwner::Program:
        return false;
    case CodeOwner::Neither:
        break;
    }
    // Faulted in a library or in no code at all: the first caller that is ours or a
    // plug-in's made the bad call.
    CallerVerdict verdict;
    if (!info->ContextRecord || !findFaultingCaller(*info->ContextRecord, callerDecides, &verdict) ||
        !verdict.blamed)
        return false;
    copyPath(path, size, verdict.blamed);
    return true;
}

void installPluginFaultHandler() {
    if (g_settings)
        return;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_SET_VALUE, &g_settings) != ERROR_SUCCESS) {
        g_settings = nullptr;
        return;
    }
    g_previous = SetUnhandledExceptionFilter(noteFaultingPlugin);
}

bool takeCrashedPlugin(char* path, size_t size) {
    if (!path || size == 0)
        return false;
    path[0] = '\0';
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    // Untrusted as any stored value: only a string that fits is a path.
    char stored[kPathSize] = "";
    DWORD type = 0, bytes = sizeof stored - 1;
    const LONG result = RegQueryValueExA(key, kCrashedValue, nullptr, &type, reinterpret_cast<BYTE*>(stored), &bytes);
    const bool present = result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
    if (present)
        RegDeleteValueA(key, kCrashedValue);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ || bytes == 0)
        return false;
    stored[bytes < sizeof stored ? bytes : sizeof stored - 1] = '\0';
    if (!stored[0])
        return false;
    PluginIdentity unknown{};
    if (!rememberFailure(stored, unknown, "crashed"))
        return false;
    std::snprintf(path, size, "%s", stored);
    return true;
}
