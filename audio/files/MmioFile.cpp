#include "MmioFile.h"

#include <cstring>
#include <new>

namespace {

const LONG kReadBufferBytes = 1024;

// mmioOpenA takes a writable name; paths longer than the platform's limit are refused
// rather than cut into the name of another file.
bool copyPath(const char* path, char (&copy)[MAX_PATH]) {
    if (!path)
        return false;
    const size_t length = std::strlen(path);
    if (length >= sizeof copy)
        return false;
    std::memcpy(copy, path, length + 1);
    return true;
}

RiffFile* wrap(HMMIO handle) {
    RiffFile* file = new (std::nothrow) MmioFile(handle);
    if (!file)
        mmioClose(handle, 0);
    return file;
}

}  // namespace

MmioFile::~MmioFile() { mmioClose(handle_, 0); }

int32_t MmioFile::read(void* buffer, int32_t bytes) { return mmioRead(handle_, static_cast<HPSTR>(buffer), bytes); }

int32_t MmioFile::write(const void* buffer, int32_t bytes) {
    return mmioWrite(handle_, static_cast<const char*>(buffer), bytes);
}

int32_t MmioFile::seek(int32_t offset, SeekFrom origin) {
    const int whence = origin == SeekFrom::Start ? SEEK_SET : origin == SeekFrom::Current ? SEEK_CUR : SEEK_END;
    return mmioSeek(handle_, offset, whence);
}

// The files are opened by mmio's own I/O procedure for disk files, which keeps the
// system's file handle in the first word of its state.
bool MmioFile::flushToDisk() {
    MMIOINFO info{};
    if (mmioGetInfo(handle_, &info, 0) != MMSYSERR_NOERROR || info.fccIOProc != FOURCC_DOS)
        return false;
    const HANDLE file = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(static_cast<LONG>(info.adwInfo[0])));
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return false;
    return FlushFileBuffers(file) != 0;
}

RiffFile* MmioFileFactory::openForReading(const char* path) {
    char name[MAX_PATH];
    if (!copyPath(path, name))
        return nullptr;
    HMMIO handle = mmioOpenA(name, nullptr, MMIO_READ);
    if (!handle)
        return nullptr;
    if (mmioSetBuffer(handle, nullptr, kReadBufferBytes, 0) != MMSYSERR_NOERROR) {
        mmioClose(handle, 0);
        return nullptr;
    }
    return wrap(handle);
}

RiffFile* MmioFileFactory::createForWriting(const char* path) {
    char name[MAX_PATH];
    if (!copyPath(path, name))
        return nullptr;
    HMMIO handle = mmioOpenA(name, nullptr, MMIO_CREATE | MMIO_WRITE);
    return handle ? wrap(handle) : nullptr;
}
