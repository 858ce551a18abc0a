#pragma once
#include <cstddef>

#include "Biquad.h"
#include "Fft.h"

// One look at the latest stretch of the input.
struct PitchEstimate {
    bool pitched = false;    // a periodic tone in the range was heard
    double frequency = 0.0;  // its fundamental in Hz (when pitched)
    double clarity = 0.0;    // how periodic the stretch is, 0 (noise) to 1 (a pure tone)
    double level = 0.0;      // RMS of the stretch, full scale 1
};

// Finds the fundamental of a single note from A0 (27.5 Hz) to 4.2 kHz, strong
// harmonics and a weak or missing fundamental included. The input is low-passed and
// decimated to about 20 kHz into a history; an analysis finds the period by the
// normalised square difference of the last 93 ms (the first of its peaks that comes
// close to the highest, so that neither an octave below nor a strong second harmonic
// wins) and then measures it again over as many whole periods as fit in the last
// 100 ms (220 ms below 80 Hz), on a copy low-passed just above the fourth harmonic,
// so that the error of the interpolated lag is spread over many periods.
// All memory is taken at construction; feed and analyse allocate nothing. One thread
// at a time.
class PitchDetector {
public:
    static constexpr double kLowestHz = 26.7;   // A0 less half a semitone
    static constexpr double kHighestHz = 4300.0;

    explicit PitchDetector(double sampleRate);
    ~PitchDetector();
    PitchDetector(const PitchDetector&) = delete;
    PitchDetector& operator=(const PitchDetector&) = delete;

    bool ok() const { return ok_; }
    double analysisRate() const { return rate_; }
    // Mono samples at the input rate.
    void feed(const float* samples, size_t count);
    // Input samples fed since the last analyse.
    size_t fedSinceAnalysis() const { return fedSinceAnalysis_; }
    PitchEstimate analyse();

private:
    static constexpr size_t kWindow = 2048;       // the first look, decimated samples
    static constexpr size_t kFftSize = 2 * kWindow;
    static constexpr size_t kHistory = 8192;      // power of two

    void copyLatest(double* out, size_t count) const;
    bool findPeriod(double* period, double* clarity);
    double refinePeriod(double period);
    // out: kRefineLags values (7: five lags searched and a neighbour each side).
    void nsdfAround(const double* y, size_t count, long first, double* out);

    bool ok_ = false;
    int decimation_ = 1;
    double rate_ = 0.0;
    int phase_ = 0;  // input samples since the last kept one
    Biquad highPass_, lowPass1_, lowPass2_;
    float* history_ = nullptr;
    size_t written_ = 0;  // decimated samples ever written
    size_t fedSinceAnalysis_ = 0;
    RealFft fft_;
    double* window_ = nullptr;
    double* padded_ = nullptr;  // the window, zero-padded; then its autocorrelation
    double* re_ = nullptr;      // the spectrum's bins
    double* im_ = nullptr;
    double* nsdf_ = nullptr;
    double* span_ = nullptr;   // the refinement's low-passed copy
    double* weight_ = nullptr;  // the refinement's window over the pairs it sums
    long minLag_ = 2, maxLag_ = 2;
};
