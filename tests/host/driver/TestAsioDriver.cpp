// A small ASIO driver for the driver host's tests: a COM in-process server whose
// every answer the test sets, calling the host back from a thread of its own.
#define TEST_DRIVER_BUILD
#include "TestDriverControl.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include <objbase.h>

namespace {

const int kMaxInfos = 8;

// Everything shared between the control functions, the driver objects and the
// callback thread is guarded by one lock; the host's code never runs under it.
CRITICAL_SECTION g_lock;
TestDriverConfig g_config;
TestDriverState g_state;
std::vector<uint8_t> g_lastBlocks[kMaxInfos];
ASIOCallbacks* g_lastCallbacks = nullptr;
const size_t kMaxLoads = 1 << 16;
std::vector<float> g_callbackLoads;  // capacity reserved up front, oldest dropped

// A message handed to the callback thread.
struct PendingRequest {
    bool pending = false;
    bool isRate = false;
    long selector = 0, value = 0;
    double rate = 0.0;
    long result = -1;
};
PendingRequest g_request;
HANDLE g_requestDone = nullptr;
class TestAsioDriver* g_streamingDriver = nullptr;

class Lock {
public:
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
};

TestDriverConfig defaultConfig() {
    TestDriverConfig c{};
    std::snprintf(c.name, sizeof c.name, "Talvenor Test ASIO");
    std::snprintf(c.errorText, sizeof c.errorText, "Test driver failure");
    c.inputChannels = 2;
    c.outputChannels = 2;
    c.inputType = 19;  // 32-bit float, little-endian
    c.outputType = 19;
    c.sampleRate = 44100.0;
    c.minSize = 32;
    c.maxSize = 4096;
    c.preferredSize = 256;
    c.inputLatency = 256;
    c.outputLatency = 512;
    c.intervalMicros = 1000;
    c.amplitude = 0.5f;
    return c;
}

TestDriverConfig config() {
    Lock lock;
    return g_config;
}

bool fails(uint32_t slot) { return (config().failMask & slotBit(slot)) != 0; }

int bytesPerSample(int32_t type) {
    switch (type) {
    case 0: case 16: return 2;
    case 1: case 17: return 3;
    case 4: case 20: return 8;
    default: return 4;
    }
}

// The test signal of one channel: a sine whose amplitude and period depend on the
// channel, so channels cannot be mistaken for one another.
double signalAt(float amplitude, long channel, int64_t frame) {
    return amplitude / double(channel + 1) * std::sin(6.283185307179586 * double(channel + 1) * double(frame) / 64.0);
}

void encodeSample(int32_t type, double v, uint8_t* out) {
    switch (type) {
    case 16: {
        const int16_t s = int16_t(std::lrint(v * 32767.0));
        std::memcpy(out, &s, 2);
        break;
    }
    case 17: {
        const int32_t s = int32_t(std::lrint(v * 8388607.0));
        out[0] = uint8_t(s);
        out[1] = uint8_t(s >> 8);
        out[2] = uint8_t(s >> 16);
        break;
    }
    case 18: {
        const int32_t s = int32_t(std::lrint(v * 2147483647.0));
        std::memcpy(out, &s, 4);
        break;
    }
    case 19: {
        const float f = float(v);
        std::memcpy(out, &f, 4);
        break;
    }
    default: {  // any other type: a 20-bit integer in 32 bits, as type 26 has it
        const int32_t s = int32_t(std::lrint(v * 524287.0));
        std::memcpy(out, &s, 4);
        break;
    }
    }
}

class TestAsioDriver : public IASIO {
public:
    explicit TestAsioDriver(int variant) : variant_(variant) {
        Lock lock;
        ++g_state.instancesCreated;
        ++g_state.instancesAlive;
        g_state.lastVariant = variant;
        rate_ = g_config.sampleRate;
    }
    virtual ~TestAsioDriver() {
        stopStreaming();
        freeBuffers();
        Lock lock;
        --g_state.instancesAlive;
    }

