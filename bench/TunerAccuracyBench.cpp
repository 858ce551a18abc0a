// The tuner's accuracy beside aubio's YIN (aubiopitch, from Debian's aubio-tools) on
// the same synthesised notes, in the same run: plucked notes from 30 Hz to 1.3 kHz
// with twelve harmonics, detuned, with white noise 40 dB under the note. Every
// reading from 0.35 s into a note is judged (ours: what the tuner shows; aubio: each
// frame's estimate). Prints a table; needs aubiopitch on the PATH for its column.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PitchDetector.h"
#include "TunerSignals.h"
#include "TunerTracker.h"

namespace {

const double kRate = 44100.0;
const double kJudgedFrom = 0.35;

std::vector<PluckedNote> noteSet() {
    std::vector<PluckedNote> notes;
    int n = 0;
    for (int midi = 23; midi <= 88; midi += 2, ++n) {  // B0 (30.9 Hz) to E6 (1.32 kHz)
        PluckedNote note;
        const double detune = std::fmod(n * 13.7, 80.0) - 40.0;
        note.frequency = 440.0 * std::pow(2.0, (midi - 69 + detune / 100.0) / 12.0);
        note.noiseDb = -40.0;
        note.seconds = 1.2;
        note.seed = uint32_t(midi);
        notes.push_back(note);
    }
    return notes;
}

void ourErrors(const PluckedNote& note, const std::vector<float>& signal, std::vector<double>& errors) {
    PitchDetector detector(kRate);
    TunerTracker tracker;
    for (size_t at = 0; at + 256 <= signal.size(); at += 256) {
        detector.feed(signal.data() + at, 256);
        if (detector.fedSinceAnalysis() < 1024)
            continue;
        const double seconds = double(at + 256) / kRate;
        const TunerDisplay shown = tracker.update(detector.analyse(), seconds);
        if (seconds >= kJudgedFrom)
            errors.push_back(shown.showing ? std::fabs(centsBetween(shown.frequency, note.frequency)) : 1200.0);
    }
}

bool writeWave(const std::string& path, const std::vector<float>& samples) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const uint32_t rate = uint32_t(kRate), bytes = uint32_t(samples.size() * 4);
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + bytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(3);  // float
    u16(1);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(32);
    std::fwrite("data", 1, 4, f);
    u32(bytes);
    std::fwrite(samples.data(), 4, samples.size(), f);
    return std::fclose(f) == 0;
}

bool aubioErrors(const PluckedNote& note, const std::vector<float>& signal, std::vector<double>& errors) {
    const std::string path = "/tmp/tuner-accuracy-note.wav";
    if (!writeWave(path, signal))
        return false;
    // A buffer long enough for the lowest note (YIN needs two periods).
    const std::string command = "aubiopitch -i " + path + " -p yin -B 4096 -H 512 -u Hz 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    if (!out)
        return false;
    double t = 0.0, hz = 0.0;
    int lines = 0;
    while (std::fscanf(out, "%lf %lf", &t, &hz) == 2) {
        ++lines;
        if (t >= kJudgedFrom && t <= note.seconds - 0.1)
            errors.push_back(hz > 0.0 ? std::fabs(centsBetween(hz, note.frequency)) : 1200.0);
    }
    return pclose(out) == 0 && lines > 0;
}

struct Summary {
    double median = 0.0, worst = 0.0, wrong = 0.0;  // wrong: readings off by 50 cents or more
};

Summary summarise(std::vector<double> errors) {
    Summary s;
    if (errors.empty())
        return s;
    std::sort(errors.begin(), errors.end());
    s.median = errors[errors.size() / 2];
    s.worst = errors.back();
    s.wrong = double(std::count_if(errors.begin(), errors.end(), [](double e) { return e >= 50.0; })) /
              double(errors.size());
    return s;
}

}  // namespace

int main() {
    std::vector<double> ours, aubio;
    bool aubioRan = true;
    for (const PluckedNote& note : noteSet()) {
        const std::vector<float> signal = pluck(note, kRate);
        ourErrors(note, signal, ours);
        aubioRan = aubioRan && aubioErrors(note, signal, aubio);
    }
    const Summary a = summarise(ours), b = summarise(aubio);
    std::printf("tuner accuracy, %zu notes 30 Hz to 1.3 kHz, 12 harmonics, noise -40 dB%s\n", noteSet().size(),
                aubioRan ? "" : " (aubiopitch did not run: its column is empty)");
    std::printf("%-34s %12s %12s\n", "measure (cents)", "ours", "aubio yin");
    auto row = [&](const char* what, double x, double y) {
        char yy[32];
        std::snprintf(yy, sizeof yy, "%.3f", y);
        std::printf("%-34s %12.3f %12s\n", what, x, aubioRan ? yy : "-");
    };
    row("median error", a.median, b.median);
    row("worst error", a.worst, b.worst);
    row("share of readings 50+ cents off", a.wrong, b.wrong);
    return 0;
}
