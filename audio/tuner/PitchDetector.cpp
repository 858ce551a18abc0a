#include "PitchDetector.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Below this RMS (-60 dB of full scale) nothing is analysed: silence shows no note.
const double kSilence = 0.001;
// A peak of the normalised difference this close to the highest one is a period;
// the first such peak is the fundamental's. A single note's peaks before its period
// (at its fraction, a strong second harmonic's) stay far under this; two notes at once
// give the stronger one's period a peak about as high as their common period's, an
// octave or two below both, which must not win. An earlier peak that comes only
// within kAmbiguousShare leaves no single note to show.
const double kPeakShare = 0.7;
const double kAmbiguousShare = 0.55;
// Below this the stretch is not periodic enough to be a note (noise, two notes).
const double kMinClarity = 0.8;
// The refinement measures over a stretch this long: short enough to follow a new note
// within 150 ms (300 ms below 80 Hz), long enough to span many periods.
const double kSpanSeconds = 0.1;
const double kLowSpanSeconds = 0.22;
const double kLowNoteHz = 80.0;
// The lags of one refinement step: five searched and a neighbour each side.
const int kRefineLags = 7;
// Samples run through the refinement's low pass before the stretch it measures.
const size_t kSettleSamples = 256;

// Where the peak of a parabola through three equally spaced values lies, -0.5..0.5.
double parabolicOffset(double before, double at, double after) {
    const double curvature = before - 2.0 * at + after;
    if (curvature >= 0.0)
        return 0.0;
    return std::max(-0.5, std::min(0.5, 0.5 * (before - after) / curvature));
}

}  // namespace

PitchDetector::PitchDetector(double sampleRate)
    : fft_(kFftSize) {
    if (!(sampleRate >= 8000.0 && sampleRate <= 768000.0) || !fft_.ok())
        return;
    decimation_ = std::max(1, int(sampleRate / 20000.0));
    rate_ = sampleRate / decimation_;
    highPass_.setHighPass(15.0, sampleRate, 0.7071);
    const double cutoff = std::min(5000.0, 0.4 * rate_);
    lowPass1_.setLowPass(cutoff, sampleRate, kButterworthQ1);
    lowPass2_.setLowPass(cutoff, sampleRate, kButterworthQ2);
    minLag_ = long(std::floor(rate_ / kHighestHz));
    maxLag_ = long(std::ceil(rate_ / kLowestHz)) + 1;
    if (minLag_ < 2 || size_t(maxLag_) + 2 >= kWindow)
        return;
    history_ = new (std::nothrow) float[kHistory]();
    window_ = new (std::nothrow) double[kWindow];
    padded_ = new (std::nothrow) double[kFftSize];
    re_ = new (std::nothrow) double[kFftSize / 2 + 1];
    im_ = new (std::nothrow) double[kFftSize / 2 + 1];
    nsdf_ = new (std::nothrow) double[kWindow];
    span_ = new (std::nothrow) double[kHistory];
    weight_ = new (std::nothrow) double[kHistory];
    ok_ = history_ && window_ && padded_ && re_ && im_ && nsdf_ && span_ && weight_;
}

PitchDetector::~PitchDetector() {
    delete[] history_;
    delete[] window_;
    delete[] padded_;
    delete[] weight_;
    delete[] re_;
    delete[] im_;
    delete[] nsdf_;
    delete[] span_;
}

void PitchDetector::feed(const float* samples, size_t count) {
    if (!ok_ || !samples)
        return;
    for (size_t n = 0; n < count; ++n) {
        double x = double(samples[n]);
        if (!std::isfinite(x))
            x = 0.0;
        x = lowPass2_.run(lowPass1_.run(highPass_.run(x)));
        if (++phase_ >= decimation_) {
            phase_ = 0;
            history_[written_ & (kHistory - 1)] = float(x);
            ++written_;
        }
    }
    fedSinceAnalysis_ += count;
}

