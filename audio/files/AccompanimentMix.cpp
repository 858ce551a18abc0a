#include "AccompanimentMix.h"

#include <cstring>

#include "ErrorFlags.h"
#include "RecordingFormat.h"
#include "SampleFormat.h"

namespace {

bool readFailed(WaveFileState& file) {
    file.readError = true;
    raiseErrorFlag(kFlagAccompReadError);
    return false;
}

bool performPendingSeek(WaveFileState& file) {
    // Clear the request before reading its target: a seek stored meanwhile stays
    // pending for the next block rather than being lost.
    if (!file.seekPending.exchange(false, std::memory_order_acq_rel))
        return true;
    const uint32_t target = file.seekTarget;
    const int64_t offset = int64_t(file.dataOffset) + target;
    if (offset > INT32_MAX || file.handle->seek(int32_t(offset), SeekFrom::Start) < 0)
        return false;
    file.readPosition = target;
    return true;
}

// Fills the byte buffer with bytes of sample data from the read position, wrapping to
// the start of the data at its end. A read that returns fewer bytes than asked would
// leave stale bytes in the buffer, so it counts as a failure like an error does.
bool readLooped(WaveFileState& file, uint8_t* to, uint32_t bytes) {
    RiffFile& handle = *file.handle;
    while (bytes > 0) {
        const uint32_t position = file.readPosition;
        if (uint64_t(position) + bytes < file.dataBytes) {
            if (handle.read(to, int32_t(bytes)) != int32_t(bytes))
                return false;
            file.readPosition = position + bytes;
            return true;
        }
        const uint32_t left = file.dataBytes - position;
        if (left > 0 && handle.read(to, int32_t(left)) != int32_t(left))
            return false;
        if (handle.seek(file.dataOffset, SeekFrom::Start) < 0)
            return false;
        bytes -= left;
        to += left;
        file.readPosition = 0u;
    }
    return true;
}

}  // namespace

bool mixAccompanimentFrom(WaveFileState& file, DeckBuffers& buffers, bool playing, float* const* channels,
                          int32_t channelCount, int32_t frames, float hostRate, float gain) {
    if (!file.handle || file.dataBytes == 0)
        return true;
    if (file.readError)
        return false;
    if (!playing)
        return true;
    if (!performPendingSeek(file))
        return readFailed(file);
    if (frames <= 0)
        return true;
    if (frames > DeckBuffers::kMaxFrames)
        frames = DeckBuffers::kMaxFrames;

    const FormatRecord& format = file.format;
    int32_t sourceFrames = framesAtRate(format.samplesPerSec, hostRate, frames, DeckBuffers::kMaxFrames);
    // Frames wider than the file's samples (a large block align) must still fit the
    // byte buffer, whose contents are decoded frame by frame.
    const int32_t fitting = DeckBuffers::kByteBufferSize / format.blockAlign;
    if (sourceFrames > fitting)
        sourceFrames = fitting;
    if (sourceFrames <= 0)
        return true;

    if (!readLooped(file, buffers.fileBytes, uint32_t(sourceFrames) * format.blockAlign))
        return readFailed(file);
    decodeSamples(buffers.fileBytes, buffers.decode, sourceFrames, format, false);
    for (int ch = 0; ch < format.channels; ++ch) {
        // The converter writes nothing for extreme ratios and may stop a sample short;
        // what it leaves must be silence, not an earlier block.
        std::memset(buffers.converted[ch], 0, sizeof(float) * size_t(frames));
        convertRate(buffers.decode[ch], buffers.converted[ch], frames, sourceFrames, file.converters[ch]);
    }
    mixChannels(buffers.converted, format.channels, channels, channelCount > 2 ? 2 : channelCount, frames, gain);
    return true;
}
