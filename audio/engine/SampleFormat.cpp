#include "SampleFormat.h"

#include <cstring>

#if defined(__SSE2__) || defined(__x86_64__)
#include <xmmintrin.h>
#define TALVENOR_SSE_LIMIT 1
#endif

namespace {

struct SampleTypeEntry {
    int32_t type;
    uint16_t formatTag;
    uint16_t blockAlign;
    uint16_t bits;
    int32_t result;  // 1 big-endian, 0 little-endian
};

const SampleTypeEntry kSampleTypes[] = {
    {kAsioInt16MSB, kFormatPcm, 2, 16, 1},    {kAsioInt24MSB, kFormatPcm, 3, 24, 1},
    {kAsioInt32MSB, kFormatPcm, 4, 32, 1},    {kAsioFloat32MSB, kFormatFloat, 4, 32, 1},
    {kAsioFloat64MSB, kFormatFloat, 8, 64, 1}, {kAsioInt32MSB16, kFormatPcm, 4, 16, 1},
    {kAsioInt32MSB24, kFormatPcm, 4, 24, 1},  {kAsioInt16LSB, kFormatPcm, 2, 16, 0},
    {kAsioInt24LSB, kFormatPcm, 3, 24, 0},    {kAsioInt32LSB, kFormatPcm, 4, 32, 0},
    {kAsioFloat32LSB, kFormatFloat, 4, 32, 0}, {kAsioFloat64LSB, kFormatFloat, 8, 64, 0},
    {kAsioInt32LSB16, kFormatPcm, 4, 16, 0},  {kAsioInt32LSB24, kFormatPcm, 4, 24, 0},
};

const float kScale16 = 3.0518509e-05f;   // nearest float to 1/32767
const float kScale24 = 1.1920930e-07f;   // nearest float to 1/8388607
const float kScale32 = 4.656613e-10f;    // 2^-31
const double kScale8 = 0.007874015748031496;  // 1/127
const float kEncodeLimit = 0.99999f;

// Limits a sample to +-0.99999 before an integer conversion. A NaN (a broken plug-in
// can produce one) becomes silence rather than full scale.
inline float limit(float v) {
#if TALVENOR_SSE_LIMIT
    // The compiler will not turn the comparisons into minss/maxss by itself, and the
    // branches cost more than the rest of the conversion.
    __m128 x = _mm_set_ss(v);
    x = _mm_and_ps(x, _mm_cmpord_ss(x, x));
    x = _mm_max_ss(_mm_min_ss(x, _mm_set_ss(kEncodeLimit)), _mm_set_ss(-kEncodeLimit));
    return _mm_cvtss_f32(x);
#else
    if (v != v)
        return 0.0f;
    v = v < kEncodeLimit ? v : kEncodeLimit;
    return v > -kEncodeLimit ? v : -kEncodeLimit;
#endif
}

template <typename T>
inline T loadLittle(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);  // the targets are little-endian
    return v;
}

