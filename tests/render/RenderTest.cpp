// Re-amping through talvenor-rig --render: the render driver feeds the live chain
// from a file, so what comes out must be what the live path makes of the same
// samples, block for block; the effects' sound is held against stored summaries; and
// a failing input never costs the user an existing output or leaves a broken file.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ErrorFlags.h"
#include "FailedPlugins.h"
#include "PluginFaultNote.h"
#include "LiveEngine.h"
#include "RecordingFormat.h"
#include "RenderDriver.h"
#include "MessageBoxRecorder.h"
#include "RenderTestSupport.h"
#include "RigOptions.h"
#include "RigRender.h"
#include "ScratchNames.h"
#include "TakeJournal.h"
#include "TunerSignals.h"
#include "WavFiles.h"
#include "WinInclude.h"
#include <objbase.h>

namespace {

const double kPi = 3.14159265358979323846;
const std::string kPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";
const std::string kReferences = TALVENOR_RENDER_REFERENCES;

// Each test works in a folder of its own, named for the run: the takes and renders
// are named relative to it.
class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        clearErrorFlag(~0u);
        GetCurrentDirectoryA(sizeof startedIn_, startedIn_);
        ASSERT_TRUE(SetCurrentDirectoryA(folder_.path().c_str())) << folder_.path();
    }
    void TearDown() override {
        SetCurrentDirectoryA(startedIn_);  // a folder in use could not be removed
        EXPECT_EQ(errorFlags(), 0u);
        CoUninitialize();
    }
    std::string boxTexts() const {
        std::string all;
        for (const MessageBoxRecorder::Box& box : boxes_.boxes())
            all += box.caption + ": " + box.text + "\n";
        return all;
    }
    MessageBoxRecorder boxes_;
    RunScratchFolder folder_{"render"};
    char startedIn_[MAX_PATH] = "";
};

// A take that exercises the chain's state from block to block: a tone with a little
// noise, a near-silent stretch that closes the default gate and a loud return that
// opens it, and a DC step for the DC filter.
DryTake testTake(uint32_t rate, int bits, int channels, double seconds) {
    DryTake take;
    take.rate = rate;
    take.bits = bits;
    const size_t frames = size_t(seconds * rate);
    uint32_t noise = 12345;
    for (int ch = 0; ch < channels; ++ch) {
        std::vector<float> v(frames);
        for (size_t i = 0; i < frames; ++i) {
            const double t = double(i) / rate;
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (double(noise >> 8) / 16777216.0 - 0.5) * 0.01;
            const bool quiet = t > 0.4 * seconds && t < 0.6 * seconds;
            const double tone = std::sin(2.0 * kPi * (220.0 + 110.0 * ch) * t) * (quiet ? 0.0005 : 0.45);
            v[i] = float(tone + (quiet ? hiss * 0.01 : hiss) + (t > 0.8 * seconds ? 0.2 : 0.0));
        }
        take.channels.push_back(quantise(v, bits));
    }
    return take;
}

void expectSameSamples(const std::vector<std::vector<float>>& expected, const WavContent& got, const char* what) {
    ASSERT_EQ(got.channels, 2) << what;
    for (int ch = 0; ch < 2; ++ch) {
        ASSERT_EQ(got.samples[ch].size(), expected[ch].size()) << what;
        size_t differing = 0, first = 0;
        for (size_t i = 0; i < expected[ch].size(); ++i)
            if (got.samples[ch][i] != expected[ch][i] && differing++ == 0)
                first = i;
        EXPECT_EQ(differing, 0u) << what << ", channel " << ch << ", first at frame " << first;
    }
}

