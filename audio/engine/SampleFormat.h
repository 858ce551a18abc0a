#pragma once
#include <cstdint>
#include "FormatRecord.h"
#include "RateConverter.h"

// Moves samples between driver or file formats and the float buffers (full scale
// +-1.0) in which all processing happens. Everything here runs on the audio thread:
// no allocation, no locking, one pass over the data.

// ASIO sample type numbers, as published.
enum AsioSampleType : int32_t {
    kAsioInt16MSB = 0, kAsioInt24MSB = 1, kAsioInt32MSB = 2, kAsioFloat32MSB = 3, kAsioFloat64MSB = 4,
    kAsioInt32MSB16 = 8, kAsioInt32MSB24 = 11,
    kAsioInt16LSB = 16, kAsioInt24LSB = 17, kAsioInt32LSB = 18, kAsioFloat32LSB = 19, kAsioFloat64LSB = 20,
    kAsioInt32LSB16 = 24, kAsioInt32LSB20 = 26, kAsioInt32LSB24 = 27,
};

// Fills the record for one driver channel of the given ASIO sample type.
// Returns 1 for a big-endian type, 0 for a little-endian one, -1 for an unsupported
// type (the record then keeps its format tag, block align and bits).
int32_t formatFromSampleType(int32_t type, FormatRecord& format, double sampleRate);

// Interleaved samples to one float buffer per channel. False (and nothing written)
// for big-endian data and for widths the format tag does not have; an unknown
// format tag writes nothing and reports success.
bool decodeSamples(const uint8_t* source, float* const* destination, int32_t count,
                   const FormatRecord& format, bool bigEndian);

// The mirror image: float buffers to interleaved samples, limited to +-0.99999 and
// truncated towards zero for integer formats.
bool encodeSamples(const float* const* source, uint8_t* destination, int32_t count,
                   const FormatRecord& format, bool bigEndian);

// convertRate and its per-channel state: the band-limited converter.
inline void clearSamples(float* samples, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        samples[i] = 0.0f;
}

// Adds sources into destinations with one factor: equal counts pair up, one source
// feeds every destination, several sources into one destination are summed.
void mixChannels(const float* const* sources, int32_t sourceCount, float* const* destinations,
                 int32_t destinationCount, int32_t samples, float factor);
