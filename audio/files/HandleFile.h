#pragma once
#include "RiffFile.h"
#include "WinInclude.h"

// A RIFF file over a handle of the system's own, opened by its owner (the renderer's
// input, a take being repaired). The handle stays the owner's: it is not closed here.
class HandleFile : public RiffFile {
public:
    explicit HandleFile(HANDLE file) : file_(file) {}
    ~HandleFile() override = default;
    HandleFile(const HandleFile&) = delete;
    HandleFile& operator=(const HandleFile&) = delete;

    int32_t read(void* buffer, int32_t bytes) override;
    int32_t write(const void* buffer, int32_t bytes) override;
    // Positions beyond 2 GiB cannot be told in 32 bits: -1.
    int32_t seek(int32_t offset, SeekFrom origin) override;
    bool flushToDisk() override;

private:
    HANDLE file_;
};
