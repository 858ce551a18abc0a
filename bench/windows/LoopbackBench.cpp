// The round trip of live input on the bench's loopback (the "instrument" sink and its
// monitor under Wine), printed as medians in milliseconds, at 128, 256 and 512 frames:
//   - through the built-in driver in each mode that streams here (WASAPI shared and
//     DirectSound; Wine refuses exclusive mode): an impulse written to the driver's
//     output is found again in its input; the frames between are the round trip a
//     host sees from an input sample to its output and back;
//   - Wine's own WASAPI without the driver: a shared render and a capture stream, an
//     impulse rendered and found again in the capture, timed by the clock from the
//     write that held it to the read that found it (corrected by where in each it sat).
// usage: loopback_bench (under scripts/with-winebench, which makes the sinks)
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "BuiltInDriver.h"
#include "DriverSettings.h"
#include "Dx2AsioDriver.h"
#include "RegistryKeys.h"
#include "WasapiEndpoints.h"
#include "WasapiExclusiveNegotiation.h"

namespace {

const int kImpulses = 9;
const long kSpacing = 22050;  // frames between impulses: half a second

// ---- Through the driver ----

struct DriverLoop {
    long frames = 0;
    long inputType = 16, outputType = 16;
    ASIOBufferInfo infos[4];
    std::atomic<long> block{0};
    long nextImpulse = kSpacing;  // output frame of the next impulse
    long pendingFrom = -1;        // output frame of the impulse not yet heard
    std::vector<long> trips;
};
DriverLoop* loop = nullptr;

float readSample(const void* buffer, long type, long j) {
    if (type == 19)
        return static_cast<const float*>(buffer)[j];
    if (type == 18)
        return float(static_cast<const int32_t*>(buffer)[j] / 2147483648.0);
    return static_cast<const int16_t*>(buffer)[j] / 32768.0f;
}

void writeSample(void* buffer, long type, long j, float v) {
    if (type == 19)
        static_cast<float*>(buffer)[j] = v;
    else if (type == 18)
        static_cast<int32_t*>(buffer)[j] = int32_t(v * 2147483647.0f);
    else
        static_cast<int16_t*>(buffer)[j] = int16_t(v * 32767.0f);
}

void bufferSwitch(long index, ASIOBool) {
    DriverLoop& l = *loop;
    const long start = l.block.load() * l.frames;
    // The input first: an impulse heard is measured from the frame it was written at.
    for (long j = 0; j < l.frames && l.pendingFrom >= 0; ++j)
        if (std::fabs(readSample(l.infos[0].buffers[index], l.inputType, j)) > 0.25f) {
            l.trips.push_back(start + j - l.pendingFrom);
            l.pendingFrom = -1;
        }
    for (int o = 2; o < 4; ++o)
        for (long j = 0; j < l.frames; ++j)
            writeSample(l.infos[o].buffers[index], l.outputType, j, 0.0f);
    if (l.pendingFrom < 0 && l.nextImpulse >= start && l.nextImpulse < start + l.frames) {
        for (int o = 2; o < 4; ++o)
            writeSample(l.infos[o].buffers[index], l.outputType, l.nextImpulse - start, 0.8f);
        l.pendingFrom = l.nextImpulse;
        l.nextImpulse += kSpacing;
    } else if (l.pendingFrom >= 0 && start - l.pendingFrom > 44100) {
        l.pendingFrom = -1;  // lost: on to the next
        l.nextImpulse = start + kSpacing;
    } else if (l.pendingFrom < 0 && l.nextImpulse < start) {
        l.nextImpulse = start + kSpacing;
    }
    l.block.fetch_add(1);
}

// The bench takes no resets and answers no questions.
long asioMessage(long, long, void*, double*) { return 0; }

void setValue(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void setText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(std::strlen(text) + 1));
}

double medianMs(std::vector<long> trips) {
    if (trips.empty())
        return 0.0;
    std::sort(trips.begin(), trips.end());
    return 1000.0 * double(trips[trips.size() / 2]) / 44100.0;
}

