#pragma once
// A stand-in IAudioClient for the exclusive-mode negotiation, keeping the documented
// rules of an exclusive endpoint: only its native formats, periods between its minimum
// and half a second, buffer and period equal for an event-driven stream, buffers that
// must be aligned (a misaligned Initialize answers AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED and
// its GetBufferSize names the next aligned size; that client cannot be initialised
// again), and no Start before the event is set. A refusal can be set for any call.
#include <cmath>
#include <string>
#include <vector>

#include "WinInclude.h"
#include <audioclient.h>

#include "WasapiExclusiveNegotiation.h"
#include "WasapiFormats.h"

struct FakeEndpointRules {
    std::vector<StreamSampleKind> nativeKinds{StreamSampleKind::int24in32, StreamSampleKind::int16};
    DWORD rate = 48000;
    REFERENCE_TIME minimumPeriod = 30000;  // 3 ms
    REFERENCE_TIME defaultPeriod = 100000;
    UINT32 alignmentFrames = 0;  // 0: every size is aligned
    HRESULT activateAnswer = S_OK;
    HRESULT formatAnswer = S_OK;      // instead of the format check, when failing
    HRESULT initializeAnswer = S_OK;  // instead of Initialize's own checks, when failing
};

// What the endpoint saw, across all its clients.
struct FakeEndpointLog {
    std::vector<std::string> calls;
    std::vector<StreamSampleKind> formatsAsked;
    int activations = 0;
    int liveClients = 0;
};

class FakeExclusiveClient : public IAudioClient {
public:
    FakeExclusiveClient(const FakeEndpointRules& rules, FakeEndpointLog& log) : rules_(rules), log_(log) {
        ++log_.liveClients;
    }
    virtual ~FakeExclusiveClient() { --log_.liveClients; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID) override {
        log_.calls.push_back("Initialize " + std::to_string(duration));
        if (state_ != State::fresh)
            return AUDCLNT_E_ALREADY_INITIALIZED;
        state_ = State::failed;
        if (FAILED(rules_.initializeAnswer))
            return rules_.initializeAnswer;
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE || !format || !native(format))
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        if (!(flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK))
            return E_INVALIDARG;  // this endpoint streams event-driven only
        if (duration != periodicity)
            return E_INVALIDARG;  // event-driven exclusive: one period of buffer
        if (periodicity < rules_.minimumPeriod || periodicity > 5000000)
            return AUDCLNT_E_INVALID_DEVICE_PERIOD;
        const UINT32 frames = UINT32(std::llround(double(duration) * rules_.rate / 1e7));
        if (rules_.alignmentFrames && frames % rules_.alignmentFrames) {
            bufferFrames_ = (frames / rules_.alignmentFrames + 1) * rules_.alignmentFrames;
            return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
        }
        bufferFrames_ = frames;
        state_ = State::initialized;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        log_.calls.push_back("GetBufferSize");
        if (state_ == State::fresh)
            return AUDCLNT_E_NOT_INITIALIZED;
        *frames = bufferFrames_;  // after the alignment answer: the next aligned size
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override {
        *latency = rules_.minimumPeriod;
        return state_ == State::initialized ? S_OK : AUDCLNT_E_NOT_INITIALIZED;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* padding) override {
        *padding = 0;
        return state_ == State::initialized ? S_OK : AUDCLNT_E_NOT_INITIALIZED;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                                WAVEFORMATEX** closest) override {
        StreamSampleKind kind;
        if (format && sampleKindOf(format, kind))
            log_.formatsAsked.push_back(kind);
        if (closest)
            *closest = nullptr;
        if (FAILED(rules_.formatAnswer))
            return rules_.formatAnswer;
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE)
            return E_INVALIDARG;
        return format && native(format) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        *format = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override {
        if (defaultPeriod)
            *defaultPeriod = rules_.defaultPeriod;
        if (minimumPeriod)
            *minimumPeriod = rules_.minimumPeriod;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override {
        log_.calls.push_back("Start");
        if (state_ != State::initialized)
            return AUDCLNT_E_NOT_INITIALIZED;
        return event_ ? S_OK : AUDCLNT_E_EVENTHANDLE_NOT_SET;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        log_.calls.push_back("SetEventHandle");
        if (state_ != State::initialized)
            return AUDCLNT_E_NOT_INITIALIZED;
        if (!event)
            return E_INVALIDARG;
        event_ = event;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID, void** service) override {
        *service = nullptr;
        return E_NOINTERFACE;
    }

private:
    enum class State { fresh, failed, initialized };

    bool native(const WAVEFORMATEX* format) const {
        StreamSampleKind kind;
        if (!sampleKindOf(format, kind) || format->nSamplesPerSec != rules_.rate)
            return false;
        for (StreamSampleKind k : rules_.nativeKinds)
            if (k == kind)
                return true;
        return false;
    }

    const FakeEndpointRules rules_;
    FakeEndpointLog& log_;
    ULONG references_ = 1;
    State state_ = State::fresh;
    UINT32 bufferFrames_ = 0;
    HANDLE event_ = nullptr;
};

// The endpoint: a fresh client for each activation.
class FakeExclusiveEndpoint : public AudioClientSource {
public:
    explicit FakeExclusiveEndpoint(const FakeEndpointRules& rules) : rules_(rules) {}
    HRESULT activate(IAudioClient** client) override {
        *client = nullptr;
        ++log.activations;
        if (FAILED(rules_.activateAnswer))
            return rules_.activateAnswer;
        *client = new FakeExclusiveClient(rules_, log);
        return S_OK;
    }
    FakeEndpointLog log;

private:
    FakeEndpointRules rules_;
};