// Rewrites a plain WAV file as other programs write theirs: a broadcast bext and a
// JUNK reserve before the format, a LIST/INFO chunk of odd size (with its pad byte) and
// a fact chunk between the format and the samples.
bool reshapeAsOtherProgramsWrite(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return false;
    std::vector<char> bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(in);
    if (bytes.size() < 44 || std::memcmp(bytes.data() + 12, "fmt ", 4) != 0)
        return false;
    auto chunk = [](const char* id, const std::string& body) {
        std::string out(id, 4);
        const uint32_t size = uint32_t(body.size());
        out.append(reinterpret_cast<const char*>(&size), 4);
        out += body;
        if (size & 1u)
            out.push_back('\0');
        return out;
    };
    const std::string before = chunk("bext", std::string(602, ' ')) + chunk("JUNK", std::string(28, '\0'));
    const std::string between = chunk("LIST", std::string("INFOISFT\x0d\x00\x00\x00Lavf58.76.100", 25)) +
                                chunk("fact", std::string(4, '\x01'));
    uint32_t formatSize = 0;
    std::memcpy(&formatSize, bytes.data() + 16, 4);
    bytes.insert(bytes.begin() + 20 + formatSize, between.begin(), between.end());
    bytes.insert(bytes.begin() + 12, before.begin(), before.end());
    const uint32_t riffSize = uint32_t(bytes.size() - 8);
    std::memcpy(bytes.data() + 4, &riffSize, 4);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace

// The bare chain with its defaults (DC filter and gate on, unity gains): the render of
// a 24-bit stereo take equals, sample for sample, the chain driven by hand with the
// same 300-frame blocks, including the tail; an existing output is replaced.
// A mono 16-bit take with other gains comes out on both channels alike, again as the
// live path makes it.
TEST_F(RenderTest, BareChainMatchesTheLivePathSampleForSample) {
    const DryTake stereo = testTake(44100, 24, 2, 3.0);
    ASSERT_TRUE(writeDryTake("render-stereo.wav", stereo));
    ASSERT_TRUE(writeWav16("render-out.wav", 8000, {std::vector<float>(100, 0.5f)}));  // an older result

    ASSERT_EQ(runRig({"--render", "render-stereo.wav", "--out", "render-out.wav", "--buffer", "300", "--tail", "0.5"}),
              0) << boxTexts();
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
    EXPECT_FALSE(fileExists("render-out.part.wav"));
    EXPECT_TRUE(headerMatchesLength("render-out.wav"));
    WavContent out;
    ASSERT_TRUE(readWav("render-out.wav", out));
    EXPECT_EQ(out.sampleRate, 44100u);
    EXPECT_EQ(out.bitsPerSample, 24);
    LiveSettings defaults;
    expectSameSamples(liveChainOutput(stereo, defaults, 300, stereo.frames() + 22050), out, "stereo 24-bit");

    const DryTake mono = testTake(48000, 16, 1, 2.0);
    ASSERT_TRUE(writeDryTake("render-mono.wav", mono));
    ASSERT_EQ(runRig({"--render", "render-mono.wav", "--out", "render-mono-out.wav", "--in-gain", "6", "--out-gain",
                      "-3.5", "--buffer", "1000", "--tail", "0"}),
              0) << boxTexts();
    WavContent monoOut;
    ASSERT_TRUE(readWav("render-mono-out.wav", monoOut));
    EXPECT_EQ(monoOut.sampleRate, 48000u);
    LiveSettings gains;
    gains.ingain = float((6.0 + 60.0) / 80.0);
    gains.outgain = float((-3.5 + 60.0) / 80.0);
    expectSameSamples(liveChainOutput(mono, gains, 1000, mono.frames()), monoOut, "mono 16-bit");
    EXPECT_EQ(monoOut.samples[0], monoOut.samples[1]) << "a mono take feeds both inputs alike";
    EXPECT_GT(std::abs(monoOut.samples[0][1000]), 0.01f) << "the take came through";

    // The same take with the chunks other programs add renders the same.
    ASSERT_TRUE(reshapeAsOtherProgramsWrite("render-mono.wav"));
    ASSERT_EQ(runRig({"--render", "render-mono.wav", "--out", "render-shaped-out.wav", "--in-gain", "6", "--out-gain",
                      "-3.5", "--buffer", "1000", "--tail", "0"}),
              0) << boxTexts();
    WavContent shapedOut;
    ASSERT_TRUE(readWav("render-shaped-out.wav", shapedOut));
    EXPECT_EQ(shapedOut.samples, monoOut.samples);
}

// Each of our effects at its defaults, on two seconds of plucked notes at 22050 Hz
// plus a half-second tail, against the summary stored when the effect's sound was
// last reviewed. Tolerance: 0.5 dB on every figure above -50 dB (where the level is
// the effect's sound, not 16-bit dither), 6 dB below. Set TALVENOR_WRITE_REFERENCES=1
// to store new summaries after a deliberate change of sound (and review them).
TEST_F(RenderTest, EffectsSoundAsTheirStoredReferences) {
    const uint32_t rate = 22050;
    std::vector<float> notes(size_t(2 * rate));
    const double pitches[] = {110.0, 146.83, 164.81, 220.0};
    for (size_t i = 0; i < notes.size(); ++i) {
        const double t = double(i % (rate / 2)) / rate;
        const double f = pitches[i / (rate / 2)];
        double v = 0.0;
        for (int h = 1; h <= 6; ++h)
            v += std::sin(2.0 * kPi * f * h * t) / h;
        notes[i] = float(0.3 * v * std::exp(-t / 0.25));
    }
    DryTake take;
    take.rate = rate;
    take.bits = 16;
    take.channels.push_back(quantise(notes, 16));
    ASSERT_TRUE(writeDryTake("render-notes.wav", take));

    const bool write = std::getenv("TALVENOR_WRITE_REFERENCES") != nullptr;
    for (const char* effect : {"Overdrive", "Filtrace", "Modulane"}) {
        SCOPED_TRACE(effect);
        const std::string out = std::string("render-") + effect + ".wav";
        ASSERT_EQ(runRig({"--render", "render-notes.wav", "--out", out, "--fx", "0=" + kPlugins + effect + ".dll",
                          "--out-format", "5", "--tail", "0.5"}),
                  0) << boxTexts();
        WavContent rendered;
        ASSERT_TRUE(readWav(out, rendered));
        ASSERT_EQ(rendered.channels, 2);
        ASSERT_EQ(rendered.sampleRate, rate);
        ASSERT_EQ(rendered.frames(), size_t(2.5 * rate));
        const SoundSummary summary = summarise(rendered.samples, notes, rate);
        const std::string path = kReferences + effect + ".txt";
        if (write) {
            ASSERT_TRUE(writeSummary(path, std::string(effect) + " at its defaults: plucked notes 110, 147, 165 and "
                                                                 "220 Hz at 22050 Hz, 16-bit stereo, 0.5 s tail",
                                     summary));
            continue;
        }
        SoundSummary reference;
        ASSERT_TRUE(readSummary(path, reference)) << path;
        ASSERT_EQ(summary.size(), reference.size());
        int mismatches = 0;
        for (size_t w = 0; w < summary.size(); ++w) {
            ASSERT_EQ(summary[w].size(), reference[w].size());
            for (size_t k = 0; k < summary[w].size(); ++k) {
                const double a = summary[w][k], b = reference[w][k];
                const double tolerance = std::max(a, b) > -50.0 ? 0.5 : 6.0;
                if (std::abs(a - b) > tolerance && ++mismatches <= 5)
                    ADD_FAILURE() << "window " << w << ", figure " << k << ": " << a << " dB, reference " << b;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
}

// A take cut short: what it holds is rendered, the read-error text names the file and
// the reason, what was rendered is a valid file beside the output, and the existing
// output is untouched. Inputs that cannot be read at all leave no file.
TEST_F(RenderTest, TruncatedOrUnreadableInputNeverCostsTheOutput) {
    const DryTake take = testTake(44100, 16, 2, 2.0);
    ASSERT_TRUE(writeDryTake("render-cut.wav", take));
    const size_t kept = 52920;  // 1.2 s, then half a frame
    {
        HANDLE file = CreateFileA("render-cut.wav", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = 44 + int64_t(kept) * 4 + 2;
        ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file));
        CloseHandle(file);
    }
    ASSERT_TRUE(writeWav16("render-keep.wav", 8000, {std::vector<float>(100, 0.25f)}));
    const std::vector<uint8_t> before = fileBytes("render-keep.wav");
    DeleteFileA("render-keep.part.wav");

    EXPECT_EQ(runRig({"--render", "render-cut.wav", "--out", "render-keep.wav", "--buffer", "256"}), 1);
    ASSERT_EQ(boxes_.errorIds(), std::vector<int>{19}) << boxTexts();
    const std::string text = boxes_.boxes()[0].text;
    EXPECT_NE(text.find("The file is already opened or disk error"), std::string::npos) << text;
    EXPECT_NE(text.find("render-cut.wav at 1.20 s"), std::string::npos) << text;
    EXPECT_NE(text.find("ends before its header says"), std::string::npos) << text;
    EXPECT_EQ(fileBytes("render-keep.wav"), before) << "the existing output was touched";

    ASSERT_TRUE(headerMatchesLength("render-keep.part.wav"));
    WavContent partial;
    ASSERT_TRUE(readWav("render-keep.part.wav", partial));
    DryTake cut = take;
    for (std::vector<int32_t>& channel : cut.channels)
        channel.resize(kept);
    LiveSettings defaults;
    expectSameSamples(liveChainOutput(cut, defaults, 256, kept), partial, "what was rendered");

    boxes_.clear();
    {
        std::FILE* f = std::fopen("render-text.wav", "wb");
        std::fputs("RIFF, but no WAVE file at all: just some text that goes on long enough", f);
        std::fclose(f);
    }
    EXPECT_EQ(runRig({"--render", "render-missing.wav", "--out", "render-keep.wav"}), 1);
    EXPECT_EQ(runRig({"--render", "render-text.wav", "--out", "render-keep.wav"}), 1);
    // Files that would overwrite one another are refused before anything is opened.
    EXPECT_EQ(runRig({"--render", "render-cut.wav", "--out", "render-cut.wav"}), 2);
    EXPECT_EQ(runRig({"--render", "render-cut.part.wav", "--out", "render-cut.wav"}), 2);
    EXPECT_EQ(runRig({"--render", "render-cut.wav", "--out", "render-keep.wav", "--take", "render-cut.wav"}), 2);
    EXPECT_EQ(boxes_.errorIds(), (std::vector<int>{19, 20})) << boxTexts();
    ASSERT_EQ(boxes_.count(), 2u);
    EXPECT_NE(boxes_.boxes()[0].text.find("render-missing.wav: "), std::string::npos) << boxes_.boxes()[0].text;
    EXPECT_EQ(fileBytes("render-keep.wav"), before);
    EXPECT_TRUE(headerMatchesLength("render-keep.part.wav")) << "an earlier partial file is left alone";

    // Ctrl+C during a render: the same; what was rendered is kept beside the output.
    boxes_.clear();
    ASSERT_TRUE(writeDryTake("render-whole.wav", take));
    EXPECT_EQ(runRig({"--render", "render-whole.wav", "--out", "render-keep.wav", "--realtime"}, 2), 1);
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
    EXPECT_EQ(fileBytes("render-keep.wav"), before);
    ASSERT_TRUE(headerMatchesLength("render-keep.part.wav"));
    WavContent stopped;
    ASSERT_TRUE(readWav("render-keep.part.wav", stopped));
    EXPECT_GT(stopped.frames(), 0u);
    EXPECT_LT(stopped.frames(), take.frames());
}

// The output is the input plus the tail, to the frame, whatever the block size; the
// tail is the chain ringing out (here the DC filter after a DC step), not appended
// silence. --realtime takes at least the input's duration.
TEST_F(RenderTest, TailLengthAndRealTimePace) {
    const uint32_t rate = 48000;
    std::vector<float> v(rate);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = float(0.3 + 0.3 * std::sin(2.0 * kPi * 440.0 * double(i) / rate));
    DryTake take;
    take.rate = rate;
    take.bits = 16;
    take.channels = {quantise(v, 16), quantise(v, 16)};
    ASSERT_TRUE(writeDryTake("render-second.wav", take));

    struct Case {
        std::vector<std::string> extra;
        size_t frames;
    };
    const Case cases[] = {{{}, rate + 2 * rate},
                          {{"--tail", "0"}, rate},
                          {{"--tail", "1.5", "--buffer", "333"}, rate + rate * 3 / 2},
                          {{"--tail", "0.00002"}, rate + 1}};
    for (const Case& c : cases) {
        std::vector<std::string> args{"--render", "render-second.wav", "--out", "render-tail.wav", "--gate", "off"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ASSERT_EQ(runRig(args), 0) << boxTexts();
        WavContent out;
        ASSERT_TRUE(readWav("render-tail.wav", out));
        EXPECT_EQ(out.frames(), c.frames) << (c.extra.empty() ? "default tail" : c.extra[1]);
        if (c.frames == 3 * rate) {
            float ring = 0.0f;
            for (size_t i = rate; i < rate + rate / 100; ++i)
                ring = std::max(ring, std::abs(out.samples[0][i]));
            EXPECT_GT(ring, 0.05f) << "the DC filter rings out in the tail";
            EXPECT_LT(std::abs(out.samples[0].back()), 1e-4f) << "and has settled by its end";
        }
    }

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    ASSERT_EQ(runRig({"--render", "render-second.wav", "--out", "render-tail.wav", "--tail", "0.25", "--realtime"}), 0);
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    EXPECT_GE(seconds, 1.2) << "a real-time render of 1.25 s of sound cannot end sooner";
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
}

// --fx takes a VST3 bundle and a CLAP file as it takes a VST 2 library, --param sets a
// parameter by the name the effect gives it (or its index) before the first block, and
// the first lines name each effect with its vendor and format: two gains halving the
// signal each make a quarter of the bare render, sample for sample.
TEST_F(RenderTest, Vst3AndClapEffectsThroughTheRigWithTheirParametersSet) {
    const DryTake take = testTake(44100, 24, 2, 1.0);
    ASSERT_TRUE(writeDryTake("render-formats.wav", take));
    ASSERT_EQ(runRig({"--render", "render-formats.wav", "--out", "render-formats-bare.wav", "--tail", "0", "--gate",
                      "off"}),
              0) << boxTexts();
    const std::string vst3 = std::string(TALVENOR_BIN_DIR) + "test-vst3\\Vst3TestGain.vst3";
    const std::string clap = std::string(TALVENOR_BIN_DIR) + "test-clap\\TestClapGain.clap";
    int result = -1;
    const std::string printed = capturedOutput(
        [] {
            return runRig({"--render", "render-formats.wav", "--out", "render-formats-fx.wav", "--tail", "0",
                           "--gate", "off", "--fx",
                           "0=" + std::string(TALVENOR_BIN_DIR) + "test-vst3\\Vst3TestGain.vst3", "--fx",
                           "3=" + std::string(TALVENOR_BIN_DIR) + "test-clap\\TestClapGain.clap", "--param",
                           "0:Gain=0.25", "--param", "3:gain=0.25"});
        },
        &result);
    ASSERT_EQ(result, 0) << printed << boxTexts();
    EXPECT_NE(printed.find("fx 0: "), std::string::npos) << printed;
    EXPECT_NE(printed.find("(VST3)\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("fx 3: "), std::string::npos) << printed;
    EXPECT_NE(printed.find("(CLAP)\n"), std::string::npos) << printed;
    WavContent bare, through;
    ASSERT_TRUE(readWav("render-formats-bare.wav", bare));
    ASSERT_TRUE(readWav("render-formats-fx.wav", through));
    ASSERT_EQ(through.frames(), bare.frames());
    double worst = 0.0, loudest = 0.0;
    for (int ch = 0; ch < 2; ++ch)
        for (size_t i = 0; i < bare.frames(); ++i) {
            worst = std::max(worst, std::fabs(double(through.samples[ch][i]) - 0.25 * bare.samples[ch][i]));
            loudest = std::max(loudest, std::fabs(double(bare.samples[ch][i])));
        }
    EXPECT_GT(loudest, 0.4);
    EXPECT_LT(worst, 2.0 / 8388608.0) << "a quarter of the bare render, to the 24-bit step";

    // A parameter the effect does not have, or a position without an effect, stops the
    // render before it starts, naming what was asked.
    EXPECT_EQ(runRig({"--render", "render-formats.wav", "--out", "render-formats-none.wav", "--fx", "0=" + vst3,
                      "--param", "0:Loudness=0.5"}),
              1);
    EXPECT_EQ(runRig({"--render", "render-formats.wav", "--out", "render-formats-none.wav", "--fx", "0=" + clap,
                      "--param", "5:Gain=0.5"}),
              1);
    EXPECT_FALSE(fileExists("render-formats-none.wav"));
}

// Effects whose VST3 and CLAP code is DPF's, not ours: the same gain and balance in
// both formats, named by DPF's factory and descriptor, its parameters mapped from the
// rig's 0..1 onto their own ranges (gain 0 to 2, balance -1 to 1). The VST3 at gain
// 0.5 and balance 0.5 (left halved), the CLAP at gain 1.5 in the centre: left 0.375 and
// right 0.75 of the bare render, sample for sample.
TEST_F(RenderTest, DpfVst3AndClapEffectsThroughTheRig) {
    const DryTake take = testTake(44100, 24, 2, 1.0);
    ASSERT_TRUE(writeDryTake("render-dpf.wav", take));
    ASSERT_EQ(runRig({"--render", "render-dpf.wav", "--out", "render-dpf-bare.wav", "--tail", "0", "--gate", "off"}),
              0) << boxTexts();
    int result = -1;
    const std::string printed = capturedOutput(
        [] {
            const std::string dpf = std::string(TALVENOR_BIN_DIR) + "test-dpf\\";
            return runRig({"--render", "render-dpf.wav", "--out", "render-dpf-fx.wav", "--tail", "0", "--gate", "off",
                           "--fx", "1=" + dpf + "TalvenorTestBalance.vst3", "--fx",
                           "4=" + dpf + "TalvenorTestBalance.clap", "--param", "1:Gain=0.25", "--param",
                           "1:Balance=0.75", "--param", "4:Gain=0.75"});
        },
        &result);
    ASSERT_EQ(result, 0) << printed << boxTexts();
    EXPECT_NE(printed.find("fx 1: Talvenor Test Balance by Talvenor Tests (VST3)\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("fx 4: Talvenor Test Balance by Talvenor Tests (CLAP)\n"), std::string::npos) << printed;
    WavContent bare, through;
    ASSERT_TRUE(readWav("render-dpf-bare.wav", bare));
    ASSERT_TRUE(readWav("render-dpf-fx.wav", through));
    ASSERT_EQ(through.channels, 2);
    ASSERT_EQ(through.frames(), bare.frames());
    const double factor[2] = {0.375, 0.75};
    for (int ch = 0; ch < 2; ++ch) {
        double worst = 0.0, loudest = 0.0;
        size_t worstAt = 0;
        for (size_t i = 0; i < bare.frames(); ++i) {
            const double error = std::fabs(double(through.samples[ch][i]) - factor[ch] * bare.samples[ch][i]);
            if (error > worst) {
                worst = error;
                worstAt = i;
            }
            loudest = std::max(loudest, std::fabs(double(bare.samples[ch][i])));
        }
        EXPECT_GT(loudest, 0.4) << "channel " << ch;
        EXPECT_LT(worst, 2.0 / 8388608.0) << "channel " << ch << " at frame " << worstAt << ": " << factor[ch]
                                          << " of the bare render, to the 24-bit step";
    }
}

// The effects learn the render's rate: at 48 kHz a delay of 5 ms is 240 samples, not
// the 221 of the 44.1 kHz they were loaded at. Each format alone at gain 0.5: half the
// bare render, 240 samples late. (The host configures a plug-in at loading and again
// when the driver's rate is known, while it is running: a VST3 effect must then be
// switched off and on around its new set-up.)
TEST_F(RenderTest, DpfEffectsLearnTheRenderRate) {
    const DryTake take = testTake(48000, 24, 2, 1.0);
    ASSERT_TRUE(writeDryTake("render-dpf-48k.wav", take));
    ASSERT_EQ(runRig({"--render", "render-dpf-48k.wav", "--out", "render-dpf-48k-bare.wav", "--tail", "0", "--gate",
                      "off"}),
              0) << boxTexts();
    WavContent bare;
    ASSERT_TRUE(readWav("render-dpf-48k-bare.wav", bare));
    ASSERT_EQ(bare.sampleRate, 48000u);
    const size_t delay = 240;
    const std::string dpf = std::string(TALVENOR_BIN_DIR) + "test-dpf\\";
    for (const char* file : {"TalvenorTestBalance.vst3", "TalvenorTestBalance.clap"}) {
        const std::string out = std::string("render-dpf-48k-") + (std::strstr(file, "clap") ? "clap" : "vst3") + ".wav";
        ASSERT_EQ(runRig({"--render", "render-dpf-48k.wav", "--out", out, "--tail", "0", "--gate", "off", "--fx",
                          "2=" + dpf + file, "--param", "2:Gain=0.25", "--param", "2:Delay=0.5"}),
                  0) << file << ": " << boxTexts();
        WavContent through;
        ASSERT_TRUE(readWav(out, through)) << file;
        ASSERT_EQ(through.frames(), bare.frames()) << file;
        // The largest difference from half the bare render `lag` samples late.
        const auto worstAt = [&](int ch, size_t lag, size_t* at) {
            double worst = 0.0;
            for (size_t i = 0; i < bare.frames(); ++i) {
                const double wanted = i < lag ? 0.0 : 0.5 * bare.samples[ch][i - lag];
                const double error = std::fabs(double(through.samples[ch][i]) - wanted);
                if (error > worst) {
                    worst = error;
                    *at = i;
                }
            }
            return worst;
        };
        for (int ch = 0; ch < 2; ++ch) {
            size_t at = 0;
            const double worst = worstAt(ch, delay, &at);
            // Which delay the effect did make, for the message.
            size_t made = 0, ignored = 0;
            for (size_t lag = 0; lag <= 2 * delay && worst >= 2.0 / 8388608.0; ++lag)
                if (worstAt(ch, lag, &ignored) < 2.0 / 8388608.0)
                    made = lag;
            EXPECT_LT(worst, 2.0 / 8388608.0) << file << ", channel " << ch << " at frame " << at
                                              << ": half the bare render, " << delay << " samples late (it is "
                                              << made << " samples late)";
        }
    }
}

// Our own effects' VST3 and CLAP builds in the rig render exactly what their VST 2
// builds render, with a parameter set by name: Overdrive as VST3, Filtrace as CLAP.
TEST_F(RenderTest, OurEffectsRenderAlikeInEveryFormat) {
    const DryTake take = testTake(44100, 24, 2, 1.0);
    ASSERT_TRUE(writeDryTake("render-own-formats.wav", take));
    struct Case {
        const char* effect;
        std::string other;
        const char* parameter;
    } cases[] = {
        {"Overdrive", std::string(TALVENOR_BIN_DIR) + "VST3\\Overdrive.vst3", "0:Drive=0.8"},
        {"Filtrace", std::string(TALVENOR_BIN_DIR) + "CLAP\\Filtrace.clap", "0:Resonance=0.9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.effect);
        ASSERT_EQ(runRig({"--render", "render-own-formats.wav", "--out", "render-own-vst2.wav", "--tail", "0.25",
                          "--gate", "off", "--fx", "0=" + kPlugins + c.effect + ".dll", "--param", c.parameter}),
                  0) << boxTexts();
        ASSERT_EQ(runRig({"--render", "render-own-formats.wav", "--out", "render-own-other.wav", "--tail", "0.25",
                          "--gate", "off", "--fx", "0=" + c.other, "--param", c.parameter}),
                  0) << boxTexts();
        WavContent vst2, other;
        ASSERT_TRUE(readWav("render-own-vst2.wav", vst2));
        ASSERT_TRUE(readWav("render-own-other.wav", other));
        ASSERT_EQ(other.channels, vst2.channels);
        ASSERT_EQ(other.frames(), vst2.frames());
        double loudest = 0.0;
        for (int ch = 0; ch < vst2.channels; ++ch) {
            EXPECT_TRUE(other.samples[ch] == vst2.samples[ch]) << "channel " << ch;
            for (float v : vst2.samples[ch])
                loudest = std::max(loudest, std::fabs(double(v)));
        }
        EXPECT_GT(loudest, 0.01) << "the render carries sound";
    }
}

// --tuner prints the note heard for each second of the render: a bass's low E with a
// weak fundamental, 7 cents sharp, then silence and a low B.
TEST_F(RenderTest, TheTunerPrintsTheNoteOfEachSecond) {
    PluckedNote lowE;
    lowE.frequency = 41.2034 * std::pow(2.0, 7.0 / 1200.0);
    lowE.fundamentalDb = -20.0;
    lowE.seconds = 2.5;
    lowE.decaySeconds = 3.0;
    PluckedNote lowB = lowE;
    lowB.frequency = 30.8677;
    lowB.fundamentalDb = -6.0;
    std::vector<float> dry = pluck(lowE, 44100.0);
    dry.resize(dry.size() + 44100 / 2, 0.0f);
    const std::vector<float> b = pluck(lowB, 44100.0);
    dry.insert(dry.end(), b.begin(), b.end());
    DryTake take;
    take.bits = 16;
    take.channels.push_back(quantise(dry, 16));
    ASSERT_TRUE(writeDryTake("render-tuner.wav", take));

    const std::string printed = capturedOutput([] {
        return runRig({"--render", "render-tuner.wav", "--out", "render-tuner-out.wav", "--tuner", "--tail", "0"});
    });
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
    std::vector<std::string> lines;
    for (size_t at = 0; at < printed.size();) {
        const size_t end = printed.find('\n', at);
        std::string line = printed.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? printed.size() : end + 1;
        const size_t start = line.find_first_not_of(" \r");
        if (start != std::string::npos && std::isdigit(static_cast<unsigned char>(line[start])) &&
            line.find(" s  ") != std::string::npos)
            lines.push_back(line.substr(start, line.find_last_not_of(' ') + 1 - start));
    }
    ASSERT_EQ(lines.size(), 5u) << printed;
    double cents = 0.0, hz = 0.0;
    char note[8] = "";
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "1.0 s  %7s %lf cents  %lf Hz", note, &cents, &hz), 3) << lines[0];
    EXPECT_STREQ(note, "E1");
    EXPECT_NEAR(cents, 7.0, 0.15);
    EXPECT_NEAR(hz, 41.37, 0.011);
    EXPECT_EQ(lines[1].substr(0, 11), "2.0 s  E1  ");
    EXPECT_EQ(lines[2].substr(0, 11), "3.0 s  -") << "half a second of silence";
    EXPECT_EQ(lines[3].substr(0, 11), "4.0 s  B0  ");
    EXPECT_EQ(lines[4].substr(0, 11), "5.0 s  B0  ");
}

// The render's and the gate's options: each reaches its field through the knob laws
// (threshold dB = -60 (1 - 0.9 v), ramps ms = 495 v + 5), bad values are refused with
// the option named, and a live session takes the gate as a render does.
TEST(RenderOptions, ParsedIntoTheSessionsValues) {
    auto parse = [](std::vector<const char*> argv, RigOptions& o, std::string& error) {
        argv.insert(argv.begin(), "talvenor-rig");
        return parseRigOptions(int(argv.size()), argv.data(), o, error);
    };
    RigOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--render", "a.wav", "--out", "b.wav", "--tail", "3.5", "--realtime", "--out-format", "12",
                       "--gate", "-30", "--gate-open", "50", "--gate-close", "200", "--fx", "0=x.dll"},
                      o, error))
        << error;
    EXPECT_EQ(o.render.input, "a.wav");
    EXPECT_EQ(o.render.output, "b.wav");
    EXPECT_DOUBLE_EQ(o.render.tailSeconds, 3.5);
    EXPECT_TRUE(o.render.realtime);
    EXPECT_EQ(o.render.outFormat, 12);
    ASSERT_EQ(o.effects.size(), 1u);
    LiveSettings settings;
    const float defaultOpening = settings.gateAttack;
    applyGateOptions(o.gate, settings);
    EXPECT_NEAR(-60.0 * (1.0 - 0.9 * settings.gateThresh), -30.0, 1e-4);
    EXPECT_NEAR(495.0 * settings.gateAttack + 5.0, 50.0, 1e-3);
    EXPECT_NEAR(495.0 * settings.gateRelease + 5.0, 200.0, 1e-3);

    RigOptions off;
    ASSERT_TRUE(parse({"--gate", "off", "--gate-close", "5"}, off, error));
    LiveSettings offSettings;
    applyGateOptions(off.gate, offSettings);
    EXPECT_EQ(offSettings.gateThresh, 0.0f);
    EXPECT_EQ(offSettings.gateAttack, defaultOpening) << "an option not given keeps the default";
    EXPECT_EQ(RigOptions().render.tailSeconds, 2.0);

    const std::vector<std::vector<const char*>> bad = {
        {"--tail", "-1"}, {"--tail", "61"}, {"--out-format", "20"}, {"--out-format", "1.5"}, {"--gate", "-5"},
        {"--gate", "loud"}, {"--gate-open", "4"}, {"--gate-close", "501"}, {"--render"}, {"--out", ""}};
    for (const std::vector<const char*>& args : bad) {
        RigOptions refused;
        error.clear();
        EXPECT_FALSE(parse(args, refused, error)) << args[0];
        EXPECT_NE(error.find(args[0]), std::string::npos) << error;
    }
}

// What the driver tells the host: the input's rate and no other, two float inputs and
// outputs, the block size it was asked for and no latency; and as the engine sees it.
TEST_F(RenderTest, DriverReportsTheInputsRateTheBlockAndNoLatency) {
    DryTake take;
    take.rate = 32000;
    take.bits = 16;
    take.channels.push_back(quantise(std::vector<float>(3200, 0.1f), 16));
    ASSERT_TRUE(writeDryTake("render-32k.wav", take));
    RenderInput input;
    ASSERT_EQ(input.open("render-32k.wav"), WaveOpenResult::Ok);
    RenderOutput output;
    RecordingFormatTable table;
    ASSERT_TRUE(output.create("render-32k-out.wav", table.entries[RecordingFormatTable::indexOf(16, 2, 32000)], 32000));
    RenderPlan plan;
    plan.blockFrames = 777;
    RenderDriver* driver = new RenderDriver(input, output, plan);

    ASSERT_TRUE(driver->init(nullptr));
    long inputs = 0, outputs = 0, inLatency = -1, outLatency = -1, minSize = 0, maxSize = 0, preferred = 0, step = -1;
    double rate = 0.0;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 2) << "a mono file feeds both inputs";
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(driver->getLatencies(&inLatency, &outLatency), ASE_OK);
    EXPECT_EQ(inLatency + outLatency, 0);
    EXPECT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &step), ASE_OK);
    EXPECT_EQ(preferred, 777);
    EXPECT_EQ(minSize, 777);
    EXPECT_EQ(maxSize, 777);
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 32000.0);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_NoClock);
    EXPECT_NE(driver->setSampleRate(44100.0), ASE_OK);
    for (int isInput = 0; isInput < 2; ++isInput) {
        ASIOChannelInfo info{};
        info.channel = 1;
        info.isInput = isInput;
        EXPECT_EQ(driver->getChannelInfo(&info), ASE_OK);
        EXPECT_EQ(info.type, 19) << "32-bit float, little-endian";
        info.channel = 2;
        EXPECT_NE(driver->getChannelInfo(&info), ASE_OK);
    }
    ASIOBufferInfo wrongSize[1] = {{1, 0, {nullptr, nullptr}}};
    ASIOCallbacks none{};
    EXPECT_NE(driver->createBuffers(wrongSize, 1, 512, &none), ASE_OK);
    char text[256] = {};
    driver->getErrorMessage(text);
    EXPECT_GT(std::strlen(text), 0u) << "a refusal says why";

    {
        LiveEngine engine;
        ASSERT_TRUE(engine.openDriverObject(driver));
        EXPECT_EQ(engine.currentDriver(), LiveEngine::kUnlistedDriver);
        char description[256];
        engine.describeDriver(description, sizeof description);
        EXPECT_STREQ(description, "Sample Rate: 32000\nInput Channels: 2\nOutput Channels: 2\nInput Latency: 0.0 msec\n"
                                  "Output Latency: 0.0 msec");
        ASSERT_TRUE(engine.startLiveInput());
        EXPECT_EQ(WaitForSingleObject(driver->endedEvent(), 10000), WAIT_OBJECT_0);
        EXPECT_EQ(engine.driverFigures().preferredSize, 777);
        engine.stopLiveInput();
    }
    EXPECT_EQ(driver->outcome(), RenderOutcome::Complete);
    EXPECT_EQ(driver->framesDone(), 3200u);
    driver->Release();  // the engine has released its own reference
    EXPECT_TRUE(output.commit());
    WavContent out;
    ASSERT_TRUE(readWav("render-32k-out.wav", out));
    EXPECT_EQ(out.frames(), 3200u);
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
}