    // --- IUnknown ---
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, testDriverClsid(uint8_t(variant_)))) {
            *object = static_cast<IASIO*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }

    // --- ASIO ---
    ASIOBool init(void* sysHandle) override {
        {
            Lock lock;
            ++g_state.initCalls;
            g_state.initHandle = sysHandle;
        }
        return fails(kSlotInit) ? 0 : 1;
    }
    void getDriverName(char* name) override {
        const TestDriverConfig c = config();
        {
            Lock lock;
            ++g_state.getDriverNameCalls;
        }
        writeText(name, c.name, c.unterminatedTexts != 0);
    }
    long getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override {
        const TestDriverConfig c = config();
        writeText(text, c.errorText, c.unterminatedTexts != 0);
    }
    ASIOError start() override {
        {
            Lock lock;
            ++g_state.startCalls;
        }
        if (fails(kSlotStart))
            return ASE_HWMalfunction;
        if (infoCount_ == 0 && !createdEmpty_)
            return ASE_InvalidMode;
        if (thread_)
            return ASE_OK;
        stopRequested_ = 0;
        thread_ = CreateThread(nullptr, 0, &TestAsioDriver::streamThread, this, 0, nullptr);
        return thread_ ? ASE_OK : ASE_HWMalfunction;
    }
    ASIOError stop() override {
        {
            Lock lock;
            ++g_state.stopCalls;
        }
        stopStreaming();
        return ASE_OK;
    }
    ASIOError getChannels(long* inputs, long* outputs) override {
        if (fails(kSlotGetChannels))
            return ASE_NotPresent;
        const TestDriverConfig c = config();
        *inputs = c.inputChannels;
        *outputs = c.outputChannels;
        return ASE_OK;
    }
    ASIOError getLatencies(long* input, long* output) override {
        if (fails(kSlotGetLatencies))
            return ASE_NotPresent;
        const TestDriverConfig c = config();
        *input = c.inputLatency;
        *output = c.outputLatency;
        return ASE_OK;
    }
    ASIOError getBufferSize(long* minSize, long* maxSize, long* preferred, long* granularity) override {
        if (fails(kSlotGetBufferSize))
            return ASE_NotPresent;
        const TestDriverConfig c = config();
        *minSize = c.minSize;
        *maxSize = c.maxSize;
        *preferred = c.preferredSize;
        *granularity = c.granularity;
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        if (fails(kSlotGetSampleRate))
            return ASE_NotPresent;
        *rate = rate_;
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate rate) override {
        const TestDriverConfig c = config();
        {
            Lock lock;
            ++g_state.setSampleRateCalls;
            g_state.lastSetRate = rate;
        }
        if (c.failMask & slotBit(kSlotSetSampleRate))
            return ASE_NoClock;
        rate_ = c.rateAfterSet != 0.0 ? c.rateAfterSet : rate;
        return ASE_OK;
    }
    ASIOError getClockSources(ASIOClockSource*, long* count) override {
        *count = 0;
        return ASE_NotPresent;
    }
    ASIOError setClockSource(long) override { return ASE_NotPresent; }
    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
        {
            Lock lock;
            ++g_state.samplePositionCalls;
        }
        if (fails(kSlotGetSamplePosition))
            return ASE_SPNotAdvancing;
        position->hi = static_cast<unsigned long>(uint64_t(framesDone_) >> 32);
        position->lo = static_cast<unsigned long>(uint64_t(framesDone_));
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        stamp->hi = static_cast<unsigned long>(uint64_t(now.QuadPart) >> 32);
        stamp->lo = static_cast<unsigned long>(uint64_t(now.QuadPart));
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        const TestDriverConfig c = config();
        {
            Lock lock;
            ++g_state.channelInfoCalls;
        }
        if (c.failMask & slotBit(kSlotGetChannelInfo))
            return ASE_NotPresent;
        const long count = info->isInput ? c.inputChannels : c.outputChannels;
        if (info->channel < 0 || info->channel >= count)
            return ASE_InvalidParameter;
        info->isActive = 1;
        info->channelGroup = 0;
        info->type = info->isInput ? c.inputType : c.outputType;
        std::snprintf(info->name, sizeof info->name, "%s %ld", info->isInput ? "In" : "Out", info->channel + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, long count, long frames, ASIOCallbacks* callbacks) override {
        const TestDriverConfig c = config();
        {
            Lock lock;
            ++g_state.createBuffersCalls;
            g_state.createdCount = int32_t(count);
            g_state.createdSize = int32_t(frames);
            std::memset(g_state.createdInfos, 0, sizeof g_state.createdInfos);
            for (long i = 0; i < count && i < kMaxInfos; ++i)
                g_state.createdInfos[i] = infos[i];
        }
        if (c.failMask & slotBit(kSlotCreateBuffers))
            return ASE_NoMemory;
        if (count < 0 || count > kMaxInfos || frames <= 0 || !callbacks)
            return ASE_InvalidParameter;
        for (long i = 0; i < count; ++i) {
            const long available = infos[i].isInput ? c.inputChannels : c.outputChannels;
            if (infos[i].channelNum < 0 || infos[i].channelNum >= available)
                return ASE_InvalidParameter;
        }
        freeBuffers();
        frames_ = frames;
        for (long i = 0; i < count; ++i) {
            infos_[i] = infos[i];
            types_[i] = infos[i].isInput ? c.inputType : c.outputType;
            const size_t bytes = size_t(frames) * bytesPerSample(types_[i]);
            for (int half = 0; half < 2; ++half) {
                halves_[i][half].assign(bytes, 0xA5);
                infos[i].buffers[half] = halves_[i][half].data();
            }
        }
        if (c.nullBufferAfterCreate && count > 0)
            infos[count - 1].buffers[1] = nullptr;
        infoCount_ = count;
        createdEmpty_ = count == 0;
        callbacks_ = callbacks;
        amplitude_ = c.amplitude;
        {
            Lock lock;
            g_lastCallbacks = callbacks;
            g_state.lastFrames = int32_t(frames);
            for (long i = 0; i < kMaxInfos; ++i)
                g_lastBlocks[i].assign(i < count ? halves_[i][0].size() : 0, 0);
            for (long i = 0; i < count && i < kMaxInfos; ++i)
                g_state.createdInfos[i] = infos[i];
        }
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        {
            Lock lock;
            ++g_state.disposeBuffersCalls;
        }
        stopStreaming();
        freeBuffers();
        return ASE_OK;
    }
    ASIOError controlPanel() override {
        {
            Lock lock;
            ++g_state.controlPanelCalls;
        }
        return fails(kSlotControlPanel) ? ASE_NotPresent : ASE_OK;
    }
    ASIOError future(long, void*) override { return ASE_NotPresent; }
    ASIOError outputReady() override {
        {
            Lock lock;
            ++g_state.outputReadyCalls;
        }
        return fails(kSlotOutputReady) ? ASE_NotPresent : ASE_OK;
    }

