// A whole live session, headless (and a second with failing plug-ins in processes of
// their own): the built-in driver in duplex at 44100 Hz on the
// bench's PulseAudio null sinks, a 110 Hz riff played into the "instrument" sink,
// Overdrive / Filtrace (bypassed) / Modulane in positions 0 to 2, a backing track
// playing, the metronome on, and a direct take. While it runs, the bypass of
// position 1 is toggled and positions are moved.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "ClickSamples.h"
#include "ErrorFlags.h"
#include "MessageBoxRecorder.h"
#include "RegistryKeys.h"
#include "RigSession.h"
#include "ThreadCheckedPlugin.h"
#include "ScratchNames.h"
#include "UnixPrograms.h"
#include "WavFiles.h"

namespace {

const double kPi = 3.14159265358979323846;
const uint32_t kRate = 44100;
const double kRiffHz = 110.0;
// 44.1 * 33.5 Hz: a lost 1000-frame block would turn its phase by half a turn, and
// 132000 frames hold a whole number of cycles, so the looping file joins seamlessly.
const double kBackingHz = 1477.35;
const float kBackingLevel = 0.1f;
const int kBlock = 1000;  // the driver's block: 22.7 ms
const std::string kOurPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";

std::vector<float> tone(double hz, float level, size_t frames) {
    std::vector<float> v(frames);
    for (size_t i = 0; i < frames; ++i)
        v[i] = level * float(std::sin(2.0 * kPi * hz * double(i) / kRate));
    return v;
}

// The component of x at hz over n samples from start, Hann-windowed, as a complex
// amplitude (its magnitude is the sine's amplitude).
std::complex<double> componentAt(const std::vector<float>& x, size_t start, size_t n, double hz) {
    std::complex<double> sum = 0.0;
    double weight = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * double(i) / double(n));
        const double phase = 2.0 * kPi * hz * double(start + i) / kRate;
        sum += w * double(x[start + i]) * std::complex<double>(std::cos(phase), -std::sin(phase));
        weight += w;
    }
    return 2.0 * sum / weight;
}

}  // namespace

