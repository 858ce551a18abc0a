// A show through talvenor-rig --render: a setlist of three performance files (and a
// fourth that is missing) switched by a MIDI script's program changes, an expression
// pedal on Filtrace's centre and a note on a bypass, all through the rig's own MIDI
// input path. Each render is judged against renders of the performances alone: the
// incoming chain is heard from the first block after the switch, the outgoing echo
// rings on for exactly its tail, no step is larger than the signal's own, and the
// pedal changes nothing until it meets the parameter's value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ControlTargets.h"
#include "ErrorFlags.h"
#include "MessageBoxRecorder.h"
#include "PerformanceFormat.h"
#include "RenderTestSupport.h"
#include "ScratchNames.h"
#include "WavFiles.h"
#include "WinInclude.h"
#include <objbase.h>

namespace {

const double kPi = 3.14159265358979323846;
const std::string kPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";
const std::string kTestPlugins = std::string(TALVENOR_BIN_DIR) + "test-plugins\\";
const uint32_t kRate = 44100;
const size_t kBlock = 256;

class SetlistRenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        clearErrorFlag(~0u);
        GetCurrentDirectoryA(sizeof startedIn_, startedIn_);
        ASSERT_TRUE(SetCurrentDirectoryA(folder_.path().c_str())) << folder_.path();
    }
    void TearDown() override {
        SetCurrentDirectoryA(startedIn_);
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
    RunScratchFolder folder_{"setlist"};
    char startedIn_[MAX_PATH] = "";
};

struct Position {
    int index;
    std::string path;
    std::vector<float> parameters;
};

// A performance file as the program writes it, with an optional bindings text.
bool writePerformanceFile(const std::string& path, const std::vector<Position>& positions,
                          const std::string& bindings = "") {
    PerformanceImage image{};
    std::vector<std::vector<uint8_t>> records;
    records.reserve(positions.size());
    for (const Position& p : positions) {
        records.emplace_back(parameterRecordSize(int32_t(p.parameters.size())));
        writeParameterRecord(records.back().data(), p.parameters.data(), int32_t(p.parameters.size()));
        PerformancePosition& slot = image.positions[p.index];
        slot.occupied = true;
        std::snprintf(slot.path, sizeof slot.path, "%s", p.path.c_str());
        slot.state = records.back().data();
        slot.stateSize = uint32_t(records.back().size());
    }
    image.bindings = bindings.empty() ? nullptr : bindings.data();
    image.bindingsSize = uint32_t(bindings.size());
    std::vector<uint8_t> bytes(performanceFileSize(image));
    if (bytes.empty() || !writePerformance(image, bytes.data(), bytes.size()))
        return false;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

bool writeText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && written;
}

// Two tones played throughout, silence for the last second and a half.
DryTake showTake(double seconds, double silentFrom, size_t skipFrames = 0) {
    DryTake take;
    take.rate = kRate;
    take.bits = 24;
    std::vector<float> v;
    for (size_t i = skipFrames; i < size_t(seconds * kRate); ++i) {
        const double t = double(i) / kRate;
        v.push_back(t < silentFrom ? float(0.25 * std::sin(2 * kPi * 220.0 * t) + 0.15 * std::sin(2 * kPi * 331.0 * t))
                                   : 0.0f);
    }
    take.channels.push_back(quantise(v, 24));
    return take;
}

std::vector<float> left(const std::string& path) {
    WavContent content;
    EXPECT_TRUE(readWav(path, content)) << path;
    return content.samples.empty() ? std::vector<float>() : content.samples[0];
}

size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b, size_t from, size_t to,
                       float tolerance = 0.0f) {
    for (size_t i = from; i < to && i < a.size() && i < b.size(); ++i)
        if (std::fabs(a[i] - b[i]) > tolerance)
            return i;
    return to;
}

float largestStep(const std::vector<float>& v, size_t from, size_t to) {
    float s = 0.0f;
    for (size_t i = from + 1; i < to && i < v.size(); ++i)
        s = std::max(s, std::fabs(v[i] - v[i - 1]));
    return s;
}

double rms(const std::vector<float>& v, size_t from, size_t count) {
    double sum = 0.0;
    for (size_t i = from; i < from + count && i < v.size(); ++i)
        sum += double(v[i]) * double(v[i]);
    return std::sqrt(sum / double(count));
}

