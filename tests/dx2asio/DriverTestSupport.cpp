#include "DriverTestSupport.h"
#include "UnixPrograms.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "RegistryKeys.h"
#include "ScratchNames.h"
#include "StreamLoop.h"

namespace {

const double kPi = 3.14159265358979323846;

const char* const kValueNames[] = {"dxInputDevice", "dxOutputDevice", "dxBufferSize",
                                   "dxNumBuffers",  "dxSyncByInput",  "dxSoundFormat",
                                   "dxMode"};

HKEY openDriverKey() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

struct DeviceSearch {
    const char* name;
    GUID guid;
    bool found;
};

BOOL CALLBACK matchDevice(LPGUID g, LPCSTR description, LPCSTR, LPVOID context) {
    DeviceSearch* s = static_cast<DeviceSearch*>(context);
    if (g && std::strcmp(description, s->name) == 0) {
        s->guid = *g;
        s->found = true;
        return FALSE;
    }
    return TRUE;
}

bool findDevice(bool capture, const char* name, GUID& guid) {
    DeviceSearch search{name, GUID{}, false};
    if (capture)
        DirectSoundCaptureEnumerateA(matchDevice, &search);
    else
        DirectSoundEnumerateA(matchDevice, &search);
    guid = search.guid;
    return search.found;
}

// The host's file system is drive Z: under Wine.
std::string windowsPathOf(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

WAVEFORMATEX cdFormat() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = 176400;
    return f;
}

}  // namespace

// ---- StoredDriverValues ----

StoredDriverValues::StoredDriverValues() {
    createSettingsKeys();
    clear();
}

StoredDriverValues::~StoredDriverValues() { clear(); }