TEST(LiveSession, RiffThroughEffectsWithBackingIntoATake) {
    CoInitialize(nullptr);
    clearErrorFlag(~0u);
    MessageBoxRecorder boxes;
    ASSERT_TRUE(storeBuiltInDriverChoices("Monitor of instrument", "speakers", kBlock, 4));
    {
        // The default format: 44100 Hz, 16-bit stereo, paced by the input.
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_WRITE, &key), ERROR_SUCCESS);
        RegDeleteValueA(key, "dxSoundFormat");
        RegDeleteValueA(key, "dxSyncByInput");
        RegCloseKey(key);
    }

    // This run's own files: the riff's player is stopped by the folder's name, which
    // no other bench's player has in its command line.
    const RunScratchFolder folder("session");
    const std::string riff = folder.file("riff.wav"), backing = folder.file("backing.wav"),
                      take = folder.file("take.wav");
    const std::vector<float> riffTone = tone(kRiffHz, 0.25f, kRate * 20);
    ASSERT_TRUE(writeWav16(riff, kRate, {riffTone, riffTone}));
    const std::vector<float> backingTone = tone(kBackingHz, kBackingLevel, 132000);
    ASSERT_TRUE(writeWav16(backing, kRate, {backingTone, backingTone}));
    DeleteFileA(take.c_str());

    {
        RigSession s;
        s.engine().setClick(kClickSamples, sizeof kClickSamples);
        ASSERT_TRUE(s.engine().openDriverByName("ZerevaZ-2-UDID wrapper"));
        ASSERT_GE(s.engine().currentDriver(), 0);
        ASSERT_TRUE(s.settings().loadPathIntoPosition(0, (kOurPlugins + "Overdrive.dll").c_str()));
        ASSERT_TRUE(s.settings().loadPathIntoPosition(1, (kOurPlugins + "Filtrace.dll").c_str()));
        ASSERT_TRUE(s.settings().loadPathIntoPosition(2, (kOurPlugins + "Modulane.dll").c_str()));
        s.settings().toggleBypass(1);
        s.settings().metronome = 1;
        ASSERT_TRUE(s.deck().openAccompaniment(backing.c_str()));
        s.deck().play();
        ASSERT_TRUE(s.deck().startRecording(take.c_str()));

        ASSERT_TRUE(playIntoSink("instrument", riff));
        Sleep(300);
        ASSERT_TRUE(s.engine().startLiveInput());
        EXPECT_EQ(s.engine().driverFigures().preferredSize, kBlock);
        Sleep(4000);
        // Changes while it runs: each is an exchange between two callbacks.
        s.settings().toggleBypass(1);  // Filtrace on
        Sleep(1500);
        s.settings().moveUp(2);        // Modulane before Filtrace
        Sleep(1500);
        s.settings().moveDown(0);      // Filtrace first, then Overdrive
        Sleep(1500);
        s.settings().toggleBypass(0);  // Filtrace off again
        Sleep(1500);
        EXPECT_TRUE(s.engine().running());
        s.engine().stopLiveInput();
        EXPECT_TRUE(s.deck().stopRecording());
    }
    stopPlayers(folder.name());
    EXPECT_EQ(errorFlags(), 0u) << "flags raised during the session";
    EXPECT_EQ(boxes.count(), 0u) << (boxes.count() ? boxes.boxes()[0].text : "");

    WavContent recorded;
    ASSERT_TRUE(readWav(take, recorded));
    ASSERT_EQ(recorded.sampleRate, kRate);
    ASSERT_EQ(recorded.channels, 2);
    const std::vector<float>& left = recorded.samples[0];
    const size_t frames = recorded.frames();
    EXPECT_GT(frames, size_t(kRate) * 7);   // ten seconds, less the capture's slow first start
    EXPECT_LT(frames, size_t(kRate) * 13);

    // The backing track is there at its level, and continuous: a lost or repeated
    // block would turn its phase.
    const size_t window = 8192, hop = 4096;
    double largestTurn = 0.0;
    std::complex<double> previous = 0.0;
    for (size_t start = 0; start + window <= frames; start += hop) {
        const std::complex<double> c = componentAt(left, start, window, kBackingHz);
        EXPECT_NEAR(std::abs(c), kBackingLevel, kBackingLevel * 0.12) << "at frame " << start;
        if (start > 0)
            largestTurn = std::max(largestTurn, std::abs(std::arg(c / previous)));
        previous = c;
    }
    EXPECT_LT(largestTurn, 0.3) << "the take is not continuous";

    // The riff came through Overdrive: its fundamental, and the harmonics the
    // clipping adds, which the pure sine played in does not have. The first seconds
    // may still be the capture starting.
    auto harmonics = [&](const std::vector<float>& x, size_t start) {
        double sum = 0.0;
        for (int h = 2; h <= 7; ++h)
            sum += std::abs(componentAt(x, start, window, h * kRiffHz));
        return sum;
    };
    size_t riffWindows = 0;
    for (size_t start = kRate * 2; start + window <= frames; start += window) {
        const double h1 = std::abs(componentAt(left, start, window, kRiffHz));
        EXPECT_GT(h1, 0.02) << "riff missing at frame " << start;
        EXPECT_GT(harmonics(left, start), 0.03 * h1) << "no overdrive harmonics at frame " << start;
        ++riffWindows;
    }
    EXPECT_GT(riffWindows, 5u);
    EXPECT_LT(harmonics(riffTone, kRate), 0.001 * std::abs(componentAt(riffTone, kRate, window, kRiffHz)));

    // The click is never recorded: its beats fall on frames 0, 22050, 44100... of the
    // take (the take and the metronome start with the same callback). Correlating the
    // take with the click there measures the click's level in the take: 0 when absent,
    // 1 when present, as the same take with the click added shows.
    auto clickLevel = [&](const std::vector<float>& x) {
        double sum = 0.0, energy = 0.0;
        for (size_t beat = 0; beat + kClickSampleCount <= x.size(); beat += 22050)
            for (int i = 0; i < kClickSampleCount; ++i) {
                const double c = kClickSamples[i] / 32768.0;
                sum += x[beat + i] * c;
                energy += c * c;
            }
        return sum / energy;
    };
    std::vector<float> withClick = left;
    for (size_t beat = 0; beat + kClickSampleCount <= withClick.size(); beat += 22050)
        for (int i = 0; i < kClickSampleCount; ++i)
            withClick[beat + i] += kClickSamples[i] / 32768.0f;
    EXPECT_NEAR(clickLevel(withClick), 1.0, 0.15);
    EXPECT_LT(std::fabs(clickLevel(left)), 0.15);
    CoUninitialize();
}

