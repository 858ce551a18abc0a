// The rate converter's quality beside sox's "rate -v" on the same input, in the same
// run: for each pair of rates the tones' SINAD against the ideal sine at the output
// rate, the passband's flatness to 18 kHz (or the passband of a lower rate), and how
// far images and aliases lie below the tone that makes them. Needs sox on the PATH;
// without it only the converter's column is filled.
//
//   rate_quality_bench            (prints one table)
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "RateConverter.h"
#include "SineMeasure.h"

namespace {

constexpr double kSeconds = 1.3;  // measured: 1 s after the first 0.2 s

std::vector<float> tone(double f, uint32_t rate, double amplitude = 0.5) {
    std::vector<float> x(size_t(kSeconds * rate));
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = float(amplitude * std::sin(2.0 * SineMeasure::kPi * f * double(i) / rate));
    return x;
}

// Our converter, pulled in 256-frame blocks as the accompaniment is.
std::vector<float> convertOurs(const std::vector<float>& in, uint32_t inRate, uint32_t outRate) {
    RateTable table;
    if (!table.build(inRate, outRate))
        std::abort();
    std::vector<float> history(RateTable::kMaxTaps + 128 + 10240);
    RateConverterState state;
    state.history = history.data();
    state.capacity = int32_t(history.size());
    state.reset(&table);
    std::vector<float> out;
    size_t used = 0;
    while (true) {
        const int need = rateInputFor(state, 256);
        if (used + size_t(need) > in.size())
            break;
        out.resize(out.size() + 256);
        convertRate(&in[used], &out[out.size() - 256], 256, need, state);
        used += size_t(need);
    }
    return out;
}

void writeFloatWav(const char* path, const std::vector<float>& x, uint32_t rate) {
    FILE* f = std::fopen(path, "wb");
    if (!f)
        std::abort();
    const uint32_t data = uint32_t(x.size() * 4), riff = data + 36, fmtSize = 16, byteRate = rate * 4;
    const uint16_t tag = 3, channels = 1, align = 4, bits = 32;
    std::fwrite("RIFF", 1, 4, f);
    std::fwrite(&riff, 4, 1, f);
    std::fwrite("WAVEfmt ", 1, 8, f);
    std::fwrite(&fmtSize, 4, 1, f);
    std::fwrite(&tag, 2, 1, f);
    std::fwrite(&channels, 2, 1, f);
    std::fwrite(&rate, 4, 1, f);
    std::fwrite(&byteRate, 4, 1, f);
    std::fwrite(&align, 2, 1, f);
    std::fwrite(&bits, 2, 1, f);
    std::fwrite("data", 1, 4, f);
    std::fwrite(&data, 4, 1, f);
    std::fwrite(x.data(), 4, x.size(), f);
    std::fclose(f);
}

// The float samples of sox's output (mono, 32-bit float; its chunks walked).
std::vector<float> readFloatWav(const char* path) {
    std::vector<float> x;
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return x;
    char id[4];
    uint32_t size = 0;
    std::fseek(f, 12, SEEK_SET);
    while (std::fread(id, 1, 4, f) == 4 && std::fread(&size, 4, 1, f) == 1) {
        if (std::memcmp(id, "data", 4) == 0) {
            x.resize(size / 4);
            x.resize(std::fread(x.data(), 4, x.size(), f));
            break;
        }
        std::fseek(f, long(size + (size & 1)), SEEK_CUR);
    }
    std::fclose(f);
    return x;
}

bool haveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

std::vector<float> convertSox(const std::vector<float>& in, uint32_t inRate, uint32_t outRate) {
    char dir[] = "/tmp/talvenor-rate-XXXXXX";
    if (!mkdtemp(dir))
        std::abort();
    const std::string from = std::string(dir) + "/in.wav", to = std::string(dir) + "/out.wav";
    writeFloatWav(from.c_str(), in, inRate);
    const std::string command = "sox -D '" + from + "' -e floating-point -b 32 '" + to + "' rate -v " +
                                std::to_string(outRate) + " 2>/dev/null";
    std::vector<float> out;
    if (std::system(command.c_str()) == 0)
        out = readFloatWav(to.c_str());
    unlink(from.c_str());
    unlink(to.c_str());
    rmdir(dir);
    return out;
}

struct Figures {
    double sinad = 0.0, frequencyError = 0.0, gainDb = 0.0;
};

Figures measure(const std::vector<float>& out, double f, uint32_t outRate, double amplitude) {
    const size_t skip = size_t(0.2 * outRate), n = outRate;
    if (out.size() < skip + n)
        return Figures{-1.0, 0.0, 0.0};
    const SineMeasure m(out.data() + skip, n, f, outRate);
    return Figures{m.sinadDb, std::fabs(m.frequency - f), 20.0 * std::log10(m.amplitude / amplitude)};
}

// The level of a component at frequency f, in dB below the amplitude given.
double levelBelow(const std::vector<float>& out, double f, uint32_t outRate, double amplitude) {
    const size_t skip = size_t(0.2 * outRate), n = outRate;
    if (out.size() < skip + n)
        return -1.0;
    const SineMeasure m(out.data() + skip, n, f, outRate);
    return -20.0 * std::log10(std::max(m.amplitude, 1e-12) / amplitude);
}

// Where a tone of the input lands in the output when it is not filtered away:
// above the output's Nyquist frequency it folds back; its image above the input's
// Nyquist frequency (rate going up) lies at inRate - f, folded the same way.
double folded(double f, uint32_t outRate) {
    f = std::fmod(f, double(outRate));
    return f > outRate / 2.0 ? outRate - f : f;
}

}  // namespace

