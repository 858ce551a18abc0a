#pragma once
#include <atomic>
#include <cstdint>

#include "FormatRecord.h"
#include "Relaxed.h"
#include "RiffFile.h"
#include "RateConverter.h"
#include "SampleFormat.h"
#include "WaveParser.h"

// Where the accompaniment stands between two stretches of its data.
struct SeamState {
    bool streaming;        // the previous block was mixed: a jump must fade the old stretch out
    bool jumpPending;      // fading out before continuing at jumpTarget
    uint32_t jumpTarget;   // bytes from the start of the sample data
    int32_t fadeOutLeft;   // frames of the old stretch still to fade out
    int32_t fadeInDone;    // frames of the new stretch faded in so far
    // Pause and play, at the host's rate: a pause fades the sound out before it stops,
    // and playing on from inside the data fades it in.
    bool pausing;            // paused while streaming: fading out
    int32_t pauseFadeLeft;   // host frames of that fade still to go
    int32_t resumeFadeDone;  // host frames faded in since playing on
    int32_t resumeFadeFrames;  // the length of that fade; 0: none
};

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
    // Converts the file's rate (the accompaniment) or the chain's rate (a take); its
    // tables are made by attach or when a take starts.
    RateConverter converter;
    // Accompaniment: bytes from the start of the sample data, a multiple of the
    // block align. Take: bytes recorded.
    Relaxed<uint32_t> readPosition;
    Relaxed<uint32_t> seekTarget;  // published by seekPending
    std::atomic<bool> seekPending;
    // Accompaniment: a read failed; stays set until the file is closed. Take: a
    // write failed; no further blocks are taken.
    Relaxed<bool> readError;
    // (A direct take's blocks waiting for the writer are counted by its WriterQueue.)
    // Accompaniment, driver thread: the ramps that keep a converted stream from joining
    // unrelated stretches of the data at a seek or at the loop point.
    SeamState seam;

    WaveFileState() { clear(); }
    WaveFileState(const WaveFileState&) = delete;
    WaveFileState& operator=(const WaveFileState&) = delete;

    // Zero-fills every field and frees the converter's tables. Does not close the handle.
    void clear();
    // Takes an opened file (owned from now on) and where its samples lie, and makes
    // the converter's tables for the common host rates and the one last seen (0: none).
    // False when memory is short: the file is then attached but converts nothing.
    bool attach(RiffFile* file, const WaveLayout& layout, uint32_t lastHostRate = 0);
};
