#include "WasapiStream.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "DriverSettings.h"
#include "WasapiEndpoints.h"
#include "WasapiErrors.h"

namespace {

const char kStepOpenInput[] = "Opening the input in shared mode";
const char kStepOpenOutput[] = "Opening the output in shared mode";
const char kStepInputExclusive[] = "Opening the input in exclusive mode";
const char kStepOutputExclusive[] = "Opening the output in exclusive mode";
const char kStepBuffer[] = "Asking the device for its buffer";
const char kStepService[] = "Asking the device for its capture or render service";
const char kStepEvent[] = "Giving the stream its event";
const char kStepNoEvent[] = "Creating the stream's event";
const char kStepPreroll[] = "Filling the output with silence before the start";
const char kStepStart[] = "Starting the device";
const char kStepCapture[] = "Reading the input";
const char kStepRender[] = "Writing the output";
const char kStepPeriods[] = "Running the input and output on the same period";
const char kNoQueueMemory[] = "Not enough memory for the output queue";
const char kStalled[] = "The device stopped signalling its periods: it is gone or hung";

// Consecutive waits that time out before the device counts as stalled.
const int kTimeoutsBeforeStall = 3;

template <class T>
void releaseInterface(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

StreamSampleKind kindOfBits(WORD bits) {
    return bits == 24 ? StreamSampleKind::int24 : bits == 32 ? StreamSampleKind::int32 : StreamSampleKind::int16;
}

bool failWith(HRESULT hr, const char* step, char* errorText, HRESULT* failure) {
    describeWasapiFailure(hr, step, errorText);
    if (failure)
        *failure = hr;
    return false;
}

DWORD blockWaitMs(long frames, DWORD rate) {
    const DWORD ms = rate ? DWORD(4000.0 * double(frames) / double(rate)) : 1000;
    return ms < 200 ? 200 : ms;
}

}  // namespace

WasapiStream::WasapiStream()
    : mode_(WasapiShareMode::shared),
      rate_(44100),
      hostChannels_(2),
      outputQueue_(nullptr),
      queueFrames_(0),
      queueRead_(0),
      queued_(0),
      inputFill_(0),
      bufferIndex_(0),
      failure_(S_OK) {}

WasapiStream::~WasapiStream() { close(); }

void WasapiStream::releaseSide(Side& side) {
    releaseInterface(side.capture);
    releaseInterface(side.render);
    if (side.client) {
        side.client->Stop();
        releaseInterface(side.client);
    }
    if (side.event)
        CloseHandle(side.event);
    side = Side();
}

void WasapiStream::close() {
    releaseSide(capture_);
    releaseSide(render_);
    delete[] outputQueue_;
    outputQueue_ = nullptr;
    queueFrames_ = queueRead_ = queued_ = 0;
    figures_ = WasapiFigures();
}

// UI thread. The engine's smallest period through IAudioClient3 when the engine's own
// format is one the driver streams at the driver's rate; otherwise the default period
// with the engine converting the driver's format.
bool WasapiStream::openShared(AudioClientSource& source, const WasapiOpenRequest& request, bool isCapture, Side& side,
                              char* errorText, HRESULT* failure) {
    const char* step = isCapture ? kStepOpenInput : kStepOpenOutput;
    IAudioClient* client = nullptr;
    HRESULT hr = source.activate(&client);
    if (FAILED(hr) || !client)
        return failWith(FAILED(hr) ? hr : E_POINTER, step, errorText, failure);

    bool initialized = false;
    bool tried = false;
    IAudioClient3* engine = nullptr;
    if (SUCCEEDED(client->QueryInterface(kAudioClient3Id, reinterpret_cast<void**>(&engine))) && engine) {
        WAVEFORMATEX* mix = nullptr;
        StreamSampleKind kind;
        if (SUCCEEDED(engine->GetMixFormat(&mix)) && mix && sampleKindOf(mix, kind) &&
            mix->nSamplesPerSec == request.rate) {
            UINT32 defaultFrames = 0, fundamental = 0, smallest = 0, largest = 0;
            if (SUCCEEDED(engine->GetSharedModeEnginePeriod(mix, &defaultFrames, &fundamental, &smallest, &largest)) &&
                smallest > 0) {
                tried = true;
                if (SUCCEEDED(engine->InitializeSharedAudioStream(AUDCLNT_STREAMFLAGS_EVENTCALLBACK, smallest, mix,
                                                                  nullptr))) {
                    initialized = true;
                    side.kind = kind;
                    side.channels = mix->nChannels;
                    side.frameBytes = mix->nBlockAlign;
                    side.periodFrames = smallest;
                    side.lowLatency = true;
                }
            }
        }
        if (mix)
            CoTaskMemFree(mix);
        engine->Release();
    }
    if (!initialized && tried) {
        // A client whose initialisation failed is not initialised again: a fresh one.
        releaseInterface(client);
        hr = source.activate(&client);
        if (FAILED(hr) || !client)
            return failWith(FAILED(hr) ? hr : E_POINTER, step, errorText, failure);
    }
    if (!initialized) {
        const StreamSampleKind kind = kindOfBits(request.bitsPerSample);
        const WAVEFORMATEXTENSIBLE format = streamFormat(kind, request.rate, request.channels);
        REFERENCE_TIME defaultPeriod = 0, minimumPeriod = 0;
        hr = client->GetDevicePeriod(&defaultPeriod, &minimumPeriod);
        if (FAILED(hr) || defaultPeriod <= 0) {
            releaseInterface(client);
            return failWith(FAILED(hr) ? hr : AUDCLNT_E_INVALID_DEVICE_PERIOD, step, errorText, failure);
        }
        const UINT32 period = durationToFrames(defaultPeriod, request.rate);
        // Room for several blocks: the engine's period and the block need not line up.
        const long longest = request.frames > long(period) ? request.frames : long(period);
        hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                    AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                                framesToDuration(4.0 * double(longest), request.rate), 0, &format.Format, nullptr);
        if (FAILED(hr)) {
            releaseInterface(client);
            return failWith(hr, step, errorText, failure);
        }
        side.kind = kind;
        side.channels = format.Format.nChannels;
        side.frameBytes = format.Format.nBlockAlign;
        side.periodFrames = period ? period : 1;
    }
    side.client = client;
    return finishSide(side, isCapture, request.rate, errorText, failure);
}