private:
    static void writeText(char* destination, const char* text, bool unterminated) {
        if (unterminated)
            std::memset(destination, 'x', 256);  // all 256 bytes, no NUL
        else
            std::snprintf(destination, 256, "%s", text);
    }

    void freeBuffers() {
        {
            Lock lock;
            if (g_lastCallbacks == callbacks_)
                g_lastCallbacks = nullptr;
        }
        callbacks_ = nullptr;
        for (int i = 0; i < kMaxInfos; ++i)
            for (int half = 0; half < 2; ++half)
                halves_[i][half].clear();
        infoCount_ = 0;
        createdEmpty_ = false;
    }

    void stopStreaming() {
        if (!thread_)
            return;
        InterlockedExchange(&stopRequested_, 1);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }

    static DWORD WINAPI streamThread(void* self) {
        static_cast<TestAsioDriver*>(self)->stream();
        return 0;
    }

    void answerRequest() {
        PendingRequest request;
        {
            Lock lock;
            request = g_request;
        }
        if (!request.pending)
            return;
        long result = 0;
        if (request.isRate)
            callbacks_->sampleRateDidChange(request.rate);
        else
            result = callbacks_->asioMessage(request.selector, request.value, nullptr, nullptr);
        {
            Lock lock;
            g_request.pending = false;
            g_request.result = result;
        }
        SetEvent(g_requestDone);
    }

    void fillInputs(long half) {
        for (long i = 0; i < infoCount_; ++i) {
            uint8_t* data = halves_[i][half].data();
            const int step = bytesPerSample(types_[i]);
            if (infos_[i].isInput) {
                for (long f = 0; f < frames_; ++f)
                    encodeSample(types_[i], signalAt(amplitude_, infos_[i].channelNum, framesDone_ + f), data + f * step);
            } else {
                std::memset(data, 0xA5, halves_[i][half].size());  // shows whether the host wrote
            }
        }
    }

    void stream() {
        {
            Lock lock;
            g_streamingDriver = this;
            g_state.streaming = 1;
        }
        long half = 0;
        while (!InterlockedCompareExchange(&stopRequested_, 0, 0)) {
            answerRequest();
            const TestDriverConfig c = config();
            fillInputs(half);
            LARGE_INTEGER begin, end;
            QueryPerformanceCounter(&begin);
            if (c.useTimeInfo) {
                ASIOTime time;
                std::memset(&time, 0, sizeof time);
                time.timeInfo.samplePosition.lo = static_cast<unsigned long>(framesDone_);
                time.timeInfo.flags = kSamplePositionValid;
                callbacks_->bufferSwitchTimeInfo(&time, half, 0);
            } else {
                callbacks_->bufferSwitch(half, 0);
            }
            QueryPerformanceCounter(&end);
            {
                Lock lock;
                if (previousStart_ != 0 && begin.QuadPart > previousStart_ && g_callbackLoads.size() < kMaxLoads)
                    g_callbackLoads.push_back(float(double(end.QuadPart - begin.QuadPart) /
                                                    double(begin.QuadPart - previousStart_)));
                previousStart_ = begin.QuadPart;
                for (long i = 0; i < infoCount_; ++i)
                    g_lastBlocks[i] = halves_[i][half];
                ++g_state.callbacks;
                g_state.lastFrames = int32_t(frames_);
            }
            framesDone_ += frames_;
            half ^= 1;
            if (c.intervalMicros > 0)
                Sleep(DWORD(c.intervalMicros >= 1000 ? c.intervalMicros / 1000 : 1));
        }
        {
            Lock lock;
            g_streamingDriver = nullptr;
            g_state.streaming = 0;
            if (g_request.pending) {  // nobody will answer it now
                g_request.pending = false;
                g_request.result = -1;
                SetEvent(g_requestDone);
            }
        }
    }

    LONG refs_ = 1;
    int variant_;
    double rate_;
    float amplitude_ = 0.5f;
    ASIOCallbacks* callbacks_ = nullptr;
    ASIOBufferInfo infos_[kMaxInfos] = {};
    int32_t types_[kMaxInfos] = {};
    std::vector<uint8_t> halves_[kMaxInfos][2];
    long infoCount_ = 0;
    bool createdEmpty_ = false;
    long frames_ = 0;
    int64_t framesDone_ = 0;
    int64_t previousStart_ = 0;
    HANDLE thread_ = nullptr;
    volatile LONG stopRequested_ = 0;
};

