// The driver list from the registry, opening and closing drivers through COM, and
// what the engine tells about the open driver.
#include <cstring>
#include <string>

#include <objbase.h>

#include "HostTestSupport.h"

using testregistry::registerDriver;
using testregistry::removeAsioKey;
using testregistry::writeBinaryValue;
using testregistry::writeValue;

namespace {

std::vector<std::string> descriptions(const LiveEngine& engine) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < engine.driverCount(); ++i)
        names.push_back(engine.driverEntry(i)->description);
    return names;
}

bool isZeroClsid(const CLSID& id) {
    const CLSID zero{};
    return std::memcmp(&id, &zero, sizeof id) == 0;
}

}  // namespace

TEST_F(HostTest, WithoutTheAsioKeyOnlyTheBuiltInDriverIsListed) {
    removeAsioKey();
    LiveEngine& engine = makeEngine();
    ASSERT_EQ(engine.driverCount(), 1);
    EXPECT_STREQ(engine.driverEntry(0)->description, "ZerevaZ-2-UDID wrapper");
    EXPECT_TRUE(isZeroClsid(engine.driverEntry(0)->clsid));
    EXPECT_EQ(engine.driverEntry(1), nullptr);
    EXPECT_EQ(engine.driverEntry(-1), nullptr);
    EXPECT_EQ(engine.currentDriver(), -1);
}

TEST_F(HostTest, BrokenSubkeysAreSkippedAndTheOthersKeepTheirOrder) {
    removeAsioKey();
    registerDriver("1 First", "First", 1);
    writeValue("2 NoDescription", "clsid", testregistry::clsidText(2));
    writeValue("3 BadClsid", "clsid", "{not a class id}");
    writeValue("3 BadClsid", "description", "Bad");
    writeValue("4 LongClsid", "clsid", std::string(300, '{'));
    writeValue("4 LongClsid", "description", "Long clsid");
    writeValue("5 NoClsid", "description", "No clsid");
    registerDriver("6 Second", "Second", 2);
    // 256 bytes with no NUL: kept, cut to the 255 characters that fit.
    registerDriver("7 Unterminated", "x", 3);
    writeBinaryValue("7 Unterminated", "description", std::vector<uint8_t>(256, 'd'));
    // More than the 256 bytes read: skipped.
    registerDriver("8 TooLong", "x", 4);
    writeValue("8 TooLong", "description", std::string(300, 'e'));
    registerDriver("9 Third", "Third", 5);

    LiveEngine& engine = makeEngine();
    EXPECT_EQ(descriptions(engine), (std::vector<std::string>{"First", "Second", std::string(255, 'd'), "Third",
                                                              "ZerevaZ-2-UDID wrapper"}));
    // The entries hold the class ids the registry named.
    const CLSID second = testDriverClsid(2);
    EXPECT_EQ(std::memcmp(&engine.driverEntry(1)->clsid, &second, sizeof second), 0);

    ASSERT_TRUE(engine.openDriver(3));
    EXPECT_EQ(driverState().lastVariant, 5);
    EXPECT_EQ(engine.currentDriver(), 3);
}

TEST_F(HostTest, TwoDriversWithOneDescriptionOpenTheFirst) {
    removeAsioKey();
    registerDriver("1 One", "Twin", 1);
    registerDriver("2 Two", "Twin", 2);
    LiveEngine& engine = makeEngine();
    ASSERT_TRUE(engine.openDriverByName("Twin"));
    EXPECT_EQ(engine.currentDriver(), 0);
    EXPECT_EQ(driverState().lastVariant, 1);
    EXPECT_EQ(driverState().instancesCreated, 1);
}

TEST_F(HostTest, AnUnknownNameOpensNothingAndSucceeds) {
    LiveEngine& engine = makeEngine();
    EXPECT_TRUE(engine.openDriverByName("No Such Driver"));
    EXPECT_TRUE(engine.openDriverByName("talvenor test asio"));  // names match case-sensitively
    EXPECT_TRUE(engine.openDriverByName(nullptr));
    EXPECT_EQ(engine.currentDriver(), -1);
    EXPECT_EQ(driverState().instancesCreated, 0);
}

