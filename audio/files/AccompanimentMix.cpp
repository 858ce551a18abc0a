#include "AccompanimentMix.h"

#include <cmath>
#include <cstring>

#include "ErrorFlags.h"
#include "SampleFormat.h"

namespace {

bool readFailed(WaveFileState& file) {
    file.readError = true;
    raiseErrorFlag(kFlagAccompReadError);
    return false;
}

// Seams: when the stream is converted, the filter must not run from one stretch of
// the data straight into an unrelated one (the end of the data into its start, or
// the old position into a seek's target). The old stretch fades out over a few
// milliseconds and the new one fades in, so the filter's history passes through
// silence instead of a step. Equal rates are copied exactly, seams included.
constexpr int32_t kSeamsPerSecond = 200;  // 5 ms ramps
constexpr double kHalfPi = 1.57079632679489661923;

// The gain of frame k of a ramp of length frames rising from silence.
float rampGain(int32_t k, int32_t length) {
    const double s = std::sin(kHalfPi * (double(k) + 0.5) / double(length));
    return float(s * s);
}

int32_t seamFrames(const WaveFileState& file, uint32_t dataFrames) {
    int32_t frames = int32_t(file.format.samplesPerSec / kSeamsPerSecond);
    if (uint32_t(frames) > dataFrames / 2)
        frames = int32_t(dataFrames / 2);
    return frames;
}

// A pause's or a play's ramp at the host's rate: as long as a seam.
int32_t pauseFadeFrames(float hostRate) {
    const int32_t frames = int32_t(hostRate / float(kSeamsPerSecond));
    return frames > 0 ? frames : 1;
}

// Decides, before a block, how a pause or a play shapes it. Returns the frames of the
// block to mix: all of them, those of a pause's fade-out still to go, or none once
// the stream has stopped.
int32_t shapePauseAndPlay(WaveFileState& file, bool playing, int32_t frames, float hostRate, bool smooth) {
    SeamState& s = file.seam;
    const int32_t fade = pauseFadeFrames(hostRate);
    if (!playing) {
        if (!s.streaming)
            return 0;
        if (!s.pausing) {
            s.pausing = true;
            // From the level the stream has now, should a play's fade be under way.
            s.pauseFadeLeft = s.resumeFadeDone < s.resumeFadeFrames ? s.resumeFadeDone : fade;
            s.resumeFadeFrames = 0;
        }
        return frames < s.pauseFadeLeft ? frames : s.pauseFadeLeft;
    }
    if (s.pausing) {
        // Played again before the fade-out ended: back up from the level it reached.
        s.pausing = false;
        s.resumeFadeFrames = fade;
        s.resumeFadeDone = s.pauseFadeLeft;
    } else if (!s.streaming) {
        // Playing on from inside the data (after a pause) would step in; from the data's
        // start (a seek taken there included) it plays exactly as the file is. A
        // converted stream fades in at the reader's side already.
        const bool inside = file.readPosition != 0;
        s.resumeFadeFrames = inside && !smooth ? fade : 0;
        s.resumeFadeDone = 0;
    }
    return frames;
}

// Shapes the converted block with the pause's or play's ramp, if one is under way.
void applyPauseAndPlayGains(WaveFileState& file, float* const* converted, int channels, int32_t frames,
                            float hostRate) {
    SeamState& s = file.seam;
    const int32_t fade = pauseFadeFrames(hostRate);
    for (int32_t i = 0; i < frames; ++i) {
        float gain = 1.0f;
        if (s.pausing && s.pauseFadeLeft > 0)
            gain = rampGain(--s.pauseFadeLeft, fade);
        else if (s.resumeFadeDone < s.resumeFadeFrames)
            gain = rampGain(s.resumeFadeDone++, s.resumeFadeFrames);
        if (gain != 1.0f)
            for (int ch = 0; ch < channels; ++ch)
                converted[ch][i] *= gain;
    }
}

bool seekTo(WaveFileState& file, uint32_t target) {
    if (target >= file.dataBytes)
        target = 0;
    target -= target % file.format.blockAlign;
    const int64_t offset = int64_t(file.dataOffset) + target;
    if (offset > INT32_MAX || file.handle->seek(int32_t(offset), SeekFrom::Start) < 0)
        return false;
    file.readPosition = target;
    return true;
}

// Takes a pending seek. Without a seam to smooth it (equal rates, nothing playing
// before, a tiny file) it happens at once (fading in when converted); otherwise the
// old stretch fades out first.
bool takeSeekRequest(WaveFileState& file, bool smooth, int32_t seam) {
    // Clear the request before reading its target: a seek stored meanwhile stays
    // pending for the next block rather than being lost.
    if (!file.seekPending.exchange(false, std::memory_order_acq_rel))
        return true;
    const uint32_t target = file.seekTarget;
    SeamState& s = file.seam;
    if (!smooth || seam == 0 || !s.streaming) {
        s.jumpPending = false;
        s.fadeInDone = 0;
        return seekTo(file, target);
    }
    if (!s.jumpPending)
        s.fadeOutLeft = seam;
    s.jumpPending = true;
    s.jumpTarget = target;
    return true;
}

void applySeamGains(WaveFileState& file, float* const* samples, int32_t count, uint32_t firstFrame,
                    uint32_t dataFrames, int32_t seam) {
    SeamState& s = file.seam;
    for (int32_t i = 0; i < count; ++i) {
        float gain = 1.0f;
        if (s.fadeInDone < seam)
            gain *= rampGain(s.fadeInDone++, seam);
        const uint32_t fromEnd = dataFrames - 1 - (firstFrame + uint32_t(i));
        if (fromEnd < uint32_t(seam))
            gain *= rampGain(int32_t(fromEnd), seam);
        if (s.jumpPending && s.fadeOutLeft > 0)
            gain *= rampGain(--s.fadeOutLeft, seam);
        if (gain != 1.0f)
            for (int ch = 0; ch < file.format.channels; ++ch)
                samples[ch][i] *= gain;
    }
}

// Reads and decodes frames of the data into the decode buffers from their start,
// looping at the end of the data, jumping where a faded-out seek leads, and shaping
// the seams when the stream is converted. A read that returns fewer bytes than asked
// counts as a failure: it would leave stale bytes in the buffer.
bool gatherFrames(WaveFileState& file, DeckBuffers& buffers, int32_t frames, bool smooth) {
    RiffFile& handle = *file.handle;
    const uint16_t align = file.format.blockAlign;
    const uint32_t dataFrames = file.dataBytes / align;
    const int32_t seam = smooth ? seamFrames(file, dataFrames) : 0;
    SeamState& s = file.seam;
    int32_t filled = 0;
    while (filled < frames) {
        if (s.jumpPending && s.fadeOutLeft == 0) {
            s.jumpPending = false;
            s.fadeInDone = 0;
            if (!seekTo(file, s.jumpTarget))
                return false;
        }
        const uint32_t position = file.readPosition / align;
        int32_t n = frames - filled;
        if (uint32_t(n) > dataFrames - position)
            n = int32_t(dataFrames - position);
        if (s.jumpPending && n > s.fadeOutLeft)
            n = s.fadeOutLeft;
        uint8_t* to = buffers.fileBytes + size_t(filled) * align;
        const int32_t bytes = n * align;
        if (handle.read(to, bytes) != bytes)
            return false;
        file.readPosition = (position + uint32_t(n)) * align;
        float* at[2] = {buffers.decode[0] + filled, buffers.decode[1] + filled};
        decodeSamples(to, at, n, file.format, false);
        if (seam > 0)
            applySeamGains(file, at, n, position, dataFrames, seam);
        filled += n;
        if (position + uint32_t(n) >= dataFrames) {
            // The end of the data (faded out when converted): continue at its start, or
            // where a seek waits, and fade in again.
            const uint32_t target = s.jumpPending ? s.jumpTarget : 0u;
            s.jumpPending = false;
            s.fadeInDone = 0;
            if (!seekTo(file, target))
                return false;
        }
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
    RateConverter& converter = file.converter;
    if (!playing && !file.seam.streaming)
        return true;
    if (converter.select(hostRate))
        file.seam.fadeInDone = 0;  // the history starts silent: the stream fades in from it
    if (!converter.converts()) {
        file.seam.streaming = false;
        file.seam.pausing = false;
        return true;
    }
    const bool smooth = !converter.copies();
    frames = shapePauseAndPlay(file, playing, frames, hostRate, smooth);
    if (!playing && frames == 0) {
        // The pause's fade has ended: the stream stops here.
        file.seam.streaming = false;
        file.seam.pausing = false;
        return true;
    }
    if (smooth && !file.seam.streaming) {
        // Playing again after silence: the filter starts from silence too, and the
        // stream fades in rather than stepping up to its level.
        converter.restart();
        file.seam.fadeInDone = 0;
    }
    if (!takeSeekRequest(file, smooth, seamFrames(file, file.dataBytes / file.format.blockAlign)))
        return readFailed(file);
    if (frames <= 0)
        return true;
    if (frames > DeckBuffers::kMaxFrames)
        frames = DeckBuffers::kMaxFrames;

    // Frames wider than the file's samples (a large block align) must still fit the
    // byte buffer, whose contents are decoded frame by frame.
    int32_t fitting = DeckBuffers::kByteBufferSize / file.format.blockAlign;
    if (fitting > DeckBuffers::kMaxFrames)
        fitting = DeckBuffers::kMaxFrames;
    const int channelsInFile = file.format.channels;
    // The converter asks for exactly the input its outputs reach, so the fraction of
    // a frame a block does not use is used by the next one. A block that needs more
    // than the buffers hold is converted in parts.
    int32_t done = 0;
    while (done < frames) {
        int32_t part = frames - done;
        while (part > 1 && rateInputFor(converter.channel(0), part) > fitting)
            part /= 2;
        const int32_t sourceFrames = rateInputFor(converter.channel(0), part);
        if (sourceFrames > fitting)
            break;  // not even one output sample fits: the rest of the block stays silent
        if (!gatherFrames(file, buffers, sourceFrames, smooth))
            return readFailed(file);
        for (int ch = 0; ch < channelsInFile; ++ch)
            convertRate(buffers.decode[ch], buffers.converted[ch] + done, part, sourceFrames, converter.channel(ch));
        done += part;
    }
    for (int ch = 0; ch < channelsInFile; ++ch)
        std::memset(buffers.converted[ch] + done, 0, sizeof(float) * size_t(frames - done));
    applyPauseAndPlayGains(file, buffers.converted, channelsInFile, frames, hostRate);
    mixChannels(buffers.converted, channelsInFile, channels, channelCount > 2 ? 2 : channelCount, frames, gain);
    // A pause whose fade has ended stops the stream; the next play starts it afresh.
    const bool paused = file.seam.pausing && file.seam.pauseFadeLeft == 0;
    file.seam.streaming = !paused;
    if (paused)
        file.seam.pausing = false;
    return true;
}
