// The built-in driver against the bench's DirectSound devices (PulseAudio null sinks
// under Wine): ring geometry, the three streaming loops with real sound through them,
// start and stop. Wine's DirectSound moves in 10 ms steps and the first capture after
// the sound server starts can take close to a second, so the waits are generous.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "DriverTestSupport.h"
#include "MessageBoxRecorder.h"

namespace {

const char kInstrumentMonitor[] = "Monitor of instrument";
const char kSpeakersMonitor[] = "Monitor of speakers";
const int kFirstBlockWaitMs = 5000;

class Dx2AsioDeviceTest : public ::testing::Test {
protected:
    void configure(const char* input, const char* output, DWORD bufferSize = 800, DWORD numBuffers = 2,
                   bool syncByInput = true) {
        values_.clear();
        values_.setDevices(input ? input : "<no driver>", output ? output : "<no driver>");
        values_.setDword("dxBufferSize", bufferSize);
        values_.setDword("dxNumBuffers", numBuffers);
        values_.setDword("dxSyncByInput", syncByInput ? 1 : 0);
    }

    // Streams for the given time once blocks arrive steadily (the first capture after
    // the sound server starts may take a second or two).
    void streamFor(DriverUnderTest& driver, RecordingHost& host, int ms) {
        ASSERT_EQ(driver->start(), ASE_OK) << driver.errorMessage();
        ASSERT_TRUE(waitFor(host.switches, 3, kFirstBlockWaitMs)) << "no blocks arrived; " << driver.streamReport();
        Sleep(ms);
        EXPECT_EQ(driver->stop(), ASE_OK);
        std::printf("[ stream   ] %d blocks; %s\n", host.switches.load(), driver.streamReport().c_str());
    }

    StoredDriverValues values_;
    MessageBoxRecorder boxes_;
};

std::vector<float> lastSamples(const std::vector<float>& all, size_t count) {
    if (all.size() <= count)
        return all;
    return std::vector<float>(all.end() - count, all.end());
}

TEST_F(Dx2AsioDeviceTest, RingsAndChannelBuffersFollowTheBlockGeometry) {
    configure(kInstrumentMonitor, "speakers", 800, 2);
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(nullptr), 1);
    ASSERT_EQ(boxes_.count(), 0u);
    RecordingHost host;
    ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0) << driver.errorMessage();

    // N 2, F 800, 16-bit stereo: B 3200, each ring 6400 bytes.
    DSCBCAPS captureCaps{};
    captureCaps.dwSize = sizeof captureCaps;
    ASSERT_NE(driver.object().captureBuffer(), nullptr);
    ASSERT_EQ(driver.object().captureBuffer()->GetCaps(&captureCaps), DS_OK);
    EXPECT_EQ(captureCaps.dwBufferBytes, 6400u);
    DSBCAPS playbackCaps{};
    playbackCaps.dwSize = sizeof playbackCaps;
    ASSERT_NE(driver.object().secondaryBuffer(), nullptr);
    ASSERT_EQ(driver.object().secondaryBuffer()->GetCaps(&playbackCaps), DS_OK);
    EXPECT_EQ(playbackCaps.dwBufferBytes, 6400u);
    EXPECT_EQ(playbackCaps.dwFlags & 0x10100u, 0x10100u);
    WAVEFORMATEX captured{};
    ASSERT_EQ(driver.object().captureBuffer()->GetFormat(&captured, sizeof captured, nullptr), DS_OK);
    EXPECT_EQ(captured.nSamplesPerSec, 44100u);
    EXPECT_EQ(captured.nChannels, 2);
    EXPECT_EQ(captured.wBitsPerSample, 16);

    // One buffer per channel, the same in both halves.
    std::vector<void*> distinct;
    for (const ASIOBufferInfo& info : host.infos) {
        EXPECT_NE(info.buffers[0], nullptr);
        EXPECT_EQ(info.buffers[0], info.buffers[1]);
        distinct.push_back(info.buffers[0]);
    }
    std::sort(distinct.begin(), distinct.end());
    EXPECT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end());
    for (long input = 0; input < 2; ++input) {
        ASIOChannelInfo info{};
        info.channel = 1;
        info.isInput = input;
        ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
        EXPECT_EQ(info.isActive, 1);
    }

    driver->disposeBuffers();
    EXPECT_EQ(driver.object().captureBuffer(), nullptr);
    EXPECT_EQ(driver.object().secondaryBuffer(), nullptr);
    ASIOChannelInfo info{};
    info.isInput = 1;
    driver->getChannelInfo(&info);
    EXPECT_EQ(info.isActive, 0);
}

