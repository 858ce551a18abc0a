#pragma once
#include <cmath>
#include <cstddef>

// Measures a converted tone against the ideal sine at the output rate: the sine of
// the expected frequency that fits the samples best (least squares over amplitude,
// phase and offset). Whatever it leaves is noise and distortion, images and aliases.
struct SineMeasure {
    double amplitude = 0.0;
    double sinadDb = 0.0;
    double frequency = 0.0;  // from the phase drift between the two halves

    static constexpr double kPi = 3.14159265358979323846;

    SineMeasure(const float* x, size_t n, double frequencyHz, double rate) {
        const Fit whole = fit(x, n, frequencyHz, rate, 0);
        amplitude = std::hypot(whole.c, whole.s);
        double signal = 0.0, residual = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const double w = 2.0 * kPi * frequencyHz * double(i) / rate;
            const double ideal = whole.c * std::cos(w) + whole.s * std::sin(w) + whole.dc;
            signal += ideal * ideal;
            residual += (x[i] - ideal) * (x[i] - ideal);
        }
        sinadDb = 10.0 * std::log10(signal / (residual > 1e-300 ? residual : 1e-300));
        // Both halves measured against the same time origin: a sine off the expected
        // frequency turns by the difference between them.
        const size_t half = n / 2;
        const Fit first = fit(x, half, frequencyHz, rate, 0);
        const Fit second = fit(x + half, half, frequencyHz, rate, half);
        double turn = std::atan2(second.s, second.c) - std::atan2(first.s, first.c);
        turn = std::remainder(turn, 2.0 * kPi);
        frequency = frequencyHz - turn / (2.0 * kPi * double(half) / rate);
    }

private:
    struct Fit {
        double c, s, dc;
    };

    // Least squares of x against cos, sin and 1 at samples offset.. of the rate.
    static Fit fit(const float* x, size_t n, double f, double rate, size_t offset) {
        double m[3][4] = {};
        for (size_t i = 0; i < n; ++i) {
            const double w = 2.0 * kPi * f * double(i + offset) / rate;
            const double b[3] = {std::cos(w), std::sin(w), 1.0};
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    m[r][c] += b[r] * b[c];
                m[r][3] += b[r] * x[i];
            }
        }
        for (int p = 0; p < 3; ++p)  // Gauss-Jordan; the matrix is positive definite
            for (int r = 0; r < 3; ++r) {
                if (r == p)
                    continue;
                const double k = m[r][p] / m[p][p];
                for (int c = 0; c < 4; ++c)
                    m[r][c] -= k * m[p][c];
            }
        return Fit{m[0][3] / m[0][0], m[1][3] / m[1][1], m[2][3] / m[2][2]};
    }
};
