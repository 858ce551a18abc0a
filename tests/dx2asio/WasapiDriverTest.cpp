// The driver's WASAPI modes on the bench: the mode kept under the driver's key across
// a restart (a new set-up starts in shared mode, values from before the modes keep
// DirectSound, a stored mode it cannot use is named), shared mode streaming the
// bench's devices at whole engine periods with the figures it runs at, and exclusive
// mode, which Wine refuses, reported with its reason and shared mode offered; and a
// device that goes away mid-stream (a stand-in endpoint), which asks for a reset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "DriverTestSupport.h"
#include "FakeSharedCapture.h"
#include "MessageBoxRecorder.h"
#include "RegistryKeys.h"

namespace {

const char kInstrumentMonitor[] = "Monitor of instrument";
const char kSpeakers[] = "speakers";

DWORD storedMode() {
    HKEY key = nullptr;
    DWORD value = 0xFFFFFFFF, size = sizeof value, type = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, "dxMode", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            value = 0xFFFFFFFF;
        RegCloseKey(key);
    }
    return value;
}

class WasapiDriverTest : public ::testing::Test {
protected:
    StoredDriverValues values_;
    MessageBoxRecorder boxes_;
};

}  // namespace

TEST_F(WasapiDriverTest, TheModeIsKeptAcrossARestartAndOlderSetUpsKeepDirectSound) {
    const auto modeAfterInit = [](std::string* error = nullptr) {
        DriverUnderTest driver;
        driver->init(nullptr);
        if (error)
            *error = driver.errorMessage();
        return driver.object().mode();
    };
    // Nothing stored: a new set-up.
    values_.clear();
    EXPECT_EQ(modeAfterInit(), DriverMode::wasapiShared);
    // Values from before the driver had modes, without a mode: DirectSound, as they streamed.
    values_.setDevices("<no driver>", "<no driver>");
    EXPECT_EQ(modeAfterInit(), DriverMode::directSound);
    values_.clear();
    values_.setDword("dxBufferSize", 512);
    EXPECT_EQ(modeAfterInit(), DriverMode::directSound);

    // Each stored mode, written as the settings dialog writes it, comes back.
    const DriverMode modes[] = {DriverMode::wasapiExclusive, DriverMode::wasapiShared, DriverMode::directSound};
    for (DriverMode mode : modes) {
        StoredDriverChoices choices{};
        choices.inputDevice = "<no driver>";
        choices.outputDevice = "<no driver>";
        choices.bufferSize = 512;
        choices.numBuffers = 4;
        choices.syncByInput = true;
        choices.format = makeDriverFormat(44100, 2, 2).wave;
        choices.mode = mode;
        unsigned failed = 0;
        ASSERT_TRUE(saveAllDriverChoices(choices, failed));
        EXPECT_EQ(failed, 0u);
        EXPECT_EQ(storedMode(), DWORD(mode));
        EXPECT_EQ(modeAfterInit(), mode) << driverModeName(mode);
    }

    // A mode the driver does not know, or of the wrong type: named, and DirectSound.
    std::string error;
    values_.setDword("dxMode", 7);
    EXPECT_EQ(modeAfterInit(&error), DriverMode::directSound);
    EXPECT_EQ(error, kUnreadableModeText);
    values_.setText("dxMode", "1");
    EXPECT_EQ(modeAfterInit(&error), DriverMode::directSound);
    EXPECT_EQ(error, kUnreadableModeText);
    EXPECT_EQ(boxes_.count(), 0u) << "a bad stored value stops nothing and shows no box";
}

