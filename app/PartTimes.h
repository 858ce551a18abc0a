#pragma once
#include "WinInclude.h"

// How long each part of a piece of work took, in milliseconds, for the window bench:
// a slow start or tick is told apart by the part that was slow.
template <int Parts>
struct PartTimes {
    static constexpr int kParts = Parts;
    const char* names[Parts];
    double ms[Parts];
};

// Times consecutive parts: each endOf(part) stores the time since the previous one
// (or since construction). One counter read per part.
class PartClock {
public:
    explicit PartClock(double* ms) : ms_(ms) { QueryPerformanceCounter(&last_); }
    void endOf(int part) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        ms_[part] = double(now.QuadPart - last_.QuadPart) * 1000.0 / double(frequency().QuadPart);
        last_ = now;
    }

private:
    static const LARGE_INTEGER& frequency() {
        static const LARGE_INTEGER value = [] {
            LARGE_INTEGER f;
            if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) f.QuadPart = 1;
            return f;
        }();
        return value;
    }
    double* ms_;
    LARGE_INTEGER last_;
};
