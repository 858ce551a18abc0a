#include "WasapiExclusiveNegotiation.h"

#include <cmath>

namespace {

// Periods beyond half a second are refused by devices; the dialog's longest block
// stays below it at every rate it offers.
const REFERENCE_TIME kLongestPeriod = 5000000;

const char kStepActivate[] = "Opening the device in exclusive mode";
const char kStepFormat[] = "Choosing a sample format the device takes in exclusive mode";
const char kStepPeriods[] = "Asking the device for its periods";
const char kStepInitialize[] = "Setting up the exclusive stream";
const char kStepAlign[] = "Setting up the exclusive stream at the device's aligned buffer size";
const char kStepBufferSize[] = "Asking the device for its aligned buffer size";
const char kStepEvent[] = "Giving the exclusive stream its event";
const char kStepNoRequest[] = "Setting up the exclusive stream without a rate, channels or an event";

void release(IAudioClient*& client) {
    if (client) {
        client->Release();
        client = nullptr;
    }
}

HRESULT initializeExclusive(IAudioClient* client, REFERENCE_TIME period, const WAVEFORMATEXTENSIBLE& format) {
    // Event-driven exclusive streams take a buffer of exactly one period.
    return client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, period, period,
                              &format.Format, nullptr);
}

}  // namespace

const StreamSampleKind kExclusiveFormatOrder[5] = {StreamSampleKind::float32, StreamSampleKind::int32,
                                                   StreamSampleKind::int24in32, StreamSampleKind::int24,
                                                   StreamSampleKind::int16};

REFERENCE_TIME framesToDuration(double frames, DWORD rate) {
    return rate ? REFERENCE_TIME(std::llround(frames * 10000000.0 / double(rate))) : 0;
}

UINT32 durationToFrames(REFERENCE_TIME duration, DWORD rate) {
    return UINT32(std::llround(double(duration) * double(rate) / 10000000.0));
}

HRESULT negotiateExclusiveStream(AudioClientSource& source, const ExclusiveRequest& request, ExclusiveStream& stream,
                                 const char** step) {
    stream = ExclusiveStream();
    if (!request.rate || !request.channels || !request.event) {
        *step = kStepNoRequest;
        return E_INVALIDARG;
    }
    IAudioClient* client = nullptr;
    HRESULT hr = source.activate(&client);
    if (FAILED(hr) || !client) {
        *step = kStepActivate;
        return FAILED(hr) ? hr : E_POINTER;
    }

    // The first native format the device takes. A refusal that is not about the
    // format (the device is in use, exclusive mode is not allowed) ends the search.
    bool found = false;
    HRESULT refusal = AUDCLNT_E_UNSUPPORTED_FORMAT;
    for (StreamSampleKind kind : kExclusiveFormatOrder) {
        const WAVEFORMATEXTENSIBLE format = streamFormat(kind, request.rate, request.channels);
        hr = client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format.Format, nullptr);
        if (hr == S_OK) {
            stream.kind = kind;
            stream.format = format;
            found = true;
            break;
        }
        if (FAILED(hr) && hr != AUDCLNT_E_UNSUPPORTED_FORMAT && hr != E_INVALIDARG) {
            refusal = hr;
            break;
        }
    }
    if (!found) {
        release(client);
        *step = kStepFormat;
        return refusal;
    }

    REFERENCE_TIME defaultPeriod = 0, minimumPeriod = 0;
    hr = client->GetDevicePeriod(&defaultPeriod, &minimumPeriod);
    if (FAILED(hr)) {
        release(client);
        *step = kStepPeriods;
        return hr;
    }
    REFERENCE_TIME period = framesToDuration(double(request.frames), request.rate);
    if (minimumPeriod > 0 && period < minimumPeriod)
        period = minimumPeriod;
    if (period > kLongestPeriod)
        period = kLongestPeriod;

    hr = initializeExclusive(client, period, stream.format);
    if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        // The failed client names the next aligned buffer size; a fresh client is
        // initialised at the period that size makes.
        UINT32 aligned = 0;
        hr = client->GetBufferSize(&aligned);
        release(client);
        if (FAILED(hr) || aligned == 0) {
            *step = kStepBufferSize;
            return FAILED(hr) ? hr : AUDCLNT_E_BUFFER_SIZE_ERROR;
        }
        period = framesToDuration(double(aligned), request.rate);
        stream.realigned = true;
        hr = source.activate(&client);
        if (FAILED(hr) || !client) {
            *step = kStepActivate;
            return FAILED(hr) ? hr : E_POINTER;
        }
        hr = initializeExclusive(client, period, stream.format);
        if (FAILED(hr)) {
            release(client);
            *step = kStepAlign;
            return hr;
        }
    } else if (FAILED(hr)) {
        release(client);
        *step = kStepInitialize;
        return hr;
    }

    UINT32 bufferFrames = 0;
    hr = client->GetBufferSize(&bufferFrames);
    if (FAILED(hr) || bufferFrames == 0) {
        release(client);
        *step = kStepBufferSize;
        return FAILED(hr) ? hr : AUDCLNT_E_BUFFER_SIZE_ERROR;
    }
    hr = client->SetEventHandle(request.event);
    if (FAILED(hr)) {
        release(client);
        *step = kStepEvent;
        return hr;
    }
    stream.client = client;
    stream.periodFrames = bufferFrames;
    stream.period = period;
    *step = nullptr;
    return S_OK;
}
