#pragma once
// The VST 2 effect interface, used on both sides: by the plug-in framework and by
// the program's effect host. The record has the published layout in both Windows
// widths, checked below; native builds (tests and benchmarks) use pointer-sized
// fields where the interface passes pointers.
#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

typedef int32_t VstInt32;
typedef intptr_t VstIntPtr;

// Four-character codes, first character in the most significant byte.
constexpr VstInt32 fourCharCode(char a, char b, char c, char d) {
    return VstInt32(uint32_t(uint8_t(a)) << 24 | uint32_t(uint8_t(b)) << 16 | uint32_t(uint8_t(c)) << 8 |
                    uint32_t(uint8_t(d)));
}

constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');       // 0x56737450
constexpr VstInt32 kEffectIdentifyAnswer = fourCharCode('N', 'v', 'E', 'f');  // 0x4E764566

struct AEffect;

typedef VstIntPtr(VSTCALLBACK* audioMasterCallback)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                     VstIntPtr value, void* ptr, float opt);
typedef VstIntPtr(VSTCALLBACK* AEffectDispatcherProc)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                       VstIntPtr value, void* ptr, float opt);
typedef void(VSTCALLBACK* AEffectProcessProc)(AEffect* effect, float** inputs, float** outputs,
                                               VstInt32 sampleFrames);
typedef void(VSTCALLBACK* AEffectSetParameterProc)(AEffect* effect, VstInt32 index, float parameter);
typedef float(VSTCALLBACK* AEffectGetParameterProc)(AEffect* effect, VstInt32 index);

// The plug-in's own main entry: takes the host callback, returns its record or null.
typedef AEffect*(VSTCALLBACK* VstEntryProc)(audioMasterCallback host);

struct AEffect {
    VstInt32 magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;  // accumulating
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    VstInt32 initialDelay;
    VstInt32 realQualities;
    VstInt32 offQualities;
    float ioRatio;
    void* object;
    void* user;
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    char future[60];
};

// The published layout in both Windows widths: 32-bit (every field 4 bytes) and
// 64-bit (pointers and pointer-sized integers 8 bytes, aligned to 8).
#if defined(_WIN64)
#define VST_LAYOUT(offset32, offset64) offset64
#elif defined(_WIN32)
#define VST_LAYOUT(offset32, offset64) offset32
#endif
#ifdef VST_LAYOUT
static_assert(sizeof(AEffect) == VST_LAYOUT(144, 192), "AEffect is 144 bytes (32-bit) or 192 (64-bit)");
static_assert(offsetof(AEffect, magic) == VST_LAYOUT(0, 0), "");
static_assert(offsetof(AEffect, dispatcher) == VST_LAYOUT(4, 8), "");
static_assert(offsetof(AEffect, process) == VST_LAYOUT(8, 16), "");
static_assert(offsetof(AEffect, setParameter) == VST_LAYOUT(12, 24), "");
static_assert(offsetof(AEffect, getParameter) == VST_LAYOUT(16, 32), "");
static_assert(offsetof(AEffect, numPrograms) == VST_LAYOUT(20, 40), "");
static_assert(offsetof(AEffect, numParams) == VST_LAYOUT(24, 44), "");
static_assert(offsetof(AEffect, numInputs) == VST_LAYOUT(28, 48), "");
static_assert(offsetof(AEffect, numOutputs) == VST_LAYOUT(32, 52), "");
static_assert(offsetof(AEffect, flags) == VST_LAYOUT(36, 56), "");
static_assert(offsetof(AEffect, resvd1) == VST_LAYOUT(40, 64), "");
static_assert(offsetof(AEffect, resvd2) == VST_LAYOUT(44, 72), "");
static_assert(offsetof(AEffect, initialDelay) == VST_LAYOUT(48, 80), "");
static_assert(offsetof(AEffect, realQualities) == VST_LAYOUT(52, 84), "");
static_assert(offsetof(AEffect, offQualities) == VST_LAYOUT(56, 88), "");
static_assert(offsetof(AEffect, ioRatio) == VST_LAYOUT(60, 92), "");
static_assert(offsetof(AEffect, object) == VST_LAYOUT(64, 96), "");
static_assert(offsetof(AEffect, user) == VST_LAYOUT(68, 104), "");
static_assert(offsetof(AEffect, uniqueID) == VST_LAYOUT(72, 112), "");
static_assert(offsetof(AEffect, version) == VST_LAYOUT(76, 116), "");
static_assert(offsetof(AEffect, processReplacing) == VST_LAYOUT(80, 120), "");
static_assert(offsetof(AEffect, future) == VST_LAYOUT(84, 128), "");
static_assert(sizeof(VstIntPtr) == VST_LAYOUT(4, 8), "dispatcher values are pointer-sized");
#undef VST_LAYOUT
#endif

enum VstEffectFlags : VstInt32 {
    effFlagsHasEditor = 1,
    effFlagsHasClip = 2,
    effFlagsHasVu = 4,
    effFlagsCanMono = 8,
    effFlagsCanReplacing = 16,
    effFlagsProgramChunks = 32,
    effFlagsIsSynth = 256,
};

// Dispatcher opcodes (host to plug-in).
enum VstEffectOpcode : VstInt32 {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effGetVu = 9,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditDraw = 16,
    effEditMouse = 17,
    effEditKey = 18,
    effEditIdle = 19,
    effEditTop = 20,
    effEditSleep = 21,
    effIdentify = 22,
    effGetChunk = 23,
    effSetChunk = 24,
    effGetProgramNameIndexed = 29,
    effSetBlockSizeAndSampleRate = 43,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effIdle = 53,
};

// Host callback opcodes (plug-in to host).
enum VstHostOpcode : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterPinConnected = 4,
    audioMasterGetTime = 7,
    audioMasterTempoAt = 10,
    audioMasterNeedIdle = 14,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterWillReplaceOrAccumulate = 22,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    audioMasterGetDirectory = 41,
};

// An editor's window rectangle, answered to effEditGetRect through a pointer.
struct ERect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};
static_assert(sizeof(ERect) == 8, "ERect is four 16-bit values");

// The host's time record, as answered to audioMasterGetTime.
struct VstTimeInfo {
    double samplePos;
    double sampleRate;
    double nanoSeconds;
    double ppqPos;
    double tempo;
    double barStartPos;
    double cycleStartPos;
    double cycleEndPos;
    VstInt32 timeSigNumerator;
    VstInt32 timeSigDenominator;
    VstInt32 smpteOffset;
    VstInt32 smpteFrameRate;
    VstInt32 samplesToNextClock;
    VstInt32 flags;
};
static_assert(sizeof(VstTimeInfo) == 88, "VstTimeInfo is eight doubles and six 32-bit values");

enum : VstInt32 { kVstTempoValid = 0x400 };