// A direct take recorded during a render keeps every block and holds what the outputs
// got (no click, unity output gain).
TEST_F(RenderTest, DirectTakeDuringARender) {
    const DryTake take = testTake(48000, 24, 2, 20.0);
    ASSERT_TRUE(writeDryTake("render-long.wav", take));
    ASSERT_EQ(runRig({"--render", "render-long.wav", "--out", "render-long-out.wav", "--tail", "0", "--gate", "off",
                      "--take", "render-long-take.wav", "--format", "18"}),
              0) << boxTexts();
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
    WavContent recorded, rendered;
    ASSERT_TRUE(readWav("render-long-take.wav", recorded));
    ASSERT_TRUE(readWav("render-long-out.wav", rendered));
    ASSERT_GE(recorded.frames(), rendered.frames()) << "blocks of the take were lost";
    size_t differing = 0;
    for (size_t i = 0; i < rendered.frames(); i += 997)
        differing += recorded.samples[0][i] != rendered.samples[0][i];
    EXPECT_EQ(differing, 0u);
}

namespace {

// A host whose callback hands each block to a slow "writer" (2 ms a block) and tells
// the driver to hold back while the writer is busy, as a direct take does.
struct SlowWriterHost {
    std::atomic<bool> busy{false};
    std::atomic<int> blocks{0};
    std::atomic<int> overruns{0};  // blocks that came while the writer was still busy
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> quit{false};
};
SlowWriterHost* g_host = nullptr;

ASIOTime* slowHostBlock(ASIOTime*, long, ASIOBool) {
    if (g_host->busy.exchange(true))
        ++g_host->overruns;
    ++g_host->blocks;
    SetEvent(g_host->wake);
    return nullptr;
}
void slowHostSwitch(long half, ASIOBool direct) { slowHostBlock(nullptr, half, direct); }
void slowHostRate(ASIOSampleRate) {}
long slowHostMessage(long selector, long value, void*, double*) {
    return selector == kAsioSelectorSupported && value == kAsioSupportsTimeInfo ? 1 : 0;
}
DWORD WINAPI slowWriter(void*) {
    while (!g_host->quit) {
        WaitForSingleObject(g_host->wake, 50);
        if (g_host->busy) {
            Sleep(2);
            g_host->busy = false;
        }
    }
    return 0;
}

}  // namespace