// The block a script's message at t seconds falls in: MIDI control applies it before
// that block's work. A switch it asks for is made by the UI thread and lands at the
// block after.
size_t blockOf(double seconds) { return size_t(std::llround(seconds * kRate)) / kBlock * kBlock; }
size_t blockAfter(double seconds) { return blockOf(seconds) + kBlock; }

TEST_F(SetlistRenderTest, AShowSwitchedByAMidiScriptIsGaplessAndKeepsTheEchoTail) {
    const std::string echo = kTestPlugins + "TestEcho.dll";
    const std::string filtrace = kPlugins + "Filtrace.dll";
    const std::string overdrive = kPlugins + "Overdrive.dll";
    // The echo: 300 ms, feedback 0.72. Filtrace's centre at 0.2; an Overdrive after it.
    ASSERT_TRUE(writePerformanceFile("Echo Song.tlp", {{0, echo, {0.2929f, 0.8f}}}));
    const std::string bindings = "talvenor-bindings 1\ncc 11 any " + std::to_string(pluginParameterTarget(0, 0)) +
                                 " continuous\nnote 60 any " + std::to_string(bypassTarget(1)) + " toggle\n";
    ASSERT_TRUE(writePerformanceFile("Wah Song.tlp",
                                     {{0, filtrace, {0.2f, 0.5f, 0.1f, 0.3f, 1.0f, 0.5f}}, {1, overdrive, {0.6f, 0.5f}}},
                                     bindings));
    ASSERT_TRUE(writePerformanceFile("Clean Song.tlp", {}));
    ASSERT_TRUE(writeText("show.tlset", "talvenor-setlist 1\n# the gig\nEcho Song.tlp\nWah Song.tlp\n"
                                        "Clean Song.tlp\nGone Song.tlp\n"));
    std::string script = "# the show\n1.000 C0 01   # to the wah\n";
    // The pedal from heel to toe across half a second: it meets 0.2 (25.4) on its way.
    for (int k = 0; k <= 50; ++k) {
        char line[64];
        std::snprintf(line, sizeof line, "%.3f B0 0B %02X\n", 4.5 + 0.01 * k, (k * 127 + 25) / 50);
        script += line;
    }
    script += "5.500 90 3C 7F\n5.600 80 3C 00\n6.200 C0 02\n6.500 C0 03\n6.600 C0 09\n";
    ASSERT_TRUE(writeText("show.midi", script));
    const double seconds = 7.5, silentFrom = 6.0;
    ASSERT_TRUE(writeDryTake("show-dry.wav", showTake(seconds, silentFrom)));

    int result = -1;
    const std::string printed = capturedOutput(
        [&] {
            return runRig({"--render", "show-dry.wav", "--out", "show.wav", "--buffer", "256", "--gate", "off",
                           "--tail", "0", "--setlist", "show.tlset", "--midi-script", "show.midi"});
        },
        &result);
    ASSERT_EQ(result, 0) << printed << boxTexts();
    ASSERT_EQ(boxes_.count(), 1u) << boxTexts();
    EXPECT_NE(boxTexts().find("Gone Song.tlp: the file is not there"), std::string::npos) << boxTexts();
    EXPECT_NE(boxTexts().find("the rest of the setlist can be used"), std::string::npos) << boxTexts();

    // One line a switch, with the time the audio reached it.
    const size_t switch1 = blockAfter(1.0), switch2 = blockAfter(6.2);
    char expected[3][96];
    std::snprintf(expected[0], sizeof expected[0], "%8.3f s  setlist 1: Echo Song", 0.0);
    std::snprintf(expected[1], sizeof expected[1], "%8.3f s  setlist 2: Wah Song", double(switch1) / kRate);
    std::snprintf(expected[2], sizeof expected[2], "%8.3f s  setlist 3: Clean Song", double(switch2) / kRate);
    for (const char* line : expected)
        EXPECT_NE(printed.find(line), std::string::npos) << line << "\n" << printed;
    EXPECT_NE(printed.find("Bypass 2 on"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Gone Song.tlp"), std::string::npos) << printed;     // the program change to it
    EXPECT_NE(printed.find("no entry 10"), std::string::npos) << printed;       // beyond the setlist

    // The same take through the echo alone, and through an empty performance switched
    // to the wah at the same time (its DC filter has heard the same first second).
    ASSERT_EQ(runRig({"--render", "show-dry.wav", "--out", "echo-alone.wav", "--buffer", "256", "--gate", "off",
                      "--tail", "0", "--performance", "Echo Song.tlp"}),
              0) << boxTexts();
    ASSERT_TRUE(writeText("wah.tlset", "talvenor-setlist 1\nClean Song.tlp\nWah Song.tlp\n"));
    ASSERT_TRUE(writeText("wah.midi", "1.000 C0 01\n"));
    ASSERT_EQ(runRig({"--render", "show-dry.wav", "--out", "wah-alone.wav", "--buffer", "256", "--gate", "off",
                      "--tail", "0", "--setlist", "wah.tlset", "--midi-script", "wah.midi"}),
              0) << boxTexts();
    const std::vector<float> show = left("show.wav"), echoAlone = left("echo-alone.wav"), wah = left("wah-alone.wav");
    ASSERT_EQ(show.size(), size_t(seconds * kRate));
    ASSERT_EQ(echoAlone.size(), show.size());

    // Up to the switch the show is the echo alone, sample for sample; from the first
    // block after it the wah is heard.
    EXPECT_EQ(firstDifference(show, echoAlone, 0, show.size()), switch1);
    double heard = 0.0;
    for (size_t i = switch1; i < switch1 + kBlock; ++i)
        heard = std::max(heard, double(std::fabs(show[i] - echoAlone[i])));
    EXPECT_GT(heard, 0.05) << "the incoming chain is not heard in the first block";

    // After the 10 ms crossfade the show is the wah plus the echo's tail, which rings
    // for its 3 s and then stops.
    const float floor = 0.0f;
    const size_t crossfade = size_t(0.010 * kRate) + 1, tail = 3 * kRate, fade = size_t(0.050 * kRate);
    std::vector<float> ringing(show.size(), 0.0f);
    ASSERT_EQ(wah.size(), show.size());
    for (size_t i = switch1 + crossfade; i < show.size(); ++i)
        ringing[i] = show[i] - wah[i];
    for (double at = 0.1; at < 2.9; at += 0.3)
        EXPECT_GT(rms(ringing, switch1 + size_t(at * kRate), kRate / 10), 0.001)
            << "the tail is silent " << at << " s after the switch";
    for (size_t i = switch1 + tail; i < blockAfter(4.5); ++i)
        ASSERT_NEAR(ringing[i], 0.0f, floor) << "the tail still sounds at frame " << i;
    EXPECT_LT(rms(ringing, switch1 + tail, blockAfter(4.5) - switch1 - tail), 1e-5);
    EXPECT_LT(rms(ringing, switch1 + tail - fade, fade), rms(ringing, switch1 + tail - 2 * fade, fade));

    // No step across the switch beyond the steps the signal itself takes.
    const float ownStep = std::max(largestStep(echoAlone, switch1 - kRate / 2, switch1 + kRate / 2),
                                   largestStep(wah, switch1 + crossfade, switch1 + kRate / 2));
    EXPECT_LE(largestStep(show, switch1 - 2 * kBlock, switch1 + crossfade + 2 * kBlock), ownStep * 1.05f);
    EXPECT_LE(largestStep(show, switch1 + tail - fade - kBlock, switch1 + tail + kBlock), ownStep * 1.05f);

    // The pedal: its first values are below Filtrace's centre and change nothing (not
    // a sample); it takes the centre up once it meets 0.2 (within half a step).
    int meets = 0;
    while ((meets * 127 + 25) / 50 < 25.4 - 0.5)
        ++meets;
    const size_t pickedUp = blockOf(4.5 + 0.01 * meets);
    EXPECT_EQ(firstDifference(ringing, std::vector<float>(show.size(), 0.0f), switch1 + tail, pickedUp, floor),
              pickedUp);
    EXPECT_LT(firstDifference(ringing, std::vector<float>(show.size(), 0.0f), pickedUp, pickedUp + kBlock, 2e-4f),
              pickedUp + kBlock);
    // The note bypasses the Overdrive: the level changes at the block after it.
    const size_t bypassed = blockOf(5.5);
    const double before = rms(show, bypassed - 2048, 2048), after = rms(show, bypassed, 2048);
    EXPECT_GT(std::fabs(20.0 * std::log10(after / before)), 1.0) << before << " " << after;

    // The clean song from 6.2 s: the input is silent by then, and so is the output once
    // the wah's short ring has gone.
    EXPECT_LT(rms(show, switch2 + kRate / 2, kRate / 2), 1e-5);
}

}  // namespace
