#pragma once
#include <cstdint>

// The deck's view of one open RIFF file: the accompaniment being read or the take
// being written. Shaped after the platform's multimedia file calls, so the Windows
// implementation is a thin wrapper and the decisions above it stay portable.
enum class SeekFrom : int32_t { Start = 0, Current = 1, End = 2 };

// Each call comes from the one thread that uses the file at the time: the UI thread
// while opening and closing, the driver thread while the accompaniment plays, the
// writer thread while a take is written.
class RiffFile {
public:
    virtual ~RiffFile() = default;  // closes the file
    // Bytes read (fewer at the end of the file), or -1 on an error.
    virtual int32_t read(void* buffer, int32_t bytes) = 0;
    // Bytes written (fewer when the disk refused the rest), or -1 on an error.
    virtual int32_t write(const void* buffer, int32_t bytes) = 0;
    // The new position from the start of the file, or -1 on an error.
    virtual int32_t seek(int32_t offset, SeekFrom origin) = 0;
    // Asks the system to put what was written onto the disk itself, so that it
    // survives a power cut too (a killed process keeps it anyway). False when the
    // system refused; files without a disk of their own have nothing to do.
    virtual bool flushToDisk() { return true; }
};

// Opens the deck's files. UI thread. Each returns null when the file cannot be
// opened or created; the caller deletes what it gets.
class RiffFileFactory {
public:
    virtual ~RiffFileFactory() = default;
    // An existing file, read through a small buffer of the platform's.
    virtual RiffFile* openForReading(const char* path) = 0;
    // A new (or emptied) file. Writes are not buffered, so a write the disk refuses
    // fails in the call that made it and its count tells what reached the file.
    virtual RiffFile* createForWriting(const char* path) = 0;
};
