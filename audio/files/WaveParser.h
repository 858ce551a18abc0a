#pragma once
#include <cstdint>

#include "FormatRecord.h"
#include "RiffFile.h"

// Decides whether a WAV file (an accompaniment, a file to render) can be played. The
// file is "RIFF" size "WAVE" and then chunks; the "fmt " chunk must come before the
// "data" chunk, and every other chunk, wherever it stands, is skipped.
enum class WaveOpenResult {
    Ok,
    OpenError,          // unreadable, too short, or the data runs past the end
    InvalidStructure,   // not laid out as above, or its format fields disagree
    ZeroLength,         // the data chunk is empty
    UnsupportedFormat,  // more than two channels, or samples we cannot decode
};

// Where the samples are and how to decode them.
struct WaveLayout {
    FormatRecord format;
    uint32_t dataBytes;
    int32_t dataOffset;  // from the start of the file
};

// Reads the header of a file of fileSize bytes from its start. On Ok the file is
// positioned at the first sample byte. Nothing read from the file is trusted: every
// length is checked against the file size before it is used.
WaveOpenResult parseWave(RiffFile& file, uint32_t fileSize, WaveLayout& layout);

// The string-table entry that reports a result (0 for Ok).
int stringIdFor(WaveOpenResult result);