void StoredDriverValues::clear() {
    HKEY key = openDriverKey();
    if (!key)
        return;
    for (const char* name : kValueNames)
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

void StoredDriverValues::setRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = openDriverKey();
    if (!key)
        return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void StoredDriverValues::setText(const char* name, const char* text) {
    setRaw(name, REG_SZ, text, DWORD(std::strlen(text) + 1));
}

void StoredDriverValues::setDword(const char* name, DWORD value) { setRaw(name, REG_DWORD, &value, sizeof value); }

void StoredDriverValues::setBinary(const char* name, const void* data, DWORD size) {
    setRaw(name, REG_BINARY, data, size);
}

void StoredDriverValues::setFormat(WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX f{};  // only channels, rate and bits carry meaning
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    setBinary("dxSoundFormat", &f, sizeof f);
}

void StoredDriverValues::setDevices(const char* input, const char* output) {
    if (input)
        setText("dxInputDevice", input);
    if (output)
        setText("dxOutputDevice", output);
}

bool StoredDriverValues::has(const char* name) const {
    HKEY key = openDriverKey();
    if (!key)
        return false;
    const bool found = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

std::vector<uint8_t> StoredDriverValues::binary(const char* name) const {
    std::vector<uint8_t> data(256);
    HKEY key = openDriverKey();
    if (!key)
        return {};
    DWORD type = 0;
    DWORD size = DWORD(data.size());
    if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS || type != REG_BINARY)
        size = 0;
    RegCloseKey(key);
    data.resize(size);
    return data;
}

std::string DriverUnderTest::errorMessage() const {
    char text[256];
    std::memset(text, 'x', sizeof text);
    asio_->getErrorMessage(text);
    return text;
}

std::string DriverUnderTest::streamReport() const {
    const StreamCounters& c = object().streamCounters();
    char text[400];
    std::snprintf(text, sizeof text, "streaming: %u time-outs, %u blocks from the cursors, %u late notifications, "
                  "%u stalls (capture %u, playback %u), capture opened anew %u times; error text \"%s\"",
                  c.timeouts.load(), c.recoveries.load(), c.skipped.load(), c.stalls.load(), c.captureStalls.load(),
                  c.playbackStalls.load(), c.captureReopened.load(), errorMessage().c_str());
    return text;
}

// ---- RecordingHost ----

static std::atomic<int> resetRequestsOfAllHosts{0};

int resetRequestsSoFar() { return resetRequestsOfAllHosts.load(); }

namespace {

// A watch on the machine itself: a thread of this process that asks to wake every 2 ms
// and keeps the longest time it was not run. A busy or throttled virtual machine now
// and then leaves the whole process unscheduled for longer than the rings hold; any
// driver glitches then, and the try tells about the machine, not the driver.
class MachineStallWatch {
public:
    MachineStallWatch() { thread_ = CreateThread(nullptr, 0, &MachineStallWatch::run, this, 0, nullptr); }
    ~MachineStallWatch() { stop(); }
    // The longest time the watch was kept from running, in ms.
    double stop() {
        if (thread_) {
            stopping_.store(true);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        return longestMs_;
    }

private:
    static DWORD WINAPI run(void* context) {
        MachineStallWatch* watch = static_cast<MachineStallWatch*>(context);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        double last = nowMs();
        while (!watch->stopping_.load()) {
            Sleep(2);
            const double now = nowMs();
            watch->longestMs_ = std::max(watch->longestMs_, now - last);
            last = now;
        }
        return 0;
    }

    HANDLE thread_ = nullptr;
    std::atomic<bool> stopping_{false};
    double longestMs_ = 0.0;  // written by the watch's thread until stop has joined it
};

// Longer than two periods of the 800-frame blocks these tests stream, and more than
// half a two-block ring: no driver keeps such a ring fed while it does not run.
const double kMachineStallMs = 40.0;

}  // namespace

void streamUntilTheBenchHolds(const std::function<void()>& attempt) {
    int glitchRetries = 2, stallRetries = 3, starvedRetries = 3;
    double longestStarved = 0.0;
    for (int round = 1;; ++round) {
        const int resetsBefore = resetRequestsSoFar();
        ::testing::TestPartResultArray results;
        MachineStallWatch watch;
        {
            ::testing::ScopedFakeTestPartResultReporter reporter(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
            attempt();
        }
        const double machineStallMs = watch.stop();
        std::printf("[ machine  ] the longest this process waited to run: %.0f ms\n", machineStallMs);
        std::vector<const ::testing::TestPartResult*> failed;
        const ::testing::TestPartResult* skipped = nullptr;
        for (int i = 0; i < results.size(); ++i) {
            const ::testing::TestPartResult& r = results.GetTestPartResult(i);
            if (r.failed())
                failed.push_back(&r);
            else if (r.skipped())
                skipped = &r;
        }
        if (failed.empty()) {
            if (skipped)
                GTEST_SKIP() << skipped->message();
            return;
        }
        const bool starved = machineStallMs > kMachineStallMs;
        if (starved) {
            longestStarved = std::max(longestStarved, machineStallMs);
            for (const ::testing::TestPartResult* r : failed)
                std::printf("[ try %d    ] %s:%d: %s\n", round, r->file_name(), r->line_number(), r->message());
            if (starvedRetries-- > 0) {
                std::printf("[ try %d    ] failed while the machine left this process unscheduled for %.0f ms: "
                            "streaming once more\n", round, machineStallMs);
                continue;
            }
            GTEST_SKIP() << "in each failed try the machine left this process unscheduled for more than "
                         << kMachineStallMs << " ms (up to " << longestStarved
                         << " ms): the streaming could not be judged on this machine";
        }
        const bool stalled = resetRequestsSoFar() > resetsBefore;
        int& retries = stalled ? stallRetries : glitchRetries;
        for (const ::testing::TestPartResult* r : failed) {
            if (retries > 0)
                std::printf("[ try %d    ] %s:%d: %s\n", round, r->file_name(), r->line_number(), r->message());
            else
                ADD_FAILURE_AT(r->file_name(), r->line_number()) << r->message();
        }
        if (retries-- <= 0)
            return;
        std::printf("[ try %d    ] failed%s (the longest the machine kept this process waiting: %.0f ms): "
                    "streaming once more\n", round,
                    stalled ? " with a device that stalled (the host was asked for a reset)" : "", machineStallMs);
    }
}

RecordingHost* RecordingHost::current_ = nullptr;

RecordingHost::RecordingHost() {
    std::memset(infos, 0, sizeof infos);
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.bufferSwitch = &RecordingHost::bufferSwitch;
    callbacks.asioMessage = &RecordingHost::asioMessage;
    current_ = this;
    left_.reserve(44100 * 40);
}

RecordingHost::~RecordingHost() { current_ = nullptr; }

ASIOError RecordingHost::createBuffers(IASIO* driver, long frames, int inputs, int outputs) {
    frames_ = frames;
    inputs_ = inputs;
    outputs_ = outputs;
    std::memset(infos, 0, sizeof infos);
    for (int i = 0; i < inputs; ++i) {
        infos[i].isInput = 1;
        infos[i].channelNum = i;
    }
    for (int i = 0; i < outputs; ++i) {
        infos[inputs + i].isInput = 0;
        infos[inputs + i].channelNum = i;
    }
    return driver->createBuffers(infos, inputs + outputs, frames, &callbacks);
}

void RecordingHost::bufferSwitch(long index, ASIOBool) {
    if (current_)
        current_->onSwitch(index);
}

long RecordingHost::asioMessage(long selector, long, void*, double*) {
    if (!current_)
        return 0;
    if (selector == kAsioResetRequest) {
        ++current_->resetRequests;
        ++resetRequestsOfAllHosts;
    } else {
        ++current_->otherMessages;
    }
    return 1;
}

void RecordingHost::onSwitch(long index) {
    bool inputsNonZero = false;
    bool outputsNonZero = false;
    for (int i = 0; i < inputs_ + outputs_; ++i) {
        const int16_t* s = static_cast<const int16_t*>(infos[i].buffers[index]);
        for (long j = 0; s && j < frames_; ++j)
            if (s[j] != 0) {
                (infos[i].isInput ? inputsNonZero : outputsNonZero) = true;
                break;
            }
    }
    if (inputsNonZero)
        ++nonZeroInputBlocks;
    if (outputsNonZero)
        ++nonZeroOutputBlocks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threadIds_.push_back(GetCurrentThreadId());
        times_.push_back(nowMs());
        if (inputs_ > 0 && infos[0].buffers[index]) {
            const int16_t* s = static_cast<const int16_t*>(infos[0].buffers[index]);
            for (long j = 0; j < frames_; ++j)
                left_.push_back(float(s[j]) / 32768.0f);
        }
    }
    const double amplitude = outputAmplitude.load();
    const double step = 2.0 * kPi * outputFrequency.load() / 44100.0;
    for (long j = 0; j < frames_; ++j) {
        const int16_t v = int16_t(std::lround(32767.0 * amplitude * std::sin(phase_)));
        phase_ = std::fmod(phase_ + step, 2.0 * kPi);
        for (int o = 0; o < outputs_; ++o)
            if (infos[inputs_ + o].buffers[index])
                static_cast<int16_t*>(infos[inputs_ + o].buffers[index])[j] = v;
    }
    // Dirty the inputs, so that a loop that must clean them shows when it does not.
    for (int i = 0; i < inputs_; ++i)
        if (infos[i].buffers[index])
            std::memset(infos[i].buffers[index], 0x11, size_t(frames_) * 2);
    ++switches;
}

std::vector<DWORD> RecordingHost::threadIds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threadIds_;
}

std::vector<double> RecordingHost::switchTimesMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return times_;
}

