#pragma once
#include <cstdint>
#include <string>

#include "DeckBuffers.h"
#include "FormatRecord.h"
#include "WaveFileState.h"
#include "WinInclude.h"

// The file a render writes, in a format of the recorder's table, through the
// recorder's own conversion (rate, and a mono file as the mean of the two channels)
// and encoding.
//
// It is written as a temporary file beside the target, whose header is brought up to
// date at every flush, so that whatever stops the render leaves a valid WAV file.
// Only a render that succeeds replaces the target.
class RenderOutput {
public:
    RenderOutput();
    virtual ~RenderOutput();
    RenderOutput(const RenderOutput&) = delete;
    RenderOutput& operator=(const RenderOutput&) = delete;

    // The temporary file for target: "NAME.part.wav" beside "NAME.wav".
    static std::string temporaryPathFor(const std::string& target);

    // UI thread. Creates the temporary file with the header of an empty file, and the
    // converter's tables from the chain's rate to the entry's. False when it could not
    // (systemError() tells why; 0 when memory is short).
    bool create(const char* target, const FormatRecord& entry, uint32_t hostRate);
    const FormatRecord& format() const { return take_.format; }
    const std::string& targetPath() const { return target_; }
    const std::string& temporaryPath() const { return temporary_; }

    // Render thread: the next frames of the driver's two output channels, at the
    // chain's rate. False once a write has failed (nothing more is taken).
    bool write(const float* left, const float* right, int32_t frames, float hostRate);
    // Frames in the output's own rate taken so far.
    uint32_t framesWritten() const;
    bool failed() const { return failed_; }
    unsigned long systemError() const { return systemError_; }

    // UI thread, after the render. commit writes the final header and replaces the
    // target with the file; keepPartial writes the final header and leaves the file
    // beside the target; discard deletes it. False when the file could not be
    // finished or moved (systemError() tells why).
    bool commit();
    bool keepPartial();
    void discard();

private:
    bool flush();
    bool writeHeader();
    bool finish();
    void fail(unsigned long error);

    std::string target_;
    std::string temporary_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    WaveFileState take_;
    DeckBuffers buffers_;
    uint8_t* pending_ = nullptr;  // encoded bytes waiting for the next flush
    uint32_t pendingBytes_ = 0;
    uint32_t dataBytes_ = 0;      // in the file or pending
    uint32_t limit_ = 0;          // the most sample data a WAV file can hold
    bool failed_ = false;
    unsigned long systemError_ = 0;
};
