#pragma once
#include <cstddef>

// A complex radix-2 FFT of one size fixed at construction, in place on separate real
// and imaginary arrays. The tables are made once; transforms allocate nothing.
class Fft {
public:
    // size: a power of two from 2 to 65536; ok() is false for any other.
    explicit Fft(size_t size);
    ~Fft();
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    bool ok() const { return size_ != 0; }
    size_t size() const { return size_; }
    // Forward transform (e^-i); inverse (e^+i) without the 1/size scaling.
    void forward(double* re, double* im) const { transform(re, im, false); }
    void inverse(double* re, double* im) const { transform(re, im, true); }

private:
    void transform(double* re, double* im, bool inverse) const;

    size_t size_ = 0;
    size_t* reversed_ = nullptr;  // bit-reversed index of each position
    double* cos_ = nullptr;       // cos and sin of 2 pi k / size, k < size / 2
    double* sin_ = nullptr;
};

// The FFT of a real sequence of even length through a complex FFT of half its length:
// bins 0 to size/2 (the rest mirror them). Tables made once; transforms allocate
// nothing.
class RealFft {
public:
    explicit RealFft(size_t size);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    bool ok() const { return half_.ok() && work_ != nullptr; }
    size_t size() const { return 2 * half_.size(); }
    // x: size() samples; re and im: size()/2 + 1 bins.
    void forward(const double* x, double* re, double* im);
    // From size()/2 + 1 bins of a real sequence's spectrum to the sequence, times size().
    void inverse(const double* re, const double* im, double* x);

private:
    Fft half_;
    double* cos_ = nullptr;  // cos and sin of 2 pi k / size, k <= size / 2
    double* sin_ = nullptr;
    double* work_ = nullptr;  // real, then imaginary parts of the half-size transform
};
