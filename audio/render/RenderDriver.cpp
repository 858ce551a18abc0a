#include "RenderDriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "SampleFormat.h"

namespace {

const char kDriverName[] = "Talvenor Render";

void clearFloats(float* samples, int32_t count) { std::memset(samples, 0, sizeof(float) * size_t(count)); }

}  // namespace

RenderDriver::RenderDriver(RenderInput& input, RenderOutput& output, const RenderPlan& plan)
    : input_(input),
      output_(output),
      plan_(plan),
      total_(uint64_t(input.frames()) + plan.tailFrames),
      files_(input, output, float(input.rate())) {
    ended_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

RenderDriver::~RenderDriver() {
    stop();
    freeBuffers();
    if (ended_)
        CloseHandle(ended_);
}

HRESULT STDMETHODCALLTYPE RenderDriver::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE RenderDriver::AddRef() { return ULONG(++references_); }

ULONG STDMETHODCALLTYPE RenderDriver::Release() {
    const long left = --references_;
    if (left == 0)
        delete this;
    return ULONG(left);
}

void RenderDriver::setErrorText(const char* text) { std::snprintf(errorText_, sizeof errorText_, "%s", text); }

ASIOBool RenderDriver::init(void*) {
    if (!ended_) {
        setErrorText("The render driver could not create its event");
        return 0;
    }
    if (input_.rate() == 0 || input_.format().blockAlign == 0) {
        setErrorText("The render driver has no input file");
        return 0;
    }
    if (plan_.blockFrames < kMinBlock || plan_.blockFrames > kMaxBlock) {
        setErrorText("The render driver's block size is out of range");
        return 0;
    }
    if (!files_.allocate(plan_.blockFrames)) {
        setErrorText("Not enough memory for the render driver's buffers");
        return 0;
    }
    return 1;
}

void RenderDriver::getDriverName(char* name) { std::snprintf(name, 32, "%s", kDriverName); }

long RenderDriver::getDriverVersion() { return 1; }

void RenderDriver::getErrorMessage(char* string) { std::snprintf(string, 256, "%s", errorText_); }

ASIOError RenderDriver::getChannels(long* numInputChannels, long* numOutputChannels) {
    *numInputChannels = kChannels;
    *numOutputChannels = kChannels;
    return ASE_OK;
}

// Nothing stands between a block and its file, either way.
ASIOError RenderDriver::getLatencies(long* inputLatency, long* outputLatency) {
    *inputLatency = 0;
    *outputLatency = 0;
    return ASE_OK;
}

ASIOError RenderDriver::getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) {
    *minSize = plan_.blockFrames;
    *maxSize = plan_.blockFrames;
    *preferredSize = plan_.blockFrames;
    *granularity = 0;
    return ASE_OK;
}

// The input file's rate is the only one.
ASIOError RenderDriver::canSampleRate(ASIOSampleRate sampleRate) {
    return sampleRate == double(input_.rate()) ? ASE_OK : ASE_NoClock;
}

ASIOError RenderDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    *sampleRate = double(input_.rate());
    return ASE_OK;
}

ASIOError RenderDriver::setSampleRate(ASIOSampleRate sampleRate) {
    if (canSampleRate(sampleRate) == ASE_OK)
        return ASE_OK;
    setErrorText("The render driver runs at the input file's rate only");
    return ASE_NoClock;
}

ASIOError RenderDriver::getClockSources(ASIOClockSource* clocks, long* numSources) {
    if (!clocks || !numSources || *numSources < 1)
        return ASE_InvalidParameter;
    std::memset(clocks, 0, sizeof *clocks);
    clocks->associatedChannel = -1;
    clocks->isCurrentSource = 1;
    std::snprintf(clocks->name, sizeof clocks->name, "Input file");
    *numSources = 1;
    return ASE_OK;
}

ASIOError RenderDriver::setClockSource(long reference) { return reference == 0 ? ASE_OK : ASE_InvalidParameter; }

ASIOError RenderDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    const uint64_t position = done_.load(std::memory_order_relaxed);
    sPos->hi = static_cast<unsigned long>(position >> 32);
    sPos->lo = static_cast<unsigned long>(position);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    tStamp->hi = static_cast<unsigned long>(uint64_t(now.QuadPart) >> 32);
    tStamp->lo = static_cast<unsigned long>(uint64_t(now.QuadPart));
    return ASE_OK;
}

