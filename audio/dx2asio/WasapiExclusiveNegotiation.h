#pragma once
// Setting up one event-driven exclusive-mode stream on an endpoint: the first native
// format the device takes (32-bit float, 32-bit integer, 24 in 32, packed 24, 16), the
// period asked for rounded into the device's limits, the buffer one period long, and
// the one retry the device's alignment answer calls for. It works on IAudioClient
// objects it asks a source for, so that a stand-in device can drive it.
#include "WinInclude.h"
#include <audioclient.h>

#include "WasapiFormats.h"

// Hands out fresh, not yet initialised clients on one endpoint. The negotiation asks
// for a second one after the alignment answer, since a client whose Initialize failed
// cannot be initialised again. UI thread.
class AudioClientSource {
public:
    virtual ~AudioClientSource() {}
    virtual HRESULT activate(IAudioClient** client) = 0;
};

struct ExclusiveRequest {
    DWORD rate;
    WORD channels;
    long frames;   // the period asked for, in frames
    HANDLE event;  // signalled by the device once per period
};

struct ExclusiveStream {
    IAudioClient* client = nullptr;  // initialised, its event set; the caller releases it
    StreamSampleKind kind = StreamSampleKind::float32;
    WAVEFORMATEXTENSIBLE format{};
    UINT32 periodFrames = 0;  // the buffer holds exactly one period
    REFERENCE_TIME period = 0;
    bool realigned = false;  // the device's alignment answer was taken
};

// The order in which formats are tried.
extern const StreamSampleKind kExclusiveFormatOrder[5];

// S_OK with stream filled, or the failing answer with step naming what failed (a
// text of the driver's own) and nothing held. UI thread.
HRESULT negotiateExclusiveStream(AudioClientSource& source, const ExclusiveRequest& request, ExclusiveStream& stream,
                                 const char** step);

// 100-ns units of frames at rate, rounded to the nearest; and back.
REFERENCE_TIME framesToDuration(double frames, DWORD rate);
UINT32 durationToFrames(REFERENCE_TIME duration, DWORD rate);
