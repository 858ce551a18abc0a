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
