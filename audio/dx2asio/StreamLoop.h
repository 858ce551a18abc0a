#pragma once
// The built-in driver's streaming: once per block it moves captured samples into the
// host's input buffers, calls the host's bufferSwitch, and moves the host's outputs
// into the playback ring. One notification event paces it.
#include <atomic>
#include <cstdint>

#include "Asio.h"
#include <dsound.h>

// The per-block notification positions of one ring: the last byte of each block, all
// signalling event (UI thread, while the buffers are created).
bool setBlockNotifications(IDirectSoundNotify* notify, HANDLE event, DWORD blockBytes, long blocks);

// What a test or a diagnosis can read of the loop's waits; written by the streaming
// thread only, read from any thread.
struct StreamCounters {
    std::atomic<uint32_t> timeouts{0};    // waits for a notification that timed out
    std::atomic<uint32_t> recoveries{0};  // blocks processed after a time-out, from the cursors
    std::atomic<uint32_t> skipped{0};     // late notifications of a block already processed
    std::atomic<uint32_t> stalls{0};      // loops ended because a device's cursor stood still
    std::atomic<uint32_t> captureStalls{0};   // of those, the capture's cursor stood still
    std::atomic<uint32_t> playbackStalls{0};  // the playback's
    std::atomic<uint32_t> captureNeverStarted{0};  // of the capture's, before it first moved
    std::atomic<uint32_t> captureReopened{0};      // capture devices the driver opened anew for that
    void clear() {
        timeouts = 0;
        recoveries = 0;
        skipped = 0;
        stalls = 0;
        captureStalls = 0;
        playbackStalls = 0;
        captureNeverStarted = 0;
        captureReopened = 0;
    }
};

struct StreamSetup {
    IDirectSoundCaptureBuffer* captureBuffer;  // null: no input device
    IDirectSoundBuffer* primaryBuffer;         // with the secondary buffer
    IDirectSoundBuffer* secondaryBuffer;       // null: no output device
    HANDLE captureEvent;
    HANDLE playbackEvent;
    bool syncByInput;  // with both devices: paced by the capture ring, else by the playback ring
    long blockFrames;
    long blocks;  // blocks in each ring
    WAVEFORMATEX format;
    uint8_t* inputs[2];  // the host's channel buffers, blockFrames samples each
    uint8_t* outputs[2];
    const ASIOCallbacks* callbacks;
    const std::atomic<bool>* stopRequest;
    HANDLE stopEvent;          // set with the stop request, so a wait ends at once; may be null
    StreamCounters* counters;  // may be null
};

enum class StreamEnd {
    stopped,  // the stop request was seen
    failed,   // a DirectSound call or a wait failed
    stalled,  // a device's cursor stood still: the device is gone or hung
};

// Streams until the stop request is seen, a DirectSound call or a wait fails, or a
// device stalls. A notification that never comes does not hold the loop: each wait is
// bounded, and on a time-out the loop goes on from where the device cursors are. Runs
// on the streaming thread; allocates nothing.
StreamEnd runStreamLoop(const StreamSetup& setup);

// After the loop, on the streaming thread: noteStreamEnd stores the loop's failure
// message in errorText (256 bytes) when the loop did not end by the stop request, asks
// the host for a reset after a stall (a device opened anew may come back), and tells
// whether a box is due (not when the host took the reset); showStreamFailure shows it, owned by window. The two are apart
// so that the thread can let its driver go before the box waits for someone.
bool noteStreamEnd(StreamEnd end, const StreamSetup& setup, char* errorText);
void showStreamFailure(const char* text, HWND window);

// Copies text into one of the driver's 256-byte error texts, cutting it to fit.
void storeErrorText(char* errorText, const char* text);

extern const char kBuiltInDriverCaption[];