TEST_F(Dx2AsioDeviceTest, RingSizesScaleWithBlocksBlockSizeAndSampleWidth) {
    struct Case {
        DWORD frames, blocks;
        WORD bits;
        DWORD ringBytes;
    };
    for (const Case& c : {Case{512, 4, 16, 8192}, Case{800, 2, 24, 9600}, Case{2048, 8, 32, 131072}}) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames x " << c.blocks << ", " << c.bits << " bits");
        configure(kInstrumentMonitor, "speakers", c.frames, c.blocks);
        values_.setFormat(2, 44100, c.bits);
        DriverUnderTest driver;
        driver->init(nullptr);
        RecordingHost host;
        ASSERT_EQ(host.createBuffers(driver.asio(), long(c.frames)), 0) << driver.errorMessage();
        DSCBCAPS captureCaps{};
        captureCaps.dwSize = sizeof captureCaps;
        driver.object().captureBuffer()->GetCaps(&captureCaps);
        EXPECT_EQ(captureCaps.dwBufferBytes, c.ringBytes);
        DSBCAPS playbackCaps{};
        playbackCaps.dwSize = sizeof playbackCaps;
        driver.object().secondaryBuffer()->GetCaps(&playbackCaps);
        EXPECT_EQ(playbackCaps.dwBufferBytes, c.ringBytes);
    }
}

TEST_F(Dx2AsioDeviceTest, BlockSizesNoRingCanHoldAreRefused) {
    configure(kInstrumentMonitor, "speakers");
    DriverUnderTest driver;
    driver->init(nullptr);
    RecordingHost host;
    for (long frames : {0L, -800L, 7L, 8001L, 0x40000000L}) {
        EXPECT_EQ(host.createBuffers(driver.asio(), frames), -1) << frames;
        EXPECT_EQ(driver.object().captureBuffer(), nullptr);
        EXPECT_NE(driver.errorMessage(), "Unknown error");
    }
    EXPECT_EQ(host.createBuffers(driver.asio(), 8), 0) << driver.errorMessage();
}

TEST_F(Dx2AsioDeviceTest, PlaybackOnlyGivesTheHostSilentInputsAndPlaysItsOutputs) {
    streamUntilTheBenchHolds([&] {
        configure(nullptr, "speakers");
        CaptureRecorder speakers(kSpeakersMonitor);
        ASSERT_TRUE(speakers.recording());
        // The bench's own recorder must be under way before the driver is judged by it.
        ASSERT_TRUE(waitForSamples(speakers, 4410, 10000)) << "the speakers' monitor does not record";
        const size_t before = speakers.left().size();
        DriverUnderTest driver;
        driver->init(nullptr);
        ASSERT_EQ(driver.object().selectedInputDevice(), -1);
        RecordingHost host;
        host.outputAmplitude = 0.25;
        ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0) << driver.errorMessage();
        ASSERT_EQ(driver->start(), ASE_OK) << driver.errorMessage();
        const bool heardEnough = waitForSamples(speakers, before + 2 * 44100, 8000);
        // Judged on what was recorded while the driver played: the recorder goes on,
        // and silence comes in once the driver has stopped.
        const std::vector<float> recorded = speakers.left();
        driver->stop();
        std::printf("[ stream   ] %d blocks; %s\n", host.switches.load(), driver.streamReport().c_str());
        ASSERT_TRUE(heardEnough) << "the speakers' monitor recorded too little";

        EXPECT_GT(host.switches, 80);  // two seconds are 110 blocks
        EXPECT_EQ(host.nonZeroInputBlocks, 0) << "inputs were not cleared before a block";
        const std::vector<float> heard = windowsWithoutServerSilence(lastSamples(recorded, 22050), 882, nullptr);
        ASSERT_GE(heard.size(), 12u * 882u) << "the speakers heard the tone in too few windows";
        EXPECT_NEAR(toneAmplitudeQuantile(heard, 1000.0, 44100.0, 882, 0.75), 0.25, 0.02);
    });
}