// UI thread: the client is initialised; the event, the buffer, the latency, the service.
bool WasapiStream::finishSide(Side& side, bool isCapture, DWORD rate, char* errorText, HRESULT* failure) {
    if (!side.event) {
        side.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!side.event)
            return failWith(HRESULT_FROM_WIN32(GetLastError()), kStepNoEvent, errorText, failure);
        const HRESULT hr = side.client->SetEventHandle(side.event);
        if (FAILED(hr))
            return failWith(hr, kStepEvent, errorText, failure);
    }
    HRESULT hr = side.client->GetBufferSize(&side.bufferFrames);
    if (FAILED(hr) || side.bufferFrames == 0)
        return failWith(FAILED(hr) ? hr : AUDCLNT_E_BUFFER_SIZE_ERROR, kStepBuffer, errorText, failure);
    REFERENCE_TIME latency = 0;
    if (SUCCEEDED(side.client->GetStreamLatency(&latency)) && latency > 0)
        side.latencyFrames = long(durationToFrames(latency, rate));
    hr = isCapture ? side.client->GetService(kAudioCaptureClientId, reinterpret_cast<void**>(&side.capture))
                   : side.client->GetService(kAudioRenderClientId, reinterpret_cast<void**>(&side.render));
    if (FAILED(hr) || (isCapture ? !side.capture : !side.render))
        return failWith(FAILED(hr) ? hr : E_NOINTERFACE, kStepService, errorText, failure);
    return true;
}

