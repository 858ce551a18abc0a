#pragma once
// What an ASIO host learns from a driver, as text, so that two programs can compare
// their answers: the driver opened by the program and the same driver opened through
// COM by a host of another vendor. Uses the ASIO interface alone, nothing of ours.
#include <string>

#include "Asio.h"

// Every query a host makes after init, one "name value" line each.
std::string askDriver(IASIO* driver);

struct StreamReport {
    ASIOError created = ASE_NotPresent;
    ASIOError started = ASE_NotPresent;
    ASIOError stopped = ASE_NotPresent;
    ASIOError disposed = ASE_NotPresent;
    long frames = 0;          // per block
    int switches = 0;         // blocks handed to the host
    double inputTone = 0.0;   // level of a 1 kHz tone on the left input (steadyToneLevel)
    std::string text() const; // "name value" lines
};

// Streams two inputs and two outputs (16-bit) for the given time at the driver's
// preferred block size, writing a 440 Hz sine of amplitude 0.25 to the outputs.
StreamReport streamThrough(IASIO* driver, int milliseconds);

// The level of a frequency in 44.1 kHz samples that most 100 ms windows reach (their
// upper quartile): the start of a stream may be silent, and a block lost or repeated
// breaks the phase of one window, not the measure.
double steadyToneLevel(const float* samples, size_t count, double frequency);

// The level of a frequency in the signal, as the amplitude of a sine (Goertzel).
double toneLevel(const float* samples, size_t count, double frequency, double rate);
