#include "NoiseGate.h"

#include <cmath>
#include <new>

namespace {

// Guards against absurd rates a driver might report: the window is at most ~20 s.
const int32_t kMaxWindow = 1 << 20;

int32_t truncateToInt(double v, int32_t lo, int32_t hi) {
    if (!(v >= lo))
        return lo;
    if (v >= hi)
        return hi;
    return int32_t(v);
}

struct Ramp {
    float threshold;
    int32_t opening;  // Na
    int32_t closing;  // Nr
};

inline float gateSample(NoiseGate::Channel& c, float x, const Ramp& r) {
    if (c.position >= c.length)
        c.position = 0;
    const float a = std::fabs(x);
    c.sum = c.sum - c.window[c.position] + a;
    c.window[c.position] = a;
    const float level = c.sum / float(c.length);
    ++c.position;
    if (level < r.threshold) {
        if (c.ramp < 0)
            c.ramp = 0;
        if (c.ramp >= r.closing)
            return 0.0f;
        x *= 1.0f - float(c.ramp) / float(r.closing);
        ++c.ramp;
        return x;
    }
    if (c.ramp > 0)
        c.ramp = 0;
    if (c.ramp > -r.opening) {
        x *= float(-c.ramp) / float(r.opening);
        --c.ramp;
    }
    return x;
}

}  // namespace

NoiseGate::~NoiseGate() {
    for (Channel& c : channels_)
        delete[] c.window;
}

bool NoiseGate::prepare(double sampleRate) {
    const int32_t length = truncateToInt(sampleRate * 0.05, 1, kMaxWindow);
    bool ok = true;
    for (Channel& c : channels_) {
        if (c.length != length || !c.window) {
            delete[] c.window;
            c.window = new (std::nothrow) float[length];
            c.length = c.window ? length : 0;
            ok = ok && c.window;
        }
        for (int32_t i = 0; i < c.length; ++i)
            c.window[i] = 0.0f;
        c.position = 0;
        c.sum = 0.0f;
        c.ramp = 0;
    }
    return ok;
}

float NoiseGate::thresholdFor(float knob) { return float(std::pow(10.0, (-60.0 * (1.0 - 0.9 * knob)) * 0.05)); }

void NoiseGate::process(float* const* channels, int32_t channelCount, int32_t frames, const Settings& s,
                        double sampleRate) {
    if (s.thresh <= 0.00001f || channelCount <= 0)
        return;
    if (!channels_[0].window || !channels_[1].window)
        return;
    double openMs = s.attack * 495.0 + 5.0;
    double closeMs = s.release * 495.0 + 5.0;
    if (openMs < 1.0)
        openMs = 1.0;
    if (closeMs < 1.0)
        closeMs = 1.0;
    Ramp r;
    r.threshold = threshold_.get(s.thresh, thresholdFor);
    r.opening = truncateToInt(openMs * sampleRate * 0.001, 0, INT32_MAX);
    r.closing = truncateToInt(closeMs * sampleRate * 0.001, 0, INT32_MAX);

    if (channelCount == 1) {
        float* x = channels[0];
        for (int32_t i = 0; i < frames; ++i)
            x[i] = gateSample(channels_[0], x[i], r);
        return;
    }
    // One loop over both channels: their level sums are independent chains.
    Channel c0 = channels_[0];
    Channel c1 = channels_[1];
    float* left = channels[0];
    float* right = channels[1];
    for (int32_t i = 0; i < frames; ++i) {
        left[i] = gateSample(c0, left[i], r);
        right[i] = gateSample(c1, right[i], r);
    }
    channels_[0] = c0;
    channels_[1] = c1;
}