std::vector<float> RecordingHost::leftInput() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return left_;
}

void RecordingHost::clearRecord() {
    std::lock_guard<std::mutex> lock(mutex_);
    threadIds_.clear();
    times_.clear();
    left_.clear();
}

bool waitFor(const std::atomic<int>& counter, int atLeast, int ms) {
    const double end = nowMs() + ms;
    while (counter < atLeast) {
        if (nowMs() > end)
            return false;
        Sleep(2);
    }
    return true;
}

double nowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(now.QuadPart) / double(frequency.QuadPart);
}

// ---- TonePlayer ----

TonePlayer::TonePlayer(const char* device, double frequency, double amplitude) {
    GUID guid;
    if (!findDevice(false, device, guid) || FAILED(DirectSoundCreate(&guid, &sound_, nullptr)))
        return;
    sound_->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY);
    WAVEFORMATEX format = cdFormat();
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    desc.dwBufferBytes = 44100 * 4;  // one second: a whole number of periods of a 1 kHz tone
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    if (FAILED(sound_->CreateSoundBuffer(&desc, &buffer, nullptr)))
        return;
    void* data = nullptr;
    DWORD bytes = 0;
    if (FAILED(buffer->Lock(0, desc.dwBufferBytes, &data, &bytes, nullptr, nullptr, 0))) {
        buffer->Release();
        return;
    }
    int16_t* s = static_cast<int16_t*>(data);
    for (DWORD j = 0; j < bytes / 4; ++j) {
        const int16_t v = int16_t(std::lround(32767.0 * amplitude * std::sin(2.0 * kPi * frequency * j / 44100.0)));
        s[2 * j] = s[2 * j + 1] = v;
    }
    buffer->Unlock(data, bytes, nullptr, 0);
    buffer->Play(0, 0, DSBPLAY_LOOPING);
    buffer_ = buffer;
}

