#include "DeckFiles.h"

#include "WinInclude.h"

namespace {

FileIdentity identityOf(HANDLE file) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info)) {
        identity.volume = info.dwVolumeSerialNumber;
        identity.indexHigh = info.nFileIndexHigh;
        identity.indexLow = info.nFileIndexLow;
        identity.known = true;
    }
    return identity;
}

}  // namespace

bool probeFileAlone(const char* path, uint32_t& size, FileIdentity& identity) {
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER length;
    const bool ok = GetFileSizeEx(file, &length) != 0;
    if (ok)
        size = length.QuadPart > LONGLONG(UINT32_MAX) ? UINT32_MAX : uint32_t(length.QuadPart);
    identity = identityOf(file);
    CloseHandle(file);
    return ok;
}

FileIdentity identifyFile(const char* path) {
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FileIdentity{};
    const FileIdentity identity = identityOf(file);
    CloseHandle(file);
    return identity;
}

bool sameFullPath(const char* a, const char* b) {
    char fullA[MAX_PATH], fullB[MAX_PATH];
    const DWORD lengthA = GetFullPathNameA(a, MAX_PATH, fullA, nullptr);
    const DWORD lengthB = GetFullPathNameA(b, MAX_PATH, fullB, nullptr);
    if (lengthA == 0 || lengthA >= MAX_PATH || lengthB == 0 || lengthB >= MAX_PATH)
        return lstrcmpiA(a, b) == 0;
    return lstrcmpiA(fullA, fullB) == 0;
}

bool truncateFile(const char* path, uint64_t size) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(size);
    const bool ok = SetFilePointerEx(file, to, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

bool deleteFile(const char* path) { return DeleteFileA(path) != 0; }
