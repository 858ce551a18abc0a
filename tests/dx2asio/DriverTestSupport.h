#pragma once
// Helpers for the built-in driver's tests: its stored values in the test prefix's
// registry, a driver made and destroyed as the host does it, a recording host, and
// sound played into and recorded from the bench's devices with DirectSound.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <algorithm>

#include "Asio.h"
#include "BuiltInDriver.h"
#include "Dx2AsioDriver.h"

// The built-in driver's values under its key, cleared before and after each use.
class StoredDriverValues {
public:
    StoredDriverValues();
    ~StoredDriverValues();
    void clear();
    void setText(const char* name, const char* text);
    void setDword(const char* name, DWORD value);
    void setBinary(const char* name, const void* data, DWORD size);
    void setRaw(const char* name, DWORD type, const void* data, DWORD size);
    void setFormat(WORD channels, DWORD rate, WORD bits);
    void setDevices(const char* input, const char* output);
    bool has(const char* name) const;
    std::vector<uint8_t> binary(const char* name) const;
};

// A driver created and destroyed as the host does it.
class DriverUnderTest {
public:
    DriverUnderTest() : asio_(createBuiltInDriver()) {}
    ~DriverUnderTest() { destroyBuiltInDriver(asio_); }
    DriverUnderTest(const DriverUnderTest&) = delete;
    DriverUnderTest& operator=(const DriverUnderTest&) = delete;
    IASIO* operator->() const { return asio_; }
    IASIO* asio() const { return asio_; }
    Dx2AsioDriver& object() const { return *static_cast<Dx2AsioDriver*>(asio_); }
    std::string errorMessage() const;
    // How the streaming loop's waits went, for a failure's message.
    std::string streamReport() const;

private:
    IASIO* asio_;
};

// The host's side of the streaming: records what every bufferSwitch sees and writes a
// sine to the outputs. Inputs and outputs are checked for zeros before it writes.
class RecordingHost {
public:
    RecordingHost();
    ~RecordingHost();
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    // Creates the buffers for 2 inputs and 2 outputs (or fewer) of frames each.
    ASIOError createBuffers(IASIO* driver, long frames, int inputs = 2, int outputs = 2);
    ASIOBufferInfo infos[4];
    ASIOCallbacks callbacks;

    std::atomic<int> switches{0};
    std::atomic<int> nonZeroInputBlocks{0};
    std::atomic<int> nonZeroOutputBlocks{0};  // outputs not clean on entry
    std::atomic<int> resetRequests{0};
    std::atomic<int> otherMessages{0};
    std::atomic<double> outputAmplitude{0.0};  // of the sine written to the outputs, 0 writes silence
    std::atomic<double> outputFrequency{1000.0};

    std::vector<DWORD> threadIds() const;
    std::vector<double> switchTimesMs() const;
    // The left input as floats, every block appended.
    std::vector<float> leftInput() const;
    void clearRecord();

private:
    static void bufferSwitch(long index, ASIOBool direct);
    static long asioMessage(long selector, long value, void* message, double* opt);
    void onSwitch(long index);

    static RecordingHost* current_;
    long frames_ = 0;
    int inputs_ = 0;
    int outputs_ = 0;
    double phase_ = 0.0;
    mutable std::mutex mutex_;
    std::vector<DWORD> threadIds_;
    std::vector<double> times_;
    std::vector<float> left_;
};

// The reset requests every recording host of this process has been sent.
int resetRequestsSoFar();

// Streams a test case again when a try failed, and judges the last try. Wine's sound
// system on the bench fails now and then on its own, which no driver can mend: its
// stream into the sound server underflows or its latency differs from stream to
// stream (a case glitched: tried up to twice more), or a capture of a sink's monitor never
// starts while something plays into that sink (the driver reports the stall and asks
// a recording host for a reset; as the program then opens the driver anew, each try
// does, up to three more times). A try that failed while the machine left the whole
// process unscheduled for longer than the rings hold judged the machine: it is tried
// again, up to three more times, and when every failed try was such a one the case is
// skipped, saying so. Every failed try is printed; a fault of the driver fails every
// try. Runs on the test's thread, whose checks it intercepts.
void streamUntilTheBenchHolds(const std::function<void()>& attempt);

bool waitFor(const std::atomic<int>& counter, int atLeast, int ms);
double nowMs();

