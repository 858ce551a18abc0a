// The built-in driver's DirectSound side: opening devices, the two rings with their
// notifications, the host's channel buffers and the streaming thread.
#include <cstdio>
#include <cstring>
#include <new>

#include "Dx2AsioDriver.h"

namespace {

const char kInputNotOpened[] = "Fails to open the input DirectX driver";
const char kOutputNotOpened[] = "Failed to open the output DirectX driver";
const char kNoPriorityLevel[] = "Failed to set the priority cooperative level";
const char kNoInputBuffer[] = "Failed to create the input buffer";
const char kNoInputNotify[] = "Failed to create the input notify interface";
const char kNoInputPositions[] = "Failed to set the input notification positions";
const char kNoPrimaryBuffer[] = "Failed to create the output primary buffer";
const char kFormatRefused[] = "Failed to set the specified audio format";
const char kNoSecondaryBuffer[] = "Failed to create the output secondary buffer";
const char kNoOutputNotify[] = "Failed to create the output notify interface";
const char kNoOutputPositions[] = "Failed to set the output notification positions";
const char kNoThread[] = "Failed to start the thread";
const char kBadBufferSize[] = "The buffer size must be 8 to 8000 frames";
const char kNoMemory[] = "Not enough memory for the channel buffers";
const char kNoBufferInfos[] = "The buffer descriptions are missing";
const char kNoCallbacks[] = "The host's callbacks are missing";
const char kNotWholePeriods[] =
    "In WASAPI %s mode the block is %ld frames (whole periods of the device's %ld frames), not %ld";

template <class T>
void releaseInterface(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

void closeEvent(HANDLE& event) {
    if (event) {
        CloseHandle(event);
        event = nullptr;
    }
}

// Manual-reset, created signalled; the loop resets it before it waits.
HANDLE newNotificationEvent(HANDLE& event) {
    closeEvent(event);
    event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    return event;
}

}  // namespace

bool Dx2AsioDriver::openDevices(int inputIndex, int outputIndex) {
    bool failed = false;
    if (inputIndex != inputDevice_) {
        releaseInterface(capture_);
        inputDevice_ = -1;
        // Only a listed device is opened: an entry past the list has no GUID and would
        // open the default device instead.
        if (inputIndex >= 0 && inputIndex < inputDevices_.count()) {
            const DeviceEntry& device = inputDevices_.entry(inputIndex);
            if (FAILED(DirectSoundCaptureCreate(device.hasGuid ? &device.guid : nullptr, &capture_, nullptr))) {
                capture_ = nullptr;
                setErrorText(kInputNotOpened);
                failed = true;
            } else {
                inputDevice_ = inputIndex;
            }
        }
    }

    if (outputIndex == outputDevice_)
        return failed;
    releaseInterface(sound_);
    outputDevice_ = -1;
    if (outputIndex < 0 || outputIndex >= outputDevices_.count())
        return failed;
    const DeviceEntry& device = outputDevices_.entry(outputIndex);
    if (FAILED(DirectSoundCreate(device.hasGuid ? &device.guid : nullptr, &sound_, nullptr))) {
        sound_ = nullptr;
        setErrorText(kOutputNotOpened);
        return true;
    }
    if (FAILED(sound_->SetCooperativeLevel(window_, DSSCL_PRIORITY))) {
        setErrorText(kNoPriorityLevel);
        releaseInterface(sound_);
        return true;
    }
    outputDevice_ = outputIndex;
    return failed;
}

void Dx2AsioDriver::useDeviceObjects(IDirectSoundCapture* capture, IDirectSound* sound) {
    releaseInterface(capture_);
    releaseInterface(sound_);
    capture_ = capture;
    sound_ = sound;
}

bool Dx2AsioDriver::createCaptureSide(DWORD blockBytes) {
    if (!capture_)
        return true;
    DSCBUFFERDESC1 desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;  // the 20-byte descriptor
    desc.dwFlags = 0;
    desc.dwBufferBytes = blockBytes * DWORD(numBuffers_);
    desc.lpwfxFormat = &format_.wave;
    HRESULT created = capture_->CreateCaptureBuffer(reinterpret_cast<DSCBUFFERDESC*>(&desc), &captureBuffer_, nullptr);
    // Capture refuses samples wider than 16 bits in the plain record; the same samples
    // in the extensible record are accepted.
    WAVEFORMATEXTENSIBLE extensible;
    if (created == DSERR_BADFORMAT && extensibleFormat(format_.wave, extensible)) {
        desc.lpwfxFormat = &extensible.Format;
        created = capture_->CreateCaptureBuffer(reinterpret_cast<DSCBUFFERDESC*>(&desc), &captureBuffer_, nullptr);
    }
    if (FAILED(created)) {
        captureBuffer_ = nullptr;
        setErrorText(kNoInputBuffer);
        return false;
    }
    return notifyEachBlock(captureBuffer_, captureNotify_, captureEvent_, blockBytes, kNoInputNotify,
                           kNoInputPositions);
}

bool Dx2AsioDriver::createPlaybackSide(DWORD blockBytes) {
    if (!sound_)
        return true;
    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;  // the 36-byte descriptor
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    if (FAILED(sound_->CreateSoundBuffer(&desc, &primaryBuffer_, nullptr))) {
        primaryBuffer_ = nullptr;
        setErrorText(kNoPrimaryBuffer);
        return false;
    }
    if (FAILED(primaryBuffer_->SetFormat(&format_.wave))) {
        setErrorText(kFormatRefused);
        return false;
    }
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2;
    desc.dwBufferBytes = blockBytes * DWORD(numBuffers_);
    desc.lpwfxFormat = &format_.wave;
    if (FAILED(sound_->CreateSoundBuffer(&desc, &secondaryBuffer_, nullptr))) {
        secondaryBuffer_ = nullptr;
        setErrorText(kNoSecondaryBuffer);
        return false;
    }
    return notifyEachBlock(secondaryBuffer_, playbackNotify_, playbackEvent_, blockBytes, kNoOutputNotify,
                           kNoOutputPositions);
}

bool Dx2AsioDriver::notifyEachBlock(IUnknown* ring, IDirectSoundNotify*& notify, HANDLE& event, DWORD blockBytes,
                                    const char* noNotify, const char* noPositions) {
    newNotificationEvent(event);
    if (FAILED(ring->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify)))) {
        notify = nullptr;
        setErrorText(noNotify);
        return false;
    }
    if (!event || !setBlockNotifications(notify, event, blockBytes, numBuffers_)) {
        setErrorText(noPositions);
        return false;
    }
    return true;
}

