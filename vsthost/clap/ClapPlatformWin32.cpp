#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "ClapPlatform.h"

namespace {

// The system's text for error, its line ends cut, or the number when it has none.
void systemReason(DWORD error, char* text, size_t size) {
    if (size == 0)
        return;
    char reason[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        reason, sizeof reason, nullptr);
    size_t end = length < sizeof reason ? length : 0;
    while (end > 0 && (reason[end - 1] == '\r' || reason[end - 1] == '\n' || reason[end - 1] == ' ' ||
                       reason[end - 1] == '.'))
        --end;
    reason[end] = '\0';
    for (char* insert; (insert = std::strstr(reason, "%1")) != nullptr;)
        insert[0] = 'i', insert[1] = 't';
    if (reason[0])
        std::snprintf(text, size, "%s", reason);
    else
        std::snprintf(text, size, "system error %lu", static_cast<unsigned long>(error));
}

}  // namespace

namespace clap_platform {

void* openModule(const char* path, char* failure, size_t failureSize) {
    // Paths are UTF-8 throughout the host; the wide call is the one that takes every name.
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length <= 0 || length > 32768) {
        std::snprintf(failure, failureSize, "the path is not valid UTF-8");
        return nullptr;
    }
    wchar_t* wide = new (std::nothrow) wchar_t[size_t(length)];
    if (!wide) {
        std::snprintf(failure, failureSize, "out of memory");
        return nullptr;
    }
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, length);
    // No error box for a file that is not a module: the reason goes to the caller.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryW(wide);
    const DWORD error = GetLastError();
    SetErrorMode(previous);
    delete[] wide;
    if (!module)
        systemReason(error, failure, failureSize);
    return module;
}

void* moduleSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void closeModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

uint64_t currentThreadToken() { return uint64_t(GetCurrentThreadId()) + 1; }

}  // namespace clap_platform