// The median round trip through the driver, 0 when it would not stream.
double throughDriver(DriverMode mode, long frames, long* ranAt, size_t* heard) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return 0.0;
    setText(key, "dxInputDevice", "Monitor of instrument");
    setText(key, "dxOutputDevice", "instrument");
    setValue(key, "dxBufferSize", DWORD(frames));
    // Wine's DirectSound moves in 10 ms steps: a ring of 4096 frames or more holds.
    setValue(key, "dxNumBuffers", DWORD(std::max<long>(2, 4096 / frames)));
    setValue(key, "dxSyncByInput", 1);
    setValue(key, "dxMode", DWORD(mode));
    RegCloseKey(key);

    IASIO* driver = createBuiltInDriver();
    DriverLoop l;
    loop = &l;
    double median = 0.0;
    *heard = 0;
    if (driver && driver->init(nullptr)) {
        long preferred = 0;
        driver->getBufferSize(nullptr, nullptr, &preferred, nullptr);
        l.frames = preferred;
        *ranAt = preferred;
        std::memset(l.infos, 0, sizeof l.infos);
        for (int i = 0; i < 4; ++i) {
            l.infos[i].isInput = i < 2;
            l.infos[i].channelNum = i % 2;
        }
        ASIOCallbacks callbacks{};
        callbacks.bufferSwitch = &bufferSwitch;
        callbacks.asioMessage = &asioMessage;
        ASIOChannelInfo info{};
        info.isInput = 1;
        if (driver->getChannelInfo(&info) == ASE_OK)
            l.inputType = info.type;
        info.isInput = 0;
        if (driver->getChannelInfo(&info) == ASE_OK)
            l.outputType = info.type;
        if (driver->createBuffers(l.infos, 4, preferred, &callbacks) == ASE_OK && driver->start() == ASE_OK) {
            for (int waited = 0; waited < 20000 && l.trips.size() < size_t(kImpulses); waited += 50)
                Sleep(50);
            driver->stop();
            median = medianMs(l.trips);
            *heard = l.trips.size();
        }
        driver->disposeBuffers();
    }
    destroyBuiltInDriver(driver);
    loop = nullptr;
    return median;
}

// ---- Wine's own WASAPI ----

template <class T>
void release(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// An endpoint by friendly name, shared, event-driven, 16-bit stereo at 44.1 kHz.
IAudioClient* openShared(EDataFlow flow, const char* name, long frames, HANDLE event) {
    WasapiEndpoints endpoints;
    if (FAILED(endpoints.enumerate(flow)))
        return nullptr;
    const int index = endpoints.names().find(name);
    EndpointClientSource source;
    IAudioClient* client = nullptr;
    if (index < 0 || FAILED(source.open(endpoints.id(index))) || FAILED(source.activate(&client)))
        return nullptr;
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = 44100 * 4;
    if (FAILED(client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                  AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM,
                                  framesToDuration(double(2 * frames), 44100), 0, &f, nullptr)) ||
        FAILED(client->SetEventHandle(event))) {
        client->Release();
        return nullptr;
    }
    return client;
}

