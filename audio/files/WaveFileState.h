#pragma once
#include <atomic>
#include <cstdint>

#include "FormatRecord.h"
#include "Relaxed.h"
#include "RiffFile.h"
#include "SampleFormat.h"
#include "WaveParser.h"

// One file of the deck: the accompaniment, or the take being recorded. A cleared
// state means no file. Fields that two threads share are atomic: the driver thread
// reads and advances the accompaniment while the UI thread shows its position, and
// the writer thread counts the take's bytes written.
struct WaveFileState {
    static constexpr int kPathSize = 260;

    char path[kPathSize];
    RiffFile* handle;  // owned; null when no file is open
    FormatRecord format;
    // Accompaniment: length of the sample data. Take: the RAM take's capacity.
    uint32_t dataBytes;
    int32_t dataOffset;  // file offset of the first sample byte
    RateConverterState converters[2];
    // Accompaniment: bytes from the start of the sample data, a multiple of the
    // block align. Take: bytes recorded.
    Relaxed<uint32_t> readPosition;
    Relaxed<uint32_t> seekTarget;  // published by seekPending
    std::atomic<bool> seekPending;
    // Accompaniment: a read failed; stays set until the file is closed. Take: a
    // write failed; no further blocks are taken.
    Relaxed<bool> readError;
    // (A direct take's blocks waiting for the writer are counted by its WriterQueue.)

    WaveFileState() { clear(); }
    WaveFileState(const WaveFileState&) = delete;
    WaveFileState& operator=(const WaveFileState&) = delete;

    // Zero-fills every field. Does not close the handle.
    void clear();
    // Takes an opened file (owned from now on) and where its samples lie.
    void attach(RiffFile* file, const WaveLayout& layout);
};
