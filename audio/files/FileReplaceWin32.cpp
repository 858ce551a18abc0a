#include "FileReplace.h"

#include <cstdio>
#include <cstring>

#include "OwnedHandle.h"
#include "WinInclude.h"

namespace {

void say(char* detail, size_t size, const char* format, const char* text, unsigned long number = 0) {
    if (detail && size)
        std::snprintf(detail, size, format, text, number);
}

bool writeAll(HANDLE file, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        DWORD written = 0;
        const DWORD ask = DWORD(size - done > (1u << 20) ? (1u << 20) : size - done);
        if (!WriteFile(file, data + done, ask, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

}  // namespace

// The new file is complete on the disk before it takes the old one's place.
bool replaceFileContents(const char* path, const uint8_t* data, size_t size, char* detail, size_t detailSize) {
    char temporary[MAX_PATH + sizeof kReplaceTemporarySuffix];
    if (std::strlen(path) + sizeof kReplaceTemporarySuffix > MAX_PATH) {
        say(detail, detailSize, "The path %s is too long.", path);
        return false;
    }
    std::snprintf(temporary, sizeof temporary, "%s%s", path, kReplaceTemporarySuffix);
    OwnedHandle file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        say(detail, detailSize, "%s could not be created (system error %lu).", temporary, GetLastError());
        return false;
    }
    const bool written = writeAll(file.handle, data, size) && FlushFileBuffers(file.handle);
    const DWORD writeError = GetLastError();
    if (!file.close() || !written) {
        DeleteFileA(temporary);
        say(detail, detailSize, "%s could not be written (system error %lu).", temporary, writeError);
        return false;
    }
    if (!MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = GetLastError();
        DeleteFileA(temporary);
        say(detail, detailSize, "%s could not be replaced (system error %lu).", path, moveError);
        return false;
    }
    return true;
}