TEST_F(WasapiDriverTest, SharedModeStreamsTheBenchDevicesAtWholeEnginePeriodsAndReportsWhatItRuns) {
    values_.setDevices(kInstrumentMonitor, kSpeakers);
    values_.setDword("dxBufferSize", 512);
    values_.setDword("dxMode", DWORD(DriverMode::wasapiShared));
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(nullptr), 1);
    ASSERT_EQ(boxes_.count(), 0u) << (boxes_.count() ? boxes_.boxes()[0].text : "");
    const Dx2AsioDriver& object = driver.object();
    ASSERT_EQ(object.mode(), DriverMode::wasapiShared);
    ASSERT_TRUE(object.wasapiOpen()) << driver.errorMessage();
    EXPECT_STREQ(object.inputDevices().entry(object.selectedInputDevice()).description, kInstrumentMonitor);
    EXPECT_STREQ(object.outputDevices().entry(object.selectedOutputDevice()).description, kSpeakers);

    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    const WasapiFigures& figures = object.wasapiFigures();
    std::printf("[ wasapi   ] shared%s: period %ld frames, block %ld, latencies %ld + %ld frames\n",
                figures.lowLatencyEngine ? " (IAudioClient3)" : "", figures.periodFrames, figures.blockFrames,
                figures.inputLatency, figures.outputLatency);
    ASSERT_GT(granularity, 0);
    EXPECT_EQ(minSize, granularity) << "one engine period";
    EXPECT_EQ(preferred % granularity, 0) << "a whole number of periods";
    EXPECT_EQ(maxSize % granularity, 0);
    EXPECT_LE(std::labs(preferred - 512), granularity / 2) << "the nearest whole number of periods";
    long in = 0, out = 0;
    ASSERT_EQ(driver->getLatencies(&in, &out), ASE_OK);
    EXPECT_EQ(in, figures.inputLatency);
    EXPECT_EQ(out, figures.outputLatency);
    EXPECT_GE(in, preferred) << "an input waits a whole block at least";
    EXPECT_GE(out, granularity) << "an output waits a period at least";
    ASIOChannelInfo channel{};
    channel.isInput = 1;
    ASSERT_EQ(driver->getChannelInfo(&channel), ASE_OK);
    EXPECT_TRUE(channel.isActive);
    EXPECT_EQ(channel.type, asioSampleType(figures.inputKind));

    // A size that is not whole periods is refused with the sizes that are.
    RecordingHost host;
    if (granularity > 1) {
        EXPECT_EQ(host.createBuffers(driver.asio(), preferred + 1), -1);
        EXPECT_NE(driver.errorMessage().find("whole periods"), std::string::npos) << driver.errorMessage();
    }
    ASSERT_EQ(host.createBuffers(driver.asio(), preferred), 0) << driver.errorMessage();
    TonePlayer tone("instrument", 1000.0, 0.5);
    ASSERT_TRUE(tone.playing());
    ASSERT_EQ(driver->start(), ASE_OK) << driver.errorMessage();
    ASSERT_TRUE(waitFor(host.switches, 10, 5000)) << "no blocks arrived: " << driver.errorMessage();
    const int before = host.switches.load();
    const double from = nowMs();
    Sleep(3000);
    const int blocks = host.switches.load() - before;
    const double expected = (nowMs() - from) / 1000.0 * 44100.0 / double(preferred);
    const double stopFrom = nowMs();
    EXPECT_EQ(driver->stop(), ASE_OK);
    const double stopMs = nowMs() - stopFrom;
    std::printf("[ wasapi   ] %d blocks in 3 s (%.0f due), %d with input, stop took %.1f ms\n", blocks, expected,
                host.nonZeroInputBlocks.load(), stopMs);
    // The device's clock paces the blocks: as many as its rate makes, give or take a tenth.
    EXPECT_NEAR(double(blocks), expected, expected * 0.1);
    EXPECT_GT(host.nonZeroInputBlocks.load(), blocks / 2) << "the tone played into the instrument came in";
    EXPECT_LT(stopMs, 500.0) << "stop waits for the stream thread, which wakes at once";
    EXPECT_EQ(host.resetRequests.load(), 0);
    EXPECT_EQ(boxes_.count(), 0u);

    // Started again, it streams again.
    const int again = host.switches.load();
    ASSERT_EQ(driver->start(), ASE_OK) << driver.errorMessage();
    EXPECT_TRUE(waitFor(host.switches, again + 10, 5000));
    EXPECT_EQ(driver->stop(), ASE_OK);
}

