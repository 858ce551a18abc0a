#include "SwitchPoint.h"

#include <cmath>
#include <cstring>

namespace {

bool holdsAny(const SwitchSet& set) {
    for (EffectSlot* slot : set.slots)
        if (slot)
            return true;
    return false;
}

}  // namespace

bool SwitchPoint::post(const SwitchSet* set, double tailSeconds, uint32_t& installedAs) {
    if (!set || pending_.load(std::memory_order_acquire))
        return false;
    if (!(tailSeconds >= 0.0))
        tailSeconds = 0.0;
    if (tailSeconds > 10.0)
        tailSeconds = 10.0;
    pendingTailMs_.store(uint32_t(tailSeconds * 1000.0 + 0.5), std::memory_order_relaxed);
    // Only one switch waits at a time, so the count cannot move before this one.
    installedAs = installed_.load(std::memory_order_acquire) + 1;
    pending_.store(set, std::memory_order_release);
    return true;
}

bool SwitchPoint::takeRetired(SwitchSet& set) {
    const uint32_t tail = retiredTail_.load(std::memory_order_relaxed);
    if (tail == retiredHead_.load(std::memory_order_acquire))
        return false;
    set = retired_[tail % kRetiredCapacity];
    retiredTail_.store(tail + 1, std::memory_order_release);
    return true;
}

bool SwitchPoint::retire(const SwitchSet& set) {
    const uint32_t head = retiredHead_.load(std::memory_order_relaxed);
    if (head - retiredTail_.load(std::memory_order_acquire) >= kRetiredCapacity)
        return false;
    retired_[head % kRetiredCapacity] = set;
    retiredHead_.store(head + 1, std::memory_order_release);
    return true;
}

void SwitchPoint::beforeBlock(LiveSettings& settings, int32_t frames, double rate) {
    const SwitchSet* incoming = pending_.load(std::memory_order_acquire);
    // Room is kept for both sets this switch may hand back (a tail cut short and the
    // one it makes); otherwise the switch waits for the UI thread to take them.
    const uint32_t used = retiredHead_.load(std::memory_order_relaxed) - retiredTail_.load(std::memory_order_acquire);
    if (incoming && used + 2 <= kRetiredCapacity) {
        pending_.store(nullptr, std::memory_order_relaxed);
        if (cutActive_)  // a third switch within one block: the oldest goes at once
            retire(cut_);
        cutActive_ = tailActive_;
        if (tailActive_)
            cut_ = tail_;
        for (int p = 0; p < kPositions; ++p) {
            tail_.slots[p] = settings.slots[p];
            tail_.bypass[p] = settings.bypass[p];
            settings.slots[p] = incoming->slots[p];
            settings.bypass[p] = incoming->bypass[p];
        }
        const double fs = rate > 0.0 ? rate : 44100.0;
        crossfadeLength_ = int32_t(std::lround(kCrossfadeSeconds * fs));
        if (crossfadeLength_ < 1)
            crossfadeLength_ = 1;
        crossfadeLeft_ = crossfadeLength_;
        uint64_t tail = uint64_t(double(pendingTailMs_.load(std::memory_order_relaxed)) * fs / 1000.0);
        if (tail < uint64_t(crossfadeLength_))
            tail = uint64_t(crossfadeLength_);
        tailLeft_ = tail;
        const uint64_t fade = uint64_t(kTailFadeSeconds * fs);
        tailFade_ = fade < tail ? (fade > 0 ? fade : 1) : tail;
        tailActive_ = true;
        ringing_.store(holdsAny(tail_), std::memory_order_release);
        switchFrame_.store(frames_, std::memory_order_release);
        installed_.fetch_add(1, std::memory_order_acq_rel);
    }
    frames_ += uint64_t(frames > 0 ? frames : 0);
}

void SwitchPoint::mixTail(const float* const* dry, float* const* channels, int32_t channelCount, int32_t frames) {
    if (channelCount > 2)
        channelCount = 2;
    if (frames > 1024)
        frames = 1024;
    float* scratch[2] = {scratch_[0], scratch_[1]};

    // A tail cut short by a newer switch: on silence, faded out over this sub-block.
    if (cutActive_) {
        if (effects_ && channelCount > 0) {
            for (int32_t ch = 0; ch < channelCount; ++ch)
                std::memset(scratch_[ch], 0, sizeof(float) * size_t(frames));
            for (int p = 0; p < kPositions; ++p)
                if (cut_.slots[p] && !cut_.bypass[p])
                    effects_->processSlot(cut_.slots[p], scratch, channelCount, frames);
            for (int32_t ch = 0; ch < channelCount; ++ch)
                for (int32_t i = 0; i < frames; ++i)
                    channels[ch][i] += scratch_[ch][i] * (1.0f - float(i + 1) / float(frames));
        }
        retire(cut_);
        cutActive_ = false;
    }
    if (!tailActive_)
        return;

    // The incoming chain fades in while the outgoing one still hears the live signal.
    const int32_t done = crossfadeLength_ - crossfadeLeft_;
    for (int32_t ch = 0; ch < channelCount; ++ch) {
        float* in = scratch_[ch];
        for (int32_t i = 0; i < frames; ++i) {
            const int32_t k = done + i + 1;
            if (k < crossfadeLength_) {
                const float g = float(k) / float(crossfadeLength_);
                in[i] = dry ? dry[ch][i] * (1.0f - g) : 0.0f;
                channels[ch][i] *= g;
            } else {
                in[i] = 0.0f;
            }
        }
    }
    if (effects_ && channelCount > 0)
        for (int p = 0; p < kPositions; ++p)
            if (tail_.slots[p] && !tail_.bypass[p])
                effects_->processSlot(tail_.slots[p], scratch, channelCount, frames);
    // Its last 50 ms fade to nothing, so its end is no step either.
    for (int32_t ch = 0; ch < channelCount; ++ch)
        for (int32_t i = 0; i < frames; ++i) {
            const uint64_t left = tailLeft_ > uint64_t(i) ? tailLeft_ - uint64_t(i) : 0;
            const float g = left >= tailFade_ ? 1.0f : float(left) / float(tailFade_);
            channels[ch][i] += scratch_[ch][i] * g;
        }

    crossfadeLeft_ = crossfadeLeft_ > frames ? crossfadeLeft_ - frames : 0;
    tailLeft_ = tailLeft_ > uint64_t(frames) ? tailLeft_ - uint64_t(frames) : 0;
    if (tailLeft_ == 0) {
        retire(tail_);
        tailActive_ = false;
        ringing_.store(false, std::memory_order_release);
    }
}
