#pragma once
// The built-in driver's configuration as stored under its registry key, and the
// sample format it is built from.
#include "WinInclude.h"
#include <mmreg.h>

class DeviceList;

// The driver's sample format. Its extra-size field says 18 (the record's own size),
// so the record is followed by 18 zero bytes: a reader that honours the field
// never reads past the object.
struct DriverFormat {
    WAVEFORMATEX wave;
    unsigned char zeroTail[18];
};

static_assert(sizeof(WAVEFORMATEX) == 18, "the stored format record is 18 bytes");

// The format built from loaded values: bytes per sample clamped to 1..4, rate to
// 8000..96000, channels to 1..2; PCM, with the derived rates and alignment.
DriverFormat makeDriverFormat(unsigned long rate, long channels, long bytesPerSample);
// 44100 Hz, 2 channels, 16 bits.
DriverFormat defaultDriverFormat();

// The same samples described by the extensible record, which DirectSound capture asks
// for when samples are wider than 16 bits. False when the plain record is the only one.
bool extensibleFormat(const WAVEFORMATEX& format, WAVEFORMATEXTENSIBLE& extensible);

// Frames per block: what the driver accepts, and what it uses until one is stored.
const long kMinBufferSize = 8;
const long kMaxBufferSize = 8000;
const long kDefaultBufferSize = 800;

// The device name stored for a side the user chose to leave without a device.
extern const char kNoDeviceChosen[];  // "<no driver>"

// How the driver streams. The stored value ("dxMode") is this number.
enum class DriverMode : DWORD {
    directSound = 0,      // DirectSound capture and a secondary buffer
    wasapiShared = 1,     // WASAPI shared mode, event-driven
    wasapiExclusive = 2,  // WASAPI exclusive mode, event-driven
};

enum class ModeLoadResult {
    stored,      // the stored mode
    newSetUp,    // nothing stored yet: a new set-up starts in WASAPI shared mode
    olderSetUp,  // values stored before the driver had modes: DirectSound, as they streamed
    unreadable,  // a stored mode of the wrong type, size or number: DirectSound
};

// The mode to stream in, loaded from "dxMode" (UI thread): see ModeLoadResult.
DriverMode loadDriverMode(ModeLoadResult* how);
// The text for a stored mode that could not be used; DirectSound is used instead.
extern const char kUnreadableModeText[];
// The mode's name as the settings dialog lists it.
const char* driverModeName(DriverMode mode);

struct DriverSettings {
    DriverMode mode;
    int inputDevice;   // index into the input list, -1 for none
    int outputDevice;  // index into the output list, -1 for none
    long bufferSize;   // frames per block, kMinBufferSize..kMaxBufferSize
    long numBuffers;   // blocks per ring: 2, 4, 8, 16, 32 or 64
    bool syncByInput;
    DriverFormat format;
};

// Construction and init values: no devices, 800 frames, 2 buffers, sync by input,
// the default format.
DriverSettings defaultDriverSettings();

// Loads the stored values over settings (UI thread). A missing key, a missing value
// or one of the wrong type or size leaves that setting as it was, but for the devices:
// a stored name selects the first listed device with exactly that description, and
// kNoDeviceChosen selects none; without a stored choice (no value, or a name that no
// listed device has, as one that was unplugged) each side takes the system's default
// device, so that a set-up where the settings dialog was never opened streams at once.
void loadDriverSettings(const DeviceList& inputs, const DeviceList& outputs, DriverSettings& settings);

// Stores the devices by description and the ring's geometry (UI thread); they take
// effect when the driver is next opened. Empty names and values of 0 leave what is
// stored. Opens the key, never creates it; false when it cannot or a write fails.
bool saveDriverChoices(const char* inputDevice, const char* outputDevice, long blockFrames, long blockCount);

// Stores the mode alone (UI thread), as when the user takes shared mode after exclusive
// mode was refused. Opens the key, never creates it.
bool saveDriverMode(DriverMode mode);

enum class FormatSaveResult { saved, noKey, writeFailed };
// Stores the format record as "dxSoundFormat" (UI thread). Opens the key, never creates it.
FormatSaveResult saveDriverFormat(const WAVEFORMATEX& format);

// Everything the settings dialog stores, in the order it is written.
struct StoredDriverChoices {
    const char* inputDevice;   // description, or kNoDeviceChosen
    const char* outputDevice;
    DWORD bufferSize;
    DWORD numBuffers;
    bool syncByInput;
    WAVEFORMATEX format;       // only channels, rate and bits carry meaning
    DriverMode mode;
};

// The values, as bits of the failures that saveAllDriverChoices reports.
enum DriverValueBit : unsigned {
    kInputDeviceValue = 1,
    kOutputDeviceValue = 2,
    kBufferSizeValue = 4,
    kNumBuffersValue = 8,
    kSyncByInputValue = 16,
    kSoundFormatValue = 32,
    kModeValue = 64,
};

// Writes all seven values (UI thread); a failing write does not stop the others, its bit
// is set in failedValues. False (nothing written) when the key cannot be opened for
// writing; the key is never created.
bool saveAllDriverChoices(const StoredDriverChoices& choices, unsigned& failedValues);
