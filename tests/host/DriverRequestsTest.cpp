// The driver's messages and the main window's answers to them. The timer that
// carries the requests out is played by the test: it clears the flag and acts.
#include <cstring>

#include "ErrorFlags.h"
#include "HostTestSupport.h"

TEST_F(HostTest, TheMessageTableAnswersAsPublished) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    // Which selectors the host supports.
    for (long value = 0; value <= 10; ++value) {
        const bool supported = value == 2 || value == 3 || (value >= 5 && value <= 9);
        EXPECT_EQ(TestDriver_sendMessage(kAsioSelectorSupported, value), supported ? 1 : 0) << value;
    }
    EXPECT_EQ(TestDriver_sendMessage(kAsioEngineVersion, 0), 2);
    EXPECT_EQ(TestDriver_sendMessage(kAsioLatenciesChanged, 0), 1);
    EXPECT_EQ(TestDriver_sendMessage(kAsioSupportsTimeInfo, 0), 1);
    EXPECT_EQ(TestDriver_sendMessage(kAsioSupportsTimeCode, 0), 0);
    EXPECT_EQ(TestDriver_sendMessage(kAsioMMCCommand, 0), 0);
    EXPECT_EQ(TestDriver_sendMessage(1234, 0), 0);
    EXPECT_EQ(errorFlags(), 0u) << "questions raise no request";
    EXPECT_EQ(TestDriver_sendMessage(kAsioResyncRequest, 0), 1);
    EXPECT_EQ(errorFlags(), 0u) << "resync without autoSync is ignored";
    engine.stopLiveInput();
}

TEST_F(HostTest, ABufferSizeChangeRestartsWithTheNewSize) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(2));
    configureDriver([](TestDriverConfig& c) { c.preferredSize = 512; });
    EXPECT_EQ(TestDriver_sendMessage(kAsioBufferSizeChange, 0), 1);
    ASSERT_TRUE(waitForCallbacks(2));
    EXPECT_EQ(engine.driverFigures().preferredSize, 256) << "the old size until the restart";
    EXPECT_EQ(driverState().lastFrames, 256);

    // The timer's tick.
    ASSERT_TRUE(takeErrorFlag(kFlagRestartLiveInput));
    EXPECT_FALSE(takeErrorFlag(kFlagDriverReset));
    EXPECT_TRUE(engine.restartLiveInput());
    EXPECT_TRUE(engine.running());
    const TestDriverState state = driverState();
    EXPECT_EQ(state.stopCalls, 1);
    EXPECT_EQ(state.startCalls, 2);
    EXPECT_EQ(state.createdSize, 512);
    EXPECT_EQ(engine.driverFigures().preferredSize, 512);
    ASSERT_TRUE(waitForCallbacks(3));
    engine.stopLiveInput();
    // The whole new block went through the chain.
    const std::vector<float> in = floatsOf(lastBlock(0));
    ASSERT_EQ(in.size(), 512u);
    EXPECT_EQ(floatsOf(lastBlock(2)), in);
    EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(HostTest, AResyncRequestRestartsOnlyWithAutoSync) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_FALSE(engine.autoSync());
    EXPECT_EQ(TestDriver_sendMessage(kAsioResyncRequest, 0), 1);
    EXPECT_FALSE(takeErrorFlag(kFlagRestartLiveInput));

    engine.setAutoSync(true);
    EXPECT_EQ(TestDriver_sendMessage(kAsioResyncRequest, 0), 1);
    ASSERT_TRUE(takeErrorFlag(kFlagRestartLiveInput));
    EXPECT_TRUE(engine.restartLiveInput());
    EXPECT_EQ(driverState().startCalls, 2);
    EXPECT_TRUE(waitForCallbacks(2));
    engine.stopLiveInput();
}

TEST_F(HostTest, AResetRequestReopensTheDriverAndRestarts) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    EXPECT_EQ(TestDriver_sendMessage(kAsioResetRequest, 0), 1);
    ASSERT_TRUE(takeErrorFlag(kFlagDriverReset));
    EXPECT_EQ(errorFlags(), 0u);

    EXPECT_TRUE(engine.resetDriver());
    TestDriverState state = driverState();
    EXPECT_EQ(state.instancesCreated, 2);
    EXPECT_EQ(state.instancesAlive, 1);
    EXPECT_EQ(state.initCalls, 2);
    EXPECT_EQ(state.startCalls, 2);
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(engine.currentDriver(), 0);
    ASSERT_TRUE(waitForCallbacks(3)) << "the new instance calls back";

    // Stopped, a reset reopens without starting.
    engine.stopLiveInput();
    EXPECT_TRUE(engine.resetDriver());
    state = driverState();
    EXPECT_EQ(state.instancesCreated, 3);
    EXPECT_EQ(state.startCalls, 2);
    EXPECT_FALSE(engine.running());
    EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(HostTest, AFailedReopenShowsString23) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    configureDriver([](TestDriverConfig& c) {
        c.failMask = slotBit(kSlotInit);
        std::strcpy(c.errorText, "Gone");
    });
    EXPECT_FALSE(engine.resetDriver());
    EXPECT_EQ(engine.currentDriver(), -1);
    EXPECT_FALSE(engine.running());
    const auto shown = boxes_->boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].caption, "ASIO Error");
    EXPECT_EQ(shown[0].text, "Gone");
    EXPECT_EQ(shown[1].caption, "Error #23");
    EXPECT_EQ(shown[1].text, "Failed to reset the ASIO driver ");
    EXPECT_EQ(shown[1].flags & MB_ICONMASK, UINT(MB_ICONERROR));
}

TEST_F(HostTest, AFailedRestartAfterAResetShowsString24) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    configureDriver([](TestDriverConfig& c) { c.failMask = slotBit(kSlotGetBufferSize); });
    EXPECT_FALSE(engine.resetDriver());
    EXPECT_EQ(engine.currentDriver(), 0) << "the driver itself was reopened";
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(boxes_->errorIds(), std::vector<int>{24});
    EXPECT_EQ(boxes_->boxes()[0].text, "An error occured while restarting audio");
}

TEST_F(HostTest, AFailedRestartShowsString8) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    configureDriver([](TestDriverConfig& c) { c.failMask = slotBit(kSlotGetChannels); });
    EXPECT_FALSE(engine.restartLiveInput());
    EXPECT_FALSE(engine.running());
    ASSERT_EQ(boxes_->errorIds(), std::vector<int>{8});
    EXPECT_EQ(boxes_->boxes()[0].text,
              "Live input must be restarted as required for the ASIO driver,\n but an error occured during restarting");
}
