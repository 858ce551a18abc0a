#pragma once
// The test ASIO driver's control surface. The driver is a COM in-process server;
// a test links against the same DLL (so it is the very module COM creates the
// driver from, already loaded) and steers it through these exported functions.
#include <cstdint>

#include "Asio.h"

// Every variant of the test class id shares the first 15 bytes; the last byte tells
// the variants apart, so several registry entries can name distinct drivers.
// {6A7E1C30-5B2D-4C8E-9F10-2B3C4D5E6Fxx}
inline CLSID testDriverClsid(uint8_t variant) {
    CLSID id = {0x6A7E1C30, 0x5B2D, 0x4C8E, {0x9F, 0x10, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, variant}};
    return id;
}

// Driver operations by their slot number, for failMask.
enum TestDriverSlot : uint32_t {
    kSlotInit = 3,
    kSlotStart = 7,
    kSlotGetChannels = 9,
    kSlotGetLatencies = 10,
    kSlotGetBufferSize = 11,
    kSlotGetSampleRate = 13,
    kSlotSetSampleRate = 14,
    kSlotGetSamplePosition = 17,
    kSlotGetChannelInfo = 18,
    kSlotCreateBuffers = 19,
    kSlotControlPanel = 21,
    kSlotOutputReady = 23,
};
inline uint32_t slotBit(uint32_t slot) { return 1u << slot; }

// Applies to drivers created after it is set and, where it makes sense, to the
// running one (failMask, pacing, message requests).
struct TestDriverConfig {
    char name[64];              // getDriverName
    char errorText[256];        // getErrorMessage
    int32_t unterminatedTexts;  // name and error text filled with 300 'x' and no NUL
    int32_t inputChannels;
    int32_t outputChannels;
    int32_t inputType;          // ASIO sample type of every input channel
    int32_t outputType;
    double sampleRate;          // what getSampleRate reports
    double rateAfterSet;        // the rate setSampleRate leaves (0: the requested one)
    int32_t minSize, maxSize, preferredSize, granularity;
    int32_t inputLatency, outputLatency;
    uint32_t failMask;          // slotBit(n): operation n fails (init returns 0)
    int32_t useTimeInfo;        // call bufferSwitchTimeInfo instead of bufferSwitch
    int32_t nullBufferAfterCreate;  // leave the second half of the last buffer null
    int32_t intervalMicros;     // pause between callbacks; 0 calls back as fast as it can
    float amplitude;            // of the input test signal
};

// A snapshot of what the driver saw; counts are totals since TestDriver_reset.
struct TestDriverState {
    int32_t instancesCreated;
    int32_t instancesAlive;
    int32_t lastVariant;         // class id variant of the last created instance
    int32_t initCalls;
    void* initHandle;
    int32_t startCalls, stopCalls;
    int32_t createBuffersCalls, disposeBuffersCalls;
    int32_t createdCount;        // channels in the last createBuffers
    int32_t createdSize;         // frames in the last createBuffers
    ASIOBufferInfo createdInfos[8];  // isInput and channelNum as asked (buffers as filled)
    int32_t channelInfoCalls;
    int32_t setSampleRateCalls;
    double lastSetRate;
    int32_t samplePositionCalls;
    int32_t outputReadyCalls;
    int32_t controlPanelCalls;
    int32_t getDriverNameCalls;
    int32_t callbacks;           // buffer switches completed
    int32_t lastFrames;          // frames of the buffers in use
    int32_t streaming;           // the callback thread is running
};

#ifdef TEST_DRIVER_BUILD
#define TEST_DRIVER_API extern "C" __declspec(dllexport)
#else
#define TEST_DRIVER_API extern "C" __declspec(dllimport)
#endif

// Resets the configuration to its defaults (2 in, 2 out, float32, 44100 Hz, 256
// frames) and every count. Not while a driver instance is streaming.
TEST_DRIVER_API void TestDriver_reset();
TEST_DRIVER_API void TestDriver_configure(const TestDriverConfig* config);
TEST_DRIVER_API void TestDriver_getConfig(TestDriverConfig* config);
TEST_DRIVER_API void TestDriver_getState(TestDriverState* state);
// Sends an asioMessage to the host: from the callback thread before its next buffer
// switch when streaming (waiting for it), otherwise from the caller. Returns the answer.
TEST_DRIVER_API long TestDriver_sendMessage(long selector, long value);
// Tells the host of a new rate, the same way.
TEST_DRIVER_API void TestDriver_announceRate(double rate);
// Copies the last block of buffer info i as the host left it after the callback
// (inputs: what the driver delivered). Returns the bytes copied.
TEST_DRIVER_API int32_t TestDriver_lastBlock(int32_t info, void* destination, int32_t bytes);
// The share of each buffer period spent inside the host's buffer callback, as the
// driver measures it with its own clock (the period runs from one callback's start
// to the next). Returns how many were copied, oldest first.
TEST_DRIVER_API int32_t TestDriver_callbackLoads(float* destination, int32_t count);
