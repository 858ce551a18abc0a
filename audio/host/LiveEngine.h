#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Asio.h"
#include "ChainStages.h"
#include "DriverList.h"
#include "LiveChain.h"
#include "ProcessingGate.h"
#include "Relaxed.h"

// What the open driver reported when live input last started (all zero before).
struct DriverFigures {
    double sampleRate;     // follows the driver's rate changes while running
    long inputChannels;    // as reported, negative counts taken as 0
    long outputChannels;
    long usedInputs;       // at most 2 of each are used
    long usedOutputs;
    long minSize, maxSize, preferredSize, granularity;  // preferredSize is the callback's frame count
    long inputLatency, outputLatency;                    // samples
    bool outputReadySupported;
};

// The sample rates believed from a driver, 1 kHz to 768 kHz. Anything else (zero, not
// a number, 5 GHz) is ignored when the driver announces it, and fails the start when
// the driver reports it after being asked for 44100 Hz.
constexpr double kLowestRate = 1000.0;
constexpr double kHighestRate = 768000.0;
inline bool believableRate(double rate) { return rate >= kLowestRate && rate <= kHighestRate; }

// The one audio engine of the program: the list of ASIO drivers, the open driver,
// live input and the driver's callbacks, and the live chain they run. Everything
// here is called on the UI thread except the four driver callbacks, which the
// driver calls on its own thread and which reach this object through a
// process-wide pointer (ASIO callbacks carry no context).
class LiveEngine : public ProcessingControl {
public:
    // Reads the high-resolution performance counter; false when there is none.
    using CounterReader = bool (*)(uint64_t* value);

    // Builds the driver list. counter defaults to QueryPerformanceCounter; a counter
    // that fails at construction disables the CPU load for the engine's lifetime.
    explicit LiveEngine(CounterReader counter = nullptr);
    // Closes the driver (which stops live input) before anything else goes.
    ~LiveEngine() override;
    LiveEngine(const LiveEngine&) = delete;
    LiveEngine& operator=(const LiveEngine&) = delete;

    // Owner of the "ASIO Error" boxes, handed to the driver's init.
    void setOwnerWindow(HWND owner) { owner_ = owner; }
    HWND ownerWindow() const { return owner_; }
    // The VU meter windows, shown when live input starts and hidden when it stops.
    void setMeterWindows(HWND input, HWND output);

    // --- the driver list and the open driver ---
    int32_t driverCount() const { return drivers_.count(); }
    const DriverEntry* driverEntry(int32_t index) const { return drivers_.entry(index); }
    int32_t currentDriver() const { return currentIndex_; }
    // Opening the index already open changes nothing and succeeds.
    bool openDriver(int32_t index);
    // Opens the first entry with this description; true without opening anything
    // when no entry has it.
    bool openDriverByName(const char* description);
    void closeDriver();
    // Opens a driver object the program made itself instead of one of the list (the
    // render driver). The engine takes its own reference and releases it on close;
    // currentDriver() is then kUnlistedDriver.
    static constexpr int32_t kUnlistedDriver = -2;
    bool openDriverObject(IASIO* driver);
    // Shows the driver's error text in an "ASIO Error" box, unless it is empty.
    void showDriverError();
    // Rate, channel counts and latencies of the open driver, or "No driver opened".
    void describeDriver(char* text, size_t size);
    // True when there is no driver or its control panel opened.
    bool openControlPanel();

    // --- live input ---
    bool startLiveInput();
    // False when there was nothing to stop. Processing stays disabled afterwards
    // until the next start or a driver close.
    bool stopLiveInput();
    // After pauseProcessing returns, no processBlock is in progress and none starts
    // until resumeProcessing. Returns at once while stopped.
    void pauseProcessing() override;
    void resumeProcessing() override;
    // The main window's answers to the driver's requests (bits 0x10 and 0x40 of the
    // error flags). They show their own error boxes and tell whether they succeeded.
    bool restartLiveInput();
    bool resetDriver();

    // A driver's resync request restarts live input only with autoSync set.
    void setAutoSync(bool on) { autoSync_ = on ? 1 : 0; }
    bool autoSync() const { return autoSync_ != 0; }

