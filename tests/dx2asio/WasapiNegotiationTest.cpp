// The exclusive-mode negotiation against a stand-in endpoint that keeps the documented
// rules: the formats tried and the one taken, the period asked for rounded into the
// device's limits, the alignment answer taken on a fresh client, period and buffer
// equal, the event set, and each refusal named in the driver's own words with nothing
// left held. Also the words for every answer the driver names.
#include <gtest/gtest.h>

#include <string>

#include "FakeAudioClient.h"
#include "WasapiErrors.h"
#include "WasapiExclusiveNegotiation.h"

namespace {

class WasapiNegotiationTest : public ::testing::Test {
protected:
    void SetUp() override { event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr); }
    void TearDown() override {
        if (stream_.client)
            stream_.client->Release();
        CloseHandle(event_);
    }

    HRESULT negotiate(FakeExclusiveEndpoint& endpoint, long frames, DWORD rate = 48000) {
        ExclusiveRequest request{rate, 2, frames, event_};
        step_ = nullptr;
        return negotiateExclusiveStream(endpoint, request, stream_, &step_);
    }

    std::string describe(HRESULT hr) const {
        char text[256];
        describeWasapiFailure(hr, step_, text);
        return text;
    }

    HANDLE event_ = nullptr;
    ExclusiveStream stream_;
    const char* step_ = nullptr;
};

}  // namespace

TEST_F(WasapiNegotiationTest, FormatsAreTriedFromFloatDownAndTheFirstNativeOneIsTaken) {
    FakeEndpointRules rules;
    rules.nativeKinds = {StreamSampleKind::int16, StreamSampleKind::int24in32};
    FakeExclusiveEndpoint endpoint(rules);
    ASSERT_EQ(negotiate(endpoint, 480), S_OK) << describe(E_FAIL);
    EXPECT_EQ(endpoint.log.formatsAsked,
              (std::vector<StreamSampleKind>{StreamSampleKind::float32, StreamSampleKind::int32,
                                             StreamSampleKind::int24in32}));
    EXPECT_EQ(stream_.kind, StreamSampleKind::int24in32);
    EXPECT_EQ(stream_.format.Samples.wValidBitsPerSample, 24);
    EXPECT_EQ(stream_.format.Format.wBitsPerSample, 32);
    EXPECT_EQ(asioSampleType(stream_.kind), 18);

    // Each of the five alone is found, and only packed 24 and 16 bits are 3 and 2 bytes.
    const StreamSampleKind kinds[] = {StreamSampleKind::float32, StreamSampleKind::int32, StreamSampleKind::int24in32,
                                      StreamSampleKind::int24, StreamSampleKind::int16};
    const int bytes[] = {4, 4, 4, 3, 2};
    for (int i = 0; i < 5; ++i) {
        FakeEndpointRules only;
        only.nativeKinds = {kinds[i]};
        FakeExclusiveEndpoint single(only);
        if (stream_.client)
            stream_.client->Release();
        stream_ = ExclusiveStream();
        ASSERT_EQ(negotiate(single, 480), S_OK) << i;
        EXPECT_EQ(stream_.kind, kinds[i]) << i;
        EXPECT_EQ(int(single.log.formatsAsked.size()), i + 1) << i;
        EXPECT_EQ(stream_.format.Format.nBlockAlign, 2 * bytes[i]) << i;
    }
}

TEST_F(WasapiNegotiationTest, ThePeriodAskedIsTheBufferAndTheEventIsSetBeforeAnyStart) {
    FakeEndpointRules rules;
    FakeExclusiveEndpoint endpoint(rules);
    ASSERT_EQ(negotiate(endpoint, 480), S_OK);
    EXPECT_EQ(stream_.periodFrames, 480u);
    EXPECT_EQ(stream_.period, 100000);
    EXPECT_FALSE(stream_.realigned);
    EXPECT_EQ(endpoint.log.activations, 1);
    const std::vector<std::string> expected{"Initialize 100000", "GetBufferSize", "SetEventHandle"};
    EXPECT_EQ(endpoint.log.calls, expected);
    // The stand-in refuses a start without the event: the negotiated client starts.
    EXPECT_EQ(stream_.client->Start(), S_OK);
}

TEST_F(WasapiNegotiationTest, APeriodBelowTheDevicesMinimumIsRaisedToIt) {
    FakeEndpointRules rules;
    rules.minimumPeriod = 30000;  // 144 frames at 48 kHz
    FakeExclusiveEndpoint endpoint(rules);
    ASSERT_EQ(negotiate(endpoint, 32), S_OK) << describe(E_FAIL);
    EXPECT_EQ(stream_.period, 30000);
    EXPECT_EQ(stream_.periodFrames, 144u);
}