TonePlayer::~TonePlayer() {
    if (buffer_) {
        buffer_->Stop();
        buffer_->Release();
    }
    if (sound_)
        sound_->Release();
}

// ---- CaptureRecorder ----

CaptureRecorder::CaptureRecorder(const char* device) {
    GUID guid;
    if (!findDevice(true, device, guid) || FAILED(DirectSoundCaptureCreate(&guid, &capture_, nullptr)))
        return;
    WAVEFORMATEX format = cdFormat();
    DSCBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwBufferBytes = 44100 * 4;
    desc.lpwfxFormat = &format;
    if (FAILED(capture_->CreateCaptureBuffer(&desc, &buffer_, nullptr)) ||
        FAILED(buffer_->Start(DSCBSTART_LOOPING))) {
        if (buffer_)
            buffer_->Release();
        buffer_ = nullptr;
        return;
    }
    left_.reserve(44100 * 40);
    thread_ = CreateThread(nullptr, 0, &CaptureRecorder::run, this, 0, nullptr);
}

CaptureRecorder::~CaptureRecorder() {
    stop_ = true;
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (buffer_) {
        buffer_->Stop();
        buffer_->Release();
    }
    if (capture_)
        capture_->Release();
}

DWORD WINAPI CaptureRecorder::run(void* context) {
    CaptureRecorder* self = static_cast<CaptureRecorder*>(context);
    const DWORD ring = 44100 * 4;
    DWORD readPosition = 0;
    bool started = false;
    while (!self->stop_) {
        Sleep(5);
        DWORD capturePosition = 0, safe = 0;
        if (FAILED(self->buffer_->GetCurrentPosition(&capturePosition, &safe)))
            break;
        if (!started) {
            readPosition = safe;  // what was captured before the recorder ran is not ours
            started = true;
            continue;
        }
        DWORD available = (safe + ring - readPosition) % ring;
        available -= available % 4;
        if (available == 0)
            continue;
        void *p1 = nullptr, *p2 = nullptr;
        DWORD n1 = 0, n2 = 0;
        if (FAILED(self->buffer_->Lock(readPosition, available, &p1, &n1, &p2, &n2, 0)))
            break;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            for (DWORD i = 0; i < n1 / 4; ++i)
                self->left_.push_back(static_cast<int16_t*>(p1)[2 * i] / 32768.0f);
            for (DWORD i = 0; p2 && i < n2 / 4; ++i)
                self->left_.push_back(static_cast<int16_t*>(p2)[2 * i] / 32768.0f);
        }
        self->buffer_->Unlock(p1, n1, p2, n2);
        readPosition = (readPosition + available) % ring;
    }
    return 0;
}

