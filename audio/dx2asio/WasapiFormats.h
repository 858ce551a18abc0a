#pragma once
// The sample formats a WASAPI stream of the driver can run in, and the host's sample
// type for each: the host's channel buffers hold the device's samples as they are.
#include "WinInclude.h"
#include <mmreg.h>

enum class StreamSampleKind {
    float32,    // 32-bit IEEE float
    int32,      // 32-bit integer
    int24in32,  // 24 valid bits at the top of a 32-bit container
    int24,      // packed 24-bit integer
    int16,      // 16-bit integer
};

// Bytes of one sample in the stream and in the host's buffers.
int sampleBytes(StreamSampleKind kind);
// The ASIO sample type of the host's buffers (ASIOSTFloat32LSB, ASIOSTInt32LSB, ...).
long asioSampleType(StreamSampleKind kind);

// The extensible record for kind at rate with channels (front left/right, or centre).
WAVEFORMATEXTENSIBLE streamFormat(StreamSampleKind kind, DWORD rate, WORD channels);

// What a format record a device hands out (its mix format) holds, when the driver can
// stream it: float32, int32, int24in32, int24 or int16, plain or extensible. False for
// anything else (the record is untrusted: a short or odd record is refused).
bool sampleKindOf(const WAVEFORMATEX* format, StreamSampleKind& kind);