TEST_F(WasapiNegotiationTest, AnAlignmentAnswerIsTakenOnAFreshClientAtTheAlignedPeriod) {
    FakeEndpointRules rules;
    rules.alignmentFrames = 128;
    FakeExclusiveEndpoint endpoint(rules);
    ASSERT_EQ(negotiate(endpoint, 480), S_OK) << describe(E_FAIL);
    EXPECT_TRUE(stream_.realigned);
    EXPECT_EQ(stream_.periodFrames, 512u);
    EXPECT_EQ(stream_.period, framesToDuration(512, 48000));
    EXPECT_EQ(endpoint.log.activations, 2);
    EXPECT_EQ(endpoint.log.liveClients, 1) << "the refused client was released";
    const std::vector<std::string> expected{"Initialize 100000", "GetBufferSize", "Initialize 106667",
                                            "GetBufferSize", "SetEventHandle"};
    EXPECT_EQ(endpoint.log.calls, expected);
    EXPECT_EQ(stream_.client->Start(), S_OK);
}

TEST_F(WasapiNegotiationTest, EachRefusalIsNamedInTheDriversWordsAndNothingIsHeld) {
    const struct {
        const char* what;
        FakeEndpointRules rules;
        HRESULT expected;
        const char* words;
    } cases[] = {
        {"in use", [] { FakeEndpointRules r; r.formatAnswer = AUDCLNT_E_DEVICE_IN_USE; return r; }(),
         AUDCLNT_E_DEVICE_IN_USE,
         "Choosing a sample format the device takes in exclusive mode: the device is in use by another program"},
        {"not allowed", [] { FakeEndpointRules r; r.initializeAnswer = AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED; return r; }(),
         AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, "Setting up the exclusive stream: exclusive mode is not allowed"},
        {"no format", [] { FakeEndpointRules r; r.nativeKinds = {}; return r; }(), AUDCLNT_E_UNSUPPORTED_FORMAT,
         "Choosing a sample format the device takes in exclusive mode: the device does not support the sample "
         "format"},
        {"gone", [] { FakeEndpointRules r; r.activateAnswer = AUDCLNT_E_DEVICE_INVALIDATED; return r; }(),
         AUDCLNT_E_DEVICE_INVALIDATED, "Opening the device in exclusive mode: the device was removed or disabled"},
        {"period", [] { FakeEndpointRules r; r.initializeAnswer = AUDCLNT_E_INVALID_DEVICE_PERIOD; return r; }(),
         AUDCLNT_E_INVALID_DEVICE_PERIOD, "Setting up the exclusive stream: the period is out of the range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeExclusiveEndpoint endpoint(c.rules);
        const HRESULT hr = negotiate(endpoint, 480);
        EXPECT_EQ(hr, c.expected);
        EXPECT_EQ(stream_.client, nullptr);
        EXPECT_EQ(endpoint.log.liveClients, 0);
        EXPECT_EQ(describe(hr).find(c.words), 0u) << describe(hr);
        EXPECT_EQ(isExclusiveRefusal(hr),
                  hr == AUDCLNT_E_DEVICE_IN_USE || hr == AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED);
    }
}

TEST_F(WasapiNegotiationTest, AMinimumPeriodThatIsNotAlignedIsAlignedUpward) {
    // 480 frames is below the 20 ms minimum: raised to 960 frames, which is not aligned
    // to 128 (7.5 times): the device names 1024.
    FakeEndpointRules rules;
    rules.alignmentFrames = 128;
    rules.minimumPeriod = 200000;
    FakeExclusiveEndpoint endpoint(rules);
    const HRESULT hr = negotiate(endpoint, 480);
    ASSERT_EQ(hr, S_OK) << describe(hr);
    EXPECT_EQ(stream_.periodFrames, 1024u);
    EXPECT_EQ(endpoint.log.liveClients, 1);
}

TEST(WasapiErrorWords, EveryAnswerTheDriverNamesHasItsOwnWordsAndOthersShowTheirCode) {
    const HRESULT named[] = {AUDCLNT_E_DEVICE_IN_USE,         AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED,
                             AUDCLNT_E_UNSUPPORTED_FORMAT,    AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED,
                             AUDCLNT_E_INVALID_DEVICE_PERIOD, AUDCLNT_E_DEVICE_INVALIDATED,
                             AUDCLNT_E_BUFFER_SIZE_ERROR,     AUDCLNT_E_SERVICE_NOT_RUNNING,
                             AUDCLNT_E_EVENTHANDLE_NOT_SET,   AUDCLNT_E_CPUUSAGE_EXCEEDED};
    std::vector<std::string> seen;
    for (HRESULT hr : named) {
        char scratch[32] = {};
        const std::string words = wasapiFailureMeaning(hr, scratch);
        EXPECT_EQ(words.find("0x"), std::string::npos) << words;
        for (const std::string& other : seen)
            EXPECT_NE(words, other);
        seen.push_back(words);
    }
    char scratch[32];
    EXPECT_STREQ(wasapiFailureMeaning(HRESULT(0x88890FFF), scratch), "the device answered 0x88890FFF");
}
