#include "LiveChain.h"

#include <cmath>
#include <cstring>

#include "SampleFormat.h"

#if defined(__SSE2__) || defined(__x86_64__)
#include <emmintrin.h>
#define TALVENOR_HAVE_MXCSR 1
#endif

namespace {

// Flush-to-zero and denormals-are-zero for the duration of one driver buffer: a
// plug-in whose filters decay into denormals on a silent input would otherwise cost
// many times its normal load. The caller's mode is restored afterwards.
class DenormalsOff {
public:
#if TALVENOR_HAVE_MXCSR
    DenormalsOff() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero); }
    ~DenormalsOff() { _mm_setcsr(saved_); }

private:
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    unsigned saved_;
#endif
};

void scaleSamples(float* samples, int32_t count, float factor) {
    for (int32_t i = 0; i < count; ++i)
        samples[i] *= factor;
}

// From one gain to another across the samples (a constant gain when they are equal).
void rampSamples(float* samples, int32_t count, float from, float to) {
    if (from == to) {
        scaleSamples(samples, count, to);
        return;
    }
    const float step = (to - from) / float(count);
    for (int32_t i = 0; i < count; ++i)
        samples[i] *= from + step * float(i + 1);
}

}  // namespace

float gainFactor(float knob) { return float(std::pow(10.0, (knob * 80.0 - 60.0) * 0.05)); }


float peakOf(const float* samples, int32_t count) {
    // The largest |x|; NaN samples are passed over.
    int32_t i = 0;
    float m = 0.0f;
#if TALVENOR_HAVE_MXCSR
    // Four at a time: the compiler will not use maxps for this by itself.
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 m4 = _mm_setzero_ps();
    for (; i + 4 <= count; i += 4)
        m4 = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(samples + i), magnitude), m4);  // NaN keeps m4
    float lanes[4];
    _mm_storeu_ps(lanes, m4);
    for (float lane : lanes)
        m = lane > m ? lane : m;
#endif
    for (; i < count; ++i) {
        const float a = std::fabs(samples[i]);
        m = a > m ? a : m;
    }
    return m;
}

LiveChain::LiveChain(LiveSettings* settings) : settings_(settings ? settings : &defaults_) {
    for (int ch = 0; ch < 2; ++ch) {
        liveChannels_[ch] = live_[ch];
        outputChannels_[ch] = output_[ch];
        dryChannels_[ch] = dry_[ch];
        clearSamples(live_[ch], kMaxSubBlock);
        clearSamples(output_[ch], kMaxSubBlock);
    }
    for (Relaxed<float>& p : peaks_)
        p = 0.0f;
}

LiveChain::~LiveChain() = default;

bool LiveChain::prepareForStart(double sampleRate) {
    sampleRate_ = sampleRate;
    metronome_.resetMetronome();
    return gate_.prepare(sampleRate);
}

void LiveChain::processBlock(ChannelBuffer* inputs, ChannelBuffer* outputs, int32_t frames) {
    const DenormalsOff denormalsOff;
    // MIDI first: a change it makes is heard in this block, a switch it asks for
    // waits for the UI thread.
    if (midi_ && frames > 0)
        midi_->beforeBlock(frames, sampleRate_);
    if (switch_ && frames > 0)
        switch_->beforeBlock(*settings_, frames, sampleRate_);
    for (int32_t done = 0; done < frames;) {
        const int32_t n = frames - done < kMaxSubBlock ? frames - done : kMaxSubBlock;
        processSubBlock(inputs, outputs, n);
        done += n;
    }
}

