// The built-in driver as an object: its two interface tables, every interface
// operation without streaming, the stored settings it loads in init and the format
// that setSampleRate stores.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>

#include "DriverTestSupport.h"
#include "FakeDirectSound.h"
#include "MessageBoxRecorder.h"
#include "RegistryKeys.h"

namespace {

typedef long(__thiscall* NoArgumentSlot)(void*);
typedef long(__thiscall* RateSlot)(void*, double);
typedef void(__thiscall* TextSlot)(void*, char*);
typedef long(__thiscall* FourPointerSlot)(void*, long*, long*, long*, long*);
typedef ULONG(STDMETHODCALLTYPE* UnknownCountSlot)(void*);
typedef void(__thiscall* DestroySlot)(void*);

void* slot(void* object, int index) { return (*static_cast<void***>(object))[index]; }

WAVEFORMATEX storedFormat(const StoredDriverValues& values) {
    WAVEFORMATEX f{};
    const std::vector<uint8_t> data = values.binary("dxSoundFormat");
    if (data.size() == sizeof f)
        std::memcpy(&f, data.data(), sizeof f);
    return f;
}

// The object without devices: a set-up with no choice stored would open the system's
// default devices, so both sides are stored as chosen to have none.
class Dx2AsioDriverTest : public ::testing::Test {
protected:
    Dx2AsioDriverTest() { values_.setDevices("<no driver>", "<no driver>"); }
    StoredDriverValues values_;
    MessageBoxRecorder boxes_;
};

TEST_F(Dx2AsioDriverTest, TheAsioTableAnswersInItsPublishedSlotOrder) {
    DriverUnderTest driver;
    void* object = driver.asio();
    char name[64];
    reinterpret_cast<TextSlot>(slot(object, 4))(object, name);
    EXPECT_STREQ(name, "ZerevaZ-2-UDID wrapper");
    EXPECT_EQ(reinterpret_cast<NoArgumentSlot>(slot(object, 5))(object), 1);
    long minimum = 0, maximum = 0, preferred = 0, granularity = -1;
    EXPECT_EQ(reinterpret_cast<FourPointerSlot>(slot(object, 11))(object, &minimum, &maximum, &preferred, &granularity),
              ASE_OK);
    EXPECT_EQ(minimum, 8);
    EXPECT_EQ(maximum, 8000);
    EXPECT_EQ(reinterpret_cast<RateSlot>(slot(object, 12))(object, 44100.0), ASE_OK);
    EXPECT_EQ(reinterpret_cast<RateSlot>(slot(object, 12))(object, 88200.0), ASE_NoClock);
    EXPECT_EQ(reinterpret_cast<NoArgumentSlot>(slot(object, 21))(object), ASE_NotPresent);  // controlPanel
    EXPECT_EQ(reinterpret_cast<NoArgumentSlot>(slot(object, 23))(object), ASE_NotPresent);  // outputReady
    // The IUnknown slots reach the object's own count.
    EXPECT_EQ(reinterpret_cast<UnknownCountSlot>(slot(object, 1))(object), 1u);
    EXPECT_EQ(reinterpret_cast<UnknownCountSlot>(slot(object, 1))(object), 2u);
    EXPECT_EQ(reinterpret_cast<UnknownCountSlot>(slot(object, 2))(object), 1u);
}

TEST_F(Dx2AsioDriverTest, TheNonDelegatingTableCountsAndItsFourthSlotDestroys) {
    IASIO* asio = createBuiltInDriver();
    ASSERT_NE(asio, nullptr);
    void* inner = nullptr;
    ASSERT_EQ(asio->QueryInterface(IID_IUnknown, &inner), S_OK);
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(inner, static_cast<void*>(asio)) << "IUnknown must be the non-delegating table";
    EXPECT_EQ(reinterpret_cast<UnknownCountSlot>(slot(inner, 1))(inner), 2u);  // AddRef
    EXPECT_EQ(reinterpret_cast<UnknownCountSlot>(slot(inner, 2))(inner), 1u);  // Release
    // Asking the non-delegating table for the driver's class id gives the driver interface.
    void* again = nullptr;
    typedef HRESULT(STDMETHODCALLTYPE * QuerySlot)(void*, REFIID, void**);
    EXPECT_EQ(reinterpret_cast<QuerySlot>(slot(inner, 0))(inner, CLSID_Dx2AsioDriver, &again), S_OK);
    EXPECT_EQ(again, static_cast<void*>(asio));
    reinterpret_cast<DestroySlot>(slot(inner, 3))(inner);  // the deleting destructor, regardless of the count
}

TEST_F(Dx2AsioDriverTest, QueryInterfaceAnswersTheClassIdUnknownAndNothingElse) {
    DriverUnderTest driver;
    IASIO* asio = driver.asio();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(asio->QueryInterface(CLSID_Dx2AsioDriver, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(asio));
    EXPECT_EQ(asio->QueryInterface(CLSID_Dx2AsioDriver, nullptr), E_POINTER);
    EXPECT_EQ(asio->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(asio->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // Each successful answer took a reference: class id, then IUnknown.
    void* unknown = nullptr;
    EXPECT_EQ(asio->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(asio->AddRef(), 3u);
    EXPECT_EQ(asio->Release(), 2u);
    EXPECT_EQ(asio->Release(), 1u);
}

TEST_F(Dx2AsioDriverTest, TheLastReleaseDeletesTheObject) {
    IASIO* asio = createBuiltInDriver();
    EXPECT_EQ(asio->AddRef(), 1u);
    EXPECT_EQ(asio->AddRef(), 2u);
    EXPECT_EQ(asio->Release(), 1u);
    EXPECT_EQ(asio->Release(), 0u);  // deleted; nothing may touch asio now
}

TEST_F(Dx2AsioDriverTest, OperationsWithoutDevicesAnswerFromTheDefaultFormat) {
    DriverUnderTest driver;
    ASSERT_EQ(driver->init(nullptr), 1);
    EXPECT_EQ(driver.object().selectedInputDevice(), -1);
    EXPECT_EQ(driver.object().selectedOutputDevice(), -1);
    EXPECT_EQ(boxes_.count(), 0u);

    long in = 0, out = 0;
    EXPECT_EQ(driver->getChannels(&in, &out), ASE_OK);
    EXPECT_EQ(in, 2);
    EXPECT_EQ(out, 2);
    EXPECT_EQ(driver->getLatencies(&in, &out), ASE_OK);
    EXPECT_EQ(in, 800);
    EXPECT_EQ(out, 1600);
    long preferred = 0, granularity = -1;
    EXPECT_EQ(driver->getBufferSize(nullptr, nullptr, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(preferred, 800);
    EXPECT_EQ(granularity, 0);
    double rate = 0;
    EXPECT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0);
    EXPECT_EQ(driver->getSampleRate(nullptr), ASE_InvalidParameter);

    for (double accepted : {22050.0, 32000.0, 44100.0, 48000.0, 96000.0})
        EXPECT_EQ(driver->canSampleRate(accepted), ASE_OK) << accepted;
    for (double refused : {88200.0, 44100.5, 0.0, -44100.0, 192000.0})
        EXPECT_EQ(driver->canSampleRate(refused), ASE_NoClock) << refused;

    EXPECT_EQ(driver->getClockSources(nullptr, nullptr), ASE_NotPresent);
    EXPECT_EQ(driver->setClockSource(0), ASE_NotPresent);
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_NotPresent);
    EXPECT_EQ(driver->future(0, nullptr), ASE_NotPresent);
    EXPECT_EQ(driver->future(12345, nullptr), ASE_NotPresent);
    EXPECT_EQ(driver->outputReady(), ASE_NotPresent);

    char name[256];
    std::memset(name, 'x', sizeof name);
    driver->getDriverName(name);
    EXPECT_STREQ(name, "ZerevaZ-2-UDID wrapper");
    EXPECT_EQ(name[23], 'x') << "only the name and its NUL are written";
    // The probes a host makes (clock sources, position, future, outputReady) are no
    // failures: the last failure's text stays.
    EXPECT_EQ(driver.errorMessage(), "No place was given for the sample rate");
}

TEST_F(Dx2AsioDriverTest, ChannelInfoNamesTheTwoChannelsAndTheirSampleType) {
    DriverUnderTest driver;
    driver->init(nullptr);
    ASIOChannelInfo info{};
    info.channel = 2;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);
    info.channel = -1;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);
    EXPECT_EQ(driver->getChannelInfo(nullptr), ASE_InvalidParameter);

    for (long ch = 0; ch < 2; ++ch) {
        for (long input = 0; input < 2; ++input) {
            std::memset(&info, 0x7F, sizeof info);
            info.channel = ch;
            info.isInput = input;
            ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
            EXPECT_EQ(info.type, 16);  // ASIOSTInt16LSB
            EXPECT_EQ(info.channelGroup, 0);
            EXPECT_EQ(info.isActive, 0) << "no buffers, so no channel is active";
            EXPECT_STREQ(info.name, ch == 0 ? "left" : "right");
        }
    }

    struct Depth {
        WORD bits;
        ASIOError result;
        long type;
    };
    for (const Depth& depth : {Depth{24, ASE_OK, 17}, Depth{32, ASE_OK, 18}, Depth{8, ASE_NotPresent, 0}}) {
        values_.setFormat(2, 44100, depth.bits);
        DriverUnderTest other;
        other->init(nullptr);
        info = ASIOChannelInfo{};
        info.channel = 1;
        EXPECT_EQ(other->getChannelInfo(&info), depth.result) << depth.bits;
        if (depth.result == ASE_OK) {
            EXPECT_EQ(info.type, depth.type) << depth.bits;
        }
    }
}

TEST_F(Dx2AsioDriverTest, AStoredFormatIsClampedAndItsOtherFieldsDerived) {
    struct Case {
        WORD channels;
        DWORD rate;
        WORD bits;
        WORD expectedChannels;
        DWORD expectedRate;
        WORD expectedBits;
    };
    const Case cases[] = {
        {3, 12000, 40, 2, 12000, 32},   // the three clamps at once
        {0, 5, 12, 1, 8000, 8},         // below every range
        {1, 200000, 0, 1, 96000, 8},    // rate above, no bytes at all
        {2, 0xFFFFFFFF, 24, 2, 96000, 24},
        {2, 48000, 16, 2, 48000, 16},
    };
    for (const Case& c : cases) {
        values_.setFormat(c.channels, c.rate, c.bits);
        DriverUnderTest driver;
        driver->init(nullptr);
        const WAVEFORMATEX& f = driver.object().format();
        SCOPED_TRACE(testing::Message() << c.channels << " ch " << c.rate << " Hz " << c.bits << " bits");
        EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.nChannels, c.expectedChannels);
        EXPECT_EQ(f.nSamplesPerSec, c.expectedRate);
        EXPECT_EQ(f.wBitsPerSample, c.expectedBits);
        EXPECT_EQ(f.nBlockAlign, c.expectedChannels * c.expectedBits / 8);
        EXPECT_EQ(f.nAvgBytesPerSec, c.expectedRate * f.nBlockAlign);
        EXPECT_EQ(f.cbSize, 18);
        long in = 0, out = 0;
        driver->getChannels(&in, &out);
        EXPECT_EQ(in, c.expectedChannels);
        EXPECT_EQ(out, c.expectedChannels);
    }
}

TEST_F(Dx2AsioDriverTest, AFormatRecordOfTheWrongSizeOrTypeIsIgnored) {
    WAVEFORMATEX f{};
    f.nChannels = 1;
    f.nSamplesPerSec = 22050;
    f.wBitsPerSample = 8;
    uint8_t longer[19] = {};
    std::memcpy(longer, &f, sizeof f);
    values_.setBinary("dxSoundFormat", longer, 19);
    {
        DriverUnderTest driver;
        driver->init(nullptr);
        EXPECT_EQ(driver.object().format().nSamplesPerSec, 44100u);
    }
    values_.setBinary("dxSoundFormat", &f, 17);
    {
        DriverUnderTest driver;
        driver->init(nullptr);
        EXPECT_EQ(driver.object().format().nSamplesPerSec, 44100u);
    }
    values_.setRaw("dxSoundFormat", REG_NONE, &f, sizeof f);
    {
        DriverUnderTest driver;
        driver->init(nullptr);
        EXPECT_EQ(driver.object().format().nSamplesPerSec, 44100u);
        EXPECT_EQ(driver.object().format().nChannels, 2);
        EXPECT_EQ(driver.object().format().wBitsPerSample, 16);
    }
}

TEST_F(Dx2AsioDriverTest, BlockSizeRingCountAndSyncLoadWithTheirLimits) {
    struct Case {
        DWORD bufferSize, numBuffers, sync;
        long expectedSize, expectedBuffers;
        bool expectedSync;
    };
    const Case cases[] = {
        {512, 4, 1, 512, 4, true},      {0, 12, 0, 8, 2, false},        {9000, 64, 0x100, 8000, 64, false},
        {0xFFFFFFFF, 3, 0x201, 8, 2, true}, {8, 32, 2, 8, 32, true},   {8000, 0, 0, 8000, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bufferSize << " frames, " << c.numBuffers << " buffers, sync " << c.sync);
        values_.setDword("dxBufferSize", c.bufferSize);
        values_.setDword("dxNumBuffers", c.numBuffers);
        values_.setDword("dxSyncByInput", c.sync);
        DriverUnderTest driver;
        driver->init(nullptr);
        long preferred = 0, in = 0, out = 0;
        driver->getBufferSize(nullptr, nullptr, &preferred, nullptr);
        driver->getLatencies(&in, &out);
        EXPECT_EQ(preferred, c.expectedSize);
        EXPECT_EQ(in, c.expectedSize);
        EXPECT_EQ(out, c.expectedSize * c.expectedBuffers);
        EXPECT_EQ(driver.object().numBuffers(), c.expectedBuffers);
        EXPECT_EQ(driver.object().syncByInput(), c.expectedSync);
    }
}

TEST_F(Dx2AsioDriverTest, ValuesOfTheWrongTypeOrMissingKeepTheDefaults) {
    values_.setText("dxBufferSize", "512");
    values_.setText("dxNumBuffers", "4");
    values_.setBinary("dxSyncByInput", "\0\0\0\0", 4);
    uint16_t shortValue = 256;
    values_.setRaw("dxNumBuffers", REG_DWORD, &shortValue, 2);  // a DWORD too short to be one
    DriverUnderTest driver;
    driver->init(nullptr);
    long preferred = 0;
    driver->getBufferSize(nullptr, nullptr, &preferred, nullptr);
    EXPECT_EQ(preferred, 800);
    EXPECT_EQ(driver.object().numBuffers(), 2);
    EXPECT_TRUE(driver.object().syncByInput());

    // Nothing stored: a new set-up, which streams in WASAPI shared mode at the whole
    // number of engine periods nearest the default 800 frames.
    values_.clear();
    DriverUnderTest fresh;
    fresh->init(nullptr);
    EXPECT_EQ(fresh.object().mode(), DriverMode::wasapiShared);
    long granularity = 0;
    fresh->getBufferSize(nullptr, nullptr, &preferred, &granularity);
    ASSERT_GT(granularity, 0) << fresh.errorMessage();
    EXPECT_EQ(preferred % granularity, 0);
    EXPECT_LE(std::labs(preferred - 800), granularity / 2);
    EXPECT_EQ(fresh.object().numBuffers(), 2);
}

TEST_F(Dx2AsioDriverTest, DevicesAreChosenByTheirExactDescription) {
    values_.setDevices("Monitor of instrument", "speakers");
    {
        DriverUnderTest driver;
        driver->init(nullptr);
        const Dx2AsioDriver& d = driver.object();
        ASSERT_GE(d.selectedInputDevice(), 0);
        ASSERT_GE(d.selectedOutputDevice(), 0);
        EXPECT_STREQ(d.inputDevices().entry(d.selectedInputDevice()).description, "Monitor of instrument");
        EXPECT_STREQ(d.outputDevices().entry(d.selectedOutputDevice()).description, "speakers");
        EXPECT_EQ(boxes_.count(), 0u);
    }
    // The dialog's "<no driver>" chooses no device on that side.
    values_.setDevices("<no driver>", "<no driver>");
    {
        DriverUnderTest driver;
        driver->init(nullptr);
        EXPECT_EQ(driver.object().selectedInputDevice(), -1);
        EXPECT_EQ(driver.object().selectedOutputDevice(), -1);
    }
    // No choice stored: another case, an empty name, a name of the wrong type or
    // too long to read, no value at all. Each side takes the system's default device,
    // the one DirectSound lists without a GUID, and there is nothing to report.
    const auto expectDefaults = [](const DriverUnderTest& driver, const std::string& what) {
        const Dx2AsioDriver& d = driver.object();
        ASSERT_GE(d.selectedInputDevice(), 0) << what;
        ASSERT_GE(d.selectedOutputDevice(), 0) << what;
        EXPECT_FALSE(d.inputDevices().entry(d.selectedInputDevice()).hasGuid) << what;
        EXPECT_FALSE(d.outputDevices().entry(d.selectedOutputDevice()).hasGuid) << what;
        EXPECT_EQ(d.selectedInputDevice(), d.inputDevices().defaultDevice()) << what;
        EXPECT_EQ(d.selectedOutputDevice(), d.outputDevices().defaultDevice()) << what;
    };
    const char* const unmatched[] = {"monitor of instrument", "", "Speakers "};
    for (const char* name : unmatched) {
        values_.setDevices(name, name);
        DriverUnderTest driver;
        driver->init(nullptr);
        expectDefaults(driver, std::string("\"") + name + '"');
    }
    values_.setDword("dxOutputDevice", 1);
    std::string huge(5000, 'a');
    values_.setText("dxInputDevice", huge.c_str());
    {
        DriverUnderTest driver;
        driver->init(nullptr);
        expectDefaults(driver, "a number and a huge name");
    }
    values_.clear();
    {
        DriverUnderTest driver;
        driver->init(nullptr);
        expectDefaults(driver, "no values");
    }
    EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(Dx2AsioDriverTest, TheDeviceListsHoldTheBenchDevicesAndEndAtAnEmptyEntry) {
    DriverUnderTest driver;
    driver->init(nullptr);
    const DeviceList& inputs = driver.object().inputDevices();
    const DeviceList& outputs = driver.object().outputDevices();
    EXPECT_GE(inputs.find("Monitor of instrument"), 0);
    EXPECT_GE(inputs.find("Monitor of speakers"), 0);
    EXPECT_GE(outputs.find("instrument"), 0);
    EXPECT_GE(outputs.find("speakers"), 0);
    EXPECT_LE(inputs.count(), 31);
    EXPECT_EQ(inputs.entry(inputs.count()).description[0], '\0');
    EXPECT_EQ(inputs.entry(32).description[0], '\0');

    // Filling a list by hand: the 32nd device is refused, the list stays at 31.
    DeviceList list;
    char name[16];
    for (int i = 0; i < 31; ++i) {
        std::snprintf(name, sizeof name, "device %d", i);
        EXPECT_TRUE(list.add(nullptr, name));
    }
    EXPECT_FALSE(list.add(nullptr, "device 31"));
    EXPECT_EQ(list.count(), 31);
    EXPECT_EQ(list.find("device 31"), -1);
    EXPECT_EQ(list.find("device 30"), 30);
    std::string longName(400, 'd');
    DeviceList cut;
    cut.add(nullptr, longName.c_str());
    EXPECT_EQ(std::strlen(cut.entry(0).description), 255u);
}

TEST_F(Dx2AsioDriverTest, CreateBuffersServesTwoChannelsOfEachKindAndRefusesBadArguments) {
    DriverUnderTest driver;
    driver->init(nullptr);
    ASIOCallbacks callbacks{};
    ASIOBufferInfo infos[6] = {};
    for (int i = 0; i < 6; ++i) {
        infos[i].isInput = i % 2 == 0;  // inputs and outputs interleaved
        infos[i].channelNum = i / 2;
        infos[i].buffers[0] = infos[i].buffers[1] = &infos[i];  // must be overwritten
    }
    ASSERT_EQ(driver->createBuffers(infos, 6, 800, &callbacks), 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(infos[i].buffers[0], nullptr) << i;
        EXPECT_NE(infos[i].buffers[0], static_cast<void*>(&infos[i])) << i;
        EXPECT_EQ(infos[i].buffers[0], infos[i].buffers[1]) << i;
    }
    // The third input and output get nothing.
    EXPECT_EQ(infos[4].buffers[0], nullptr);
    EXPECT_EQ(infos[5].buffers[1], nullptr);
    // Fresh buffers hold silence, in the format's width: 800 frames of 2 bytes.
    const uint8_t* first = static_cast<const uint8_t*>(infos[0].buffers[0]);
    const uint8_t* second = static_cast<const uint8_t*>(infos[2].buffers[0]);
    EXPECT_GE(std::abs(second - first), 1600);
    for (int j = 0; j < 1600; ++j)
        ASSERT_EQ(first[j], 0) << j;

    EXPECT_EQ(driver->createBuffers(infos, -1, 800, &callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(nullptr, 2, 800, &callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver->createBuffers(nullptr, 0, 800, &callbacks), 0) << "no channels at all is allowed";
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK) << "twice";
}

// A failure that returns an error code stores its own text: after another failure,
// the host shows the text of the one that just failed, not the older one's.
TEST_F(Dx2AsioDriverTest, EveryFailureStoresItsOwnText) {
    DriverUnderTest driver;
    driver->init(nullptr);
    ASIOCallbacks callbacks{};
    ASIOChannelInfo channel{};
    const struct {
        const char* text;
        std::function<ASIOError()> fail;
        ASIOError expected;
    } failures[] = {
        {"There is no such channel", [&] { channel.channel = 2; return driver->getChannelInfo(&channel); },
         ASE_InvalidParameter},
        {"There is no such channel", [&] { return driver->getChannelInfo(nullptr); }, ASE_InvalidParameter},
        {"The buffer descriptions are missing", [&] { return driver->createBuffers(nullptr, 2, 800, &callbacks); },
         ASE_InvalidParameter},
        {"The host's callbacks are missing", [&] { return driver->start(); }, ASE_InvalidParameter},
        {"No place was given for the sample rate", [&] { return driver->getSampleRate(nullptr); },
         ASE_InvalidParameter},
        {"The sample rate is out of range", [&] { return driver->setSampleRate(5e9); }, ASE_InvalidParameter},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.text);
        ASSERT_EQ(driver->createBuffers(nullptr, 0, 5, &callbacks), -1);  // an older failure's text
        ASSERT_EQ(driver.errorMessage(), "The buffer size must be 8 to 8000 frames");
        EXPECT_EQ(f.fail(), f.expected);
        EXPECT_EQ(driver.errorMessage(), f.text);
    }
}

// Every step of creating the rings that can fail stores its own text, and leaves both
// sides released: each ring and notify interface the devices handed out is released
// once, and the driver keeps neither ring.
TEST_F(Dx2AsioDriverTest, EachRingStepThatFailsStoresItsTextAndReleasesBothSides) {
    struct Devices {
        FakeSoundCapture capture{2 * 3200};
        FakeSound sound{2 * 3200};
        FakeNotify inputNotify, outputNotify;
        Devices() {
            capture.buffer.notify = &inputNotify;
            sound.secondary.notify = &outputNotify;
        }
    };
    const struct {
        const char* text;
        void (*breakStep)(Devices&);
    } steps[] = {
        {"Failed to create the input buffer", [](Devices& d) { d.capture.failCreate = true; }},
        {"Failed to create the input notify interface", [](Devices& d) { d.capture.buffer.notify = nullptr; }},
        {"Failed to set the input notification positions", [](Devices& d) { d.inputNotify.fail = true; }},
        {"Failed to create the output primary buffer", [](Devices& d) { d.sound.failPrimary = true; }},
        {"Failed to set the specified audio format", [](Devices& d) { d.sound.primary.failSetFormat = true; }},
        {"Failed to create the output secondary buffer", [](Devices& d) { d.sound.failSecondary = true; }},
        {"Failed to create the output notify interface", [](Devices& d) { d.sound.secondary.notify = nullptr; }},
        {"Failed to set the output notification positions", [](Devices& d) { d.outputNotify.fail = true; }},
        {"", [](Devices&) {}},  // nothing broken: the stand-ins serve
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.text);
        Devices d;
        step.breakStep(d);
        {
            DriverUnderTest driver;
            driver->init(nullptr);
            driver.object().useDeviceObjects(&d.capture, &d.sound);
            ASIOCallbacks callbacks{};
            ASIOBufferInfo infos[4] = {};
            infos[0].isInput = infos[1].isInput = 1;
            infos[1].channelNum = infos[3].channelNum = 1;
            const ASIOError result = driver->createBuffers(infos, 4, 800, &callbacks);
            if (!step.text[0]) {
                EXPECT_EQ(result, 0);
                EXPECT_NE(driver.object().captureBuffer(), nullptr);
                EXPECT_EQ(d.inputNotify.positions.size(), 2u);
                driver->disposeBuffers();
            } else {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(driver.errorMessage(), step.text);
            }
            EXPECT_EQ(driver.object().captureBuffer(), nullptr);
            EXPECT_EQ(driver.object().secondaryBuffer(), nullptr);
        }
        EXPECT_EQ(d.capture.buffer.releases, d.capture.handedOut);
        EXPECT_EQ(d.sound.primary.releases, d.sound.primaryHandedOut);
        EXPECT_EQ(d.sound.secondary.releases, d.sound.secondaryHandedOut);
        EXPECT_EQ(d.inputNotify.releases, d.capture.buffer.notifyHandedOut);
        EXPECT_EQ(d.outputNotify.releases, d.sound.secondary.notifyHandedOut);
        EXPECT_EQ(d.capture.releases, 1) << "the device objects go with the driver";
        EXPECT_EQ(d.sound.releases, 1);
    }
}

TEST_F(Dx2AsioDriverTest, SetSampleRateStoresTheRateAndAsksForAReset) {
    DriverUnderTest driver;
    driver->init(nullptr);
    // The same rate, truncated: nothing written.
    EXPECT_EQ(driver->setSampleRate(44100.7), ASE_OK);
    EXPECT_FALSE(values_.has("dxSoundFormat"));

    // A new rate without host callbacks: stored, no one to ask.
    EXPECT_EQ(driver->setSampleRate(48000.9), ASE_OK);
    WAVEFORMATEX stored = storedFormat(values_);
    EXPECT_EQ(stored.nSamplesPerSec, 48000u);
    EXPECT_EQ(stored.nChannels, 2);
    EXPECT_EQ(stored.wBitsPerSample, 16);
    EXPECT_EQ(stored.nAvgBytesPerSec, 176400u) << "every field but the rate stays as it was";
    EXPECT_EQ(stored.nBlockAlign, 4);
    EXPECT_EQ(stored.cbSize, 18);
    double rate = 0;
    driver->getSampleRate(&rate);
    EXPECT_EQ(rate, 44100.0) << "the running format does not change";

    // With the host's callbacks stored (buffers created, no devices): one reset request.
    RecordingHost host;
    ASSERT_EQ(host.createBuffers(driver.asio(), 800), 0);
    EXPECT_EQ(driver->setSampleRate(22050), ASE_OK);
    EXPECT_EQ(host.resetRequests, 1);
    EXPECT_EQ(host.otherMessages, 0);
    EXPECT_EQ(storedFormat(values_).nSamplesPerSec, 22050u);
    // A rate no count holds is refused before anything is written.
    EXPECT_EQ(driver->setSampleRate(std::numeric_limits<double>::quiet_NaN()), ASE_InvalidParameter);
    EXPECT_EQ(driver->setSampleRate(-1.0), ASE_InvalidParameter);
    EXPECT_EQ(driver->setSampleRate(1e12), ASE_InvalidParameter);
    EXPECT_EQ(host.resetRequests, 1);
    driver->disposeBuffers();

    // The next driver loads what was stored, clamped: 1000 Hz loads as 8000.
    EXPECT_EQ(driver->setSampleRate(1000), ASE_OK);
    DriverUnderTest next;
    next->init(nullptr);
    next->getSampleRate(&rate);
    EXPECT_EQ(rate, 8000.0);
}

TEST_F(Dx2AsioDriverTest, SetSampleRateWithoutTheKeyFailsQuietly) {
    DriverUnderTest driver;
    driver->init(nullptr);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath), ERROR_SUCCESS);
    EXPECT_EQ(driver->setSampleRate(48000), ASE_NoClock);
    EXPECT_EQ(driver.errorMessage(), "The ZerevaZ-2-UDID key is missing from the registry");
    EXPECT_EQ(boxes_.count(), 0u);
    // The driver never creates its key; the program does, once.
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_TRUE(createSettingsKeys());
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(Dx2AsioDriverTest, CreateSettingsKeysMakesBothKeysAndKeepsExistingValues) {
    // Work under a scratch root standing in for HKEY_CURRENT_USER, so the real
    // settings key of the prefix is never deleted.
    HKEY scratch = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TalvenorTests\\RegistryKeys", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch, nullptr),
              ERROR_SUCCESS);
    RegDeleteTreeA(scratch, nullptr);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);

    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_TRUE(createSettingsKeys());
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
    const DWORD kept = 1234;
    RegSetValueExA(key, "tempo", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kept), sizeof kept);
    RegCloseKey(key);
    HKEY driverKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ, &driverKey), ERROR_SUCCESS);
    RegCloseKey(driverKey);

    EXPECT_TRUE(createSettingsKeys());  // a second run changes nothing
    DWORD read = 0, size = sizeof read;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, kSettingsKeyPath, "tempo", RRF_RT_REG_DWORD, nullptr, &read, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(read, kept);

    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegDeleteTreeA(scratch, nullptr);
    RegCloseKey(scratch);
    // The real key is back in view.
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

}  // namespace