bool WasapiStream::openExclusive(AudioClientSource& source, const WasapiOpenRequest& request, long frames, Side& side,
                                 const char* what, char* errorText, HRESULT* failure) {
    side.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!side.event)
        return failWith(HRESULT_FROM_WIN32(GetLastError()), kStepNoEvent, errorText, failure);
    ExclusiveRequest asked;
    asked.rate = request.rate;
    asked.channels = request.channels;
    asked.frames = frames;
    asked.event = side.event;
    ExclusiveStream stream;
    const char* step = nullptr;
    const HRESULT hr = negotiateExclusiveStream(source, asked, stream, &step);
    if (FAILED(hr)) {
        char described[256];
        describeWasapiFailure(hr, step, described);
        std::snprintf(errorText, 256, "%s. %s", what, described);
        if (failure)
            *failure = hr;
        return false;
    }
    side.client = stream.client;
    side.kind = stream.kind;
    side.channels = stream.format.Format.nChannels;
    side.frameBytes = stream.format.Format.nBlockAlign;
    side.periodFrames = stream.periodFrames;
    return finishSide(side, &side == &capture_, request.rate, errorText, failure);
}

bool WasapiStream::open(const WasapiOpenRequest& request, char* errorText, HRESULT* failure) {
    close();
    if (failure)
        *failure = S_OK;
    mode_ = request.mode;
    rate_ = request.rate;
    hostChannels_ = request.channels < 1 ? 1 : request.channels > 2 ? 2 : request.channels;
    bool opened = true;
    if (mode_ == WasapiShareMode::exclusive) {
        // Both sides on one period: the output is asked for the period the input got.
        if (request.capture)
            opened = openExclusive(*request.capture, request, request.frames, capture_, kStepInputExclusive,
                                   errorText, failure);
        if (opened && request.render)
            opened = openExclusive(*request.render, request,
                                   capture_.client ? long(capture_.periodFrames) : request.frames, render_,
                                   kStepOutputExclusive, errorText, failure);
        if (opened && capture_.client && render_.client && capture_.periodFrames != render_.periodFrames) {
            char text[160];
            std::snprintf(text, sizeof text, "%s (the input runs at %u frames, the output at %u)", kStepPeriods,
                          unsigned(capture_.periodFrames), unsigned(render_.periodFrames));
            opened = failWith(AUDCLNT_E_INVALID_DEVICE_PERIOD, text, errorText, failure);
        }
    } else {
        if (request.capture)
            opened = openShared(*request.capture, request, true, capture_, errorText, failure);
        if (opened && request.render)
            opened = openShared(*request.render, request, false, render_, errorText, failure);
    }
    if (!opened) {
        close();
        return false;
    }
    const Side& pacing = capture_.client ? capture_ : render_;
    long period = long(pacing.periodFrames ? pacing.periodFrames : 1);
    long block = period;
    if (mode_ == WasapiShareMode::shared) {
        // A whole number of periods, the nearest to the size asked for.
        long periods = (request.frames + period / 2) / period;
        if (periods < 1)
            periods = 1;
        while (periods > 1 && periods * period > kMaxBufferSize)
            --periods;
        block = periods * period;
    }
    figures_.blockFrames = block;
    figures_.periodFrames = period;
    figures_.inputKind = capture_.client ? capture_.kind : render_.kind;
    figures_.outputKind = render_.client ? render_.kind : capture_.kind;
    figures_.lowLatencyEngine = pacing.lowLatency;
    // A block is complete when its last period has been captured: the first sample
    // waited a block. Outputs go out behind the one period of silence the stream
    // starts with (exclusive: the pre-roll; shared: what stays queued past a block).
    figures_.inputLatency = capture_.client ? block + capture_.latencyFrames : 0;
    figures_.outputLatency = render_.client ? long(render_.periodFrames) + render_.latencyFrames : 0;
    if (render_.client && !capture_.client && mode_ == WasapiShareMode::shared)
        figures_.outputLatency += block;  // paced by the render buffer, a block ahead

    if (mode_ == WasapiShareMode::shared && render_.client) {
        queueFrames_ = 4 * block + long(render_.bufferFrames);
        outputQueue_ = new (std::nothrow) uint8_t[size_t(queueFrames_) * size_t(render_.frameBytes)]();
        if (!outputQueue_) {
            describeWasapiFailure(E_OUTOFMEMORY, kNoQueueMemory, errorText);
            if (failure)
                *failure = E_OUTOFMEMORY;
            close();
            return false;
        }
    }
    return true;
}

// ---- Streaming thread ----

