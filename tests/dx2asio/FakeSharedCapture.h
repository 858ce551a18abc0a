#pragma once
// A stand-in shared-mode capture endpoint whose device goes away: it streams periods
// of a ramp as fast as they are read (each read signals the next period at once), and
// from a chosen read on answers AUDCLNT_E_DEVICE_INVALIDATED, as a device unplugged
// mid-stream does.
#include <atomic>
#include <cstring>

#include "WinInclude.h"
#include <audioclient.h>

#include "WasapiEndpoints.h"
#include "WasapiExclusiveNegotiation.h"

struct FakeCaptureState {
    UINT32 period = 441;
    int readsBeforeLoss = 20;
    std::atomic<int> reads{0};
    std::atomic<int> liveObjects{0};
    HANDLE event = nullptr;
    bool pending = false;
    bool started = false;
    int16_t samples[441 * 2] = {};
};

class FakeCaptureService : public IAudioCaptureClient {
public:
    explicit FakeCaptureService(FakeCaptureState& state) : state_(state) { ++state_.liveObjects; }
    virtual ~FakeCaptureService() { --state_.liveObjects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (!left)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64*, UINT64*) override {
        if (++state_.reads > state_.readsBeforeLoss)
            return AUDCLNT_E_DEVICE_INVALIDATED;
        if (!state_.pending) {
            *frames = 0;
            return AUDCLNT_S_BUFFER_EMPTY;
        }
        for (UINT32 j = 0; j < 2 * state_.period; ++j)
            state_.samples[j] = int16_t(100 + j);
        *data = reinterpret_cast<BYTE*>(state_.samples);
        *frames = state_.period;
        *flags = 0;
        state_.pending = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32) override {
        // The next period is there at once.
        state_.pending = true;
        SetEvent(state_.event);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
        if (state_.reads >= state_.readsBeforeLoss)
            return AUDCLNT_E_DEVICE_INVALIDATED;
        *frames = state_.pending ? state_.period : 0;
        return S_OK;
    }

private:
    FakeCaptureState& state_;
    ULONG references_ = 1;
};

class FakeSharedCaptureClient : public IAudioClient {
public:
    explicit FakeSharedCaptureClient(FakeCaptureState& state) : state_(state) { ++state_.liveObjects; }
    virtual ~FakeSharedCaptureClient() { --state_.liveObjects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;  // no IAudioClient3: the default period
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (!left)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME, REFERENCE_TIME,
                                         const WAVEFORMATEX* format, LPCGUID) override {
        if (mode != AUDCLNT_SHAREMODE_SHARED || !(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) || !format ||
            format->nChannels != 2 || format->wBitsPerSample != 16)
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        initialized_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        *frames = 4 * state_.period;
        return initialized_ ? S_OK : AUDCLNT_E_NOT_INITIALIZED;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override {
        *latency = 100000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* padding) override {
        *padding = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        *format = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override {
        *defaultPeriod = 100000;  // 441 frames at 44.1 kHz
        if (minimumPeriod)
            *minimumPeriod = 30000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override {
        if (!state_.event)
            return AUDCLNT_E_EVENTHANDLE_NOT_SET;
        state_.started = true;
        state_.pending = true;
        SetEvent(state_.event);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        state_.started = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        state_.event = event;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** service) override {
        *service = nullptr;
        if (!IsEqualGUID(iid, kAudioCaptureClientId))
            return E_NOINTERFACE;
        *service = static_cast<IAudioCaptureClient*>(new FakeCaptureService(state_));
        return S_OK;
    }

private:
    FakeCaptureState& state_;
    ULONG references_ = 1;
    bool initialized_ = false;
};

class FakeSharedCaptureEndpoint : public AudioClientSource {
public:
    HRESULT activate(IAudioClient** client) override {
        *client = new FakeSharedCaptureClient(state);
        return S_OK;
    }
    FakeCaptureState state;
};
