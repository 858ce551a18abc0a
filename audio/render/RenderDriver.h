#pragma once
// The render driver: an ASIO driver of the program's own whose input is a WAV file and
// whose output is another. Opened by the engine like any driver, it calls the host
// back from its own thread block after block, as fast as the chain takes them (or at
// the input's pace on request), so the offline render runs the very code of live
// input and sounds exactly like it.
#include <atomic>
#include <cstdint>

#include "Asio.h"
#include "RenderFileThread.h"
#include "RenderInput.h"
#include "RenderOutput.h"

struct RenderPlan {
    int32_t blockFrames = 4096;  // the block size the host is offered (and the only one)
    uint32_t tailFrames = 0;    // silence rendered after the input, so effects ring out
    bool realtime = false;      // one block per block's duration instead of flat out
};

enum class RenderOutcome : int32_t {
    Running,       // not ended yet
    Complete,      // the input and the tail are rendered
    InputFailed,   // the input ended early or could not be read; what came before is rendered
    OutputFailed,  // the output could not be written
    Stopped,       // the host stopped the driver before the end
};

// The host calls the ASIO operations on its UI thread; the render thread calls the
// host back. The input and output are the caller's and must outlive the driver's
// last start.
class RenderDriver : public IASIO {
public:
    static constexpr int32_t kMinBlock = 8;
    static constexpr int32_t kMaxBlock = 8192;
    static constexpr long kChannels = 2;  // of each kind; a mono file feeds both inputs

    // Holds one reference for its creator.
    RenderDriver(RenderInput& input, RenderOutput& output, const RenderPlan& plan);
    virtual ~RenderDriver();
    RenderDriver(const RenderDriver&) = delete;
    RenderDriver& operator=(const RenderDriver&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

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
    // Render thread (from within the callback) or UI thread.
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(long selector, void* opt) override;
    ASIOError outputReady() override;

    // UI thread, before start: asked (on the render thread) before each block; while it
    // answers true the driver waits, as a device would, so that what the host feeds
    // from its callback (a take's writer thread) keeps up with a render that no clock
    // paces. Null asks nothing.
    void holdBackWhile(bool (*busy)(void* context), void* context) {
        holdBack_ = busy;
        holdContext_ = context;
    }

    // Any thread: the render's progress, in frames at the input's rate.
    uint64_t totalFrames() const { return total_; }
    uint64_t framesDone() const { return done_.load(std::memory_order_relaxed); }
    // Signalled (manual reset) when the render has ended, whatever the outcome.
    HANDLE endedEvent() const { return ended_; }
    RenderOutcome outcome() const { return outcome_.load(); }

private:
    static DWORD WINAPI renderThread(void* driver);
    void render();
    void callHost(long half, uint64_t position);
    void paceUntil(uint64_t frames, int64_t startCount, int64_t countsPerSecond);
    void waitWhileHeldBack();
    // Ends the render once everything queued is written (a failed write turns the
    // outcome into OutputFailed, at the frames that reached the file).
    void finish(RenderOutcome outcome);
    void end(RenderOutcome outcome);
    void setErrorText(const char* text);
    void freeBuffers();

    std::atomic<long> references_{1};
    RenderInput& input_;
    RenderOutput& output_;
    const RenderPlan plan_;
    const uint64_t total_;
    char errorText_[256] = {};

    ASIOCallbacks* callbacks_ = nullptr;
    bool timeInfo_ = false;  // the host takes bufferSwitchTimeInfo
    bool (*holdBack_)(void* context) = nullptr;
    void* holdContext_ = nullptr;
    float* memory_ = nullptr;
    float* inputs_[kChannels][2] = {};   // [channel][half], blockFrames each
    float* outputs_[kChannels][2] = {};
    // Reads ahead of the chain and writes behind it; its blocks read ahead outlast
    // the host's buffers, so a host that disposes of them between a stop and a start
    // loses nothing.
    RenderFileThread files_;

    HANDLE thread_ = nullptr;
    HANDLE ended_ = nullptr;
    std::atomic<bool> stopRequest_{false};
    std::atomic<uint64_t> done_{0};
    std::atomic<RenderOutcome> outcome_{RenderOutcome::Running};
};
