#pragma once
#include <cstdint>

#include "FormatRecord.h"
#include "RiffFile.h"

// Decides whether an accompaniment file can be played. The file must be laid out as
// "RIFF" size "WAVE" "fmt " size body, then at once "data" size and the samples;
// no other chunk may stand between the format and the data.
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