std::vector<float> CaptureRecorder::left() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return left_;
}

// ---- ReferenceStream ----

ReferenceStream::ReferenceStream(const char* captureDevice, const char* playbackDevice, double frequency,
                                 double amplitude, long blockFrames, long blocks, double keepCaptureSeconds)
    : blockBytes_(DWORD(blockFrames) * 4), blocks_(DWORD(blocks)), step_(2.0 * kPi * frequency / 44100.0),
      amplitude_(amplitude), kept_(size_t(keepCaptureSeconds * 44100.0)) {
    GUID in, out;
    if (!findDevice(true, captureDevice, in) || !findDevice(false, playbackDevice, out) ||
        FAILED(DirectSoundCaptureCreate(&in, &capture_, nullptr)) ||
        FAILED(DirectSoundCreate(&out, &sound_, nullptr)))
        return;
    sound_->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY);
    WAVEFORMATEX format = cdFormat();
    DSCBUFFERDESC captureDesc{};
    captureDesc.dwSize = sizeof captureDesc;
    captureDesc.dwBufferBytes = blockBytes_ * blocks_;
    captureDesc.lpwfxFormat = &format;
    DSBUFFERDESC playbackDesc{};
    playbackDesc.dwSize = sizeof playbackDesc;
    playbackDesc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    playbackDesc.dwBufferBytes = blockBytes_ * blocks_;
    playbackDesc.lpwfxFormat = &format;
    if (FAILED(capture_->CreateCaptureBuffer(&captureDesc, &captureBuffer_, nullptr)) ||
        FAILED(sound_->CreateSoundBuffer(&playbackDesc, &playback_, nullptr)))
        return;
    IDirectSoundNotify* notify = nullptr;
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (FAILED(captureBuffer_->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify))))
        return;
    const bool notified = setBlockNotifications(notify, event_, blockBytes_, blocks);
    notify->Release();
    if (!notified)
        return;
    for (DWORD k = 0; k < blocks_; ++k)
        writeBlock(k, nullptr);
    if (FAILED(captureBuffer_->Start(DSCBSTART_LOOPING)) || FAILED(playback_->Play(0, 0, DSBPLAY_LOOPING)))
        return;
    thread_ = CreateThread(nullptr, 0, &ReferenceStream::run, this, 0, nullptr);
    if (thread_)
        SetThreadPriority(thread_, THREAD_PRIORITY_ABOVE_NORMAL);
}