ASIOError RenderDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (!info || info->channel < 0 || info->channel >= kChannels) {
        setErrorText("The render driver has two inputs and two outputs");
        return ASE_InvalidParameter;
    }
    info->isActive = 1;
    info->channelGroup = 0;
    info->type = kAsioFloat32LSB;
    std::snprintf(info->name, sizeof info->name, "%s %ld", info->isInput ? "File in" : "File out", info->channel + 1);
    return ASE_OK;
}

ASIOError RenderDriver::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                      ASIOCallbacks* callbacks) {
    if (!bufferInfos || !callbacks || numChannels < 0 || numChannels > 2 * kChannels ||
        bufferSize != plan_.blockFrames) {
        setErrorText("The render driver serves up to two inputs and two outputs, in blocks of the size it offers");
        return ASE_InvalidParameter;
    }
    for (long i = 0; i < numChannels; ++i)
        if (bufferInfos[i].channelNum < 0 || bufferInfos[i].channelNum >= kChannels) {
            setErrorText("The render driver has two inputs and two outputs");
            return ASE_InvalidParameter;
        }
    disposeBuffers();
    // Both halves of every channel, used or not: an input the host does not take is
    // still decoded into, and an output it does not fill stays silent.
    const size_t perBuffer = size_t(bufferSize);
    memory_ = static_cast<float*>(std::calloc(perBuffer * 4 * kChannels, sizeof(float)));
    if (!memory_) {
        setErrorText("Not enough memory for the render driver's buffers");
        return ASE_NoMemory;
    }
    float* next = memory_;
    for (long ch = 0; ch < kChannels; ++ch)
        for (int half = 0; half < 2; ++half) {
            inputs_[ch][half] = next;
            next += perBuffer;
            outputs_[ch][half] = next;
            next += perBuffer;
        }
    for (long i = 0; i < numChannels; ++i) {
        const long ch = bufferInfos[i].channelNum;
        for (int half = 0; half < 2; ++half)
            bufferInfos[i].buffers[half] = bufferInfos[i].isInput ? inputs_[ch][half] : outputs_[ch][half];
    }
    callbacks_ = callbacks;
    return ASE_OK;
}

void RenderDriver::freeBuffers() {
    std::free(memory_);
    memory_ = nullptr;
    std::memset(inputs_, 0, sizeof inputs_);
    std::memset(outputs_, 0, sizeof outputs_);
    callbacks_ = nullptr;
}

ASIOError RenderDriver::disposeBuffers() {
    stop();
    freeBuffers();
    return ASE_OK;
}

ASIOError RenderDriver::controlPanel() { return ASE_NotPresent; }

ASIOError RenderDriver::future(long, void*) { return ASE_InvalidParameter; }

// The outputs are taken as soon as the callback returns.
ASIOError RenderDriver::outputReady() { return ASE_NotPresent; }

ASIOError RenderDriver::start() {
    if (!callbacks_ || !memory_) {
        setErrorText("The render driver was started without buffers");
        return ASE_InvalidMode;
    }
    if (thread_)
        return ASE_OK;
    if (outcome_.load() != RenderOutcome::Running && outcome_.load() != RenderOutcome::Stopped) {
        SetEvent(ended_);  // nothing is left to render
        return ASE_OK;
    }
    // A host that stops and starts again (to end a take, say) continues where it was.
    outcome_ = RenderOutcome::Running;
    ResetEvent(ended_);
    timeInfo_ = callbacks_->asioMessage &&
                callbacks_->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1 &&
                callbacks_->bufferSwitchTimeInfo;
    stopRequest_ = false;
    if (!files_.start()) {
        setErrorText("The render driver could not start its file thread");
        return ASE_HWMalfunction;
    }
    thread_ = CreateThread(nullptr, 0, &RenderDriver::renderThread, this, 0, nullptr);
    if (!thread_) {
        files_.stop();
        setErrorText("The render driver could not start its thread");
        return ASE_HWMalfunction;
    }
    return ASE_OK;
}

ASIOError RenderDriver::stop() {
    if (!thread_)
        return ASE_OK;
    stopRequest_ = true;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    files_.stop();
    return ASE_OK;
}