class ClassFactory : public IClassFactory {
public:
    explicit ClassFactory(int variant) : variant_(variant) {}
    virtual ~ClassFactory() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        TestAsioDriver* driver = new TestAsioDriver(variant_);
        const HRESULT result = driver->QueryInterface(iid, object);
        driver->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    LONG refs_ = 1;
    int variant_;
};

bool isTestClass(REFCLSID id, int* variant) {
    const CLSID base = testDriverClsid(0);
    if (std::memcmp(&id, &base, 15) != 0)
        return false;
    *variant = reinterpret_cast<const uint8_t*>(&id)[15];
    return true;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
        g_requestDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        g_config = defaultConfig();
        g_callbackLoads.reserve(kMaxLoads);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID id, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    int variant = 0;
    if (!isTestClass(id, &variant))
        return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new ClassFactory(variant);
    const HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

// The tests hold the DLL for the whole process.
extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

void TestDriver_reset() {
    Lock lock;
    g_config = defaultConfig();
    const int32_t alive = g_state.instancesAlive;
    const int32_t streaming = g_state.streaming;
    g_state = TestDriverState{};
    g_state.instancesAlive = alive;
    g_state.streaming = streaming;
    for (std::vector<uint8_t>& block : g_lastBlocks)
        block.clear();
    g_lastCallbacks = nullptr;
    g_callbackLoads.clear();
    g_callbackLoads.reserve(kMaxLoads);
}

void TestDriver_configure(const TestDriverConfig* c) {
    Lock lock;
    g_config = *c;
}

void TestDriver_getConfig(TestDriverConfig* c) {
    Lock lock;
    *c = g_config;
}

void TestDriver_getState(TestDriverState* state) {
    Lock lock;
    *state = g_state;
}

namespace {

long request(const PendingRequest& asked) {
    ASIOCallbacks* direct = nullptr;
    bool queued = false;
    {
        Lock lock;
        if (g_streamingDriver) {
            g_request = asked;
            g_request.pending = true;
            ResetEvent(g_requestDone);
            queued = true;
        } else {
            direct = g_lastCallbacks;
        }
    }
    if (queued) {
        if (WaitForSingleObject(g_requestDone, 10000) != WAIT_OBJECT_0)
            return -1;
        Lock lock;
        return g_request.result;
    }
    if (!direct)
        return -1;
    if (asked.isRate) {
        direct->sampleRateDidChange(asked.rate);
        return 0;
    }
    return direct->asioMessage(asked.selector, asked.value, nullptr, nullptr);
}

}  // namespace

long TestDriver_sendMessage(long selector, long value) {
    PendingRequest asked;
    asked.selector = selector;
    asked.value = value;
    return request(asked);
}

void TestDriver_announceRate(double rate) {
    PendingRequest asked;
    asked.isRate = true;
    asked.rate = rate;
    request(asked);
}

int32_t TestDriver_lastBlock(int32_t info, void* destination, int32_t bytes) {
    Lock lock;
    if (info < 0 || info >= kMaxInfos || bytes < 0)
        return 0;
    const std::vector<uint8_t>& block = g_lastBlocks[info];
    const int32_t n = bytes < int32_t(block.size()) ? bytes : int32_t(block.size());
    std::memcpy(destination, block.data(), size_t(n));
    return n;
}

int32_t TestDriver_callbackLoads(float* destination, int32_t count) {
    Lock lock;
    int32_t n = 0;
    for (; n < count && size_t(n) < g_callbackLoads.size(); ++n)
        destination[n] = g_callbackLoads[size_t(n)];
    return n;
}
