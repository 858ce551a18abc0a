#include "Dx2AsioDriver.h"

#include <cstring>

#include "DriverClaim.h"
#include "DriverSettingsDialog.h"
#include "BuiltInDriver.h"
#include "MessageBoxes.h"

const GUID CLSID_Dx2AsioDriver = {0x0FBD8060, 0x41F5, 0x11D8, {0xBF, 0x79, 0xB7, 0xC0, 0xDF, 0xD2, 0x58, 0x73}};

namespace {

const char kUnknownError[] = "Unknown error";
const char kFormatNotSaved[] = "Unable to save the sound format to the system registry";
// Every other failure that returns an error code stores its own text, so that the
// host never shows an older failure's text (or "Unknown error") for it.
const char kNoRatePlace[] = "No place was given for the sample rate";
const char kRateOutOfRange[] = "The sample rate is out of range";
const char kNoDriverKey[] = "The ZerevaZ-2-UDID key is missing from the registry";
const char kNoSuchChannel[] = "There is no such channel";
const char kWidthNotSupported[] = "The sample width of the sound format is not supported";
const char kNoControlPanel[] = "The ZerevaZ-2-UDID settings dialog could not be opened";
}  // namespace

Dx2AsioDriver::Dx2AsioDriver(IUnknown* outer)
    : outer_(outer),
      referenceCount_(0),
      window_(nullptr),
      inputDevice_(-1),
      outputDevice_(-1),
      capture_(nullptr),
      captureBuffer_(nullptr),
      captureNotify_(nullptr),
      sound_(nullptr),
      primaryBuffer_(nullptr),
      secondaryBuffer_(nullptr),
      playbackNotify_(nullptr),
      playbackEvent_(nullptr),
      captureEvent_(nullptr),
      settingsDialog_(nullptr),
      callbacks_(nullptr),
      channelMemory_(nullptr),
      inputBuffers_{nullptr, nullptr},
      outputBuffers_{nullptr, nullptr},
      channelBufferBytes_(0),
      thread_(nullptr),
      threadRunning_(false),
      stopRequest_(false),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      loopEnded_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      claimed_(false) {
    const DriverSettings defaults = defaultDriverSettings();
    format_ = defaults.format;
    numBuffers_ = defaults.numBuffers;
    syncByInput_ = defaults.syncByInput;
    bufferSize_ = defaults.bufferSize;
    setErrorText(kUnknownError);
    std::memset(&streamSetup_, 0, sizeof streamSetup_);
}

Dx2AsioDriver::~Dx2AsioDriver() {
    // An open settings dialog must not outlive the driver it would save for.
    if (settingsDialog_) {
        SetWindowLongPtrA(settingsDialog_, GWLP_USERDATA, 0);
        DestroyWindow(settingsDialog_);
        settingsDialog_ = nullptr;
    }
    stop();
    disposeBuffers();
    if (capture_)
        capture_->Release();
    if (sound_)
        sound_->Release();
    if (claimed_)
        releaseDriverClaim();
    if (stopEvent_)
        CloseHandle(stopEvent_);
    if (loopEnded_)
        CloseHandle(loopEnded_);
}

// ---- COM identity ----

HRESULT STDMETHODCALLTYPE Dx2AsioDriver::QueryInterface(REFIID iid, void** object) {
    return outer_ ? outer_->QueryInterface(iid, object) : NonDelegatingQueryInterface(iid, object);
}

ULONG STDMETHODCALLTYPE Dx2AsioDriver::AddRef() { return outer_ ? outer_->AddRef() : NonDelegatingAddRef(); }

ULONG STDMETHODCALLTYPE Dx2AsioDriver::Release() { return outer_ ? outer_->Release() : NonDelegatingRelease(); }

