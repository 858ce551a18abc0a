#include "Dx2AsioDriver.h"

#include <cstdio>
#include <cstring>

#include "DriverClaim.h"
#include "DriverSettingsDialog.h"
#include "BuiltInDriver.h"
#include "MessageBoxes.h"
#include "ProAudioThread.h"
#include "WasapiErrors.h"

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
const char kStepListInputs[] = "Listing the WASAPI input devices";
const char kStepListOutputs[] = "Listing the WASAPI output devices";
const char kStepFindInput[] = "Finding the WASAPI input device";
const char kStepFindOutput[] = "Finding the WASAPI output device";
const char kOfferShared[] = "\n\nStream in WASAPI shared mode instead?";
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
      claimed_(false),
      mode_(DriverMode::directSound),
      wasapiFailure_(S_OK),
      useTestEndpoints_(false),
      testCapture_(nullptr),
      testRender_(nullptr),
      comInitialized_(false) {
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
    wasapi_.close();
    if (capture_)
        capture_->Release();
    if (sound_)
        sound_->Release();
    if (comInitialized_)
        CoUninitialize();
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
    // The WASAPI modes ask COM for the device enumerator; a host that set up COM
    // already keeps its own set-up.
    if (!comInitialized_)
        comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ModeLoadResult modeLoaded = ModeLoadResult::stored;
    if (wasapi_.isOpen()) {
        // A second init opens the stream anew: nothing may stream from the old one.
        stop();
        disposeBuffers();
        wasapi_.close();
    }
    mode_ = loadDriverMode(&modeLoaded);
    if (usesWasapi()) {
        enumerateWasapiDevices();
    } else {
        outputDevices_.enumeratePlayback();
        inputDevices_.enumerateCapture();
    }

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
    // A stored mode the driver cannot use is named, and the audio goes on in DirectSound.
    if (modeLoaded == ModeLoadResult::unreadable)
        setErrorText(kUnreadableModeText);

    if (usesWasapi()) {
        inputDevice_ = settings.inputDevice;
        outputDevice_ = settings.outputDevice;
        if (!openWasapiStream(bufferSize_))
            reportWasapiOpenFailure(bufferSize_);
        return 1;
    }
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
    if (usesWasapi() && wasapi_.isOpen()) {
        if (inputLatency)
            *inputLatency = wasapi_.figures().inputLatency;
        if (outputLatency)
            *outputLatency = wasapi_.figures().outputLatency;
        return ASE_OK;
    }
    if (inputLatency)
        *inputLatency = bufferSize_;
    if (outputLatency)
        *outputLatency = numBuffers_ * bufferSize_;
    return ASE_OK;
}

