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
};

// Streams until the stop request is seen (true) or a DirectSound call or the wait
// fails (false). Runs on the streaming thread; allocates nothing.
bool runStreamLoop(const StreamSetup& setup);

// The streaming thread's body: runs the loop and, when it ended by a failure, stores
// the loop's failure message in errorText (256 bytes) and shows it, owned by window.
void streamUntilStopped(const StreamSetup& setup, char* errorText, HWND window);

// Copies text into one of the driver's 256-byte error texts, cutting it to fit.
void storeErrorText(char* errorText, const char* text);

extern const char kBuiltInDriverCaption[];