// The driver waits while the host says it is busy before it hands over the next block.
TEST_F(RenderTest, DriverHoldsBackWhileTheHostIsBusy) {
    DryTake take;
    take.rate = 48000;
    take.bits = 16;
    take.channels.push_back(quantise(std::vector<float>(48000, 0.1f), 16));
    ASSERT_TRUE(writeDryTake("render-held.wav", take));
    RenderInput input;
    ASSERT_EQ(input.open("render-held.wav"), WaveOpenResult::Ok);
    RenderOutput output;
    RecordingFormatTable table;
    ASSERT_TRUE(output.create("render-held-out.wav", table.entries[RecordingFormatTable::indexOf(16, 2, 48000)], 48000));
    RenderPlan plan;
    plan.blockFrames = 960;  // 50 blocks
    RenderDriver* driver = new RenderDriver(input, output, plan);
    SlowWriterHost host;
    g_host = &host;
    driver->holdBackWhile([](void* h) { return static_cast<SlowWriterHost*>(h)->busy.load(); }, &host);
    HANDLE writer = CreateThread(nullptr, 0, slowWriter, nullptr, 0, nullptr);

    ASIOCallbacks callbacks{slowHostSwitch, slowHostRate, slowHostMessage, slowHostBlock};
    ASIOBufferInfo infos[4] = {{1, 0, {}}, {1, 1, {}}, {0, 0, {}}, {0, 1, {}}};
    ASSERT_TRUE(driver->init(nullptr));
    ASSERT_EQ(driver->createBuffers(infos, 4, 960, &callbacks), ASE_OK);
    ASSERT_EQ(driver->start(), ASE_OK);
    EXPECT_EQ(WaitForSingleObject(driver->endedEvent(), 20000), WAIT_OBJECT_0);
    driver->disposeBuffers();
    host.quit = true;
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
    CloseHandle(host.wake);
    EXPECT_EQ(driver->outcome(), RenderOutcome::Complete);
    EXPECT_EQ(host.blocks.load(), 50);
    EXPECT_EQ(host.overruns.load(), 0) << "blocks came while the host was busy";
    driver->Release();
    output.discard();
}

