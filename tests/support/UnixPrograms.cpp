#include "UnixPrograms.h"

#include <cstring>
#include <vector>

#include "WinInclude.h"

namespace {

// Wine's own kernel32 export that maps a Windows path to a Unix one.
using UnixNameFn = char* (*)(const wchar_t* dosName);

std::wstring widen(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], int(wide.size()));
    wide.resize(n > 0 ? size_t(n - 1) : 0);
    return wide;
}

}  // namespace

std::string unixPathOf(const std::string& windowsPath) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(windowsPath.c_str(), sizeof full, full, nullptr);
    const std::string path = n > 0 && n < sizeof full ? std::string(full) : windowsPath;
    auto toUnix = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix) {
        char* unix = toUnix(widen(path).c_str());
        if (unix) {
            std::string result = unix;
            HeapFree(GetProcessHeap(), 0, unix);
            return result;
        }
    }
    if (path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':') {
        std::string result = path.substr(2);
        for (char& c : result)
            if (c == '\\')
                c = '/';
        return result;
    }
    return path;
}

bool startUnixProgram(const std::string& commandLine) {
    // Wine runs a Unix executable given by its Z: path.
    std::string windowsCommand = "Z:" + commandLine;
    const size_t space = windowsCommand.find(' ');
    for (size_t i = 0; i < (space == std::string::npos ? windowsCommand.size() : space); ++i)
        if (windowsCommand[i] == '/')
            windowsCommand[i] = '\\';
    std::vector<char> command(windowsCommand.begin(), windowsCommand.end());
    command.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // For a Unix program Wine's answer need not hold handles at all: one seen here was
    // the number of the calling process's standard output, and closing it lost every
    // line the tests printed after their first screenshot. Closed only when each is
    // the process or thread it names.
    if (process.hProcess && GetProcessId(process.hProcess) == process.dwProcessId && process.dwProcessId != 0)
        CloseHandle(process.hProcess);
    if (process.hThread && GetThreadId(process.hThread) == process.dwThreadId && process.dwThreadId != 0)
        CloseHandle(process.hThread);
    return true;
}

void stopPlayers(const std::string& pattern) {
    // Through a shell: pkill started by Wine gets "Z:\usr\bin\pkill" for its name,
    // and under a name other than its own it only lists what it would signal. The
    // bracket keeps the pattern from matching the shell's own command line.
    startUnixProgram("/bin/sh -c \"pkill --signal KILL -f '[p]aplay --device=.*" + pattern + "'\"");
    Sleep(500);
}

bool playIntoSink(const std::string& sink, const std::string& windowsPath) {
    return startUnixProgram("/usr/bin/paplay --device=" + sink + " " + unixPathOf(windowsPath));
}
