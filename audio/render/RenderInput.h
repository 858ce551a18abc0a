#pragma once
#include <cstdint>

#include "FormatRecord.h"
#include "WaveParser.h"
#include "WinInclude.h"

// The dry take a render reads: a WAV file parsed by the program's own parser, read in
// large stretches and decoded to float block after block. A mono file feeds both
// channels, as a mono backing track does.
//
// A file whose samples stop before its header says they do (a copy cut short, a
// recorder that never finished its header) opens all the same: it is rendered up to
// where it stops, and the read then reports the early end.
class RenderInput {
public:
    RenderInput();
    virtual ~RenderInput();
    RenderInput(const RenderInput&) = delete;
    RenderInput& operator=(const RenderInput&) = delete;

    // UI thread. Ok, or the parser's verdict on why the file cannot be rendered; a file
    // that cannot be opened at all is an OpenError, with systemError() telling why.
    WaveOpenResult open(const char* path);

    const FormatRecord& format() const { return layout_.format; }
    uint32_t rate() const { return layout_.format.samplesPerSec; }
    // The frames the header promises, and those the file really holds.
    uint32_t frames() const { return frames_; }
    uint32_t framesPresent() const { return present_; }
    unsigned long systemError() const { return systemError_; }

    // Render thread. Decodes up to count frames into left and right; returns how many.
    // Fewer than asked before frames() is reached means the file ended early or a
    // read failed: failed() is then set for good.
    int32_t read(float* left, float* right, int32_t count);
    uint32_t position() const { return position_; }
    bool failed() const { return failed_; }
    // After a failure: true when the file simply ended early, false for a read error.
    bool endedEarly() const { return endedEarly_; }

private:
    bool fill();
    void close();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    WaveLayout layout_{};
    uint32_t frames_ = 0;
    uint32_t present_ = 0;
    uint32_t position_ = 0;
    unsigned long systemError_ = 0;
    bool failed_ = false;
    bool endedEarly_ = false;

    // Whole frames read ahead of the decoder.
    uint8_t* bytes_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t held_ = 0;
    uint32_t used_ = 0;
};