namespace {

// A host that passes its inputs to its outputs unchanged, block by block.
struct PassingHost {
    ASIOBufferInfo infos[4] = {{1, 0, {}}, {1, 1, {}}, {0, 0, {}}, {0, 1, {}}};
    int32_t frames = 0;
    std::atomic<int> blocks{0};
    // The render runs as fast as it can: at holdAt blocks it waits for the host to take
    // its turn (to stop it), however late the host's thread is scheduled.
    std::atomic<int> holdAt{0};
    std::atomic<bool> released{false};
};
PassingHost* g_passing = nullptr;

ASIOTime* passingBlock(ASIOTime*, long half, ASIOBool) {
    for (int ch = 0; ch < 2; ++ch)
        std::memcpy(g_passing->infos[2 + ch].buffers[half], g_passing->infos[ch].buffers[half],
                    sizeof(float) * size_t(g_passing->frames));
    const int done = ++g_passing->blocks;
    const int holdAt = g_passing->holdAt.load();
    while (holdAt > 0 && done >= holdAt && !g_passing->released.load())
        Sleep(0);
    return nullptr;
}
void passingSwitch(long half, ASIOBool direct) { passingBlock(nullptr, half, direct); }

}  // namespace

// A host that stops the driver, gives back its buffers and starts again with new ones,
// many times during a render, gets every frame once and in order: the blocks the
// driver had read ahead of the stop come first after the start, and nothing the
// chain made before the stop is missing from the file, which is the very file a
// render without stops writes.
TEST_F(RenderTest, DriverStoppedAndStartedAgainLosesAndRepeatsNothing) {
    DryTake take;
    take.rate = 48000;
    take.bits = 16;
    std::vector<float> ramp(48000 * 3 + 77);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = float(int(i % 60000) - 30000) / 32768.0f;  // every frame its own value
    take.channels.push_back(quantise(ramp, 16));
    for (float& v : ramp)
        v = -v;
    take.channels.push_back(quantise(ramp, 16));
    ASSERT_TRUE(writeDryTake("render-restarted.wav", take));

    // Renders the take, stopping and starting again every `blocksPerStart` blocks
    // (0: never); returns how many times it did.
    auto render = [&](const char* path, int blocksPerStart) {
        RenderInput input;
        EXPECT_EQ(input.open("render-restarted.wav"), WaveOpenResult::Ok);
        RenderOutput output;
        RecordingFormatTable table;
        EXPECT_TRUE(output.create(path, table.entries[RecordingFormatTable::indexOf(16, 2, 48000)], 48000));
        RenderPlan plan;
        plan.blockFrames = 64;  // many blocks read ahead at every stop
        RenderDriver* driver = new RenderDriver(input, output, plan);
        PassingHost host;
        host.frames = plan.blockFrames;
        g_passing = &host;
        ASIOCallbacks callbacks{passingSwitch, slowHostRate, slowHostMessage, passingBlock};
        EXPECT_TRUE(driver->init(nullptr));
        int restarts = 0;
        for (;;) {
            const int until = host.blocks.load() + blocksPerStart;  // stopped: no block runs
            host.released = false;
            host.holdAt = blocksPerStart == 0 ? 0 : until;
            EXPECT_EQ(driver->createBuffers(host.infos, 4, plan.blockFrames, &callbacks), ASE_OK);
            EXPECT_EQ(driver->start(), ASE_OK);
            while ((blocksPerStart == 0 || host.blocks.load() < until) &&
                   WaitForSingleObject(driver->endedEvent(), 0) != WAIT_OBJECT_0)
                Sleep(0);
            host.released = true;
            driver->disposeBuffers();  // the render may have ended meanwhile
            if (driver->outcome() == RenderOutcome::Complete)
                break;
            EXPECT_EQ(driver->outcome(), RenderOutcome::Stopped);
            ++restarts;
        }
        EXPECT_EQ(driver->outcome(), RenderOutcome::Complete);
        EXPECT_EQ(driver->framesDone(), take.frames());
        driver->Release();
        EXPECT_TRUE(output.commit());
        return restarts;
    };
    EXPECT_EQ(render("render-once-out.wav", 0), 0);
    EXPECT_GT(render("render-restarted-out.wav", 150), 5);

    WavContent once;
    ASSERT_TRUE(readWav("render-once-out.wav", once));
    ASSERT_EQ(once.frames(), take.frames());
    EXPECT_NE(once.samples[0][100], once.samples[0][101]);
    EXPECT_TRUE(fileBytes("render-restarted-out.wav") == fileBytes("render-once-out.wav"))
        << "frames lost, repeated or out of order across the restarts";
}