HRESULT STDMETHODCALLTYPE Dx2AsioDriver::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (IsEqualGUID(iid, CLSID_Dx2AsioDriver)) {
        if (!object)
            return E_POINTER;
        *object = static_cast<IASIO*>(this);
        NonDelegatingAddRef();
        return S_OK;
    }
    if (!object)
        return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown)) {
        // The caller sees the non-delegating table as an IUnknown: same three first slots.
        *object = static_cast<INonDelegatingUnknown*>(this);
        NonDelegatingAddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE Dx2AsioDriver::NonDelegatingAddRef() {
    const long count = referenceCount_.fetch_add(1) + 1;
    return ULONG(count < 1 ? 1 : count);
}

ULONG STDMETHODCALLTYPE Dx2AsioDriver::NonDelegatingRelease() {
    const long count = referenceCount_.fetch_sub(1) - 1;
    if (count == 0) {
        referenceCount_ = 1;  // a release from within the destructor cannot delete twice
        deletingDestructor();
        return 0;
    }
    return ULONG(count < 1 ? 1 : count);
}

void Dx2AsioDriver::deletingDestructor() { delete this; }

// ---- Interface operations ----

ASIOBool Dx2AsioDriver::init(void* sysHandle) {
    // Another program streaming from the same devices with the same settings would
    // fight this one over them: the second to come is refused, with a reason.
    if (!claimed_) {
        if (!claimDriver()) {
            setErrorText(kDriverInUseText);
            return 0;
        }
        claimed_ = true;
    }
    window_ = static_cast<HWND>(sysHandle);
    outputDevices_.enumeratePlayback();
    inputDevices_.enumerateCapture();

    // The ring count and the sync keep what an earlier init loaded when their values
    // are missing; the block size and the format start from the defaults.
    DriverSettings settings = defaultDriverSettings();
    settings.numBuffers = numBuffers_;
    settings.syncByInput = syncByInput_;
    loadDriverSettings(inputDevices_, outputDevices_, settings);
    bufferSize_ = settings.bufferSize;
    numBuffers_ = settings.numBuffers;
    syncByInput_ = settings.syncByInput;
    format_ = settings.format;

    if (openDevices(settings.inputDevice, settings.outputDevice))
        showMessageBox(window_, errorText_, kBuiltInDriverCaption, MB_OK | MB_ICONERROR);
    return 1;
}

void Dx2AsioDriver::getDriverName(char* name) {
    if (name)
        std::memcpy(name, kBuiltInDriverName, sizeof kBuiltInDriverName);
}

long Dx2AsioDriver::getDriverVersion() { return 1; }

void Dx2AsioDriver::getErrorMessage(char* string) {
    if (string)
        storeErrorText(string, errorText_);
}

ASIOError Dx2AsioDriver::getChannels(long* numInputChannels, long* numOutputChannels) {
    if (numInputChannels)
        *numInputChannels = format_.wave.nChannels;
    if (numOutputChannels)
        *numOutputChannels = format_.wave.nChannels;
    return ASE_OK;
}

ASIOError Dx2AsioDriver::getLatencies(long* inputLatency, long* outputLatency) {
    if (inputLatency)
        *inputLatency = bufferSize_;
    if (outputLatency)
        *outputLatency = numBuffers_ * bufferSize_;
    return ASE_OK;
}

ASIOError Dx2AsioDriver::getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) {
    if (minSize)
        *minSize = kMinBufferSize;
    if (maxSize)
        *maxSize = kMaxBufferSize;
    if (preferredSize)
        *preferredSize = bufferSize_;
    if (granularity)
        *granularity = 0;
    return ASE_OK;
}

ASIOError Dx2AsioDriver::canSampleRate(ASIOSampleRate sampleRate) {
    return sampleRate == 22050.0 || sampleRate == 32000.0 || sampleRate == 44100.0 || sampleRate == 48000.0 ||
                   sampleRate == 96000.0
               ? ASE_OK
               : ASE_NoClock;
}

ASIOError Dx2AsioDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (!sampleRate) {
        setErrorText(kNoRatePlace);
        return ASE_InvalidParameter;
    }
    *sampleRate = double(format_.wave.nSamplesPerSec);
    return ASE_OK;
}

// The running format never changes here: the new rate is stored, and the host is asked
// to re-create the driver, whose init loads it.
ASIOError Dx2AsioDriver::setSampleRate(ASIOSampleRate sampleRate) {
    // A rate that no 32-bit count can hold (negative, huge, not a number) is refused
    // before it is truncated.
    if (!(sampleRate >= 0.0 && sampleRate < 4294967296.0)) {
        setErrorText(kRateOutOfRange);
        return ASE_InvalidParameter;
    }
    const DWORD rate = DWORD(sampleRate);
    if (rate == format_.wave.nSamplesPerSec)
        return ASE_OK;
    WAVEFORMATEX stored = format_.wave;
    stored.nSamplesPerSec = rate;
    switch (saveDriverFormat(stored)) {
    case FormatSaveResult::noKey:
        setErrorText(kNoDriverKey);
        return ASE_NoClock;
    case FormatSaveResult::writeFailed:
        setErrorText(kFormatNotSaved);
        return ASE_NoClock;
    case FormatSaveResult::saved:
        break;
    }
    if (callbacks_ && callbacks_->asioMessage)
        callbacks_->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    return ASE_OK;
}

ASIOError Dx2AsioDriver::getClockSources(ASIOClockSource*, long*) { return ASE_NotPresent; }

ASIOError Dx2AsioDriver::setClockSource(long) { return ASE_NotPresent; }

ASIOError Dx2AsioDriver::getSamplePosition(ASIOSamples*, ASIOTimeStamp*) { return ASE_NotPresent; }

ASIOError Dx2AsioDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (!info || info->channel < 0 || info->channel > 1) {
        setErrorText(kNoSuchChannel);
        return ASE_InvalidParameter;
    }
    switch (format_.wave.wBitsPerSample) {
    case 16:
        info->type = 16;  // ASIOSTInt16LSB
        break;
    case 24:
        info->type = 17;  // ASIOSTInt24LSB
        break;
    case 32:
        info->type = 18;  // ASIOSTInt32LSB
        break;
    default:
        setErrorText(kWidthNotSupported);
        return ASE_NotPresent;
    }
    info->channelGroup = 0;
    info->isActive = info->isInput ? captureBuffer_ != nullptr : secondaryBuffer_ != nullptr;
    std::memset(info->name, 0, sizeof info->name);
    std::strcpy(info->name, info->channel == 0 ? "left" : "right");
    return ASE_OK;
}

ASIOError Dx2AsioDriver::controlPanel() {
    if (settingsDialog_)
        return ASE_OK;
    settingsDialog_ = openDriverSettingsDialog(*this, window_);
    if (!settingsDialog_) {
        setErrorText(kNoControlPanel);
        return ASE_NotPresent;
    }
    return ASE_OK;
}

ASIOError Dx2AsioDriver::future(long, void*) { return ASE_NotPresent; }

ASIOError Dx2AsioDriver::outputReady() { return ASE_NotPresent; }

void Dx2AsioDriver::setErrorText(const char* text) { storeErrorText(errorText_, text); }
