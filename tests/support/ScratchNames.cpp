#include "ScratchNames.h"

#include <cstdio>
#include <string>

#include "WinInclude.h"

std::string scratchName(const std::string& what) {
    static const unsigned long long started = [] {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<unsigned long long>(now.QuadPart);
    }();
    char tag[80];
    std::snprintf(tag, sizeof tag, "-w%u-%lu-%llx", unsigned(sizeof(void*) * 8), GetCurrentProcessId(), started);
    return what + tag;
}

RunScratchFolder::RunScratchFolder(const std::string& what) {
    static int made = 0;  // several folders of one kind, one after the other or at once
    name_ = scratchName(what) + "-" + std::to_string(++made);
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    path_ = std::string(temp) + name_;
    CreateDirectoryA(path_.c_str(), nullptr);
}

RunScratchFolder::~RunScratchFolder() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(file(found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}