namespace {

uint32_t little32At(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

// talvenor-rig as a process of its own; its output goes to outputPath when given.
HANDLE startRig(const std::string& arguments, const std::string& outputPath = "") {
    std::string line = "\"" + std::string(TALVENOR_BIN_DIR) + "talvenor-rig.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (!outputPath.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = output;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0,
                                        nullptr, nullptr, &startup, &process);
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    if (!started)
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

}  // namespace

// A direct take whose process is killed at any moment (here twenty times, at moments a
// fixed sequence picks) is a valid WAV file up to its last second on disk, stated by its
// header; the take is listed for repair, and the next start brings its header up to
// everything the file holds, saying so once.
TEST_F(RenderTest, ATakeKilledAtAnyMomentOpensAndIsRepairedAtTheNextStart) {
    ASSERT_TRUE(writeDryTake("render-killed-in.wav", testTake(44100, 16, 2, 30.0)));
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA("render-killed-take.wav", MAX_PATH, full, nullptr), 0u);
    const std::string take = full;
    const uint32_t oneSecond = 176400;  // 44.1 kHz, 16-bit stereo (format 7)
    uint32_t seed = 20261209u;
    int withTake = 0, repaired = 0;
    for (int kill = 0; kill < 20; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        DeleteFileA(take.c_str());
        seed = seed * 1664525u + 1013904223u;
        const DWORD killAfterMs = 300 + (seed >> 8) % 1000;
        HANDLE rig = startRig("--render render-killed-in.wav --out render-killed-out.wav --realtime --tail 0 "
                              "--gate off --format 7 --take \"" + take + "\"",
                              "render-killed-log.txt");
        ASSERT_NE(rig, nullptr);
        Sleep(killAfterMs);
        ASSERT_TRUE(TerminateProcess(rig, 9));
        ASSERT_EQ(WaitForSingleObject(rig, 10000), WAIT_OBJECT_0);
        CloseHandle(rig);
        if (!fileExists(take))
            continue;  // killed before the take began
        const std::vector<uint8_t> bytes = fileBytes(take);
        ASSERT_GE(bytes.size(), 44u) << "a take is never left without its header";
        ++withTake;
        // What any player reads: the header's own sizes, agreeing with each other and
        // with the file, and no more than a second and a block short of it.
        EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
        EXPECT_EQ(std::memcmp(&bytes[8], "WAVEfmt ", 8), 0);
        EXPECT_EQ(std::memcmp(&bytes[36], "data", 4), 0);
        const uint32_t stated = little32At(bytes, 40);
        EXPECT_EQ(little32At(bytes, 4), stated + 36);
        EXPECT_EQ(stated % 4, 0u);
        const uint32_t held = uint32_t(bytes.size() - 44);
        EXPECT_LE(stated, held);
        EXPECT_LE(held - stated, oneSecond + 65536) << "killed after " << killAfterMs << " ms";
        if (stated > 4 * 4096) {
            size_t sounding = 0;
            for (size_t at = 44; at < 44 + size_t(stated); at += 2)
                sounding += bytes[at] != 0 || bytes[at + 1] != 0;
            EXPECT_GT(sounding, stated / 8) << "the stated part holds the take";
        }

        // The next start repairs it: the header then states every whole frame.
        char report[2048];
        const int count = repairTakesLeftInProgress(report, sizeof report);
        if (held - held % 4 != stated) {
            EXPECT_EQ(count, 1);
            EXPECT_NE(std::string(report).find(take), std::string::npos) << report;
            ++repaired;
        }
        const std::vector<uint8_t> repairedBytes = fileBytes(take);
        EXPECT_EQ(little32At(repairedBytes, 40), held - held % 4);
        EXPECT_EQ(little32At(repairedBytes, 4), held - held % 4 + 36);
        EXPECT_EQ(repairTakesLeftInProgress(report, sizeof report), 0) << "a take is repaired once";
    }
    std::printf("[ killed   ] 20 kills: %d left a take, %d repaired\n", withTake, repaired);
    EXPECT_GE(withTake, 15);

