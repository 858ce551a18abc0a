#include "HandleFile.h"

int32_t HandleFile::read(void* buffer, int32_t bytes) {
    DWORD got = 0;
    if (bytes < 0 || !ReadFile(file_, buffer, DWORD(bytes), &got, nullptr))
        return -1;
    return int32_t(got);
}

int32_t HandleFile::write(const void* buffer, int32_t bytes) {
    DWORD put = 0;
    if (bytes < 0 || !WriteFile(file_, buffer, DWORD(bytes), &put, nullptr))
        return -1;
    return int32_t(put);
}

int32_t HandleFile::seek(int32_t offset, SeekFrom origin) {
    const DWORD method = origin == SeekFrom::Start ? FILE_BEGIN : origin == SeekFrom::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance, moved;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(file_, distance, &moved, method) || moved.QuadPart > INT32_MAX)
        return -1;
    return int32_t(moved.QuadPart);
}

bool HandleFile::flushToDisk() { return FlushFileBuffers(file_) != 0; }