bool WasapiStream::fail(HRESULT hr, const char* step, char* errorText) {
    failure_ = hr;
    describeWasapiFailure(hr, step, errorText);
    return false;
}

void WasapiStream::processBlock(const WasapiRun& run) {
    run.callbacks->bufferSwitch(bufferIndex_, 1);
    bufferIndex_ ^= 1;
}

// Shared mode: the host's outputs, as device frames, behind what is queued.
void WasapiStream::queueOutputs(const WasapiRun& run) {
    if (!outputQueue_)
        return;
    const long block = figures_.blockFrames;
    if (queued_ + block > queueFrames_) {
        // The device took nothing for a long while: the oldest frames make way.
        const long drop = queued_ + block - queueFrames_;
        queueRead_ = (queueRead_ + drop) % queueFrames_;
        queued_ -= drop;
    }
    const int s = sampleBytes(render_.kind);
    long write = (queueRead_ + queued_) % queueFrames_;
    for (long j = 0; j < block; ++j) {
        uint8_t* frame = outputQueue_ + size_t(write) * size_t(render_.frameBytes);
        std::memset(frame, 0, size_t(render_.frameBytes));
        for (int c = 0; c < hostChannels_ && c < render_.channels; ++c)
            if (run.outputs[c])
                std::memcpy(frame + c * s, run.outputs[c] + size_t(j) * size_t(s), size_t(s));
        if (hostChannels_ == 1 && render_.channels > 1 && run.outputs[0])
            std::memcpy(frame + s, run.outputs[0] + size_t(j) * size_t(s), size_t(s));
        write = write + 1 == queueFrames_ ? 0 : write + 1;
    }
    queued_ += block;
}

// Shared mode: as much of the queue as the render buffer has room for.
bool WasapiStream::renderQueued(char* errorText) {
    UINT32 padding = 0;
    HRESULT hr = render_.client->GetCurrentPadding(&padding);
    if (FAILED(hr))
        return fail(hr, kStepRender, errorText);
    long room = long(render_.bufferFrames) - long(padding);
    long frames = queued_ < room ? queued_ : room;
    if (frames <= 0)
        return true;
    BYTE* data = nullptr;
    hr = render_.render->GetBuffer(UINT32(frames), &data);
    if (FAILED(hr))
        return fail(hr, kStepRender, errorText);
    for (long j = 0; j < frames; ++j) {
        std::memcpy(data + size_t(j) * size_t(render_.frameBytes),
                    outputQueue_ + size_t(queueRead_) * size_t(render_.frameBytes), size_t(render_.frameBytes));
        queueRead_ = queueRead_ + 1 == queueFrames_ ? 0 : queueRead_ + 1;
    }
    queued_ -= frames;
    hr = render_.render->ReleaseBuffer(UINT32(frames), 0);
    if (FAILED(hr))
        return fail(hr, kStepRender, errorText);
    return true;
}

// Every captured packet goes into the host's inputs; each completed block is processed
// at once (and, in shared mode, its outputs queued).
bool WasapiStream::captureIntoBlocks(const WasapiRun& run, char* errorText) {
    const int s = sampleBytes(capture_.kind);
    const long block = figures_.blockFrames;
    for (;;) {
        UINT32 packet = 0;
        HRESULT hr = capture_.capture->GetNextPacketSize(&packet);
        if (FAILED(hr))
            return fail(hr, kStepCapture, errorText);
        if (packet == 0)
            return true;
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        hr = capture_.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
        if (hr == AUDCLNT_S_BUFFER_EMPTY)
            return true;
        if (FAILED(hr))
            return fail(hr, kStepCapture, errorText);
        const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || !data;
        for (UINT32 j = 0; j < frames; ++j) {
            const BYTE* frame = data ? data + size_t(j) * size_t(capture_.frameBytes) : nullptr;
            for (int c = 0; c < hostChannels_; ++c) {
                uint8_t* into = run.inputs[c];
                if (!into)
                    continue;
                into += size_t(inputFill_) * size_t(s);
                if (silent || c >= capture_.channels)
                    std::memset(into, 0, size_t(s));
                else
                    std::memcpy(into, frame + c * s, size_t(s));
            }
            if (++inputFill_ == block) {
                inputFill_ = 0;
                processBlock(run);
                queueOutputs(run);
            }
        }
        hr = capture_.capture->ReleaseBuffer(frames);
        if (FAILED(hr))
            return fail(hr, kStepCapture, errorText);
    }
}