    // Through a real start of the rig: killed once more, then started again.
    DeleteFileA(take.c_str());
    HANDLE rig = startRig("--render render-killed-in.wav --out render-killed-out.wav --realtime --tail 0 "
                          "--gate off --format 7 --take \"" + take + "\"",
                          "render-killed-log.txt");
    ASSERT_NE(rig, nullptr);
    // Killed once the take holds a second or so past its header (a rig slow to start on
    // a busy machine is waited for, not killed before its take began).
    for (int waited = 0; waited < 30000; waited += 50) {
        WIN32_FILE_ATTRIBUTE_DATA seen;
        if (GetFileAttributesExA(take.c_str(), GetFileExInfoStandard, &seen) && seen.nFileSizeLow > 44 + 200000)
            break;
        Sleep(50);
    }
    Sleep(300);
    ASSERT_TRUE(TerminateProcess(rig, 9));
    WaitForSingleObject(rig, 10000);
    CloseHandle(rig);
    rig = startRig("--list-drivers", "render-killed-start.txt");
    ASSERT_NE(rig, nullptr);
    ASSERT_EQ(WaitForSingleObject(rig, 30000), WAIT_OBJECT_0);
    CloseHandle(rig);
    const std::vector<uint8_t> said = fileBytes("render-killed-start.txt");
    const std::string text(said.begin(), said.end());
    EXPECT_NE(text.find("These takes have been repaired"), std::string::npos) << text;
    EXPECT_NE(text.find(take), std::string::npos) << text;
    EXPECT_TRUE(headerMatchesLength(take));
    for (const char* scratch : {"render-killed-in.wav", "render-killed-out.wav", "render-killed-out.part.wav",
                                "render-killed-start.txt", "render-killed-log.txt"})
        DeleteFileA(scratch);
    DeleteFileA(take.c_str());
}

// Effects in processes of their own: Overdrive bridged sounds exactly as in process;
// a crashing and a hanging plug-in in two positions of the same render are each named
// once, their positions pass the signal through dry, and the render and the take
// recorded meanwhile are complete.
TEST_F(RenderTest, EffectsInTheirOwnProcessSurviveACrashAndAHang) {
    const DryTake take = testTake(44100, 16, 2, 3.0);
    ASSERT_TRUE(writeDryTake("render-bridged.wav", take));
    const std::string overdrive = "=" + kPlugins + "Overdrive.dll";
    ASSERT_EQ(runRig({"--render", "render-bridged.wav", "--out", "render-in-process.wav", "--buffer", "1000", "--fx",
                      "2" + overdrive, "--tail", "0"}),
              0) << boxTexts();
    std::string printed = capturedOutput([&] {
        return runRig({"--render", "render-bridged.wav", "--out", "render-own-process.wav", "--buffer", "1000",
                       "--fx", "2" + overdrive, "--own-process", "2", "--tail", "0"});
    });
    EXPECT_NE(printed.find("fx 2: Overdrive by an unnamed vendor (VST 2, in its own process)"), std::string::npos)
        << printed;
    WavContent inProcess, ownProcess;
    ASSERT_TRUE(readWav("render-in-process.wav", inProcess));
    ASSERT_TRUE(readWav("render-own-process.wav", ownProcess));
    EXPECT_EQ(ownProcess.samples, inProcess.samples) << "Overdrive sounds otherwise in its own process";

    const std::string testPlugins = std::string(TALVENOR_BIN_DIR) + "test-plugins\\";
    printed = capturedOutput([&] {
        return runRig({"--render", "render-bridged.wav", "--out", "render-failures.wav", "--buffer", "256", "--fx",
                       "0=" + testPlugins + "TestCrashesInProcess.dll", "--fx",
                       "1=" + testPlugins + "TestHangsInProcess.dll", "--fx", "2" + overdrive, "--own-process", "all",
                       "--tail", "0", "--take", "render-failures-take.wav", "--format", "18"});
    });
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
    auto count = [&](const std::string& what) { return timesIn(printed, what); };
    EXPECT_EQ(count("fx 0: Crasher crashed: its process ended."), 1u) << printed;
    EXPECT_EQ(count("fx 1: Hanger stopped answering, and its process was ended."), 1u) << printed;
    EXPECT_EQ(count("passes its signal through dry"), 2u) << printed;
    EXPECT_TRUE(headerMatchesLength("render-failures.wav"));
    WavContent survived;
    ASSERT_TRUE(readWav("render-failures.wav", survived));
    EXPECT_EQ(survived.frames(), take.channels[0].size()) << "the render is complete";
    EXPECT_TRUE(headerMatchesLength("render-failures-take.wav"));
    WavContent recorded;
    ASSERT_TRUE(readWav("render-failures-take.wav", recorded));
    ASSERT_GE(recorded.frames(), survived.frames()) << "blocks of the take were lost";
    float lastSecond = 0.0f;
    for (size_t i = survived.frames() - 44100; i < survived.frames(); ++i)
        lastSecond = std::max(lastSecond, std::fabs(recorded.samples[0][i]));
    EXPECT_GT(lastSecond, 0.05f) << "the take goes on after the failures";
    // After both failures the signal is Overdrive's alone, as with the two positions empty.
    ASSERT_EQ(runRig({"--render", "render-bridged.wav", "--out", "render-overdrive-only.wav", "--buffer", "256", "--fx",
                      "2" + overdrive, "--tail", "0"}),
              0) << boxTexts();
    WavContent alone;
    ASSERT_TRUE(readWav("render-overdrive-only.wav", alone));
    // Its filters still hold a trace of the seconds before the failures, far below
    // hearing (-100 dB) but not always nothing.
    const size_t last = survived.frames() - 1;
    for (int c = 0; c < 2; ++c)
        EXPECT_NEAR(survived.samples[size_t(c)][last], alone.samples[size_t(c)][last], 1e-5) << "channel " << c;
}