int main() {
    struct Pair {
        uint32_t in, out;
    };
    const bool sox = haveSox();
    std::printf("rate converter beside sox rate -v%s\n", sox ? "" : " (sox not found: its column is empty)");
    std::printf("%-16s %-28s %12s %12s\n", "rates", "measure", "ours", "sox -v");
    for (const Pair p : {Pair{44100, 48000}, Pair{48000, 44100}, Pair{22050, 96000}, Pair{96000, 44100}}) {
        char rates[32];
        std::snprintf(rates, sizeof rates, "%u->%u", p.in, p.out);
        const double low = std::min(p.in, p.out);
        const double top = low >= 44100 ? 15000.0 : 9000.0;
        auto row = [&](const char* what, double ours, double theirs, const char* format) {
            char a[32], b[32];
            std::snprintf(a, sizeof a, format, ours);
            std::snprintf(b, sizeof b, format, theirs);
            std::printf("%-16s %-28s %12s %12s\n", rates, what, a, sox ? b : "-");
        };
        // SINAD and frequency of three tones.
        for (const double f : {440.0, 1000.0, top}) {
            const std::vector<float> in = tone(f, p.in);
            const Figures a = measure(convertOurs(in, p.in, p.out), f, p.out, 0.5);
            const Figures b = sox ? measure(convertSox(in, p.in, p.out), f, p.out, 0.5) : Figures{};
            char what[40];
            std::snprintf(what, sizeof what, "SINAD %5.0f Hz (dB)", f);
            row(what, a.sinad, b.sinad, "%.1f");
            std::snprintf(what, sizeof what, "freq error %5.0f Hz (Hz)", f);
            row(what, a.frequencyError, b.frequencyError, "%.1e");
        }
        // Flatness: the largest deviation of the gain over the passband.
        const double passband = low >= 44100 ? 18000.0 : 0.4 * low;
        double oursDev = 0.0, soxDev = 0.0;
        for (double f = 20.0; f <= passband + 1.0; f += f < 1000.0 ? 490.0 : 1000.0) {
            const double g = std::min(f, passband);
            const std::vector<float> in = tone(g, p.in);
            oursDev = std::max(oursDev, std::fabs(measure(convertOurs(in, p.in, p.out), g, p.out, 0.5).gainDb));
            if (sox)
                soxDev = std::max(soxDev, std::fabs(measure(convertSox(in, p.in, p.out), g, p.out, 0.5).gainDb));
        }
        char what[40];
        std::snprintf(what, sizeof what, "flatness to %.0f Hz (dB)", passband);
        row(what, oursDev, soxDev, "%.5f");
        // Images (rate going up) or aliases (going down) of tones that make them.
        std::vector<double> makers;
        if (p.in < p.out)
            makers = {top, 0.4 * p.in};  // images at inRate - f
        else
            makers = {0.5 * p.out + 900.0, p.in > 2 * p.out ? 30000.0 : 0.5 * p.in - 500.0};
        for (const double f : makers) {
            const double lands = p.in < p.out ? folded(p.in - f, p.out) : folded(f, p.out);
            const std::vector<float> in = tone(f, p.in);
            std::snprintf(what, sizeof what, "%s %.0f->%.0f Hz (dB down)", p.in < p.out ? "image" : "alias", f, lands);
            row(what, levelBelow(convertOurs(in, p.in, p.out), lands, p.out, 0.5),
                sox ? levelBelow(convertSox(in, p.in, p.out), lands, p.out, 0.5) : 0.0, "%.1f");
        }
        RateTable t;
        t.build(p.in, p.out);
        std::printf("%-16s %-28s %12.3f\n", rates, "latency (ms)", 1000.0 * t.delay() / p.in);
    }
    return 0;
}
