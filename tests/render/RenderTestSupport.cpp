#include "RenderTestSupport.h"

#include "WavFiles.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <io.h>
#include <sstream>

#include "LiveChain.h"
#include "RigOptions.h"
#include "RigRender.h"
#include "SampleFormat.h"
#include "WinInclude.h"

namespace {

const double kPi = 3.14159265358979323846;

double decibels(double power) { return power > 1e-9 ? 10.0 * std::log10(power) : -90.0; }

}  // namespace

std::vector<int32_t> quantise(const std::vector<float>& samples, int bits) {
    const double full = double(1 << (bits - 1));
    std::vector<int32_t> out(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        const double v = std::lrint(double(samples[i]) * full);
        out[i] = int32_t(v > full - 1 ? full - 1 : v < -full ? -full : v);
    }
    return out;
}

bool writeDryTake(const std::string& path, const DryTake& take) {
    const int width = take.bits / 8;
    const uint32_t channels = uint32_t(take.channels.size());
    const uint32_t data = uint32_t(take.frames() * channels * width);
    std::vector<uint8_t> bytes;
    bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
    putLittle(bytes, data + 36, 4);
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLittle(bytes, 16, 4);
    putLittle(bytes, 1, 2);
    putLittle(bytes, channels, 2);
    putLittle(bytes, take.rate, 4);
    putLittle(bytes, take.rate * channels * width, 4);
    putLittle(bytes, channels * width, 2);
    putLittle(bytes, take.bits, 2);
    bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
    putLittle(bytes, data, 4);
    for (size_t i = 0; i < take.frames(); ++i)
        for (const std::vector<int32_t>& channel : take.channels)
            putLittle(bytes, uint32_t(channel[i]), width);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

std::vector<std::vector<float>> liveChainOutput(const DryTake& take, LiveSettings& settings, int32_t block,
                                                size_t frames) {
    LiveChain chain(&settings);
    chain.setSampleRate(take.rate);
    chain.prepareForStart(take.rate);
    const int width = take.bits / 8;
    const int32_t inputType = take.bits == 16 ? kAsioInt16LSB : kAsioInt24LSB;
    std::vector<std::vector<float>> out(2);
    std::vector<uint8_t> inBytes[2], outBytes[2];
    for (size_t start = 0; start < frames; start += size_t(block)) {
        ChannelBuffer inputs[3] = {}, outputs[3] = {};
        for (int ch = 0; ch < 2; ++ch) {
            const std::vector<int32_t>& source = take.channels[take.channels.size() == 1 ? 0 : ch];
            inBytes[ch].clear();
            for (int32_t i = 0; i < block; ++i) {
                const size_t at = start + size_t(i);
                putLittle(inBytes[ch], at < source.size() ? uint32_t(source[at]) : 0u, width);
            }
            outBytes[ch].assign(size_t(block) * 3, 0);
            formatFromSampleType(inputType, inputs[ch].format, take.rate);
            inputs[ch].position = inBytes[ch].data();
            formatFromSampleType(kAsioInt24LSB, outputs[ch].format, take.rate);
            outputs[ch].position = outBytes[ch].data();
        }
        chain.processBlock(inputs, outputs, block);
        const size_t n = frames - start < size_t(block) ? frames - start : size_t(block);
        for (int ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < n; ++i) {
                const int32_t v = int32_t(getLittle(&outBytes[ch][i * 3], 3) << 8) >> 8;
                out[ch].push_back(float(v) / 8388608.0f);
            }
    }
    return out;
}

int runRig(const std::vector<std::string>& arguments, int stopAfterPolls) {
    std::vector<const char*> argv{"talvenor-rig"};
    for (const std::string& a : arguments)
        argv.push_back(a.c_str());
    RigOptions options;
    std::string error;
    if (!parseRigOptions(int(argv.size()), argv.data(), options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    int polls = stopAfterPolls;
    auto stop = [](void* context) {
        int* left = static_cast<int*>(context);
        return *left > 0 && --*left == 0;
    };
    return runRender(options, stop, &polls);
}

size_t timesIn(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string capturedOutput(const std::function<int()>& call, int* result) {
    std::fflush(stdout);
    const int saved = _dup(_fileno(stdout));
    FILE* file = std::fopen("captured-output.txt", "w+b");
    if (saved < 0 || !file)
        return std::string();
    _dup2(_fileno(file), _fileno(stdout));
    const int answer = call();
    std::fflush(stdout);
    _dup2(saved, _fileno(stdout));
    _close(saved);
    std::fclose(file);
    if (result)
        *result = answer;
    const std::vector<uint8_t> bytes = fileBytes("captured-output.txt");
    return std::string(bytes.begin(), bytes.end());
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool headerMatchesLength(const std::string& path) {
    const std::vector<uint8_t> bytes = fileBytes(path);
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(&bytes[36], "data", 4))
        return false;
    const uint32_t data = getLittle(&bytes[40], 4);
    return getLittle(&bytes[4], 4) == data + 36 && bytes.size() == size_t(data) + 44;
}

SoundSummary summarise(const std::vector<std::vector<float>>& stereo, const std::vector<float>& dry, uint32_t rate) {
    const size_t n = 1024;
    const double edges[] = {150, 300, 600, 1200, 2400, 4800, 1e9};
    SoundSummary summary;
    std::vector<double> cosine(n), sine(n), hann(n);
    for (size_t i = 0; i < n; ++i) {
        cosine[i] = std::cos(2.0 * kPi * double(i) / double(n));
        sine[i] = std::sin(2.0 * kPi * double(i) / double(n));
        hann[i] = 0.5 - 0.5 * cosine[i];
    }
    for (size_t start = 0; start + n <= stereo[0].size(); start += n) {
        double left = 0, right = 0, side = 0, changed = 0;
        std::vector<double> mid(n);
        for (size_t i = 0; i < n; ++i) {
            const double l = stereo[0][start + i], r = stereo[1][start + i];
            left += l * l;
            right += r * r;
            side += 0.25 * (l - r) * (l - r);
            const double d = start + i < dry.size() ? dry[start + i] : 0.0;
            changed += (0.5 * (l + r) - d) * (0.5 * (l + r) - d);
            mid[i] = 0.5 * (l + r) * hann[i];
        }
        std::vector<double> row{decibels(left / n), decibels(right / n), decibels(side / n), decibels(changed / n)};
        std::vector<double> bands(7, 0.0);
        for (size_t k = 1; k < n / 2; ++k) {
            double re = 0, im = 0;
            for (size_t i = 0; i < n; ++i) {
                re += mid[i] * cosine[(i * k) % n];
                im -= mid[i] * sine[(i * k) % n];
            }
            const double hz = double(k) * rate / double(n);
            size_t band = 0;
            while (hz >= edges[band])
                ++band;
            bands[band] += (re * re + im * im) / (double(n) * n);
        }
        for (double b : bands)
            row.push_back(decibels(b));
        summary.push_back(row);
    }
    return summary;
}

bool writeSummary(const std::string& path, const std::string& comment, const SoundSummary& summary) {
    std::ofstream file(path);
    file << "# " << comment << "\n";
    file << "# Per 1024-frame window: RMS dB of left, right, side (L-R)/2 and mid (L+R)/2 less the dry signal,\n"
            "# then the mid signal in dB in the octave bands below 150, 300, 600, 1200, 2400, 4800 Hz and Nyquist.\n";
    char number[32];
    for (const std::vector<double>& row : summary) {
        for (size_t i = 0; i < row.size(); ++i) {
            std::snprintf(number, sizeof number, "%s%.2f", i ? " " : "", row[i]);
            file << number;
        }
        file << "\n";
    }
    return bool(file);
}

bool readSummary(const std::string& path, SoundSummary& summary) {
    std::ifstream file(path);
    if (!file)
        return false;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream values(line);
        std::vector<double> row;
        double v;
        while (values >> v)
            row.push_back(v);
        summary.push_back(row);
    }
    return !summary.empty();
}
