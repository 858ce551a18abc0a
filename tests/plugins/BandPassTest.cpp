// The band-pass design shared by Filtrace and Overdrive: the filter as run
// sample by sample matches the analytic biquad response, and its peak gain at
// the centre is Q.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "BandPass.h"
#include "OverdriveEffect.h"
#include "PluginTestSupport.h"

namespace {

using plugintest::sineAmplitude;
using plugintest::toDb;

// Designed the way both effects do it, in single precision.
BandPassCoefficients design(double centre, double q, double sampleRate) {
    const float w = 6.283185307f * float(centre) / float(sampleRate);
    const float alpha = std::sin(w) * 0.5f / float(q);
    return bandPassFromAlpha(alpha, std::cos(w), float(q));
}

// |b0 (1 - z^-2) / (1 + a1 z^-1 + a2 z^-2)| on the unit circle.
double analyticGain(const BandPassCoefficients& c, double omega) {
    const std::complex<double> z1 = std::polar(1.0, -omega);
    const std::complex<double> z2 = z1 * z1;
    return std::abs(double(c.b0) * (1.0 - z2) / (1.0 + double(c.a1) * z1 + double(c.a2) * z2));
}

// Runs a unit sine through the filter and measures the settled amplitude.
double measuredGain(const BandPassCoefficients& c, double omega, double q) {
    // The ring-up takes about Q / (pi f) seconds; wait ten times that.
    const size_t settle = size_t(10.0 * q / (0.5 * omega)) + 256;
    const size_t measure = 8192;
    std::vector<float> x = plugintest::sine(settle + measure, omega);
    std::vector<float> y(x.size());
    float state[4] = {};
    for (size_t n = 0; n < x.size(); ++n)
        y[n] = bandPassStep(c, state, x[n]);
    return sineAmplitude(y, omega, settle, measure);
}

struct Design {
    double centre;
    double q;
};

// Overdrive's five bands (Q 1) and Filtrace's sweep range (lowest, default,
// highest centres, Q from 1 to 12).
const Design kDesigns[] = {{120, 1},     {200, 1},    {500, 1},     {1000, 1},  {2000, 1},
                           {70.7, 1},    {70.7, 12},  {560, 5.4},   {1008, 5.4}, {2000, 12},
                           {5657, 12},   {5657, 1},   {300, 2.5}};

TEST(BandPass, SineAtTheCentreComesOutWithGainQ) {
    for (double rate : {44100.0, 48000.0}) {
        for (const Design& d : kDesigns) {
            const BandPassCoefficients c = design(d.centre, d.q, rate);
            const double omega = 2.0 * plugintest::kPi * d.centre / rate;
            EXPECT_NEAR(toDb(d.q), toDb(analyticGain(c, omega)), 0.1) << d.centre << " Hz, Q " << d.q << " at " << rate;
            EXPECT_NEAR(toDb(d.q), toDb(measuredGain(c, omega, d.q)), 0.1)
                << d.centre << " Hz, Q " << d.q << " at " << rate;
        }
    }
}

TEST(BandPass, RunningFilterFollowsTheAnalyticResponseAcrossTheBand) {
    for (double rate : {44100.0, 48000.0}) {
        for (const Design& d : kDesigns) {
            const BandPassCoefficients c = design(d.centre, d.q, rate);
            for (double ratio : {0.25, 0.5, 0.9, 1.1, 2.0, 4.0}) {
                const double f = d.centre * ratio;
                if (f >= 0.45 * rate)
                    continue;
                const double omega = 2.0 * plugintest::kPi * f / rate;
                const double analytic = analyticGain(c, omega);
                EXPECT_NEAR(toDb(analytic), toDb(measuredGain(c, omega, d.q)), 0.05)
                    << f << " Hz around " << d.centre << " Hz, Q " << d.q << " at " << rate;
                // A band-pass: every frequency off the centre is below the peak.
                EXPECT_LT(analytic, d.q * (ratio == 1.0 ? 1.001 : 0.999));
            }
        }
    }
}

TEST(BandPass, OverdriveBandsPeakAtTheirCentresWithUnitGain) {
    OverdriveEffect effect(nullptr);
    for (double rate : {44100.0, 48000.0}) {
        if (rate != 44100.0)
            effect.setSampleRate(float(rate));  // 44100 Hz is what the constructor tuned for
        for (int band = 0; band < OverdriveEffect::kNumBands; ++band) {
            const double omega = 2.0 * plugintest::kPi * OverdriveEffect::kBandFrequencies[band] / rate;
            const BandPassCoefficients& c = effect.bandCoefficients(band);
            EXPECT_NEAR(0.0, toDb(analyticGain(c, omega)), 0.1) << band << " at " << rate;
            EXPECT_NEAR(0.0, toDb(measuredGain(c, omega, 1.0)), 0.1) << band << " at " << rate;
        }
    }
}

TEST(BandPass, StoredStateIsFlushedButTheOutputIsNot) {
    const BandPassCoefficients c = design(1000, 1, 44100);
    float state[4] = {};
    const float tiny = 1e-20f;
    const float y = bandPassStep(c, state, tiny);
    EXPECT_EQ(c.b0 * tiny, y);
    EXPECT_EQ(0.0f, state[0]);
    EXPECT_EQ(0.0f, state[2]);
    bandPassStep(c, state, 0.5f);
    EXPECT_NEAR(0.5f, state[0], 1e-7f);
    EXPECT_EQ(0.0f, state[1]);
}

}  // namespace