// Streaming thread, between two runs of the loop, for a capture that never started: a
// sound server may leave a new capture stream unstarted, and starting the same buffer
// again does not help, while a device object opened anew does. Only a device of the
// list is opened again (not objects a caller handed in).
bool Dx2AsioDriver::reopenCaptureSide() {
    if (inputDevice_ < 0 || inputDevice_ >= inputDevices_.count() || !captureBuffer_)
        return false;
    const DeviceEntry& device = inputDevices_.entry(inputDevice_);
    IDirectSoundCapture* fresh = nullptr;
    if (FAILED(DirectSoundCaptureCreate(device.hasGuid ? &device.guid : nullptr, &fresh, nullptr)))
        return false;
    captureBuffer_->Stop();
    releaseInterface(captureNotify_);
    releaseInterface(captureBuffer_);
    releaseInterface(capture_);
    capture_ = fresh;
    if (!createCaptureSide(DWORD(bufferSize_) * format_.wave.nBlockAlign))
        return false;
    streamSetup_.captureBuffer = captureBuffer_;
    streamSetup_.captureEvent = captureEvent_;
    streamCounters_.captureReopened.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void Dx2AsioDriver::releaseCaptureSide() {
    releaseInterface(captureNotify_);
    releaseInterface(captureBuffer_);
    closeEvent(captureEvent_);
}

void Dx2AsioDriver::releasePlaybackSide() {
    releaseInterface(playbackNotify_);
    releaseInterface(secondaryBuffer_);
    releaseInterface(primaryBuffer_);
    closeEvent(playbackEvent_);
}

bool Dx2AsioDriver::allocateChannelBuffers() {
    freeChannelBuffers();
    channelMemory_ = new (std::nothrow) uint8_t[4 * size_t(channelBufferBytes_)]();
    if (!channelMemory_)
        return false;
    for (int i = 0; i < 2; ++i) {
        inputBuffers_[i] = channelMemory_ + i * channelBufferBytes_;
        outputBuffers_[i] = channelMemory_ + (2 + i) * channelBufferBytes_;
    }
    return true;
}

void Dx2AsioDriver::freeChannelBuffers() {
    delete[] channelMemory_;
    channelMemory_ = nullptr;
    inputBuffers_[0] = inputBuffers_[1] = nullptr;
    outputBuffers_[0] = outputBuffers_[1] = nullptr;
}

ASIOError Dx2AsioDriver::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                       ASIOCallbacks* callbacks) {
    // A second creation replaces the first; nothing may stream from buffers being replaced.
    stop();
    disposeBuffers();
    if (numChannels < 0 || (numChannels > 0 && !bufferInfos)) {
        setErrorText(kNoBufferInfos);
        return ASE_InvalidParameter;
    }
    // The rings are sized from the block size: refuse what no ring can hold.
    if (bufferSize < kMinBufferSize || bufferSize > kMaxBufferSize) {
        setErrorText(kBadBufferSize);
        return -1;
    }

    if (usesWasapi()) {
        // The stream opened at init runs at the stored block size; another size opens
        // it anew, and a size the device's periods do not make is refused.
        if (!wasapi_.isOpen() || wasapi_.figures().blockFrames != bufferSize) {
            if (!openWasapiStream(bufferSize))
                return -1;
            if (wasapi_.isOpen() && wasapi_.figures().blockFrames != bufferSize) {
                char text[256];
                std::snprintf(text, sizeof text, kNotWholePeriods, mode_ == DriverMode::wasapiExclusive ? "exclusive" : "shared",
                              wasapi_.figures().blockFrames, wasapi_.figures().periodFrames, bufferSize);
                setErrorText(text);
                return -1;
            }
        }
        bufferSize_ = bufferSize;
        channelBufferBytes_ = bufferSize * 4;  // room for the widest sample of any stream format
        if (!allocateChannelBuffers()) {
            setErrorText(kNoMemory);
            return -1;
        }
    } else {
        channelBufferBytes_ = bufferSize * (format_.wave.wBitsPerSample / 8);
        bufferSize_ = bufferSize;
        const DWORD blockBytes = DWORD(bufferSize) * format_.wave.nBlockAlign;

        if (!createCaptureSide(blockBytes)) {
            releaseCaptureSide();
            return -1;
        }
        if (!createPlaybackSide(blockBytes)) {
            releasePlaybackSide();
            releaseCaptureSide();
            return -1;
        }
        if (!allocateChannelBuffers()) {
            releasePlaybackSide();
            releaseCaptureSide();
            setErrorText(kNoMemory);
            return -1;
        }
    }
    callbacks_ = callbacks;

    int inputsServed = 0;
    int outputsServed = 0;
    for (long i = 0; i < numChannels; ++i) {
        ASIOBufferInfo& info = bufferInfos[i];
        uint8_t* buffer = nullptr;
        if (info.isInput) {
            if (inputsServed < 2)
                buffer = inputBuffers_[inputsServed++];
        } else if (outputsServed < 2) {
            buffer = outputBuffers_[outputsServed++];
        }
        // Both halves are the same buffer: the host always processes in place (index 0).
        info.buffers[0] = info.buffers[1] = buffer;
    }
    return 0;
}

