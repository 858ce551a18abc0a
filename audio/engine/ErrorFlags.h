#pragma once
#include <cstdint>

// The process-wide word of condition bits that the audio, streaming and writer
// threads raise and the main window's timer handles on the UI thread. Raising and
// clearing are atomic read-modify-write operations, so no bit raised by one thread
// is lost to another thread clearing a different bit.
enum ErrorFlag : uint32_t {
    kFlagRestartLiveInput = 0x10,   // buffer-size change or resync request
    kFlagUnsupportedFormat = 0x20,  // a driver channel has a sample type we cannot convert
    kFlagDriverReset = 0x40,        // the driver asked to be reset
    kFlagRecordError = 0x80,        // the take could not be written
    kFlagAccompReadError = 0x100,   // the accompaniment could not be read
    kFlagDiskTooSlow = 0x200,       // the writer was still busy with the previous block
};

void raiseErrorFlag(uint32_t bits);
void clearErrorFlag(uint32_t bits);
// Clears the bits and tells whether any of them was raised.
bool takeErrorFlag(uint32_t bits);
uint32_t errorFlags();