    // --- the chain and what it calls (attach while live input is stopped or paused) ---
    LiveChain& chain() { return chain_; }
    const LiveChain& chain() const { return chain_; }
    // The effect stage both runs in the chain and follows live input's start and stop.
    void attachEffects(ChainEffects* effects);
    void attachRecorder(ChainRecorder* recorder) { chain_.attachRecorder(recorder); }
    void attachAccompaniment(ChainAccompaniment* accompaniment) { chain_.attachAccompaniment(accompaniment); }
    void setClick(const int16_t* samples, uint32_t sizeBytes) { chain_.setClick(samples, sizeBytes); }
    // The MIDI control point (MidiControl) and the performance switch (SwitchPoint).
    void attachMidi(ChainMidi* midi) { chain_.attachMidi(midi); }
    void attachSwitch(ChainSwitch* performanceSwitch) { chain_.attachSwitch(performanceSwitch); }

    // --- read-only values for the display (any thread) ---
    bool running() const { return running_ != 0; }
    // Tenths of a percent of one buffer period spent processing (0 to 1000); -100
    // when the machine has no performance counter.
    int16_t cpuLoad() const { return cpuLoad_; }
    // Buffers that went through the chain since live input last started.
    uint32_t processedBlocks() const { return processedBlocks_; }
    float inputPeakLeft() const { return chain_.inputPeakLeft(); }
    float inputPeakRight() const { return chain_.inputPeakRight(); }
    float outputPeakLeft() const { return chain_.outputPeakLeft(); }
    float outputPeakRight() const { return chain_.outputPeakRight(); }
    DriverFigures driverFigures() const;

private:
    // The callbacks handed to the driver; driver thread.
    static void bufferSwitch(long doubleBufferIndex, ASIOBool directProcess);
    static void sampleRateDidChange(ASIOSampleRate sampleRate);
    static long asioMessage(long selector, long value, void* message, double* opt);
    static ASIOTime* bufferSwitchTimeInfo(ASIOTime* params, long doubleBufferIndex, ASIOBool directProcess);

    // Driver thread.
    void processBuffer(long doubleBufferIndex);
    bool buildChannels(ChannelBuffer* channels, int first, int count, long half);
    void updateCpuLoad(uint64_t start);
    long answerMessage(long selector, long value);

    // UI thread.
    bool readDriverSetup();
    bool createBuffers();
    void releaseDriver(IASIO* driver, bool builtIn);
    void showMeters(bool show);

    DriverList drivers_;
    LiveChain chain_;
    ChainEffects* effects_ = nullptr;

    HWND owner_ = nullptr;
    HWND inputMeter_ = nullptr;
    HWND outputMeter_ = nullptr;
    IASIO* driver_ = nullptr;
    bool driverIsBuiltIn_ = false;
    int32_t currentIndex_ = -1;

    CounterReader counter_;
    // The pause protocol's wakeup: an auto-reset event, set by the block a pause waits for.
    class WakeupEvent : public PauseWakeup {
    public:
        WakeupEvent();
        ~WakeupEvent() override;
        bool valid() const { return event_ != nullptr; }
        void wake() override;
        void wait() override;

    private:
        HANDLE event_;
    };
    WakeupEvent pauseWakeup_;
    ProcessingGate gate_{pauseWakeup_};
    Relaxed<uint8_t> running_{0};
    Relaxed<uint8_t> autoSync_{0};
    Relaxed<uint8_t> formatErrorLatch_{0};  // set by the callback, cleared by open and start
    Relaxed<int16_t> cpuLoad_{0};
    Relaxed<uint32_t> processedBlocks_{0};  // written by the driver thread only, while running
    uint64_t previousStart_ = 0;  // driver thread only

    // Written at start of live input before the driver starts, read by the callbacks.
    static constexpr int kMaxUsed = 2;
    DriverFigures figures_{};
    ASIOBufferInfo bufferInfos_[2 * kMaxUsed] = {};
    ASIOChannelInfo channelInfos_[2 * kMaxUsed] = {};
    ASIOCallbacks callbacks_{};

    static std::atomic<LiveEngine*> current_;
};
