// Headless demo of the live chain: runs a WAV file through processBlock at the
// default settings, 256 frames per callback, and prints the input and output peaks
// of every second. Without a file it makes and uses a short demo riff.
//   talvenor-chain-demo [file.wav]
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ClickSamples.h"
#include "LiveChain.h"
#include "SampleFormat.h"

namespace {

struct WavData {
    FormatRecord format{};
    std::vector<uint8_t> data;
};

uint32_t readU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// A small reader for the demo: walks the chunks and takes "fmt " and "data".
bool readWav(const char* path, WavData& wav, std::string& error) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        error = "cannot open the file";
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(f);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(&bytes[8], "WAVE", 4)) {
        error = "not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
        const uint32_t size = readU32(&bytes[pos + 4]);
        const size_t body = pos + 8;
        const size_t available = bytes.size() - body;
        if (!std::memcmp(&bytes[pos], "fmt ", 4) && size >= 16 && available >= 16) {
            std::memcpy(&wav.format, &bytes[body], 16);
            haveFormat = true;
        } else if (!std::memcmp(&bytes[pos], "data", 4)) {
            wav.data.assign(bytes.begin() + body, bytes.begin() + body + std::min<size_t>(size, available));
        }
        if (size > available)
            break;
        pos = body + size + (size & 1);
    }
    if (!haveFormat || wav.data.empty() || wav.format.channels < 1 || wav.format.channels > 2 ||
        wav.format.blockAlign == 0 || wav.format.samplesPerSec == 0) {
        error = "no usable format or data";
        return false;
    }
    return true;
}

// Four seconds of a plucked 110 Hz riff with some DC and hiss, 16-bit stereo 48 kHz.
bool writeDemoWav(const char* path) {
    const int rate = 48000, seconds = 4, frames = rate * seconds;
    const double notes[] = {110.0, 110.0, 164.81, 146.83, 110.0, 130.81, 146.83, 98.0};
    std::vector<int16_t> pcm(size_t(frames) * 2);
    unsigned noise = 12345;
    for (int i = 0; i < frames; ++i) {
        const int note = i / (rate / 2);
        const double t = double(i % (rate / 2)) / rate;
        const double f = notes[note % 8];
        double v = std::exp(-t * 4.0) * (std::sin(2 * M_PI * f * t) + 0.3 * std::sin(4 * M_PI * f * t));
        noise = noise * 1103515245u + 12345u;
        v = 0.45 * v + 0.02 + 0.0005 * (double((noise >> 16) & 0x7fff) / 16384.0 - 1.0);
        pcm[i * 2] = pcm[i * 2 + 1] = int16_t(std::lround(v * 32767.0));
    }
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const uint32_t dataBytes = uint32_t(pcm.size() * 2);
    const uint8_t header[44] = {'R', 'I', 'F', 'F', uint8_t((dataBytes + 36) & 0xff), uint8_t((dataBytes + 36) >> 8),
                                uint8_t((dataBytes + 36) >> 16), uint8_t((dataBytes + 36) >> 24), 'W', 'A', 'V', 'E',
                                'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0,
                                4, 0, 16, 0, 'd', 'a', 't', 'a', uint8_t(dataBytes & 0xff), uint8_t(dataBytes >> 8),
                                uint8_t(dataBytes >> 16), uint8_t(dataBytes >> 24)};
    std::fwrite(header, 1, sizeof header, f);
    std::fwrite(pcm.data(), 2, pcm.size(), f);
    return std::fclose(f) == 0;
}

int32_t sampleTypeFor(const FormatRecord& f) {
    if (f.formatTag == kFormatFloat)
        return f.bitsPerSample == 64 ? kAsioFloat64LSB : kAsioFloat32LSB;
    switch (f.bitsPerSample) {
    case 16: return kAsioInt16LSB;
    case 24: return kAsioInt24LSB;
    case 32: return kAsioInt32LSB;
    default: return -1;
    }
}

double dbfs(float peak) { return peak > 0.0f ? 20.0 * std::log10(peak) : -INFINITY; }

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "talvenor-demo.wav";
    if (argc > 1 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("usage: talvenor-chain-demo [file.wav]\n"
                    "Runs the file through the live chain at the default settings and prints the\n"
                    "input and output peaks of every second. Without a file a demo riff is made.\n");
        return 0;
    }
    if (argc <= 1) {
        if (!writeDemoWav(path.c_str())) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("made the demo riff %s\n", path.c_str());
    }
    WavData wav;
    std::string error;
    if (!readWav(path.c_str(), wav, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    const int32_t type = sampleTypeFor(wav.format);
    FormatRecord channel{};
    if (type < 0 || formatFromSampleType(type, channel, wav.format.samplesPerSec) != 0) {
        std::fprintf(stderr, "%s: unsupported sample format\n", path.c_str());
        return 1;
    }

    LiveSettings settings;
    LiveChain chain(&settings);
    chain.setClick(kClickSamples, sizeof kClickSamples);
    chain.prepareForStart(wav.format.samplesPerSec);

    const int channels = wav.format.channels;
    const int width = channel.blockAlign;
    const size_t frames = wav.data.size() / wav.format.blockAlign;
    const int block = 256;
    const uint32_t rate = wav.format.samplesPerSec;
    std::printf("%s: %u Hz, %d channel(s), %d bits, %.1f s; 256-frame callbacks, default settings\n",
                path.c_str(), rate, channels, int(wav.format.bitsPerSample), double(frames) / rate);
    std::printf("second   input L/R (dBFS)      output L/R (dBFS)\n");

    std::vector<uint8_t> in[2], out[2];
    for (int ch = 0; ch < 2; ++ch) {
        in[ch].assign(size_t(block) * width, 0);
        out[ch].assign(size_t(block) * width, 0);
    }
    float peak[4] = {0, 0, 0, 0};
    for (size_t start = 0; start < frames; start += block) {
        const int n = int(std::min<size_t>(block, frames - start));
        for (int ch = 0; ch < channels; ++ch)
            for (int i = 0; i < n; ++i)
                std::memcpy(&in[ch][i * width], &wav.data[(start + i) * wav.format.blockAlign + ch * width], width);
        ChannelBuffer ins[3] = {}, outs[3] = {};
        for (int ch = 0; ch < channels; ++ch)
            ins[ch] = ChannelBuffer{channel, 0, in[ch].data()};
        outs[0] = ChannelBuffer{channel, 0, out[0].data()};
        outs[1] = ChannelBuffer{channel, 0, out[1].data()};
        chain.processBlock(ins, outs, n);
        const float now[4] = {chain.inputPeakLeft(), chain.inputPeakRight(), chain.outputPeakLeft(),
                              chain.outputPeakRight()};
        for (int p = 0; p < 4; ++p)
            peak[p] = std::max(peak[p], now[p]);
        const size_t second = (start + n) / rate;
        if (second != start / rate || start + n >= frames) {
            std::printf("%6zu   %7.1f %7.1f       %7.1f %7.1f\n", start / rate + 1, dbfs(peak[0]), dbfs(peak[1]),
                        dbfs(peak[2]), dbfs(peak[3]));
            for (float& p : peak)
                p = 0.0f;
        }
    }
    return 0;
}