ASIOError Dx2AsioDriver::getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) {
    if (usesWasapi() && wasapi_.isOpen()) {
        // Shared: any whole number of engine periods; exclusive: the one period the
        // device took.
        const WasapiFigures& f = wasapi_.figures();
        const bool shared = mode_ == DriverMode::wasapiShared;
        const long period = f.periodFrames > 0 ? f.periodFrames : f.blockFrames;
        if (minSize)
            *minSize = shared ? period : f.blockFrames;
        if (maxSize)
            *maxSize = shared && period > 0 ? (kMaxBufferSize / period < 1 ? 1 : kMaxBufferSize / period) * period
                                            : f.blockFrames;
        if (preferredSize)
            *preferredSize = f.blockFrames;
        if (granularity)
            *granularity = shared ? period : 0;
        return ASE_OK;
    }
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
    if (usesWasapi() && wasapi_.isOpen()) {
        // The host's samples are the stream's own.
        const WasapiFigures& f = wasapi_.figures();
        info->type = asioSampleType(info->isInput ? f.inputKind : f.outputKind);
        info->channelGroup = 0;
        info->isActive = info->isInput ? wasapi_.hasInput() : wasapi_.hasOutput();
        std::memset(info->name, 0, sizeof info->name);
        std::strcpy(info->name, info->channel == 0 ? "left" : "right");
        return ASE_OK;
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

// ---- WASAPI ----

void Dx2AsioDriver::enumerateWasapiDevices() {
    HRESULT hr = captureEndpoints_.enumerate(eCapture);
    if (FAILED(hr)) {
        describeWasapiFailure(hr, kStepListInputs, errorText_);
        wasapiFailure_ = hr;
    }
    hr = renderEndpoints_.enumerate(eRender);
    if (FAILED(hr)) {
        describeWasapiFailure(hr, kStepListOutputs, errorText_);
        wasapiFailure_ = hr;
    }
    inputDevices_ = captureEndpoints_.names();
    outputDevices_ = renderEndpoints_.names();
}

bool Dx2AsioDriver::openWasapiStream(long frames) {
    wasapi_.close();
    EndpointClientSource input, output;
    const wchar_t* inputId = captureEndpoints_.id(inputDevice_);
    const wchar_t* outputId = renderEndpoints_.id(outputDevice_);
    HRESULT hr = S_OK;
    if (!useTestEndpoints_ && inputId && FAILED(hr = input.open(inputId))) {
        describeWasapiFailure(hr, kStepFindInput, errorText_);
        wasapiFailure_ = hr;
        return false;
    }
    if (!useTestEndpoints_ && outputId && FAILED(hr = output.open(outputId))) {
        describeWasapiFailure(hr, kStepFindOutput, errorText_);
        wasapiFailure_ = hr;
        return false;
    }
    AudioClientSource* capture = inputId ? &input : nullptr;
    AudioClientSource* render = outputId ? &output : nullptr;
    if (useTestEndpoints_) {
        capture = testCapture_;
        render = testRender_;
    }
    if (!capture && !render)
        return true;  // nothing chosen: nothing to stream, as with DirectSound
    WasapiOpenRequest request;
    request.mode = mode_ == DriverMode::wasapiExclusive ? WasapiShareMode::exclusive : WasapiShareMode::shared;
    request.capture = capture;
    request.render = render;
    request.rate = format_.wave.nSamplesPerSec;
    request.channels = format_.wave.nChannels;
    request.bitsPerSample = format_.wave.wBitsPerSample;
    request.frames = frames;
    char text[256];
    if (!wasapi_.open(request, text, &hr)) {
        setErrorText(text);
        wasapiFailure_ = hr;
        return false;
    }
    wasapiFailure_ = S_OK;
    return true;
}

void Dx2AsioDriver::reportWasapiOpenFailure(long frames) {
    // A device that will not stream exclusively (in use, not allowed, or none of its
    // formats or periods fit) may still stream shared. Never a silent fallback: the
    // user hears why, and chooses. A device that is gone is only reported.
    const bool deviceGone = wasapiFailure_ == AUDCLNT_E_DEVICE_INVALIDATED ||
                            wasapiFailure_ == HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (mode_ == DriverMode::wasapiExclusive && FAILED(wasapiFailure_) && !deviceGone) {
        char question[256 + sizeof kOfferShared];
        std::snprintf(question, sizeof question, "%s%s", errorText_, kOfferShared);
        if (showMessageBox(window_, question, kBuiltInDriverCaption, MB_YESNO | MB_ICONWARNING) != IDYES)
            return;
        mode_ = DriverMode::wasapiShared;
        saveDriverMode(mode_);
        if (openWasapiStream(frames))
            return;
    }
    showMessageBox(window_, errorText_, kBuiltInDriverCaption, MB_OK | MB_ICONERROR);
}

void Dx2AsioDriver::useWasapiEndpoints(AudioClientSource* capture, AudioClientSource* render) {
    wasapi_.close();
    useTestEndpoints_ = true;
    testCapture_ = capture;
    testRender_ = render;
}

long Dx2AsioDriver::roundTripFrames(DriverMode mode, long frames, long rings) const {
    if (mode == DriverMode::directSound)
        return frames + rings * frames;
    if (mode != mode_ || !wasapi_.isOpen())
        return 2 * frames;  // a block each way, the least any stream adds
    const WasapiFigures& f = wasapi_.figures();
    long block = f.blockFrames;
    if (mode == DriverMode::wasapiShared && f.periodFrames > 0) {
        long periods = (frames + f.periodFrames / 2) / f.periodFrames;
        block = (periods < 1 ? 1 : periods) * f.periodFrames;
    }
    const long inputDevice = f.inputLatency > 0 ? f.inputLatency - f.blockFrames : 0;
    return block + inputDevice + f.outputLatency;
}

StreamEnd Dx2AsioDriver::runWasapi() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Without "Pro Audio" scheduling the thread keeps its raised priority.
    const ProAudioThread scheduling;
    WasapiRun run;
    run.inputs[0] = inputBuffers_[0];
    run.inputs[1] = inputBuffers_[1];
    run.outputs[0] = outputBuffers_[0];
    run.outputs[1] = outputBuffers_[1];
    run.callbacks = callbacks_;
    run.stopRequest = &stopRequest_;
    run.stopEvent = stopEvent_;
    char text[256] = "";
    const StreamEnd end = wasapi_.run(run, text);
    if (end != StreamEnd::stopped) {
        storeErrorText(errorText_, text);
        wasapiFailure_ = wasapi_.failure();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return end;
}