StreamEnd WasapiStream::runShared(const WasapiRun& run, char* errorText) {
    const HANDLE pacing = capture_.client ? capture_.event : render_.event;
    const HANDLE waits[3] = {run.stopEvent, pacing, render_.client && capture_.client ? render_.event : nullptr};
    const HANDLE* first = run.stopEvent ? waits : waits + 1;
    const DWORD count = (run.stopEvent ? 1 : 0) + 1 + (waits[2] ? 1 : 0);
    const DWORD waitMs = blockWaitMs(figures_.blockFrames, rate_);
    const long ahead = figures_.blockFrames + figures_.periodFrames;
    int timeouts = 0;
    while (!run.stopRequest->load(std::memory_order_acquire)) {
        const DWORD woke = WaitForMultipleObjects(count, first, FALSE, waitMs);
        if (run.stopRequest->load(std::memory_order_acquire))
            break;
        if (woke == WAIT_TIMEOUT) {
            if (++timeouts >= kTimeoutsBeforeStall) {
                failure_ = AUDCLNT_E_DEVICE_INVALIDATED;
                storeErrorText(errorText, kStalled);
                return StreamEnd::stalled;
            }
            continue;
        }
        if (woke == WAIT_FAILED) {
            fail(HRESULT_FROM_WIN32(GetLastError()), kStepCapture, errorText);
            return StreamEnd::failed;
        }
        timeouts = 0;
        bool ok = true;
        if (capture_.client) {
            ok = captureIntoBlocks(run, errorText);
        } else {
            // Output only: a block whenever the render buffer and the queue hold less
            // than a block and a period.
            UINT32 padding = 0;
            HRESULT hr = render_.client->GetCurrentPadding(&padding);
            if (FAILED(hr))
                ok = fail(hr, kStepRender, errorText);
            while (ok && long(padding) + queued_ < ahead) {
                processBlock(run);
                queueOutputs(run);
            }
        }
        if (ok && render_.client)
            ok = renderQueued(errorText);
        if (!ok)
            return failure_ == AUDCLNT_E_DEVICE_INVALIDATED ? StreamEnd::stalled : StreamEnd::failed;
    }
    return StreamEnd::stopped;
}