// A plug-in that crashes the rig while running inside it is noted as it crashes; the
// next start says so, once, and runs it in a process of its own, where the same crash
// no longer ends the render. So too when the crash lies inside a system library the
// plug-in called with a wild pointer, or in no code at all (a call through a garbage
// pointer): the plug-in made the call.
TEST_F(RenderTest, APluginThatCrashedTheRigRunsInItsOwnProcessFromTheNextStart) {
    ASSERT_TRUE(writeDryTake("render-crash-in.wav", testTake(44100, 16, 2, 2.0)));
    struct Crasher {
        const char* file;
        const char* name;
    };
    for (const Crasher& c : {Crasher{"TestCrashesInProcess.dll", "Crasher"},
                             Crasher{"TestCrashesInSystem.dll", "System Crasher"},
                             Crasher{"TestCallsGarbage.dll", "Garbage Caller"}}) {
        SCOPED_TRACE(c.file);
        const std::string crasher = std::string(TALVENOR_BIN_DIR) + "test-plugins\\" + c.file;
        forgetFailure(crasher.c_str());
        char leftOver[MAX_PATH];
        takeCrashedPlugin(leftOver, sizeof leftOver);  // of an earlier run cut short
        forgetFailure(crasher.c_str());
        const std::string arguments =
            "--render render-crash-in.wav --out render-crash-out.wav --buffer 256 --tail 0 --fx \"0=" + crasher + "\"";
        HANDLE rig = startRig(arguments, "render-crash-first.txt");
        ASSERT_NE(rig, nullptr);
        ASSERT_EQ(WaitForSingleObject(rig, 60000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeProcess(rig, &code);
        CloseHandle(rig);
        EXPECT_NE(code, 0u) << "the plug-in took the rig down";
        EXPECT_FALSE(failedBefore(crasher.c_str())) << "known only at the next start";

        rig = startRig(arguments, "render-crash-next.txt");
        ASSERT_NE(rig, nullptr);
        ASSERT_EQ(WaitForSingleObject(rig, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(rig, &code);
        CloseHandle(rig);
        const std::vector<uint8_t> bytes = fileBytes("render-crash-next.txt");
        const std::string printed(bytes.begin(), bytes.end());
        EXPECT_EQ(code, 0u) << printed;
        EXPECT_TRUE(failedBefore(crasher.c_str()));
        auto count = [&](const std::string& what) { return timesIn(printed, what); };
        EXPECT_EQ(count("This effect crashed Talvenor Live when it last ran."), 1u) << printed;
        EXPECT_NE(printed.find(crasher), std::string::npos) << printed;
        EXPECT_NE(printed.find("in its own process)"), std::string::npos) << printed;
        EXPECT_EQ(count(std::string("fx 0: ") + c.name + " crashed: its process ended."), 1u) << printed;
        EXPECT_TRUE(headerMatchesLength("render-crash-out.wav"));

        // A third start has nothing to tell.
        rig = startRig(arguments, "render-crash-third.txt");
        ASSERT_NE(rig, nullptr);
        ASSERT_EQ(WaitForSingleObject(rig, 60000), WAIT_OBJECT_0);
        CloseHandle(rig);
        const std::vector<uint8_t> third = fileBytes("render-crash-third.txt");
        EXPECT_EQ(std::string(third.begin(), third.end()).find("when it last ran"), std::string::npos);
        forgetFailure(crasher.c_str());
    }
}

// Failures outside processing and of every kind, one per position of one render, each
// in its own process: a crash and a hang while giving the state the program keeps, exit,
// abort, a process ended at once mid-block, threads flooding the host, and a state
// answer of 2 GiB, beside Overdrive. Each failure is named once with how it happened,
// the render is complete, and a plug-in that failed is given its own process next time
// without being asked.
TEST_F(RenderTest, EveryKindOfPluginFailureLeavesTheRenderWhole) {
    const DryTake take = testTake(44100, 16, 2, 3.0);
    ASSERT_TRUE(writeDryTake("render-cues.wav", take));
    char here[MAX_PATH];
    GetCurrentDirectoryA(sizeof here, here);
    const std::string cueLibrary = std::string(TALVENOR_BIN_DIR) + "test-plugins\\TestFailsOnCue.dll";
    const struct {
        const char* name;
        const char* cue;
        const char* told;  // the end of the line naming it, or null for none
    } positions[] = {
        {"CrashesSaving", "save:crash", "CrashesSaving crashed: its process ended."},
        {"HangsSaving", "save:hang", "HangsSaving stopped answering, and its process was ended."},
        {"Exits", "process:exit", "Exits ended its process without a crash"},
        {"Aborts", "process:abort", "Aborts ended its process without a crash"},
        {"Terminated", "process:terminate", "Terminated ended its process without a crash"},
        {"Floods", "open:flood", nullptr},
        {"HugeState", "save:huge", nullptr},
    };
    std::vector<std::string> arguments{"--render", "render-cues.wav", "--out", "render-cues-out.wav", "--buffer", "256",
                                       "--own-process", "all", "--tail", "0"};
    std::string paths[7];
    for (int p = 0; p < 7; ++p) {
        paths[p] = std::string(here) + "\\" + positions[p].name + ".dll";
        ASSERT_TRUE(CopyFileA(cueLibrary.c_str(), paths[p].c_str(), FALSE)) << paths[p];
        std::string variable = std::string("TP_CUE_") + positions[p].name;
        for (char& c : variable)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        SetEnvironmentVariableA(variable.c_str(), positions[p].cue);
        arguments.push_back("--fx");
        arguments.push_back(std::to_string(p) + "=" + paths[p]);
    }
    arguments.push_back("--fx");
    arguments.push_back("7=" + kPlugins + "Overdrive.dll");
    int result = -1;
    const std::string printed = capturedOutput([&] { return runRig(arguments); }, &result);
    EXPECT_EQ(result, 0) << printed << boxTexts();
    EXPECT_EQ(boxes_.count(), 0u) << boxTexts();
    auto count = [&](const std::string& what) { return timesIn(printed, what); };
    for (int p = 0; p < 7; ++p) {
        const std::string line = "fx " + std::to_string(p) + ": " + positions[p].name + " ";
        if (positions[p].told)
            EXPECT_EQ(count("fx " + std::to_string(p) + ": " + positions[p].told), 1u) << printed;
        else
            EXPECT_EQ(count(line), 1u) << "its load line alone, no failure: " << printed;
    }
    EXPECT_EQ(count("passes its signal through dry"), 5u) << printed;
    EXPECT_EQ(count("fx 7: Overdrive "), 1u) << "its load line alone: " << printed;
    EXPECT_TRUE(headerMatchesLength("render-cues-out.wav"));
    WavContent rendered;
    ASSERT_TRUE(readWav("render-cues-out.wav", rendered));
    EXPECT_EQ(rendered.frames(), take.channels[0].size()) << "the render is complete";

    // Loaded again without asking for a process of its own: the crasher gets one, for
    // it failed once; Overdrive, which never did, plays in this process.
    for (int p = 0; p < 7; ++p) {
        std::string variable = std::string("TP_CUE_") + positions[p].name;
        for (char& c : variable)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        SetEnvironmentVariableA(variable.c_str(), nullptr);
    }
    const std::string again = capturedOutput([&] {
        return runRig({"--render", "render-cues.wav", "--out", "render-again.wav", "--buffer", "256", "--fx",
                       "0=" + paths[0], "--fx", "1=" + kPlugins + "Overdrive.dll", "--tail", "0"});
    }, &result);
    EXPECT_EQ(result, 0) << again << boxTexts();
    EXPECT_NE(again.find("fx 0: CrashesSaving by an unnamed vendor (VST 2, in its own process)"), std::string::npos)
        << again;
    EXPECT_NE(again.find("fx 1: Overdrive by an unnamed vendor (VST 2)\n"), std::string::npos) << again;
    EXPECT_EQ(again.find("crashed"), std::string::npos) << "without its cue it plays: " << again;

    // A crash and a hang as the plug-in opens: refused with how, in bounded time, and
    // remembered, so that the crasher, asked for later in this process, is opened in a
    // process of its own again (in this one it would take the test down).
    for (const char* cue : {"open:crash", "open:hang"}) {
        const std::string path = std::string(here) + (cue[5] == 'c' ? "\\CrashesOpening.dll" : "\\HangsOpening.dll");
        ASSERT_TRUE(CopyFileA(cueLibrary.c_str(), path.c_str(), FALSE)) << path;
        SetEnvironmentVariableA(cue[5] == 'c' ? "TP_CUE_CRASHESOPENING" : "TP_CUE_HANGSOPENING", cue);
        for (const bool ask : {true, false}) {
            boxes_.clear();
            std::vector<std::string> opening{"--render", "render-cues.wav", "--out", "render-opening.wav", "--fx",
                                             "0=" + path, "--tail", "0"};
            if (ask)
                opening.insert(opening.end(), {"--own-process", "0"});
            EXPECT_NE(runRig(opening), 0) << cue;
            ASSERT_EQ(boxes_.count(), 1u) << cue << ": " << boxTexts();
            EXPECT_NE(boxes_.boxes()[0].text.find(cue[5] == 'c' ? "it crashed its process as it started"
                                                                 : "its process did not answer"),
                      std::string::npos)
                << cue << (ask ? "" : ", remembered") << ": " << boxTexts();
        }
    }
    boxes_.clear();
}
