#include "AsioProbe.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const double kPi = 3.14159265358979323846;
const size_t kMaxRecorded = 44100 * 20;

void line(std::string& text, const char* name, double value) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%s %.10g\n", name, value);
    text += buffer;
}

void line(std::string& text, const char* name, const char* value) {
    text += name;
    text += ' ';
    text += value;
    text += '\n';
}

// The host side of one stream; the driver's callbacks carry no context.
class StreamHost {
public:
    static StreamHost* current;
    ASIOBufferInfo infos[4];
    ASIOCallbacks callbacks;
    long frames = 0;
    std::atomic<int> switches{0};
    std::vector<float> left;  // reserved before streaming: the callback never allocates
    std::atomic<size_t> recorded{0};
    double phase = 0.0;

    static void bufferSwitch(long index, ASIOBool) { current->onSwitch(index); }
    static long asioMessage(long selector, long value, void*, double*) {
        if (selector == kAsioSelectorSupported)
            return value == kAsioEngineVersion ? 1 : 0;
        return selector == kAsioEngineVersion ? 2 : 0;
    }

    void onSwitch(long index) {
        const int16_t* in = static_cast<const int16_t*>(infos[0].buffers[index & 1]);
        size_t at = recorded.load();
        for (long j = 0; in && j < frames && at < left.size(); ++j)
            left[at++] = float(in[j]) / 32768.0f;
        recorded = at;
        const double step = 2.0 * kPi * 440.0 / 44100.0;
        for (long j = 0; j < frames; ++j) {
            const int16_t v = int16_t(std::lround(32767.0 * 0.25 * std::sin(phase)));
            phase = std::fmod(phase + step, 2.0 * kPi);
            for (int o = 2; o < 4; ++o)
                if (infos[o].buffers[index & 1])
                    static_cast<int16_t*>(infos[o].buffers[index & 1])[j] = v;
        }
        ++switches;
    }
};

StreamHost* StreamHost::current = nullptr;

}  // namespace

double steadyToneLevel(const float* samples, size_t count, double frequency) {
    const size_t window = 4410;  // 100 ms: whole periods of 1 kHz and of 440 Hz
    std::vector<double> levels;
    for (size_t at = 0; at + window <= count; at += window)
        levels.push_back(toneLevel(samples + at, window, frequency, 44100.0));
    if (levels.empty())
        return 0.0;
    std::sort(levels.begin(), levels.end());
    return levels[levels.size() * 3 / 4];
}

std::string askDriver(IASIO* driver) {
    std::string text;
    char name[256] = {};
    driver->getDriverName(name);
    line(text, "name", name);
    line(text, "version", double(driver->getDriverVersion()));
    long inputs = -1, outputs = -1;
    line(text, "getChannels", double(driver->getChannels(&inputs, &outputs)));
    line(text, "inputs", double(inputs));
    line(text, "outputs", double(outputs));
    long minSize = -1, maxSize = -1, preferred = -1, granularity = -1;
    line(text, "getBufferSize", double(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity)));
    line(text, "minSize", double(minSize));
    line(text, "maxSize", double(maxSize));
    line(text, "preferredSize", double(preferred));
    line(text, "granularity", double(granularity));
    long inputLatency = -1, outputLatency = -1;
    line(text, "getLatencies", double(driver->getLatencies(&inputLatency, &outputLatency)));
    line(text, "inputLatency", double(inputLatency));
    line(text, "outputLatency", double(outputLatency));
    ASIOSampleRate rate = 0.0;
    line(text, "getSampleRate", double(driver->getSampleRate(&rate)));
    line(text, "sampleRate", rate);
    for (double r : {22050.0, 44100.0, 48000.0, 88200.0, 96000.0}) {
        char label[32];
        std::snprintf(label, sizeof label, "canSampleRate(%g)", r);
        line(text, label, double(driver->canSampleRate(r)));
    }
    long sources = 0;
    ASIOClockSource clocks[4] = {};
    line(text, "getClockSources", double(driver->getClockSources(clocks, &sources)));
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    line(text, "getSamplePosition", double(driver->getSamplePosition(&position, &stamp)));
    line(text, "future(1)", double(driver->future(1, nullptr)));
    for (long input = 1; input >= 0; --input)
        for (long channel = 0; channel <= 2; ++channel) {
            ASIOChannelInfo info{};
            info.channel = channel;
            info.isInput = input;
            const ASIOError result = driver->getChannelInfo(&info);
            char label[64], value[96];
            std::snprintf(label, sizeof label, "channel(%s %ld)", input ? "in" : "out", channel);
            std::snprintf(value, sizeof value, "%ld active %ld group %ld type %ld name %s", long(result),
                          long(info.isActive), long(info.channelGroup), long(info.type),
                          result == ASE_OK ? info.name : "-");
            line(text, label, value);
        }
    return text;
}

std::string StreamReport::text() const {
    std::string text;
    line(text, "createBuffers", double(created));
    line(text, "start", double(started));
    line(text, "stop", double(stopped));
    line(text, "disposeBuffers", double(disposed));
    line(text, "frames", double(frames));
    line(text, "switches", double(switches));
    line(text, "inputTone", inputTone);
    return text;
}

StreamReport streamThrough(IASIO* driver, int milliseconds) {
    StreamReport report;
    long preferred = 0;
    driver->getBufferSize(nullptr, nullptr, &preferred, nullptr);
    StreamHost host;
    std::memset(host.infos, 0, sizeof host.infos);
    std::memset(&host.callbacks, 0, sizeof host.callbacks);
    host.callbacks.bufferSwitch = &StreamHost::bufferSwitch;
    host.callbacks.asioMessage = &StreamHost::asioMessage;
    host.frames = preferred;
    host.left.assign(kMaxRecorded, 0.0f);
    for (int i = 0; i < 4; ++i) {
        host.infos[i].isInput = i < 2;
        host.infos[i].channelNum = i % 2;
    }
    StreamHost::current = &host;
    report.frames = preferred;
    report.created = driver->createBuffers(host.infos, 4, preferred, &host.callbacks);
    if (report.created == ASE_OK) {
        report.started = driver->start();
        if (report.started == ASE_OK) {
            Sleep(DWORD(milliseconds));
            report.stopped = driver->stop();
        }
        report.disposed = driver->disposeBuffers();
    }
    StreamHost::current = nullptr;
    report.switches = host.switches;
    report.inputTone = steadyToneLevel(host.left.data(), host.recorded, 1000.0);
    return report;
}

double toneLevel(const float* samples, size_t count, double frequency, double rate) {
    if (count == 0)
        return 0.0;
    const double coefficient = 2.0 * std::cos(2.0 * kPi * frequency / rate);
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double s0 = samples[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / double(count);
}
