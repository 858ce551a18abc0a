#include "Fft.h"

#include <cmath>
#include <new>
#include <utility>

Fft::Fft(size_t size) {
    if (size < 2 || size > 65536 || (size & (size - 1)) != 0)
        return;
    reversed_ = new (std::nothrow) size_t[size];
    cos_ = new (std::nothrow) double[size / 2];
    sin_ = new (std::nothrow) double[size / 2];
    if (!reversed_ || !cos_ || !sin_)
        return;
    int bits = 0;
    while ((size_t(1) << bits) < size)
        ++bits;
    for (size_t i = 0; i < size; ++i) {
        size_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        reversed_[i] = r;
    }
    const double step = 2.0 * 3.14159265358979323846 / double(size);
    for (size_t k = 0; k < size / 2; ++k) {
        cos_[k] = std::cos(step * double(k));
        sin_[k] = std::sin(step * double(k));
    }
    size_ = size;
}

Fft::~Fft() {
    delete[] reversed_;
    delete[] cos_;
    delete[] sin_;
}

void Fft::transform(double* re, double* im, bool inverse) const {
    if (!size_)
        return;
    for (size_t i = 0; i < size_; ++i) {
        const size_t r = reversed_[i];
        if (r > i) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
    const double sign = inverse ? 1.0 : -1.0;
    for (size_t half = 1; half < size_; half *= 2) {
        const size_t stride = size_ / (2 * half);
        for (size_t start = 0; start < size_; start += 2 * half) {
            for (size_t k = 0; k < half; ++k) {
                const double wr = cos_[k * stride];
                const double wi = sign * sin_[k * stride];
                const size_t a = start + k, b = a + half;
                const double tr = re[b] * wr - im[b] * wi;
                const double ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

RealFft::RealFft(size_t size) : half_(size / 2) {
    if (!half_.ok() || size != 2 * half_.size())
        return;
    const size_t m = half_.size();
    cos_ = new (std::nothrow) double[m + 1];
    sin_ = new (std::nothrow) double[m + 1];
    double* work = new (std::nothrow) double[2 * m];
    if (!cos_ || !sin_ || !work) {
        delete[] work;
        return;
    }
    const double step = 2.0 * 3.14159265358979323846 / double(size);
    for (size_t k = 0; k <= m; ++k) {
        cos_[k] = std::cos(step * double(k));
        sin_[k] = std::sin(step * double(k));
    }
    work_ = work;
}

RealFft::~RealFft() {
    delete[] cos_;
    delete[] sin_;
    delete[] work_;
}

// Even samples as the real parts, odd ones as the imaginary parts; the two spectra
// are taken apart by symmetry and joined with the half-angle twiddles.
void RealFft::forward(const double* x, double* re, double* im) {
    if (!ok())
        return;
    const size_t m = half_.size();
    double* zr = work_;
    double* zi = work_ + m;
    for (size_t n = 0; n < m; ++n) {
        zr[n] = x[2 * n];
        zi[n] = x[2 * n + 1];
    }
    half_.forward(zr, zi);
    for (size_t k = 0; k <= m; ++k) {
        const size_t a = k % m, b = (m - k) % m;
        const double er = 0.5 * (zr[a] + zr[b]), ei = 0.5 * (zi[a] - zi[b]);  // (Z[k] + conj Z[m-k]) / 2
        const double orr = 0.5 * (zi[a] + zi[b]), oi = -0.5 * (zr[a] - zr[b]);  // (Z[k] - conj Z[m-k]) / 2i
        // X[k] = E[k] + e^(-2 pi i k / size) O[k]
        re[k] = er + cos_[k] * orr + sin_[k] * oi;
        im[k] = ei + cos_[k] * oi - sin_[k] * orr;
    }
}

void RealFft::inverse(const double* re, const double* im, double* x) {
    if (!ok())
        return;
    const size_t m = half_.size();
    double* zr = work_;
    double* zi = work_ + m;
    for (size_t k = 0; k < m; ++k) {
        // A = X[k] + conj X[m-k] (the even samples), B = (X[k] - conj X[m-k]) e^(2 pi i k / size)
        // (the odd ones); the half-size inverse of A + iB holds both.
        const double ar = re[k] + re[m - k], ai = im[k] - im[m - k];
        const double dr = re[k] - re[m - k], di = im[k] + im[m - k];
        const double br = dr * cos_[k] - di * sin_[k], bi = dr * sin_[k] + di * cos_[k];
        zr[k] = ar - bi;
        zi[k] = ai + br;
    }
    half_.inverse(zr, zi);
    for (size_t n = 0; n < m; ++n) {
        x[2 * n] = zr[n];
        x[2 * n + 1] = zi[n];
    }
}