void LiveChain::processSubBlock(ChannelBuffer* inputs, ChannelBuffer* outputs, int32_t n) {
    const double fs = sampleRate_;
    // Each effect position is told it comes next while what is before it runs, so that
    // a plug-in in its own process is awake by then: the first one now.
    auto nextActive = [&](int from) {
        for (int p = from; p < LiveSettings::kPositions; ++p)
            if (settings_->slots[p] && !settings_->bypass[p])
                return p;
        return int(LiveSettings::kPositions);
    };
    const int firstActive = effects_ ? nextActive(0) : int(LiveSettings::kPositions);
    if (firstActive < LiveSettings::kPositions)
        effects_->slotComing(settings_->slots[firstActive]);
    clearSamples(live_[0], n);
    clearSamples(live_[1], n);

    int32_t j = 0;
    for (; j < 2 && inputs[j].position; ++j) {
        ChannelBuffer& in = inputs[j];
        if (in.format.channels == 1)  // a driver channel; anything wider stays silent
            decodeSamples(in.position, &liveChannels_[j], n, in.format, in.bigEndian != 0);
        in.position += n * in.format.blockAlign;
    }

    const float inFactor = inGain_.get(settings_->ingain, gainFactor);
    const float outFactor = outGain_.get(settings_->outgain, gainFactor);

    if (settings_->centerAmp)
        dcFilter_.process(liveChannels_, j, n, fs);
    if (tuner_)
        tuner_->tapInput(liveChannels_, j, n, fs);
    gate_.process(liveChannels_, j, n,
                  NoiseGate::Settings{settings_->gateThresh, settings_->gateAttack, settings_->gateRelease}, fs);
    for (int32_t ch = 0; ch < j; ++ch)
        scaleSamples(live_[ch], n, inFactor);

    const float inputLeft = peakOf(live_[0], n);
    peaks_[0] = inputLeft;
    peaks_[1] = j == 2 ? peakOf(live_[1], n) : inputLeft;

    const bool keepDry = switch_ && switch_->wantsDry();
    if (keepDry)
        for (int32_t ch = 0; ch < j; ++ch)
            std::memcpy(dry_[ch], live_[ch], sizeof(float) * size_t(n));
    if (effects_) {
        int p = firstActive;
        while (p < LiveSettings::kPositions) {
            const int next = nextActive(p + 1);
            if (next < LiveSettings::kPositions)
                effects_->slotComing(settings_->slots[next]);
            effects_->processSlot(settings_->slots[p], liveChannels_, j, n);
            p = next;
        }
    }
    if (switch_)
        switch_->mixTail(keepDry ? dryChannels_ : nullptr, liveChannels_, j, n);

    // The take never holds the click; it holds the accompaniment unless the
    // recorder asks for the playing alone. Read the choice once per sub-block.
    const bool tapEarly = recorder_ && recorder_->tapsBeforeAccompaniment();
    const float outputMute = tuner_ && tuner_->mutesOutput() ? 0.0f : 1.0f;
    const float recordingMute = outputMute == 0.0f && tuner_->mutesRecording() ? 0.0f : 1.0f;
    // A muted take keeps its time: it records silence, ramped like the output.
    const bool recordingRamps = recordingMute != tunerRecordingGain_;
    const bool recordingSilent = !recordingRamps && recordingMute == 0.0f;
    auto record = [&] {
        if (!recordingRamps && !recordingSilent) {
            recorder_->recordBlock(liveChannels_, j, n, float(fs), outFactor);
            return;
        }
        for (int32_t ch = 0; ch < j; ++ch) {
            std::memcpy(output_[ch], live_[ch], sizeof(float) * size_t(n));
            rampSamples(output_[ch], n, tunerRecordingGain_, recordingMute);
        }
        recorder_->recordBlock(outputChannels_, j, n, float(fs), outFactor);
    };
    if (tapEarly)
        record();
    if (accompaniment_)
        accompaniment_->mixAccompaniment(liveChannels_, j, n, float(fs), settings_->accompanimentGain);
    if (recorder_ && !tapEarly)
        record();
    tunerRecordingGain_ = recordingMute;

    metronome_.mixClick(liveChannels_, n, fs, settings_->metronome != 0, settings_->tempo);

    int32_t k = 0;
    for (; k < 2 && outputs[k].position; ++k)
        clearSamples(output_[k], n);
    mixChannels(liveChannels_, j, outputChannels_, k, n, outFactor);
    if (outputMute != 1.0f || tunerOutputGain_ != 1.0f) {
        for (int32_t ch = 0; ch < k; ++ch)
            rampSamples(output_[ch], n, tunerOutputGain_, outputMute);
        tunerOutputGain_ = outputMute;
    }

    const float outputLeft = k > 0 ? peakOf(output_[0], n) : 0.0f;
    peaks_[2] = outputLeft;
    peaks_[3] = k == 2 ? peakOf(output_[1], n) : outputLeft;

    for (int32_t ch = 0; ch < k; ++ch) {
        ChannelBuffer& out = outputs[ch];
        if (out.format.channels == 1)
            encodeSamples(&outputChannels_[ch], out.position, n, out.format, out.bigEndian != 0);
        out.position += n * out.format.blockAlign;
    }
}