// Wine refuses exclusive mode (no format is supported). The refusal is shown with its
// reason, shared mode is offered, declining holds nothing, and taking the offer
// streams in shared mode and keeps it.
TEST_F(WasapiDriverTest, AnExclusiveRefusalIsShownWithItsReasonAndSharedModeIsOffered) {
    values_.setDevices(kInstrumentMonitor, kSpeakers);
    values_.setDword("dxBufferSize", 512);
    values_.setDword("dxMode", DWORD(DriverMode::wasapiExclusive));
    {
        boxes_.setAnswer(IDNO);
        DriverUnderTest driver;
        ASSERT_EQ(driver->init(nullptr), 1);
        ASSERT_EQ(boxes_.count(), 1u);
        const MessageBoxRecorder::Box box = boxes_.boxes()[0];
        std::printf("[ wasapi   ] exclusive refused: %s\n", box.text.c_str());
        EXPECT_EQ(box.flags & MB_TYPEMASK, UINT(MB_YESNO));
        EXPECT_NE(box.text.find("exclusive mode"), std::string::npos) << box.text;
        EXPECT_NE(box.text.find("Stream in WASAPI shared mode instead?"), std::string::npos) << box.text;
        // Wine answers every exclusive format with "unsupported": that reason, not a generic one.
        EXPECT_TRUE(box.text.find("in use by another program") != std::string::npos ||
                    box.text.find("exclusive mode is not allowed") != std::string::npos ||
                    box.text.find("does not support the sample format") != std::string::npos)
            << box.text;
        EXPECT_FALSE(driver.object().wasapiOpen()) << "declined: nothing is held";
        EXPECT_EQ(driver.object().mode(), DriverMode::wasapiExclusive);
        EXPECT_EQ(storedMode(), DWORD(DriverMode::wasapiExclusive));
        RecordingHost host;
        ASSERT_EQ(host.createBuffers(driver.asio(), 512), -1) << "the refusal again, not a silent fallback";
        EXPECT_NE(driver.errorMessage().find("exclusive mode"), std::string::npos) << driver.errorMessage();
    }
    boxes_.clear();
    boxes_.setAnswer(IDYES);
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(nullptr), 1);
    ASSERT_EQ(boxes_.count(), 1u);
    EXPECT_EQ(driver.object().mode(), DriverMode::wasapiShared);
    EXPECT_EQ(storedMode(), DWORD(DriverMode::wasapiShared));
    ASSERT_TRUE(driver.object().wasapiOpen()) << driver.errorMessage();
    long preferred = 0;
    driver->getBufferSize(nullptr, nullptr, &preferred, nullptr);
    RecordingHost host;
    ASSERT_EQ(host.createBuffers(driver.asio(), preferred), 0) << driver.errorMessage();
    ASSERT_EQ(driver->start(), ASE_OK) << driver.errorMessage();
    EXPECT_TRUE(waitFor(host.switches, 10, 5000)) << driver.errorMessage();
    EXPECT_EQ(driver->stop(), ASE_OK);
}

// A capture device unplugged mid-stream answers AUDCLNT_E_DEVICE_INVALIDATED: the loop
// ends, the driver keeps the reason and asks the host for a reset, as it does for a
// DirectSound device that stalls; the host took it, so no box; stop does not hang.
TEST_F(WasapiDriverTest, ADeviceThatGoesAwayMidStreamAsksTheHostForAResetAndSaysWhy) {
    values_.setDevices("<no driver>", "<no driver>");
    values_.setDword("dxMode", DWORD(DriverMode::wasapiShared));
    FakeSharedCaptureEndpoint endpoint;  // outlives the driver's stream
    endpoint.state.readsBeforeLoss = 20;
    {
        DriverUnderTest driver;
        ASSERT_EQ(driver->init(nullptr), 1);
        driver.object().useWasapiEndpoints(&endpoint, nullptr);
        RecordingHost host;
        ASSERT_EQ(host.createBuffers(driver.asio(), 441, 2, 0), 0) << driver.errorMessage();
        long in = 0, out = 0;
        driver->getLatencies(&in, &out);
        EXPECT_EQ(in, 441 + 441) << "a block and the 10 ms the device reports";
        EXPECT_EQ(out, 0) << "no output";
        ASSERT_EQ(driver->start(), ASE_OK) << driver.errorMessage();
        ASSERT_TRUE(waitFor(host.resetRequests, 1, 5000)) << driver.errorMessage();
        const double from = nowMs();
        EXPECT_EQ(driver->stop(), ASE_OK);
        EXPECT_LT(nowMs() - from, 500.0);
        EXPECT_EQ(host.switches.load(), 20) << "one block per period read before the loss";
        EXPECT_EQ(host.nonZeroInputBlocks.load(), 20) << "the device's samples came through";
        EXPECT_EQ(driver.errorMessage(), "Reading the input: the device was removed or disabled");
        EXPECT_EQ(driver.object().wasapiFailure(), AUDCLNT_E_DEVICE_INVALIDATED);
        EXPECT_EQ(host.resetRequests.load(), 1);
        EXPECT_EQ(boxes_.count(), 0u) << "the host took the reset";
    }
    EXPECT_EQ(endpoint.state.liveObjects.load(), 0) << "the device is not held once the driver is gone";
}