double throughWineWasapi(long frames, size_t* heard) {
    *heard = 0;
    HANDLE captureEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE renderEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    IAudioClient* capture = openShared(eCapture, "Monitor of instrument", frames, captureEvent);
    IAudioClient* render = openShared(eRender, "instrument", frames, renderEvent);
    IAudioCaptureClient* reader = nullptr;
    IAudioRenderClient* writer = nullptr;
    std::vector<long> trips;
    UINT32 renderBuffer = 0;
    if (capture && render && SUCCEEDED(capture->GetService(kAudioCaptureClientId, reinterpret_cast<void**>(&reader))) &&
        SUCCEEDED(render->GetService(kAudioRenderClientId, reinterpret_cast<void**>(&writer))) &&
        SUCCEEDED(render->GetBufferSize(&renderBuffer)) && SUCCEEDED(render->Start()) &&
        SUCCEEDED(capture->Start())) {
        LARGE_INTEGER frequency, now;
        QueryPerformanceFrequency(&frequency);
        const auto nowMs = [&] {
            QueryPerformanceCounter(&now);
            return 1000.0 * double(now.QuadPart) / double(frequency.QuadPart);
        };
        std::vector<double> tripsMs;
        long written = 0, nextImpulse = kSpacing;
        bool pending = false;
        double writtenAtMs = 0.0;  // when the impulse was written, corrected to its frame
        const HANDLE events[2] = {captureEvent, renderEvent};
        const DWORD until = GetTickCount() + 20000;
        while (tripsMs.size() < size_t(kImpulses) && GetTickCount() < until) {
            WaitForMultipleObjects(2, events, FALSE, 200);
            // Render: keep about a block queued, an impulse now and then.
            UINT32 padding = 0;
            render->GetCurrentPadding(&padding);
            const long want = frames - long(padding);
            BYTE* data = nullptr;
            if (want > 0 && SUCCEEDED(writer->GetBuffer(UINT32(want), &data))) {
                std::memset(data, 0, size_t(want) * 4);
                if (!pending && nextImpulse >= written && nextImpulse < written + want) {
                    int16_t* s = reinterpret_cast<int16_t*>(data) + 2 * (nextImpulse - written);
                    s[0] = s[1] = 26000;
                    pending = true;
                    // As the driver's measure: from the write of a block, less the frames
                    // before the impulse in it.
                    writtenAtMs = nowMs() - 1000.0 * double(nextImpulse - written) / 44100.0;
                    nextImpulse += kSpacing;
                }
                writer->ReleaseBuffer(UINT32(want), 0);
                written += want;
            }
            // Capture: everything there is.
            UINT32 packet = 0;
            while (SUCCEEDED(reader->GetNextPacketSize(&packet)) && packet > 0) {
                UINT32 got = 0;
                DWORD flags = 0;
                if (FAILED(reader->GetBuffer(&data, &got, &flags, nullptr, nullptr)))
                    break;
                const int16_t* s = reinterpret_cast<const int16_t*>(data);
                for (UINT32 j = 0; j < got && pending; ++j)
                    if (!(flags & AUDCLNT_BUFFERFLAGS_SILENT) && std::abs(s[2 * j]) > 8000) {
                        // The packet was read now; the impulse sat j frames into it.
                        tripsMs.push_back(nowMs() - writtenAtMs - 1000.0 * double(got - j) / 44100.0);
                        pending = false;
                    }
                reader->ReleaseBuffer(got);
            }
            if (pending && nowMs() - writtenAtMs > 1000.0)
                pending = false;
        }
        for (double ms : tripsMs)
            trips.push_back(long(std::lround(ms * 44.1)));
        capture->Stop();
        render->Stop();
    }
    release(reader);
    release(writer);
    release(capture);
    release(render);
    CloseHandle(captureEvent);
    CloseHandle(renderEvent);
    *heard = trips.size();
    return medianMs(trips);
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const long sizes[] = {128, 256, 512};
    std::printf("round trip on the bench's loopback, median of %d impulses, ms (frames the stream ran at)\n",
                kImpulses);
    std::printf("%-34s %16s %16s %16s\n", "", "128", "256", "512");
    const struct {
        const char* name;
        DriverMode mode;
    } modes[] = {{"driver, WASAPI shared", DriverMode::wasapiShared}, {"driver, DirectSound", DriverMode::directSound}};
    for (const auto& m : modes) {
        std::printf("%-34s", m.name);
        for (long frames : sizes) {
            long ranAt = 0;
            size_t heard = 0;
            const double ms = throughDriver(m.mode, frames, &ranAt, &heard);
            std::printf(heard ? "   %7.1f (%4ld)" : "          -     ", ms, ranAt);
            std::fflush(stdout);
        }
        std::printf("\n");
    }
    std::printf("%-34s", "Wine's WASAPI, no driver");
    for (long frames : sizes) {
        size_t heard = 0;
        const double ms = throughWineWasapi(frames, &heard);
        std::printf(heard ? "   %7.1f       " : "          -     ", ms);
        std::fflush(stdout);
    }
    std::printf("\n");
    CoUninitialize();
    return 0;
}
