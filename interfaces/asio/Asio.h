#pragma once
// The ASIO driver interface as this program calls it and as ZerevaZ-2-UDID implements
// it: a COM object whose table has the three IUnknown slots (COM calling convention)
// followed by the twenty-one ASIO operations as plain virtual member functions (the
// compiler's member-function convention, thiscall on 32-bit Windows). The records
// are laid out as published, with 4-byte packing.
#include <cstddef>
#include <cstdint>

#include "WinInclude.h"
#include <unknwn.h>

typedef long ASIOError;
typedef long ASIOBool;
typedef long ASIOSampleType;
typedef double ASIOSampleRate;

enum : ASIOError {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3f4847a0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

#pragma pack(push, 4)

// 64-bit values as two 32-bit words, high word first.
struct ASIOSamples {
    unsigned long hi;
    unsigned long lo;
};

struct ASIOTimeStamp {
    unsigned long hi;
    unsigned long lo;
};

struct ASIOClockSource {
    long index;
    long associatedChannel;
    long associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    long channel;
    ASIOBool isInput;
    ASIOBool isActive;
    long channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    long channelNum;
    void* buffers[2];  // the two halves of the double buffer
};

enum : unsigned long {
    kSystemTimeValid = 1,
    kSamplePositionValid = 2,
    kSampleRateValid = 4,
    kSpeedValid = 8,
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    unsigned long flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    unsigned long flags;
    char future[64];
};

struct ASIOTime {
    long reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

// The host's callbacks, called on the driver's thread (cdecl).
struct ASIOCallbacks {
    void (*bufferSwitch)(long doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    long (*asioMessage)(long selector, long value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, long doubleBufferIndex, ASIOBool directProcess);
};

#pragma pack(pop)

// asioMessage selectors.
enum : long {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
};

// The published layout in both widths: 4-byte packing, long is 32 bits on Windows,
// pointers are 4 or 8 bytes.
#if defined(_WIN64)
#define ASIO_LAYOUT(size32, size64) size64
#else
#define ASIO_LAYOUT(size32, size64) size32
#endif
static_assert(sizeof(long) == 4, "ASIO's long is 32 bits in both widths");
static_assert(sizeof(ASIOBufferInfo) == ASIO_LAYOUT(16, 24), "ASIOBufferInfo is two longs and two pointers");
static_assert(offsetof(ASIOBufferInfo, buffers) == 8, "the half-buffer pointers follow two longs");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo is 52 bytes");
static_assert(sizeof(ASIOClockSource) == 48, "ASIOClockSource is 48 bytes");
static_assert(sizeof(ASIOCallbacks) == ASIO_LAYOUT(16, 32), "ASIOCallbacks holds four pointers");
static_assert(sizeof(AsioTimeInfo) == 48, "AsioTimeInfo is 48 bytes");
static_assert(sizeof(ASIOTimeCode) == 84, "ASIOTimeCode is 84 bytes");
static_assert(sizeof(ASIOTime) == 148, "ASIOTime is 148 bytes");
static_assert(offsetof(ASIOTime, timeInfo) == 16 && offsetof(ASIOTime, timeCode) == 64, "");
#undef ASIO_LAYOUT

// The driver object's interface: slots 0-2 IUnknown, 3-23 the ASIO operations.
class IASIO : public IUnknown {
public:
    virtual ASIOBool init(void* sysHandle) = 0;                                  // 3
    virtual void getDriverName(char* name) = 0;                                  // 4
    virtual long getDriverVersion() = 0;                                         // 5
    virtual void getErrorMessage(char* string) = 0;                              // 6
    virtual ASIOError start() = 0;                                               // 7
    virtual ASIOError stop() = 0;                                                // 8
    virtual ASIOError getChannels(long* numInputChannels, long* numOutputChannels) = 0;  // 9
    virtual ASIOError getLatencies(long* inputLatency, long* outputLatency) = 0;         // 10
    virtual ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize,
                                    long* granularity) = 0;                      // 11
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;              // 12
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;             // 13
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;              // 14
    virtual ASIOError getClockSources(ASIOClockSource* clocks, long* numSources) = 0;  // 15
    virtual ASIOError setClockSource(long reference) = 0;                        // 16
    virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;  // 17
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;                 // 18
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                    ASIOCallbacks* callbacks) = 0;               // 19
    virtual ASIOError disposeBuffers() = 0;                                      // 20
    virtual ASIOError controlPanel() = 0;                                        // 21
    virtual ASIOError future(long selector, void* opt) = 0;                      // 22
    virtual ASIOError outputReady() = 0;                                         // 23
};

// Joins the two words of a 64-bit ASIO value.
inline uint64_t asioValue64(unsigned long hi, unsigned long lo) { return (uint64_t(hi) << 32) | uint32_t(lo); }
