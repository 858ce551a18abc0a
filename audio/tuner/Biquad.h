#pragma once
#include <cmath>

// One second-order section (direct form I, double precision), designed as a
// Butterworth-style low pass or high pass with the given Q at a cut-off in Hz.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;

    void setLowPass(double cutoff, double rate, double q) { design(cutoff, rate, q, false); }
    void setHighPass(double cutoff, double rate, double q) { design(cutoff, rate, q, true); }
    void reset() { x1 = x2 = y1 = y2 = 0.0; }

    double run(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }

private:
    void design(double cutoff, double rate, double q, bool highPass) {
        const double w = 2.0 * 3.14159265358979323846 * cutoff / rate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double c = std::cos(w);
        const double a0 = 1.0 + alpha;
        if (highPass) {
            b0 = (1.0 + c) / 2.0 / a0;
            b1 = -(1.0 + c) / a0;
        } else {
            b0 = (1.0 - c) / 2.0 / a0;
            b1 = (1.0 - c) / a0;
        }
        b2 = b0;
        a1 = -2.0 * c / a0;
        a2 = (1.0 - alpha) / a0;
    }
};

// The two sections of a fourth-order Butterworth filter.
constexpr double kButterworthQ1 = 0.54119610014619701;
constexpr double kButterworthQ2 = 1.3065629648763766;