// A live session with a plug-in that crashes and one that hangs, each in a process of
// its own, before Overdrive: both fail mid-session and are told once, their positions
// pass the signal through dry, and the session and its take run their whole length
// with Overdrive's sound to the end.
TEST(LiveSession, ACrashAndAHangInTheirOwnProcessesEndNeitherTheSessionNorItsTake) {
    CoInitialize(nullptr);
    clearErrorFlag(~0u);
    MessageBoxRecorder boxes;
    ASSERT_TRUE(storeBuiltInDriverChoices("Monitor of instrument", "speakers", kBlock, 4));
    const RunScratchFolder folder("session-failures");
    const std::string riff = folder.file("riff.wav"), take = folder.file("take.wav");
    const std::vector<float> riffTone = tone(kRiffHz, 0.25f, kRate * 20);
    ASSERT_TRUE(writeWav16(riff, kRate, {riffTone, riffTone}));
    DeleteFileA(take.c_str());
    const std::string testPlugins = std::string(TALVENOR_BIN_DIR) + "test-plugins\\";
    int toldCrash = 0, toldHang = 0;
    {
        RigSession s;
        ASSERT_TRUE(s.engine().openDriverByName("ZerevaZ-2-UDID wrapper"));
        s.effects().setLoadInOwnProcess(true);
        ASSERT_TRUE(s.settings().loadPathIntoPosition(0, (testPlugins + "TestCrashesInProcess.dll").c_str()));
        ASSERT_TRUE(s.settings().loadPathIntoPosition(1, (testPlugins + "TestHangsInProcess.dll").c_str()));
        ASSERT_TRUE(s.settings().loadPathIntoPosition(2, (kOurPlugins + "Overdrive.dll").c_str()));
        s.effects().setLoadInOwnProcess(false);
        ASSERT_TRUE(s.deck().startRecording(take.c_str()));
        ASSERT_TRUE(playIntoSink("instrument", riff));
        Sleep(300);
        ASSERT_TRUE(s.engine().startLiveInput());
        // The crasher fails after 200 blocks of 22.7 ms, the hanger after 300: both
        // within the session's twelve seconds. Told as the rig's timer tells them.
        for (int tick = 0; tick < 120; ++tick) {
            Sleep(100);
            const bool crashTold = s.settings().slots[0]->failureTold, hangTold = s.settings().slots[1]->failureTold;
            s.tellFailedEffects();
            toldCrash += !crashTold && s.settings().slots[0]->failureTold;
            toldHang += !hangTold && s.settings().slots[1]->failureTold;
        }
        EXPECT_TRUE(s.engine().running());
        char how[160] = "";
        EXPECT_TRUE(s.settings().slots[0]->plugin->failed(how, sizeof how));
        EXPECT_STREQ(how, "crashed: its process ended.");
        EXPECT_TRUE(s.settings().slots[1]->plugin->failed(how, sizeof how));
        EXPECT_STREQ(how, "stopped answering, and its process was ended.");
        EXPECT_FALSE(s.settings().slots[2]->plugin->failed(how, sizeof how)) << "Overdrive plays on";
        s.engine().stopLiveInput();
        EXPECT_TRUE(s.deck().stopRecording());
    }
    stopPlayers(folder.name());
    EXPECT_EQ(toldCrash, 1);
    EXPECT_EQ(toldHang, 1);
    EXPECT_EQ(boxes.count(), 0u) << (boxes.count() ? boxes.boxes()[0].text : "");

    WavContent recorded;
    ASSERT_TRUE(readWav(take, recorded));
    const std::vector<float>& left = recorded.samples[0];
    const size_t frames = recorded.frames();
    EXPECT_GT(frames, size_t(kRate) * 10) << "the take runs the session's length";
    // Overdrive's harmonics over the riff in every window from the third second to
    // the end: before, between and after the two failures.
    const size_t window = 8192;
    size_t windows = 0;
    for (size_t start = kRate * 2; start + window <= frames; start += window) {
        const double h1 = std::abs(componentAt(left, start, window, kRiffHz));
        double harmonics = 0.0;
        for (int h = 2; h <= 7; ++h)
            harmonics += std::abs(componentAt(left, start, window, h * kRiffHz));
        EXPECT_GT(h1, 0.02) << "riff missing at frame " << start;
        EXPECT_GT(harmonics, 0.03 * h1) << "no overdrive at frame " << start;
        ++windows;
    }
    EXPECT_GT(windows, 40u);
    CoUninitialize();
}
