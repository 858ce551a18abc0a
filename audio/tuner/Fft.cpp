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