template <typename T>
inline void storeLittle(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

void decodePcm(const uint8_t* src, float* dst, int32_t count, int stride, int bits) {
    switch (bits) {
    case 16:
        for (int32_t i = 0; i < count; ++i, src += stride)
            dst[i] = float(loadLittle<int16_t>(src)) * kScale16;
        break;
    case 24: {
        // Packed samples (stride 3) are read four bytes at a time, except the last,
        // whose fourth byte lies beyond the buffer. The value goes to the top three
        // bytes and is shifted back down, which sign-extends bit 23.
        int32_t i = 0;
        if (stride == 3)
            for (; i + 1 < count; ++i, src += stride)
                dst[i] = float(int32_t(loadLittle<uint32_t>(src) << 8) >> 8) * kScale24;
        for (; i < count; ++i, src += stride) {
            const uint32_t raw = uint32_t(src[0]) << 8 | uint32_t(src[1]) << 16 | uint32_t(src[2]) << 24;
            dst[i] = float(int32_t(raw) >> 8) * kScale24;
        }
        break;
    }
    case 32:
        for (int32_t i = 0; i < count; ++i, src += stride)
            dst[i] = float(loadLittle<int32_t>(src)) * kScale32;
        break;
    case 8:
        for (int32_t i = 0; i < count; ++i, src += stride)
            dst[i] = float((int(*src) - 128) * kScale8);
        break;
    }
}

void decodeFloat(const uint8_t* src, float* dst, int32_t count, int stride, int bits) {
    if (bits == 32) {
        for (int32_t i = 0; i < count; ++i, src += stride)
            dst[i] = loadLittle<float>(src);
    } else {
        for (int32_t i = 0; i < count; ++i, src += stride)
            dst[i] = float(loadLittle<double>(src));
    }
}

void encodePcm(const float* src, uint8_t* dst, int32_t count, int stride, int bits) {
    switch (bits) {
    case 16:
        for (int32_t i = 0; i < count; ++i, dst += stride)
            storeLittle<int16_t>(dst, int16_t(limit(src[i]) * 32767.0f));
        break;
    case 24: {
        // Packed samples: a four-byte store whose top byte the next sample overwrites.
        // Containers (stride 4) keep their top byte, and the last sample writes three.
        int32_t i = 0;
        if (stride == 3)
            for (; i + 1 < count; ++i, dst += stride)
                storeLittle<int32_t>(dst, int32_t(limit(src[i]) * 8388607.0f));
        for (; i < count; ++i, dst += stride) {
            const int32_t v = int32_t(limit(src[i]) * 8388607.0f);
            dst[0] = uint8_t(v);
            dst[1] = uint8_t(v >> 8);
            dst[2] = uint8_t(v >> 16);
        }
        break;
    }
    case 32:
        for (int32_t i = 0; i < count; ++i, dst += stride)
            storeLittle<int32_t>(dst, int32_t(limit(src[i]) * 2147483648.0f));
        break;
    case 8:
        for (int32_t i = 0; i < count; ++i, dst += stride)
            *dst = uint8_t((double(limit(src[i])) + 1.0) * 127.0);
        break;
    }
}

void encodeFloat(const float* src, uint8_t* dst, int32_t count, int stride, int bits) {
    if (bits == 32) {
        for (int32_t i = 0; i < count; ++i, dst += stride)
            storeLittle<float>(dst, src[i]);
    } else {
        for (int32_t i = 0; i < count; ++i, dst += stride)
            storeLittle<double>(dst, double(src[i]));
    }
}

// Sources and destinations of a mix never overlap; saying so lets it vectorise.
void addScaled(const float* __restrict src, float* __restrict dst, int32_t samples, float factor) {
    for (int32_t i = 0; i < samples; ++i)
        dst[i] += src[i] * factor;
}

bool isPcmWidth(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }
bool isFloatWidth(int bits) { return bits == 32 || bits == 64; }

// Calls convert(channel, byte offset of its first sample, is float) for every channel
// of a format the converters handle. False for big-endian data and for widths the
// format tag does not have; an unknown tag converts nothing and succeeds.
template <typename Convert>
bool convertChannels(const FormatRecord& format, bool bigEndian, Convert convert) {
    if (bigEndian)
        return false;
    const int bits = format.bitsPerSample;
    const bool isFloat = format.formatTag == kFormatFloat;
    if (format.formatTag != kFormatPcm && !isFloat)
        return true;
    if (isFloat ? !isFloatWidth(bits) : !isPcmWidth(bits))
        return false;
    for (int ch = 0; ch < format.channels; ++ch)
        convert(ch, ch * (bits / 8), isFloat);
    return true;
}

}  // namespace

int32_t formatFromSampleType(int32_t type, FormatRecord& format, double sampleRate) {
    format.channels = 1;
    format.samplesPerSec = uint32_t(sampleRate);
    for (const SampleTypeEntry& entry : kSampleTypes) {
        if (entry.type == type) {
            format.formatTag = entry.formatTag;
            format.blockAlign = entry.blockAlign;
            format.bitsPerSample = entry.bits;
            format.avgBytesPerSec = uint32_t(format.blockAlign) * format.samplesPerSec;
            return entry.result;
        }
    }
    format.avgBytesPerSec = uint32_t(format.blockAlign) * format.samplesPerSec;
    return -1;
}

bool decodeSamples(const uint8_t* source, float* const* destination, int32_t count,
                   const FormatRecord& format, bool bigEndian) {
    return convertChannels(format, bigEndian, [&](int ch, int offset, bool isFloat) {
        (isFloat ? decodeFloat : decodePcm)(source + offset, destination[ch], count, format.blockAlign,
                                            format.bitsPerSample);
    });
}

bool encodeSamples(const float* const* source, uint8_t* destination, int32_t count,
                   const FormatRecord& format, bool bigEndian) {
    return convertChannels(format, bigEndian, [&](int ch, int offset, bool isFloat) {
        (isFloat ? encodeFloat : encodePcm)(source[ch], destination + offset, count, format.blockAlign,
                                            format.bitsPerSample);
    });
}

void mixChannels(const float* const* sources, int32_t sourceCount, float* const* destinations,
                 int32_t destinationCount, int32_t samples, float factor) {
    if (sourceCount <= 0 || destinationCount <= 0)
        return;
    const int32_t pairs = sourceCount > destinationCount ? sourceCount : destinationCount;
    for (int32_t r = 0; r < pairs; ++r) {
        const float* src = sources[r < sourceCount ? r : sourceCount - 1];
        float* dst = destinations[r < destinationCount ? r : destinationCount - 1];
        addScaled(src, dst, samples, factor);
    }
}