TEST_F(Dx2AsioDeviceTest, CaptureOnlyHandsTheHostTheInputAndCleanOutputs) {
    streamUntilTheBenchHolds([&] {
        configure(kInstrumentMonitor, nullptr);
        TonePlayer tone("instrument", 1000.0, 0.25);
        ASSERT_TRUE(tone.playing());
        DriverUnderTest driver;
        driver->init(nullptr);
        ASSERT_EQ(driver.object().selectedOutputDevice(), -1);
        RecordingHost host;
        host.outputAmplitude = 0.5;  // written by the host, never played, cleared by the driver
        ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0) << driver.errorMessage();
        streamFor(driver, host, 2000);

        EXPECT_GT(host.switches, 60);
        EXPECT_EQ(host.nonZeroOutputBlocks, 0) << "outputs were not zeroed before a block";
        // Block by block; a block that the busy machine made glitch (the bench's tone is
        // played by DirectSound too) is one of many.
        const std::vector<float> input = lastSamples(host.leftInput(), 40 * 800);
        ASSERT_EQ(input.size(), 40u * 800u);
        const std::vector<float> played = windowsWithoutServerSilence(input, 800, nullptr);
        ASSERT_GE(played.size(), 20u * 800u) << "the tone did not reach the host in most blocks";
        EXPECT_NEAR(toneAmplitudeQuantile(played, 1000.0, 44100.0, 800, 0.75), 0.25, 0.02);
    });
}

// The driver's output goes into the instrument sink and comes back from its monitor.
class DuplexLoopTest : public Dx2AsioDeviceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DuplexLoopTest, PlaysAndCapturesOneBlockPerPeriod) {
    streamUntilTheBenchHolds([&] {
        const bool syncByInput = GetParam();
        configure(kInstrumentMonitor, "instrument", 800, 4, syncByInput);
        DriverUnderTest driver;
        driver->init(nullptr);
        RecordingHost host;
        host.outputAmplitude = 0.25;
        ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0) << driver.errorMessage();
        streamFor(driver, host, 3000);

        // The block period is 800 / 44100 s; over the last two seconds the loop keeps it.
        // A busy machine that wakes the loop late either merges two notifications into
        // one callback (an interval of about two periods: counted as the periods it
        // spans) or lets the loop catch up with a short interval after a long one (both
        // are in the span): the mean over the span stays the period either way, as long
        // as merges are the exception and not the loop's pace.
        const double expected = 800.0 * 1000.0 / 44100.0;
        const std::vector<double> times = host.switchTimesMs();
        ASSERT_GT(times.size(), 100u);
        const auto from = std::lower_bound(times.begin(), times.end(), times.back() - 2000.0);
        double span = 0.0;
        long periods = 0;
        int intervals = 0, merged = 0;
        for (auto t = from + 1; t != times.end(); ++t) {
            const double interval = *t - *(t - 1);
            span += interval;
            if (interval > 1.75 * expected) {
                ++merged;
                periods += std::lround(interval / expected);
            } else {
                ++intervals;
                ++periods;
            }
        }
        ASSERT_GT(intervals, 2 * merged) << "the loop was woken late more often than in time";
        EXPECT_NEAR(span / double(periods), expected, 2.0) << merged << " merged intervals";

        const std::vector<float> input = lastSamples(host.leftInput(), 55 * 800);
        ASSERT_EQ(input.size(), 55u * 800u);
        std::string levels;  // each block's level in tenths of the tone's
        for (size_t b = 0; b < 55; ++b)
            levels += char('0' + std::min(9, int(rms(input.data() + b * 800, 800) / 0.0177)));
        size_t silent = 0;
        const std::vector<float> played = windowsWithoutServerSilence(input, 800, &silent);
        ASSERT_GE(played.size(), 28u * 800u)
            << "the loop's own output did not come back in most blocks; block levels " << levels;
        EXPECT_NEAR(rms(played.data(), played.size()), 0.25 / std::sqrt(2.0), 0.02)
            << "the loop's own output came back at the wrong level; block levels " << levels << " (" << silent
            << " with the sound server's silence left out)";
        // Block by block: should the two rings drift apart, the loop repeats or skips a
        // block to stay in step.
        EXPECT_NEAR(toneAmplitudeQuantile(played, 1000.0, 44100.0, 800, 0.75), 0.25, 0.02);
    });
}

