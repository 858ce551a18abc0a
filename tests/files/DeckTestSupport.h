#pragma once
// Helpers for the Windows tests of the deck: a scratch folder, whole-file reads and
// writes, and file factories that put the disk's faults between the deck and mmio.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "MmioFile.h"
#include "WinInclude.h"

// A fresh folder under the temporary folder, removed with what it holds.
class ScratchFolder {
public:
    ScratchFolder() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        static std::atomic<int> counter{0};
        path_ = std::string(base) + "talvenor-files-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(counter++);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchFolder() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((path_ + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path_.c_str());
    }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

inline std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size;
    GetFileSizeEx(f, &size);
    bytes.resize(size_t(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty())
        ReadFile(f, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    bytes.resize(got);
    CloseHandle(f);
    return bytes;
}

inline bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline uint32_t little32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint16_t little16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// A take's 44-byte header whose RIFF and data sizes state exactly the file's length.
inline bool headerMatchesLengthOf(const std::vector<uint8_t>& file) {
    return file.size() >= 44 && little32(file, 40) == file.size() - 44 && little32(file, 4) == file.size() - 8;
}
// A signed 24-bit sample, least significant byte first.
inline int32_t sample24(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
}

// A real mmio file with faults put in front of it: reads that fail, a file that
// cannot grow beyond a size (as on a full disk: what fits of a write still reaches
// the file, and bytes already there can be rewritten), writes that wait for a go.
class FaultyFile : public RiffFile {
public:
    struct Faults {
        std::atomic<int> readsBeforeError{-1};   // -1: never
        std::atomic<int64_t> sizeLimit{-1};      // -1: unlimited
        HANDLE writeGate = nullptr;              // when set, each write waits for it
        std::atomic<bool> failSeeks{false};
        std::atomic<int> writes{0};
        std::atomic<int64_t> written{0};
    };

    FaultyFile(RiffFile* inner, Faults& faults) : inner_(inner), faults_(faults) {}
    ~FaultyFile() override { delete inner_; }

    int32_t read(void* buffer, int32_t bytes) override {
        const int left = faults_.readsBeforeError;
        if (left == 0)
            return -1;
        if (left > 0)
            --faults_.readsBeforeError;
        const int32_t n = inner_->read(buffer, bytes);
        if (n > 0)
            position_ += n;
        return n;
    }
    int32_t write(const void* buffer, int32_t bytes) override {
        if (faults_.writeGate)
            WaitForSingleObject(faults_.writeGate, INFINITE);
        ++faults_.writes;
        int64_t allowed = bytes;
        const int64_t limit = faults_.sizeLimit;
        if (limit >= 0 && position_ + bytes > limit)
            allowed = limit > position_ ? limit - position_ : 0;
        if (allowed == 0)
            return -1;
        const int32_t n = inner_->write(buffer, int32_t(allowed));
        if (n > 0) {
            position_ += n;
            faults_.written += n;
        }
        return n;
    }
    int32_t seek(int32_t offset, SeekFrom origin) override {
        if (faults_.failSeeks)
            return -1;
        const int32_t to = inner_->seek(offset, origin);
        if (to >= 0)
            position_ = to;
        return to;
    }

private:
    RiffFile* inner_;
    Faults& faults_;
    int64_t position_ = 0;
};

class FaultyFiles : public RiffFileFactory {
public:
    FaultyFile::Faults reading, writing;

    RiffFile* openForReading(const char* path) override {
        RiffFile* inner = mmio_.openForReading(path);
        return inner ? new FaultyFile(inner, reading) : nullptr;
    }
    RiffFile* createForWriting(const char* path) override {
        RiffFile* inner = mmio_.createForWriting(path);
        return inner ? new FaultyFile(inner, writing) : nullptr;
    }

private:
    MmioFileFactory mmio_;
};
