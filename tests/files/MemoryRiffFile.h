#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "RiffFile.h"

// A RIFF file in memory, with the faults a disk can show: reads that fail or come
// back short after some bytes, writes refused after some bytes.
class MemoryRiffFile : public RiffFile {
public:
    explicit MemoryRiffFile(std::vector<uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}

    int32_t read(void* buffer, int32_t bytes) override {
        ++reads;
        if (bytes < 0)
            return -1;
        if (readsLeftBeforeError == 0)
            return -1;
        if (readsLeftBeforeError > 0)
            --readsLeftBeforeError;
        int64_t n = std::min<int64_t>(bytes, int64_t(bytes_.size()) - position_);
        if (n < 0)
            n = 0;
        if (shortReadsFrom >= 0 && readBytes_ + n > shortReadsFrom)
            n = std::max<int64_t>(0, shortReadsFrom - readBytes_);
        if (n > 0)
            std::memcpy(buffer, bytes_.data() + position_, size_t(n));
        position_ += n;
        readBytes_ += n;
        return int32_t(n);
    }

    int32_t write(const void* buffer, int32_t bytes) override {
        if (bytes < 0)
            return -1;
        int64_t n = bytes;
        bool refused = false;
        if (writeLimit >= 0 && written_ + n > writeLimit) {
            n = std::max<int64_t>(0, writeLimit - written_);
            refused = true;
        }
        if (position_ + n > int64_t(bytes_.size()))
            bytes_.resize(size_t(position_ + n));
        if (n > 0)
            std::memcpy(bytes_.data() + position_, buffer, size_t(n));
        position_ += n;
        written_ += n;
        return refused && n == 0 ? -1 : int32_t(n);
    }

    int32_t seek(int32_t offset, SeekFrom origin) override {
        ++seeks;
        if (failSeeks)
            return -1;
        const int64_t base = origin == SeekFrom::Start ? 0 : origin == SeekFrom::Current ? position_ : int64_t(bytes_.size());
        const int64_t to = base + offset;
        if (to < 0)
            return -1;
        position_ = to;  // past the end is allowed, as on disk; reads there return 0
        return int32_t(to);
    }

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    int64_t position() const { return position_; }

    // -1: never. Otherwise reads fail once this many more have succeeded.
    int readsLeftBeforeError = -1;
    // -1: never. Otherwise reads return short once this many bytes have been read.
    int64_t shortReadsFrom = -1;
    // -1: no limit. Otherwise bytes beyond this many written are refused.
    int64_t writeLimit = -1;
    bool failSeeks = false;
    int reads = 0;
    int seeks = 0;

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
    int64_t readBytes_ = 0;
    int64_t written_ = 0;
};