void PitchDetector::copyLatest(double* out, size_t count) const {
    const size_t have = std::min(written_, kHistory);
    const size_t missing = count > have ? count - have : 0;
    for (size_t n = 0; n < missing; ++n)
        out[n] = 0.0;
    for (size_t n = missing; n < count; ++n)
        out[n] = history_[(written_ - count + n) & (kHistory - 1)];
}

PitchEstimate PitchDetector::analyse() {
    PitchEstimate estimate;
    fedSinceAnalysis_ = 0;
    if (!ok_)
        return estimate;
    copyLatest(window_, kWindow);
    double energy = 0.0;
    for (size_t n = 0; n < kWindow; ++n)
        energy += window_[n] * window_[n];
    estimate.level = std::sqrt(energy / double(kWindow));
    if (estimate.level < kSilence)
        return estimate;
    double period = 0.0;
    if (!findPeriod(&period, &estimate.clarity) || estimate.clarity < kMinClarity)
        return estimate;
    period = refinePeriod(period);
    const double frequency = rate_ / period;
    if (!(frequency >= kLowestHz && frequency <= kHighestHz))
        return estimate;
    estimate.pitched = true;
    estimate.frequency = frequency;
    return estimate;
}

// The normalised square difference of the window at every lag, from its
// autocorrelation (through the FFT, zero-padded so that nothing wraps) and its
// energy in the overlapping parts; then the first maximum close to the highest.
bool PitchDetector::findPeriod(double* period, double* clarity) {
    for (size_t n = 0; n < kFftSize; ++n)
        padded_[n] = n < kWindow ? window_[n] : 0.0;
    fft_.forward(padded_, re_, im_);
    for (size_t k = 0; k <= kFftSize / 2; ++k) {
        re_[k] = re_[k] * re_[k] + im_[k] * im_[k];
        im_[k] = 0.0;
    }
    fft_.inverse(re_, im_, padded_);
    double overlap = 0.0;
    for (size_t n = 0; n < kWindow; ++n)
        overlap += 2.0 * window_[n] * window_[n];
    // Past the longest period, so that the lobe of a period near it closes.
    const long last = std::min(maxLag_ + maxLag_ / 4, long(kWindow) - 1);
    for (long lag = 0; lag <= last; ++lag) {
        if (lag > 0)
            overlap -= window_[lag - 1] * window_[lag - 1] + window_[kWindow - lag] * window_[kWindow - lag];
        const double correlation = padded_[lag] / double(kFftSize);
        nsdf_[lag] = overlap > 1e-12 ? 2.0 * correlation / overlap : 0.0;
    }

    // Every local maximum after the lobe around lag 0 (not only the highest of each
    // positive lobe: two notes at once can keep the curve positive from the stronger
    // one's period to their common one, which is no note played).
    long keys[256];
    int keyCount = 0;
    double highest = 0.0;
    long lag = 1;
    while (lag <= last && nsdf_[lag] > 0.0)
        ++lag;
    for (++lag; lag < last && keyCount < 256; ++lag) {
        if (nsdf_[lag] <= 0.0 || nsdf_[lag] < nsdf_[lag - 1] || nsdf_[lag] < nsdf_[lag + 1])
            continue;
        if (lag >= minLag_ && lag <= maxLag_) {
            keys[keyCount++] = lag;
            highest = std::max(highest, nsdf_[lag]);
        }
    }
    for (int k = 0; k < keyCount; ++k) {
        const long at = keys[k];
        if (nsdf_[at] >= kAmbiguousShare * highest && nsdf_[at] < kPeakShare * highest)
            return false;
        if (nsdf_[at] < kPeakShare * highest)
            continue;
        *period = double(at) + parabolicOffset(nsdf_[at - 1], nsdf_[at], nsdf_[at + 1]);
        *clarity = nsdf_[at];
        return true;
    }
    return false;
}

