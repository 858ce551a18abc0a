#include "RigErrors.h"

#include <cstdio>

#include "WinInclude.h"

std::string systemMessage(unsigned long code) {
    char text[512] = "";
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        message = "system error " + std::to_string(code);
    return message;
}

std::string fileProblem(const std::string& path) {
    if (path.size() >= MAX_PATH)
        return "the path is " + std::to_string(path.size()) + " characters long; at most " +
               std::to_string(MAX_PATH - 1) + " are allowed";
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return systemMessage(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "it is a folder";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return systemMessage(GetLastError());
    CloseHandle(file);
    return "";
}

std::string newFileProblem(const std::string& path) {
    if (path.size() >= MAX_PATH)
        return fileProblem(path);
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos)
        return "";
    const DWORD attributes = GetFileAttributesA((path.substr(0, slash + 1) + ".").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return systemMessage(GetLastError());
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? "" : "its folder is a file";
}

std::string libraryProblem(const std::string& path) {
    std::string problem = fileProblem(path);
    if (!problem.empty())
        return problem;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        return systemMessage(GetLastError());
    FreeLibrary(module);
    return "it loads, but is not a VST 2 effect this host can use";
}

void printProblem(const std::string& path, const std::string& reason) {
    if (reason.empty())
        std::fprintf(stderr, "talvenor-rig: %s\n", path.c_str());
    else
        std::fprintf(stderr, "talvenor-rig: %s: %s\n", path.c_str(), reason.c_str());
}