// A 16-bit stereo 44.1 kHz sine looping on a named playback device.
class TonePlayer {
public:
    TonePlayer(const char* device, double frequency, double amplitude);
    ~TonePlayer();
    bool playing() const { return buffer_ != nullptr; }
    IDirectSoundBuffer* buffer() const { return buffer_; }

private:
    IDirectSound* sound_ = nullptr;
    IDirectSoundBuffer* buffer_ = nullptr;
};

// Records a named capture device (16-bit stereo 44.1 kHz) on its own thread.
class CaptureRecorder {
public:
    explicit CaptureRecorder(const char* device);
    ~CaptureRecorder();
    bool recording() const { return buffer_ != nullptr; }
    std::vector<float> left() const;

private:
    static DWORD WINAPI run(void* self);
    IDirectSoundCapture* capture_ = nullptr;
    IDirectSoundCaptureBuffer* buffer_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<float> left_;
};

// The machine's share of the glitches: a tone streamed through DirectSound the way the
// built-in driver streams, without the driver. Its own thread, at the driver's
// priority, is woken by a capture ring's notifications (one per block, as the driver
// synchronised by its input is) and writes one block of the tone per wake into a
// looping playback ring, outside the span the playback device has taken. Whatever
// starves the driver's thread, the capture or the mixer starves this one too.
// Made with a frequency of 0 it is a loopback instead: each wake copies the newest
// whole captured block, times amplitude, into the playback block (Wine's own round
// trip at the driver's block size and ring).
// Asked to keep its capture, it also keeps the left channel of every whole block it
// finds captured on each wake, as the driver reads its input: what the capture side
// alone did to a signal at this ring shape.
class ReferenceStream {
public:
    ReferenceStream(const char* captureDevice, const char* playbackDevice, double frequency, double amplitude,
                    long blockFrames, long blocks, double keepCaptureSeconds = 0.0);
    ~ReferenceStream();
    bool streaming() const { return thread_ != nullptr; }
    int blocksWritten() const { return written_; }
    // What was captured so far (kept only when asked for).
    std::vector<float> captured() const;

private:
    static DWORD WINAPI run(void* self);
    bool writeBlock(DWORD block, const int16_t* captured);
    void keepCapturedBlocks(DWORD readCursor);
    IDirectSoundCapture* capture_ = nullptr;
    IDirectSoundCaptureBuffer* captureBuffer_ = nullptr;
    IDirectSound* sound_ = nullptr;
    IDirectSoundBuffer* playback_ = nullptr;
    HANDLE event_ = nullptr;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> written_{0};
    DWORD blockBytes_;
    DWORD blocks_;
    double step_;  // 0: a loopback
    double amplitude_;
    double phase_ = 0.0;
    std::vector<float> kept_;                  // sized once: the thread writes, captured() reads
    std::atomic<size_t> keptFrames_{0};
    DWORD keepFrom_ = 0;                       // the next captured block to keep
};

// The level of the frequency in the signal, as the amplitude of a sine (Goertzel).
double toneAmplitude(const float* samples, size_t count, double frequency, double rate);
double rms(const float* samples, size_t count);
// The median of toneAmplitude over consecutive windows: a block repeated or dropped
// here and there breaks the phase of one window, not the measure.
double medianToneAmplitude(const std::vector<float>& samples, double frequency, double rate, size_t window = 882);
// The same over windows of the given size, at the given quantile (0.5 is the median).
double toneAmplitudeQuantile(const std::vector<float>& samples, double frequency, double rate, size_t window,
                             double quantile);
// The windows of samples that hold no run of digital silence. The sound server plays
// exact zeros where a client's stream ran dry (Wine's, on a busy machine); a driver
// that streams a tone leaves no such run, so windows with one belong to the bench
// and are left out of a level measured on the rest. dropped gets their count.
std::vector<float> windowsWithoutServerSilence(const std::vector<float>& samples, size_t window, size_t* dropped);
// Waits until the recorder holds at least count samples.
bool waitForSamples(const CaptureRecorder& recorder, size_t count, int ms);

// Runs a shell command line on the host (Wine starts Unix programs too) and waits for
// it through a marker file, since Wine cannot wait for a Unix process. The line must
// not contain double quotes.
bool runOnHost(const std::string& script, int timeoutMs = 20000);
// The bench's PulseAudio server is there to be asked (pactl, parec, pacat).
bool soundServerReachable();
// A folder of this process under the host's /tmp: its Unix and its Windows path.
struct HostFolder {
    std::string unixPath;
    std::string windowsPath;
};
HostFolder hostScratchFolder(const char* name);