ASIOError Dx2AsioDriver::disposeBuffers() {
    stop();  // nothing may stream from buffers being released
    releaseCaptureSide();
    releasePlaybackSide();
    freeChannelBuffers();
    channelBufferBytes_ = 0;
    return ASE_OK;
}

// Waits until the thread has left the loop (it wakes within its bounded waits once the
// stop request is set); a thread still showing its failure box touches nothing of the
// driver's and keeps the module loaded until it ends.
void Dx2AsioDriver::reapEndedThread() {
    if (!thread_)
        return;
    const HANDLE ends[2] = {thread_, loopEnded_};
    WaitForMultipleObjects(loopEnded_ ? 2 : 1, ends, FALSE, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

ASIOError Dx2AsioDriver::start() {
    // A running thread keeps running: a second start changes nothing.
    if (thread_ && threadRunning_.load(std::memory_order_acquire))
        return callbacks_ && callbacks_->bufferSwitch ? ASE_OK : ASE_InvalidParameter;
    reapEndedThread();  // a loop that ended by itself leaves its finished thread
    stopRequest_.store(false, std::memory_order_release);
    if (stopEvent_)
        ResetEvent(stopEvent_);
    if (!callbacks_ || !callbacks_->bufferSwitch) {
        setErrorText(kNoCallbacks);
        return ASE_InvalidParameter;
    }

    bool streamable = false;
    if (usesWasapi())
        streamable = wasapi_.isOpen() && channelMemory_ != nullptr;
    else if (capture_ && sound_)
        streamable = captureBuffer_ && secondaryBuffer_;
    else if (capture_)
        streamable = captureBuffer_ != nullptr;
    else if (sound_)
        streamable = secondaryBuffer_ != nullptr;
    if (streamable) {
        std::memset(&streamSetup_, 0, sizeof streamSetup_);
        streamSetup_.captureBuffer = capture_ ? captureBuffer_ : nullptr;
        streamSetup_.primaryBuffer = sound_ ? primaryBuffer_ : nullptr;
        streamSetup_.secondaryBuffer = sound_ ? secondaryBuffer_ : nullptr;
        streamSetup_.captureEvent = captureEvent_;
        streamSetup_.playbackEvent = playbackEvent_;
        streamSetup_.syncByInput = syncByInput_;
        streamSetup_.blockFrames = bufferSize_;
        streamSetup_.blocks = numBuffers_;
        streamSetup_.format = format_.wave;
        streamSetup_.inputs[0] = inputBuffers_[0];
        streamSetup_.inputs[1] = inputBuffers_[1];
        streamSetup_.outputs[0] = outputBuffers_[0];
        streamSetup_.outputs[1] = outputBuffers_[1];
        streamSetup_.callbacks = callbacks_;
        streamSetup_.stopRequest = &stopRequest_;
        streamSetup_.stopEvent = stopEvent_;
        streamSetup_.counters = &streamCounters_;
        streamCounters_.clear();

        if (loopEnded_)
            ResetEvent(loopEnded_);
        threadRunning_.store(true, std::memory_order_release);
        thread_ = CreateThread(nullptr, 0, &Dx2AsioDriver::streamThread, this, 0, nullptr);
        if (thread_) {
            SetThreadPriority(thread_, THREAD_PRIORITY_ABOVE_NORMAL);
            return ASE_OK;
        }
        threadRunning_.store(false, std::memory_order_release);
    }
    setErrorText(kNoThread);
    return ASE_NoClock;
}

ASIOError Dx2AsioDriver::stop() {
    stopRequest_.store(true, std::memory_order_release);
    if (thread_) {
        // Wake the thread at once instead of waiting for the next notification; it
        // tests the stop request before it touches DirectSound again. (Without the
        // event, its bounded waits still end within two block periods.)
        if (stopEvent_)
            SetEvent(stopEvent_);
        reapEndedThread();
    }
    return ASE_OK;
}

// The failure box is shown after the driver has been let go: a host that stops and
// releases the driver must not wait for someone to close a box. The thread holds a
// reference to the module, so that the driver's library cannot be unloaded under it.
DWORD WINAPI Dx2AsioDriver::streamThread(void* context) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&Dx2AsioDriver::streamThread),
                       &module);
    Dx2AsioDriver* driver = static_cast<Dx2AsioDriver*>(context);
    StreamEnd end = driver->usesWasapi() ? driver->runWasapi() : runStreamLoop(driver->streamSetup_);
    // A capture that never started gets a device opened anew, twice at most, before the
    // loop gives up on it.
    // Only the capture, and before it moved at all: a device that moved and then stood
    // still, or a playback that stands still, is for the host's reset.
    const StreamCounters& counters = driver->streamCounters_;
    for (uint32_t again = 0; again < 2 && !driver->usesWasapi() && end == StreamEnd::stalled && counters.captureNeverStarted == again + 1 &&
                             counters.playbackStalls == 0 && !driver->stopRequest_.load(std::memory_order_acquire);
         ++again) {
        if (!driver->reopenCaptureSide())
            break;
        end = runStreamLoop(driver->streamSetup_);
    }
    // A WASAPI stream's end keeps its own text (the step and the device's answer); a
    // device that went away asks for the host's reset as a stalled one does.
    char wasapiText[256];
    storeErrorText(wasapiText, driver->errorText_);
    const bool tell = noteStreamEnd(end, driver->streamSetup_, driver->errorText_);
    if (driver->usesWasapi() && end != StreamEnd::stopped)
        storeErrorText(driver->errorText_, wasapiText);
    char message[256];
    storeErrorText(message, driver->errorText_);
    const HWND window = driver->window_;
    const HANDLE loopEnded = driver->loopEnded_;
    driver->threadRunning_.store(false, std::memory_order_release);
    if (loopEnded)
        SetEvent(loopEnded);  // from here on the driver may be gone
    if (tell)
        showStreamFailure(message, window);
    if (module)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}
