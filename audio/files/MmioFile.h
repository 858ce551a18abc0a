#pragma once
#include "RiffFile.h"
#include "WinInclude.h"

// A RIFF file through the platform's multimedia file I/O.
class MmioFile : public RiffFile {
public:
    explicit MmioFile(HMMIO handle) : handle_(handle) {}
    ~MmioFile() override;
    MmioFile(const MmioFile&) = delete;
    MmioFile& operator=(const MmioFile&) = delete;

    // Any thread that owns the file at the time (UI, driver or writer thread).
    int32_t read(void* buffer, int32_t bytes) override;
    int32_t write(const void* buffer, int32_t bytes) override;
    int32_t seek(int32_t offset, SeekFrom origin) override;
    bool flushToDisk() override;

private:
    HMMIO handle_;
};

// Opens the deck's files with mmio: the accompaniment for reading through a
// 1024-byte buffer of mmio's own, takes for writing without a buffer (a buffered
// mmio write reports success even when flushing its buffer to a full disk fails, so
// a take would lose blocks unnoticed).
class MmioFileFactory : public RiffFileFactory {
public:
    ~MmioFileFactory() override = default;
    // UI thread.
    RiffFile* openForReading(const char* path) override;
    RiffFile* createForWriting(const char* path) override;
};