DWORD WINAPI RenderDriver::renderThread(void* driver) {
    static_cast<RenderDriver*>(driver)->render();
    return 0;
}

void RenderDriver::finish(RenderOutcome outcome) {
    if (!files_.drain()) {
        done_.store(files_.framesWritten());
        outcome = RenderOutcome::OutputFailed;
    }
    end(outcome);
}

void RenderDriver::end(RenderOutcome outcome) {
    outcome_ = outcome;
    SetEvent(ended_);
}

void RenderDriver::callHost(long half, uint64_t position) {
    if (timeInfo_) {
        ASIOTime time;
        std::memset(&time, 0, sizeof time);
        time.timeInfo.samplePosition.hi = static_cast<unsigned long>(position >> 32);
        time.timeInfo.samplePosition.lo = static_cast<unsigned long>(position);
        time.timeInfo.sampleRate = double(input_.rate());
        time.timeInfo.flags = kSamplePositionValid | kSampleRateValid;
        callbacks_->bufferSwitchTimeInfo(&time, half, 1);
    } else {
        callbacks_->bufferSwitch(half, 1);
    }
}

// Real-time pace: the block that starts at frame `frames` is not handed over before
// its time. Measured from the start, so a late block does not delay the next ones.
void RenderDriver::paceUntil(uint64_t frames, int64_t startCount, int64_t countsPerSecond) {
    const int64_t due = startCount + int64_t(double(frames) * double(countsPerSecond) / double(input_.rate()));
    for (;;) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        if (now.QuadPart >= due || stopRequest_.load())
            return;
        const int64_t ms = (due - now.QuadPart) * 1000 / countsPerSecond;
        Sleep(DWORD(ms > 0 ? ms : 0));
    }
}

void RenderDriver::waitWhileHeldBack() {
    if (!holdBack_)
        return;
    // The writer usually needs far less than a millisecond: yield first, sleep later.
    for (int turns = 0; holdBack_(holdContext_) && !stopRequest_.load(); ++turns)
        Sleep(turns < 1000 ? 0 : 1);
}

void RenderDriver::render() {
    if (plan_.realtime)
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const uint64_t resumedAt = done_.load();
    const int32_t block = plan_.blockFrames;
    long half = 0;
    while (!stopRequest_.load()) {
        const uint64_t done = done_.load();
        // A write that failed ends the render too: finish says so.
        if (done >= total_ || files_.writeFailed()) {
            finish(RenderOutcome::Complete);
            return;
        }
        const int32_t frames = total_ - done < uint64_t(block) ? int32_t(total_ - done) : block;
        int32_t wanted = 0, got = 0;
        if (done < input_.frames()) {
            const RenderFileThread::InputBlock* in = files_.nextInput(stopRequest_);
            if (!in)
                break;  // stopped before the block began; its input stays for a restart
            wanted = in->wanted;
            got = in->got;
            for (long ch = 0; ch < kChannels; ++ch)
                std::memcpy(inputs_[ch][half], in->channels[ch], sizeof(float) * size_t(got));
            files_.doneWithInput();
        }
        for (long ch = 0; ch < kChannels; ++ch) {
            clearFloats(inputs_[ch][half] + got, block - got);
            clearFloats(outputs_[ch][half], block);
        }
        const bool inputFailed = got < wanted;
        // A block begun is finished even when a stop comes meanwhile: its input has
        // been read, and a host that starts again continues after it.
        if (plan_.realtime)
            paceUntil(done - resumedAt, start.QuadPart, frequency.QuadPart);
        waitWhileHeldBack();
        callHost(half, done);
        // A block the input could not fill ends the render with the frames it had.
        const int32_t rendered = inputFailed ? got : frames;
        float* const* written = files_.outputBlock();
        for (long ch = 0; ch < kChannels; ++ch)
            std::memcpy(written[ch], outputs_[ch][half], sizeof(float) * size_t(rendered));
        files_.queueOutput(rendered);
        done_.store(done + uint64_t(rendered));
        if (inputFailed) {
            finish(RenderOutcome::InputFailed);
            return;
        }
        half ^= 1;
    }
    finish(RenderOutcome::Stopped);
}
