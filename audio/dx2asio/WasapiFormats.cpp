#include "WasapiFormats.h"

#include <cstring>
#include <ks.h>
#include <ksmedia.h>

namespace {

// {00000001-0000-0010-8000-00AA00389B71} and {00000003-...}: the PCM and float sub-formats.
const GUID kPcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

}  // namespace

int sampleBytes(StreamSampleKind kind) {
    switch (kind) {
    case StreamSampleKind::int16:
        return 2;
    case StreamSampleKind::int24:
        return 3;
    default:
        return 4;
    }
}

long asioSampleType(StreamSampleKind kind) {
    switch (kind) {
    case StreamSampleKind::float32:
        return 19;  // ASIOSTFloat32LSB
    case StreamSampleKind::int24:
        return 17;  // ASIOSTInt24LSB
    case StreamSampleKind::int16:
        return 16;  // ASIOSTInt16LSB
    default:
        return 18;  // ASIOSTInt32LSB: 24 bits at the top of 32 read as 32-bit samples
    }
}

WAVEFORMATEXTENSIBLE streamFormat(StreamSampleKind kind, DWORD rate, WORD channels) {
    WAVEFORMATEXTENSIBLE f;
    std::memset(&f, 0, sizeof f);
    const WORD bytes = WORD(sampleBytes(kind));
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = channels;
    f.Format.nSamplesPerSec = rate;
    f.Format.wBitsPerSample = WORD(8 * bytes);
    f.Format.nBlockAlign = WORD(bytes * channels);
    f.Format.nAvgBytesPerSec = rate * f.Format.nBlockAlign;
    f.Format.cbSize = sizeof f - sizeof f.Format;
    f.Samples.wValidBitsPerSample = kind == StreamSampleKind::int24in32 ? 24 : WORD(8 * bytes);
    f.dwChannelMask = channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    f.SubFormat = kind == StreamSampleKind::float32 ? kFloat : kPcm;
    return f;
}

bool sampleKindOf(const WAVEFORMATEX* format, StreamSampleKind& kind) {
    if (!format || format->nChannels == 0 || format->nChannels > 32)
        return false;
    bool isFloat = false;
    WORD valid = format->wBitsPerSample;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (format->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
            return false;
        const WAVEFORMATEXTENSIBLE* e = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
        if (IsEqualGUID(e->SubFormat, kFloat))
            isFloat = true;
        else if (!IsEqualGUID(e->SubFormat, kPcm))
            return false;
        valid = e->Samples.wValidBitsPerSample;
    } else if (format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        isFloat = true;
    } else if (format->wFormatTag != WAVE_FORMAT_PCM) {
        return false;
    }
    if (format->nBlockAlign != format->nChannels * (format->wBitsPerSample / 8))
        return false;
    if (isFloat) {
        if (format->wBitsPerSample != 32)
            return false;
        kind = StreamSampleKind::float32;
        return true;
    }
    switch (format->wBitsPerSample) {
    case 16:
        kind = StreamSampleKind::int16;
        return true;
    case 24:
        kind = StreamSampleKind::int24;
        return true;
    case 32:
        kind = valid == 24 ? StreamSampleKind::int24in32 : StreamSampleKind::int32;
        return true;
    default:
        return false;
    }
}