// The normalised square difference at the kRefineLags lags from first, in one pass
// over the same pairs of samples, weighted by a Hann window: a stretch that does not
// hold a whole number of periods would otherwise tilt the peak as the note's
// harmonics decay at their own rates.
void PitchDetector::nsdfAround(const double* y, size_t count, long first, double* out) {
    for (int j = 0; j < kRefineLags; ++j)
        out[j] = 0.0;
    const long last = first + kRefineLags - 1;
    if (first <= 0 || size_t(last) + 2 >= count)
        return;
    const size_t pairs = count - size_t(last);
    const double step = 2.0 * 3.14159265358979323846 / double(pairs + 1);
    const double stepCos = std::cos(step), stepSin = std::sin(step);
    double c = stepCos, s = stepSin;  // the window's cosine by rotation
    for (size_t n = 0; n < pairs; ++n) {
        weight_[n] = 1.0 - c;
        const double next = c * stepCos - s * stepSin;
        s = s * stepCos + c * stepSin;
        c = next;
    }
    double correlation[kRefineLags] = {}, energy[kRefineLags] = {};
    double own = 0.0;
    for (size_t n = 0; n < pairs; ++n) {
        const double w = weight_[n];
        const double a = w * y[n];
        own += a * y[n];
        const double* later = y + n + size_t(first);
        for (int j = 0; j < kRefineLags; ++j) {  // a fixed count: unrolled by the compiler
            correlation[j] += a * later[j];
            energy[j] += w * later[j] * later[j];
        }
    }
    for (int j = 0; j < kRefineLags; ++j) {
        const double e = own + energy[j];
        out[j] = e > 1e-12 ? 2.0 * correlation[j] / e : 0.0;
    }
}

// Measures the period again at lags of whole multiples of it, growing eightfold while
// half the stretch still holds the lag: the peak is found to a fraction of a sample at
// every step, and that fraction is divided by the number of periods spanned.
double PitchDetector::refinePeriod(double period) {
    const double frequency = rate_ / period;
    const size_t wanted = size_t((frequency >= kLowNoteHz ? kSpanSeconds : kLowSpanSeconds) * rate_);
    const size_t span = std::min(wanted, std::min(written_, kHistory) > kSettleSamples
                                             ? std::min(written_, kHistory) - kSettleSamples
                                             : size_t(0));
    if (span < size_t(3.0 * period) + 4)
        return period;
    // Low-passed just above the fourth harmonic: the peak near each multiple of the
    // period is then broad and smooth, where a parabola finds it without bias.
    Biquad a, b;
    const double cutoff = std::min(4.5 * frequency, 0.4 * rate_);
    a.setLowPass(cutoff, rate_, kButterworthQ1);
    b.setLowPass(cutoff, rate_, kButterworthQ2);
    const size_t total = span + kSettleSamples;
    copyLatest(span_, total);
    for (size_t n = 0; n < total; ++n)
        span_[n] = b.run(a.run(span_[n]));
    const double* y = span_ + kSettleSamples;

    double refined = period;
    for (long multiple = 1;;) {
        // Lags centre - 2 .. centre + 2 searched, with a neighbour each side for the
        // parabola.
        const long centre = std::lround(refined * double(multiple));
        double value[kRefineLags];
        nsdfAround(y, span, centre - 3, value);
        int best = 1;
        for (int j = 2; j <= 5; ++j)
            if (value[j] > value[best])
                best = j;
        const double offset = parabolicOffset(value[best - 1], value[best], value[best + 1]);
        const double measured = (double(centre - 3 + best) + offset) / double(multiple);
        // A multiple that lands on another peak (a note changing under the stretch)
        // keeps the last good measurement.
        if (std::fabs(measured - refined) > 0.25 * refined / double(multiple) + 0.5)
            break;
        refined = measured;
        const long next = std::min(multiple * 8, long(double(span) / 2.0 / refined));
        if (next <= multiple)
            break;
        multiple = next;
    }
    return refined;
}
