#pragma once
// The driver's WASAPI streaming: one capture and one render stream (either may be
// absent), event-driven, in shared or exclusive mode, with the host's bufferSwitch
// called once per ASIO block. Opening happens on the UI thread; run() on the
// streaming thread allocates nothing and takes no lock.
#include <atomic>
#include <cstdint>

#include "WinInclude.h"
#include <audioclient.h>

#include "Asio.h"
#include "StreamLoop.h"
#include "WasapiExclusiveNegotiation.h"

enum class WasapiShareMode { shared, exclusive };

struct WasapiOpenRequest {
    WasapiShareMode mode;
    AudioClientSource* capture;  // null: no input
    AudioClientSource* render;   // null: no output
    DWORD rate;
    WORD channels;        // the host's channels, 1 or 2
    WORD bitsPerSample;   // the driver's format, for a shared stream the engine converts
    long frames;          // the block size asked for
};

// What the stream actually runs at, as the driver reports it.
struct WasapiFigures {
    long blockFrames = 0;   // the ASIO block: a whole number of periods
    long periodFrames = 0;  // the device period the block is made of
    long inputLatency = 0;  // frames, capture to the host's buffer
    long outputLatency = 0; // frames, the host's buffer to the device's output
    StreamSampleKind inputKind = StreamSampleKind::int16;   // the host's input samples
    StreamSampleKind outputKind = StreamSampleKind::int16;  // the host's output samples
    bool lowLatencyEngine = false;  // shared: the engine's smallest period (IAudioClient3)
};

struct WasapiRun {
    uint8_t* inputs[2];  // the host's channel buffers, blockFrames samples each
    uint8_t* outputs[2];
    const ASIOCallbacks* callbacks;
    const std::atomic<bool>* stopRequest;
    HANDLE stopEvent;
};

class WasapiStream {
public:
    WasapiStream();
    virtual ~WasapiStream();
    WasapiStream(const WasapiStream&) = delete;
    WasapiStream& operator=(const WasapiStream&) = delete;

    // UI thread. False with the step and the device's reason in errorText (256
    // bytes) and the answer in failure; nothing is held then.
    bool open(const WasapiOpenRequest& request, char* errorText, HRESULT* failure);
    // UI thread, the stream not running. Releases the devices.
    void close();
    bool isOpen() const { return capture_.client || render_.client; }
    bool hasInput() const { return capture_.client != nullptr; }
    bool hasOutput() const { return render_.client != nullptr; }
    const WasapiFigures& figures() const { return figures_; }

    // Streaming thread: starts the devices, streams until the stop request, a failing
    // answer or a device that stops answering, and stops the devices. The failure's
    // text is in errorText (256 bytes) and its answer in failure().
    StreamEnd run(const WasapiRun& run, char* errorText);
    HRESULT failure() const { return failure_; }

private:
    struct Side {
        IAudioClient* client = nullptr;
        IAudioCaptureClient* capture = nullptr;
        IAudioRenderClient* render = nullptr;
        HANDLE event = nullptr;
        UINT32 bufferFrames = 0;
        UINT32 periodFrames = 0;
        int channels = 0;      // the device's channels
        int frameBytes = 0;
        long latencyFrames = 0;  // the stream latency the device reports
        StreamSampleKind kind = StreamSampleKind::int16;
        bool lowLatency = false;
    };
    bool openShared(AudioClientSource& source, const WasapiOpenRequest& request, bool isCapture, Side& side,
                    char* errorText, HRESULT* failure);
    bool openExclusive(AudioClientSource& source, const WasapiOpenRequest& request, long frames, Side& side,
                       const char* what, char* errorText, HRESULT* failure);
    bool finishSide(Side& side, bool isCapture, DWORD rate, char* errorText, HRESULT* failure);
    void releaseSide(Side& side);
    // Streaming thread.
    bool fail(HRESULT hr, const char* step, char* errorText);
    bool captureIntoBlocks(const WasapiRun& run, char* errorText);
    void processBlock(const WasapiRun& run);
    void queueOutputs(const WasapiRun& run);
    bool renderQueued(char* errorText);
    StreamEnd runShared(const WasapiRun& run, char* errorText);
    StreamEnd runExclusive(const WasapiRun& run, char* errorText);

    WasapiShareMode mode_;
    Side capture_;
    Side render_;
    WasapiFigures figures_;
    DWORD rate_;
    int hostChannels_;
    // Shared mode only: the host's outputs wait here, in the device's frames, until
    // the render buffer has room (its engine period and ours need not line up).
    uint8_t* outputQueue_;
    long queueFrames_;  // capacity
    long queueRead_;
    long queued_;
    long inputFill_;  // frames of the block already in the host's inputs
    long bufferIndex_;
    HRESULT failure_;
};
