#pragma once
// ZerevaZ-2-UDID: the program's own ASIO driver, doing its audio work in one of three
// modes: WASAPI shared, WASAPI exclusive (both event-driven), or DirectSound capture
// (inputs) with a DirectSound secondary buffer (outputs).
#include <atomic>
#include <cstdint>

#include "Asio.h"
#include "DeviceList.h"
#include "DriverSettings.h"
#include "StreamLoop.h"
#include "WasapiEndpoints.h"
#include "WasapiStream.h"
#include <dsound.h>

// The object's own IUnknown, which never delegates to an outer object. Its fourth
// slot is the deleting destructor; it is an ordinary virtual function here because a
// C++ virtual destructor would take two slots. Being an interface table, it has no
// destructor of its own.
class INonDelegatingUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
    virtual void deletingDestructor() = 0;
};

// The driver's class id, {0FBD8060-41F5-11D8-BF79-B7C0DFD25873}.
extern const GUID CLSID_Dx2AsioDriver;

// Every operation is called on the host's UI thread unless its comment says otherwise.
class Dx2AsioDriver : public IASIO, public INonDelegatingUnknown {
public:
    // outer: the aggregating object, or null for an object that owns itself.
    explicit Dx2AsioDriver(IUnknown* outer);
    virtual ~Dx2AsioDriver();
    Dx2AsioDriver(const Dx2AsioDriver&) = delete;
    Dx2AsioDriver& operator=(const Dx2AsioDriver&) = delete;

    // IUnknown of the driver interface: forwarded to the owner. Any thread.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // The non-delegating IUnknown. Any thread.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;
    // UI thread: destroys the object.
    void deletingDestructor() override;

    // The ASIO operations. init fails only when another program is using the driver.
    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    long getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(long* numInputChannels, long* numOutputChannels) override;
    ASIOError getLatencies(long* inputLatency, long* outputLatency) override;
    ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, long* numSources) override;
    ASIOError setClockSource(long reference) override;
    // Streaming thread (from within bufferSwitch) or UI thread; touches no state.
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(long selector, void* opt) override;
    // Streaming thread or UI thread.
    ASIOError outputReady() override;

    // Read-only views for diagnostics and tests (UI thread).
    const DeviceList& inputDevices() const { return inputDevices_; }
    const DeviceList& outputDevices() const { return outputDevices_; }
    int selectedInputDevice() const { return inputDevice_; }
    int selectedOutputDevice() const { return outputDevice_; }
    long numBuffers() const { return numBuffers_; }
    bool syncByInput() const { return syncByInput_; }
    const WAVEFORMATEX& format() const { return format_.wave; }
    IDirectSoundCaptureBuffer* captureBuffer() const { return captureBuffer_; }
    IDirectSoundBuffer* secondaryBuffer() const { return secondaryBuffer_; }
    // The mode the driver streams in, and in a WASAPI mode what the stream runs at.
    DriverMode mode() const { return mode_; }
    const WasapiFigures& wasapiFigures() const { return wasapi_.figures(); }
    bool wasapiOpen() const { return wasapi_.isOpen(); }
    // The answer of the last WASAPI failure (S_OK when none).
    HRESULT wasapiFailure() const { return wasapiFailure_; }
    // The round trip (input and output latency) the driver would report for a block of
    // frames and a ring of rings blocks in mode; what it runs at when that is the
    // running stream's block. UI thread.
    long roundTripFrames(DriverMode mode, long frames, long rings) const;
    // How the streaming loop's waits went since the last start (any thread).
    const StreamCounters& streamCounters() const { return streamCounters_; }

    // The settings dialog while it is open (UI thread).
    HWND settingsDialog() const { return settingsDialog_; }

    // Opens the chosen devices (-1 or an index beyond the list for none); true when a
    // failure stored its message. A device already open at that index stays open.
    bool openDevices(int inputIndex, int outputIndex);
    // Tests: streams with these device objects instead of opened ones (null: none),
    // released as opened ones are. UI thread, while no buffers exist.
    void useDeviceObjects(IDirectSoundCapture* capture, IDirectSound* sound);
    // Tests: in a WASAPI mode, the stream is opened on these endpoints (null: none)
    // instead of the chosen ones, from the next open on; they must outlive the driver's
    // stream. UI thread, while no buffers exist.
    void useWasapiEndpoints(AudioClientSource* capture, AudioClientSource* render);