ReferenceStream::~ReferenceStream() {
    stop_ = true;
    if (thread_) {
        SetEvent(event_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (playback_) {
        playback_->Stop();
        playback_->Release();
    }
    if (captureBuffer_) {
        captureBuffer_->Stop();
        captureBuffer_->Release();
    }
    if (sound_)
        sound_->Release();
    if (capture_)
        capture_->Release();
    if (event_)
        CloseHandle(event_);
}

std::vector<float> ReferenceStream::captured() const {
    return std::vector<float>(kept_.begin(), kept_.begin() + long(keptFrames_.load(std::memory_order_acquire)));
}

// Every whole block behind the read cursor that was not kept yet, from the ring's
// start on; a wake later than the ring loses what the device overwrote, as the
// driver would.
void ReferenceStream::keepCapturedBlocks(DWORD readCursor) {
    const DWORD safeEnd = readCursor / blockBytes_;  // the block the device is filling
    const size_t blockFrames = blockBytes_ / 4;
    size_t frames = keptFrames_.load(std::memory_order_relaxed);
    while (keepFrom_ != safeEnd && frames + blockFrames <= kept_.size()) {
        void* data = nullptr;
        DWORD bytes = 0;
        if (FAILED(captureBuffer_->Lock(keepFrom_ * blockBytes_, blockBytes_, &data, &bytes, nullptr, nullptr, 0)))
            return;
        const int16_t* s = static_cast<const int16_t*>(data);
        for (size_t j = 0; j < bytes / 4; ++j)
            kept_[frames + j] = s[2 * j] / 32768.0f;
        captureBuffer_->Unlock(data, bytes, nullptr, 0);
        frames += bytes / 4;
        keepFrom_ = (keepFrom_ + 1) % blocks_;
    }
    keptFrames_.store(frames, std::memory_order_release);
}

bool ReferenceStream::writeBlock(DWORD block, const int16_t* captured) {
    void* data = nullptr;
    DWORD bytes = 0;
    if (FAILED(playback_->Lock(block * blockBytes_, blockBytes_, &data, &bytes, nullptr, nullptr, 0)))
        return false;
    int16_t* s = static_cast<int16_t*>(data);
    for (DWORD j = 0; j < bytes / 4; ++j) {
        if (step_ == 0.0) {
            s[2 * j] = s[2 * j + 1] = captured ? int16_t(amplitude_ * captured[2 * j]) : 0;
            continue;
        }
        s[2 * j] = s[2 * j + 1] = int16_t(std::lround(32767.0 * amplitude_ * std::sin(phase_)));
        phase_ = std::fmod(phase_ + step_, 2.0 * kPi);
    }
    playback_->Unlock(data, bytes, nullptr, 0);
    ++written_;
    return true;
}

// Paced as the driver is: by the capture's notifications, each wait bounded by two
// block periods (20 ms at least), and once one has timed out, by the read cursor
// moving into another block until notifications come again.
DWORD WINAPI ReferenceStream::run(void* context) {
    ReferenceStream* self = static_cast<ReferenceStream*>(context);
    const DWORD blocks = self->blocks_, blockBytes = self->blockBytes_;
    const double blockMs = 1000.0 * double(blockBytes / 4) / 44100.0;
    const DWORD waitMs = DWORD(std::ceil(std::max(2.0 * blockMs, 20.0)));
    const DWORD pollMs = DWORD(std::ceil(std::max(blockMs / 2.0, 2.0)));
    DWORD next = 0;
    DWORD lastBlock = blocks;  // the capture block of the last wake: none yet
    bool started = false, missing = false, recovered = false;
    while (!self->stop_) {
        const DWORD woken = WaitForSingleObject(self->event_, missing ? pollMs : waitMs);
        if (self->stop_ || (woken != WAIT_OBJECT_0 && woken != WAIT_TIMEOUT))
            break;
        DWORD captureCursor = 0, readCursor = 0;
        if (FAILED(self->captureBuffer_->GetCurrentPosition(&captureCursor, &readCursor)))
            break;
        const bool sameBlock = readCursor / blockBytes == lastBlock;
        if (woken == WAIT_OBJECT_0) {
            ResetEvent(self->event_);
            missing = false;
            const bool late = recovered && sameBlock;  // a block already written from the cursor
            recovered = false;
            if (late)
                continue;
        } else {
            missing = true;
            if (sameBlock)
                continue;
            recovered = true;
        }
        lastBlock = readCursor / blockBytes;
        DWORD play = 0, write = 0;
        if (FAILED(self->playback_->GetCurrentPosition(&play, &write)))
            break;
        // Every block from the one playing to the one under the write cursor is the
        // device's; the next block written is kept one block past that span.
        const DWORD playing = play / blockBytes, committed = write / blockBytes;
        const DWORD taken = (committed + blocks - playing) % blocks;
        if (!started || (next + blocks - playing) % blocks <= taken) {
            const DWORD room = blocks - taken - 1;  // untouched blocks
            next = (committed + (room >= 3 ? 2 : 1)) % blocks;
            started = true;
        }
        void* captured = nullptr;
        DWORD capturedBytes = 0;
        if (!self->kept_.empty())
            self->keepCapturedBlocks(readCursor);
        if (self->step_ == 0.0) {
            const DWORD newest = (readCursor / blockBytes + blocks - 1) % blocks;
            if (FAILED(self->captureBuffer_->Lock(newest * blockBytes, blockBytes, &captured, &capturedBytes,
                                                  nullptr, nullptr, 0)))
                break;
        }
        const bool written = self->writeBlock(next, static_cast<const int16_t*>(captured));
        if (captured)
            self->captureBuffer_->Unlock(captured, capturedBytes, nullptr, 0);
        if (!written)
            break;
        next = (next + 1) % blocks;
    }
    return 0;
}

// ---- Analysis ----

double toneAmplitude(const float* samples, size_t count, double frequency, double rate) {
    if (count == 0)
        return 0.0;
    double re = 0.0, im = 0.0;
    const double w = 2.0 * kPi * frequency / rate;
    for (size_t n = 0; n < count; ++n) {
        re += samples[n] * std::cos(w * double(n));
        im -= samples[n] * std::sin(w * double(n));
    }
    return 2.0 * std::sqrt(re * re + im * im) / double(count);
}

double rms(const float* samples, size_t count) {
    if (count == 0)
        return 0.0;
    double sum = 0.0;
    for (size_t n = 0; n < count; ++n)
        sum += double(samples[n]) * samples[n];
    return std::sqrt(sum / double(count));
}

double toneAmplitudeQuantile(const std::vector<float>& samples, double frequency, double rate, size_t window,
                             double quantile) {
    std::vector<double> levels;
    for (size_t start = 0; start + window <= samples.size(); start += window)
        levels.push_back(toneAmplitude(samples.data() + start, window, frequency, rate));
    if (levels.empty())
        return 0.0;
    const size_t k = std::min(levels.size() - 1, size_t(quantile * double(levels.size())));
    std::nth_element(levels.begin(), levels.begin() + k, levels.end());
    return levels[k];
}

double medianToneAmplitude(const std::vector<float>& samples, double frequency, double rate, size_t window) {
    return toneAmplitudeQuantile(samples, frequency, rate, window, 0.5);
}

std::vector<float> windowsWithoutServerSilence(const std::vector<float>& samples, size_t window, size_t* dropped) {
    // 16 exact zeros in a row: a tone of the tests' levels crosses zero in one or two.
    const size_t kSilentRun = 16;
    std::vector<float> kept;
    size_t left = 0;
    for (size_t start = 0; start + window <= samples.size(); start += window) {
        size_t run = 0, longest = 0;
        for (size_t n = start; n < start + window; ++n) {
            run = samples[n] == 0.0f ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        if (longest >= kSilentRun)
            ++left;
        else
            kept.insert(kept.end(), samples.begin() + long(start), samples.begin() + long(start + window));
    }
    if (dropped)
        *dropped = left;
    return kept;
}

bool waitForSamples(const CaptureRecorder& recorder, size_t count, int ms) {
    const double end = nowMs() + ms;
    while (recorder.left().size() < count) {
        if (nowMs() > end)
            return false;
        Sleep(10);
    }
    return true;
}

// Host files of this process, named for this run and width.
static std::string hostScratchName(const char* what) {
    return "/tmp/" + scratchName(std::string("dx2asio-") + what);
}

bool runOnHost(const std::string& script, int timeoutMs) {
    static std::atomic<int> runs{0};
    char marker[200];
    std::snprintf(marker, sizeof marker, "%s-%d.done", hostScratchName("run").c_str(), ++runs);
    const std::string windowsMarker = windowsPathOf(marker);
    DeleteFileA(windowsMarker.c_str());
    std::string line = "/bin/sh -c \"" + script + "; touch " + marker + "\"";
    if (!startUnixProgram(line))
        return false;
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (GetFileAttributesA(windowsMarker.c_str()) != INVALID_FILE_ATTRIBUTES) {
            DeleteFileA(windowsMarker.c_str());
            return true;
        }
        Sleep(20);
    }
    return false;
}

bool soundServerReachable() {
    char server[512];
    return GetEnvironmentVariableA("PULSE_SERVER", server, sizeof server) > 0;
}

HostFolder hostScratchFolder(const char* name) {
    const std::string unixPath = hostScratchName(name);
    HostFolder folder{unixPath, windowsPathOf(unixPath)};
    CreateDirectoryA(folder.windowsPath.c_str(), nullptr);
    return folder;
}