INSTANTIATE_TEST_SUITE_P(SyncByInputAndByOutput, DuplexLoopTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "ByInput" : "ByOutput"; });

TEST_F(Dx2AsioDeviceTest, StartTwiceKeepsTheRunningThread) {
    streamUntilTheBenchHolds([&] {
        configure(kInstrumentMonitor, "speakers");
        DriverUnderTest driver;
        driver->init(nullptr);
        RecordingHost host;
        ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0);
        ASSERT_EQ(driver->start(), ASE_OK);
        ASSERT_TRUE(waitFor(host.switches, 5, kFirstBlockWaitMs)) << driver.streamReport();
        const double before = nowMs();
        EXPECT_EQ(driver->start(), ASE_OK);
        EXPECT_LT(nowMs() - before, 5.0) << "the second start waited for something";
        ASSERT_TRUE(waitFor(host.switches, 15, 2000));
        driver->stop();
        const std::vector<DWORD> ids = host.threadIds();
        EXPECT_EQ(std::count(ids.begin(), ids.end(), ids.front()), std::ptrdiff_t(ids.size()))
            << "a second thread called the host";
        EXPECT_NE(ids.front(), GetCurrentThreadId());
    });
}

TEST_F(Dx2AsioDeviceTest, StopReturnsWithinABlockAndAnotherStartStreamsAgain) {
    streamUntilTheBenchHolds([&] {
        configure(kInstrumentMonitor, "speakers", 2048, 2);
        DriverUnderTest driver;
        driver->init(nullptr);
        RecordingHost host;
        ASSERT_EQ(host.createBuffers(driver.asio(), 2048), 0);
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(round);
            const int before = host.switches;
            ASSERT_EQ(driver->start(), ASE_OK);
            ASSERT_TRUE(waitFor(host.switches, before + 5, kFirstBlockWaitMs)) << driver.streamReport();
            const double asked = nowMs();
            EXPECT_EQ(driver->stop(), ASE_OK);
            const double took = nowMs() - asked;
            EXPECT_LT(took, 2048.0 * 1000.0 / 44100.0) << "stop waited more than a block (46 ms)";
            const int stoppedAt = host.switches;
            Sleep(150);
            EXPECT_EQ(host.switches, stoppedAt) << "a block arrived after stop returned";
        }
        EXPECT_EQ(driver->stop(), ASE_OK) << "stop without a thread";
    });
}

TEST_F(Dx2AsioDeviceTest, WithoutDevicesStartHasNoClock) {
    configure(nullptr, nullptr);
    DriverUnderTest driver;
    driver->init(nullptr);
    EXPECT_EQ(driver->start(), ASE_InvalidParameter) << "no callbacks yet";
    RecordingHost host;
    ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0);
    EXPECT_NE(host.infos[0].buffers[0], nullptr) << "the host still gets channel buffers";
    EXPECT_EQ(driver->start(), ASE_NoClock);
    EXPECT_EQ(driver.errorMessage(), "Failed to start the thread");
    EXPECT_EQ(host.switches, 0);
    EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(Dx2AsioDeviceTest, ANullBufferSwitchIsRefused) {
    configure(kInstrumentMonitor, "speakers");
    DriverUnderTest driver;
    driver->init(nullptr);
    RecordingHost host;
    host.callbacks.bufferSwitch = nullptr;
    ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0);
    EXPECT_EQ(driver->start(), ASE_InvalidParameter);
}

}  // namespace