private:
    friend class DriverSettingsDialog;
    static DWORD WINAPI streamThread(void* driver);
    // Streaming thread: the WASAPI stream's run, registered for "Pro Audio" where the
    // system has avrt.dll; the end's text stays in errorText_.
    StreamEnd runWasapi();
    bool usesWasapi() const { return mode_ != DriverMode::directSound; }
    // UI thread: lists the endpoints of the mode; opens the chosen ones at frames.
    void enumerateWasapiDevices();
    bool openWasapiStream(long frames);
    // After a failed open: in exclusive mode (but for a device that is gone) the
    // failure is shown with shared mode offered, which taking stores and opens; the
    // other failures are shown as they are.
    void reportWasapiOpenFailure(long frames);
    void setErrorText(const char* text);
    bool createCaptureSide(DWORD blockBytes);
    bool reopenCaptureSide();
    bool createPlaybackSide(DWORD blockBytes);
    // Gives a ring a fresh notification event, signalled at the end of each block;
    // false with the matching failure text stored.
    bool notifyEachBlock(IUnknown* ring, IDirectSoundNotify*& notify, HANDLE& event, DWORD blockBytes,
                         const char* noNotify, const char* noPositions);
    void releaseCaptureSide();
    void releasePlaybackSide();
    void reapEndedThread();
    bool allocateChannelBuffers();
    void freeChannelBuffers();

    IUnknown* outer_;  // null: the object is its own owner
    std::atomic<long> referenceCount_;
    DeviceList inputDevices_;
    DeviceList outputDevices_;
    HWND window_;
    int inputDevice_;
    int outputDevice_;
    IDirectSoundCapture* capture_;
    IDirectSoundCaptureBuffer* captureBuffer_;
    IDirectSoundNotify* captureNotify_;
    IDirectSound* sound_;
    IDirectSoundBuffer* primaryBuffer_;
    IDirectSoundBuffer* secondaryBuffer_;
    IDirectSoundNotify* playbackNotify_;
    long bufferSize_;
    long numBuffers_;
    bool syncByInput_;
    DriverFormat format_;
    char errorText_[256];
    HANDLE playbackEvent_;
    HANDLE captureEvent_;
    HWND settingsDialog_;
    ASIOCallbacks* callbacks_;
    uint8_t* channelMemory_;  // the four host channel buffers in one block
    uint8_t* inputBuffers_[2];
    uint8_t* outputBuffers_[2];
    long channelBufferBytes_;
    HANDLE thread_;                    // the streaming thread, null when none was started
    std::atomic<bool> threadRunning_;  // cleared by the thread as its last act
    std::atomic<bool> stopRequest_;
    HANDLE stopEvent_;  // set with the stop request: the loop's waits end at once
    HANDLE loopEnded_;  // set by the thread once it no longer touches the driver
    StreamSetup streamSetup_;  // what the running thread streams with
    StreamCounters streamCounters_;
    bool claimed_;             // this object holds a share of the process's claim on the driver
    DriverMode mode_;
    WasapiEndpoints captureEndpoints_;
    WasapiEndpoints renderEndpoints_;
    WasapiStream wasapi_;
    HRESULT wasapiFailure_;
    bool useTestEndpoints_;
    AudioClientSource* testCapture_;
    AudioClientSource* testRender_;
    bool comInitialized_;  // init initialised COM on the UI thread and balances it
};