TEST_F(HostTest, IndicesOutsideTheListOpenNothing) {
    LiveEngine& engine = makeEngine();
    EXPECT_TRUE(engine.openDriver(-1));  // already "open": no driver
    EXPECT_FALSE(engine.openDriver(-2));
    EXPECT_FALSE(engine.openDriver(engine.driverCount()));
    EXPECT_EQ(engine.currentDriver(), -1);
    EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(HostTest, OpeningTheOpenIndexChangesNothing) {
    HWND owner = CreateWindowA("STATIC", "owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    LiveEngine& engine = makeEngine();
    engine.setOwnerWindow(owner);
    ASSERT_TRUE(engine.openDriver(0));
    EXPECT_EQ(driverState().initHandle, static_cast<void*>(owner));
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(3));

    EXPECT_TRUE(engine.openDriver(0));
    EXPECT_TRUE(engine.running());
    EXPECT_EQ(driverState().instancesCreated, 1);
    EXPECT_EQ(driverState().initCalls, 1);
    EXPECT_EQ(driverState().stopCalls, 0);
    EXPECT_TRUE(waitForCallbacks(3)) << "live input kept running";
    engine_.reset();
    DestroyWindow(owner);
}

TEST_F(HostTest, OpeningAnotherDriverStopsAndReleasesTheFirst) {
    registerDriver("Second", "Second", 2);
    LiveEngine& engine = makeEngine();
    ASSERT_EQ(engine.driverCount(), 3);
    ASSERT_TRUE(engine.openDriverByName("Talvenor Test ASIO"));
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(engine.openDriverByName("Second"));

    const TestDriverState state = driverState();
    EXPECT_EQ(state.stopCalls, 1);
    EXPECT_EQ(state.disposeBuffersCalls, 1);
    EXPECT_EQ(state.instancesCreated, 2);
    EXPECT_EQ(state.instancesAlive, 1);
    EXPECT_EQ(state.lastVariant, 2);
    EXPECT_FALSE(engine.running());
    ASSERT_NE(engine.driverEntry(engine.currentDriver()), nullptr);
    EXPECT_STREQ(engine.driverEntry(engine.currentDriver())->description, "Second");

    engine.closeDriver();
    EXPECT_EQ(driverState().instancesAlive, 0);
    EXPECT_EQ(engine.currentDriver(), -1);
}

TEST_F(HostTest, ADriverWhoseInitFailsShowsItsTextAndStaysClosed) {
    configureDriver([](TestDriverConfig& c) {
        c.failMask = slotBit(kSlotInit);
        std::strcpy(c.errorText, "The device is in use");
    });
    HWND owner = CreateWindowA("STATIC", "owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    LiveEngine& engine = makeEngine();
    engine.setOwnerWindow(owner);
    EXPECT_FALSE(engine.openDriver(0));
    EXPECT_EQ(engine.currentDriver(), -1);
    EXPECT_EQ(driverState().instancesCreated, 1);
    EXPECT_EQ(driverState().instancesAlive, 0) << "the failed driver is released";

    const auto shown = boxes_->boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ASIO Error");
    EXPECT_EQ(shown[0].text, "The device is in use");
    EXPECT_EQ(shown[0].flags & MB_ICONMASK, UINT(MB_ICONERROR));
    EXPECT_EQ(shown[0].owner, owner);

    // With no driver open, nothing is started or described.
    EXPECT_FALSE(engine.startLiveInput());
    char text[64];
    engine.describeDriver(text, sizeof text);
    EXPECT_STREQ(text, "No driver opened");
    DestroyWindow(owner);
}

TEST_F(HostTest, AnEmptyOrUnterminatedErrorTextIsHandledSafely) {
    configureDriver([](TestDriverConfig& c) {
        c.failMask = slotBit(kSlotInit);
        c.errorText[0] = '\0';
    });
    LiveEngine& engine = makeEngine();
    EXPECT_FALSE(engine.openDriver(0));
    EXPECT_TRUE(boxes_->boxes().empty()) << "an empty error text shows no box";

    configureDriver([](TestDriverConfig& c) { c.unterminatedTexts = 1; });
    EXPECT_FALSE(engine.openDriver(0));
    const auto shown = boxes_->boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, std::string(255, 'x'));
}

TEST_F(HostTest, ADriverThatCannotBeCreatedFailsQuietly) {
    removeAsioKey();
    // Listed, but its class is registered nowhere.
    writeValue("Ghost", "clsid", "{0D15EA5E-0000-4000-8000-00000000BEEF}");
    writeValue("Ghost", "description", "Ghost");
    LiveEngine& engine = makeEngine();
    ASSERT_EQ(engine.driverCount(), 2);
    EXPECT_FALSE(engine.openDriver(0));
    EXPECT_EQ(engine.currentDriver(), -1);
    EXPECT_TRUE(boxes_->boxes().empty());
}

TEST_F(HostTest, DescribeDriverGivesRateChannelsAndLatencies) {
    configureDriver([](TestDriverConfig& c) {
        c.sampleRate = 44100.0;
        c.inputLatency = 441;
        c.outputLatency = 882;
        c.inputChannels = 2;
        c.outputChannels = 6;
    });
    LiveEngine& engine = makeEngine();
    char text[256];
    engine.describeDriver(text, sizeof text);
    EXPECT_STREQ(text, "No driver opened");

    openTestDriver();
    engine.describeDriver(text, sizeof text);
    EXPECT_STREQ(text, "Sample Rate: 44100\nInput Channels: 2\nOutput Channels: 6\nInput Latency: 10.0 msec\n"
                       "Output Latency: 20.0 msec");

    // A failing call leaves its figures at zero, and no rate means no latency in time.
    configureDriver([](TestDriverConfig& c) { c.failMask = slotBit(kSlotGetSampleRate) | slotBit(kSlotGetChannels); });
    engine.describeDriver(text, sizeof text);
    EXPECT_STREQ(text, "Sample Rate: 0\nInput Channels: 0\nOutput Channels: 0\nInput Latency: 0.0 msec\n"
                       "Output Latency: 0.0 msec");

    // A short buffer gets what fits, terminated.
    char shortText[8];
    std::memset(shortText, '#', sizeof shortText);
    engine.describeDriver(shortText, sizeof shortText);
    EXPECT_STREQ(shortText, "Sample ");
}

TEST_F(HostTest, TheControlPanelReportsTheDriversFailure) {
    LiveEngine& engine = makeEngine();
    EXPECT_TRUE(engine.openControlPanel()) << "no driver: nothing to open";
    openTestDriver();
    EXPECT_TRUE(engine.openControlPanel());
    EXPECT_EQ(driverState().controlPanelCalls, 1);
    EXPECT_TRUE(boxes_->boxes().empty());

    configureDriver([](TestDriverConfig& c) {
        c.failMask = slotBit(kSlotControlPanel);
        std::strcpy(c.errorText, "No panel");
    });
    EXPECT_FALSE(engine.openControlPanel());
    ASSERT_EQ(boxes_->count(), 1u);
    EXPECT_EQ(boxes_->boxes()[0].caption, "ASIO Error");
    EXPECT_EQ(boxes_->boxes()[0].text, "No panel");
}

// How a driver is freed follows from how it was made: an outside driver that
// reports the built-in driver's name is still released through COM.
TEST_F(HostTest, AnOutsideDriverNamedLikeTheBuiltInOneIsReleased) {
    configureDriver([](TestDriverConfig& c) { std::strcpy(c.name, "ZerevaZ-2-UDID wrapper"); });
    LiveEngine& engine = openTestDriver();
    ASSERT_EQ(driverState().instancesAlive, 1);
    engine.closeDriver();
    EXPECT_EQ(driverState().instancesAlive, 0);
}

TEST_F(HostTest, DeletingTheEngineClosesTheRunningDriver) {
    LiveEngine& engine = openTestDriver();
    ASSERT_TRUE(engine.startLiveInput());
    ASSERT_TRUE(waitForCallbacks(2));
    engine_.reset();
    const TestDriverState state = driverState();
    EXPECT_EQ(state.stopCalls, 1);
    EXPECT_EQ(state.disposeBuffersCalls, 1);
    EXPECT_EQ(state.instancesAlive, 0);
    EXPECT_EQ(state.streaming, 0);
}

// The twenty-one driver operations use the member-function convention of 32-bit
// Windows (this in ECX), which drivers built with other compilers expect: the test
// calls a slot through an explicitly thiscall pointer. The driver is made the way the
// engine makes it, with its class id as the interface id.
TEST_F(HostTest, DriverSlotsUseTheThiscallConvention) {
    const CLSID id = testDriverClsid(1);
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, id, &object), S_OK);
    IASIO* driver = static_cast<IASIO*>(object);
    configureDriver([](TestDriverConfig& c) {
        c.inputChannels = 3;
        c.outputChannels = 5;
    });
    using GetChannels = ASIOError(__attribute__((thiscall)) *)(IASIO*, long*, long*);
    GetChannels getChannels = reinterpret_cast<GetChannels>((*reinterpret_cast<void***>(driver))[9]);
    long inputs = 0, outputs = 0;
    EXPECT_EQ(getChannels(driver, &inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 3);
    EXPECT_EQ(outputs, 5);
    EXPECT_EQ(driver->Release(), 0u);
}

// The built-in entry is made and destroyed directly, without COM. (Running it on
// DirectSound devices is the built-in driver's own tests' business.)
TEST_F(HostTest, TheBuiltInDriverOpensAndCloses) {
    LiveEngine& engine = makeEngine();
    const int32_t last = engine.driverCount() - 1;
    ASSERT_TRUE(engine.openDriver(last));
    EXPECT_EQ(engine.currentDriver(), last);
    EXPECT_EQ(driverState().instancesCreated, 0) << "no COM driver was made";
    char text[256];
    engine.describeDriver(text, sizeof text);
    EXPECT_EQ(std::string(text).find("Sample Rate: "), 0u) << text;
    EXPECT_NE(std::string(text).find("\nOutput Latency: "), std::string::npos) << text;

    engine.closeDriver();
    EXPECT_EQ(engine.currentDriver(), -1);
    ASSERT_TRUE(engine.openDriver(last)) << "a fresh object after the close";
    engine_.reset();
}