// One bufferSwitch per period: the input's period is read, the host called, and the
// output's next period written, each through the device's own buffer.
StreamEnd WasapiStream::runExclusive(const WasapiRun& run, char* errorText) {
    const UINT32 period = UINT32(figures_.blockFrames);
    const DWORD waitMs = 200;
    int timeouts = 0;
    while (!run.stopRequest->load(std::memory_order_acquire)) {
        const HANDLE pacing = capture_.client ? capture_.event : render_.event;
        const HANDLE waits[2] = {pacing, run.stopEvent};
        const DWORD woke = WaitForMultipleObjects(run.stopEvent ? 2 : 1, waits, FALSE, waitMs);
        if (run.stopRequest->load(std::memory_order_acquire))
            break;
        if (woke == WAIT_TIMEOUT) {
            if (++timeouts >= kTimeoutsBeforeStall) {
                failure_ = AUDCLNT_E_DEVICE_INVALIDATED;
                storeErrorText(errorText, kStalled);
                return StreamEnd::stalled;
            }
            continue;
        }
        timeouts = 0;
        HRESULT hr = S_OK;
        if (capture_.client) {
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            hr = capture_.capture->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
            if (FAILED(hr)) {
                fail(hr, kStepCapture, errorText);
                return hr == AUDCLNT_E_DEVICE_INVALIDATED ? StreamEnd::stalled : StreamEnd::failed;
            }
            if (hr == AUDCLNT_S_BUFFER_EMPTY)
                continue;
            const int s = sampleBytes(capture_.kind);
            const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || !data;
            for (int c = 0; c < hostChannels_; ++c) {
                uint8_t* into = run.inputs[c];
                if (!into)
                    continue;
                for (UINT32 j = 0; j < period; ++j, into += s)
                    if (silent || j >= frames || c >= capture_.channels)
                        std::memset(into, 0, size_t(s));
                    else
                        std::memcpy(into, data + size_t(j) * size_t(capture_.frameBytes) + c * s, size_t(s));
            }
            hr = capture_.capture->ReleaseBuffer(frames);
            if (FAILED(hr)) {
                fail(hr, kStepCapture, errorText);
                return hr == AUDCLNT_E_DEVICE_INVALIDATED ? StreamEnd::stalled : StreamEnd::failed;
            }
        }
        processBlock(run);
        if (render_.client) {
            // With an input, the output's own event says its next period is free.
            if (capture_.client && WaitForSingleObject(render_.event, waitMs) == WAIT_TIMEOUT) {
                if (++timeouts >= kTimeoutsBeforeStall) {
                    failure_ = AUDCLNT_E_DEVICE_INVALIDATED;
                    storeErrorText(errorText, kStalled);
                    return StreamEnd::stalled;
                }
                continue;
            }
            BYTE* data = nullptr;
            hr = render_.render->GetBuffer(period, &data);
            if (SUCCEEDED(hr) && data) {
                const int s = sampleBytes(render_.kind);
                std::memset(data, 0, size_t(period) * size_t(render_.frameBytes));
                for (int c = 0; c < render_.channels; ++c) {
                    const uint8_t* from = run.outputs[c < hostChannels_ ? c : 0];
                    if (!from)
                        continue;
                    for (UINT32 j = 0; j < period; ++j, from += s)
                        std::memcpy(data + size_t(j) * size_t(render_.frameBytes) + c * s, from, size_t(s));
                }
                hr = render_.render->ReleaseBuffer(period, 0);
            }
            if (FAILED(hr)) {
                fail(hr, kStepRender, errorText);
                return hr == AUDCLNT_E_DEVICE_INVALIDATED ? StreamEnd::stalled : StreamEnd::failed;
            }
        }
    }
    return StreamEnd::stopped;
}

StreamEnd WasapiStream::run(const WasapiRun& run, char* errorText) {
    failure_ = S_OK;
    inputFill_ = 0;
    bufferIndex_ = 0;
    queueRead_ = queued_ = 0;
    if (!run.callbacks || !run.callbacks->bufferSwitch || !run.stopRequest || !isOpen())
        return StreamEnd::failed;
    HRESULT hr = S_OK;
    // The output starts a period of silence ahead; in shared mode a block and a
    // period wait in the queue, so that a block arrives before the queue runs dry.
    if (render_.client) {
        if (mode_ == WasapiShareMode::exclusive) {
            BYTE* data = nullptr;
            hr = render_.render->GetBuffer(render_.bufferFrames, &data);
            if (SUCCEEDED(hr))
                hr = render_.render->ReleaseBuffer(render_.bufferFrames, AUDCLNT_BUFFERFLAGS_SILENT);
            if (FAILED(hr)) {
                fail(hr, kStepPreroll, errorText);
                return hr == AUDCLNT_E_DEVICE_INVALIDATED ? StreamEnd::stalled : StreamEnd::failed;
            }
        } else if (capture_.client) {
            queued_ = figures_.blockFrames + figures_.periodFrames;
            std::memset(outputQueue_, 0, size_t(queued_) * size_t(render_.frameBytes));
        }
    }
    if (render_.client)
        hr = render_.client->Start();
    if (SUCCEEDED(hr) && capture_.client)
        hr = capture_.client->Start();
    StreamEnd end = StreamEnd::stopped;
    if (FAILED(hr)) {
        fail(hr, kStepStart, errorText);
        end = hr == AUDCLNT_E_DEVICE_INVALIDATED ? StreamEnd::stalled : StreamEnd::failed;
    } else {
        end = mode_ == WasapiShareMode::exclusive ? runExclusive(run, errorText) : runShared(run, errorText);
    }
    // Stopped and reset, so that a later run starts from empty buffers.
    if (capture_.client) {
        capture_.client->Stop();
        capture_.client->Reset();
    }
    if (render_.client) {
        render_.client->Stop();
        render_.client->Reset();
    }
    return end;
}
