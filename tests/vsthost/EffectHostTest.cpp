#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "EffectHost.h"
#include "MessageBoxRecorder.h"
#include "PerformanceFormat.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"
#include "WinInclude.h"

namespace {

const std::string kBin = TALVENOR_BIN_DIR;  // the build's bin folder, as a Windows path
const std::string kOurPlugins = kBin + "VST Plugins\\";
const std::string kTestPlugins = kBin + "test-plugins\\";

std::string testPlugin(const char* name) { return kTestPlugins + name + ".dll"; }
std::string ourPlugin(const char* name) { return kOurPlugins + name + ".dll"; }

// The test plug-in library as the test itself sees it: the same module the host
// loads, so its log is the log of the host's instance.
class TestLibrary {
public:
    explicit TestLibrary(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
        log_ = procedure<LogFn>("testPluginLog");
        clear_ = procedure<ClearFn>("testPluginClearLog");
        answer_ = procedure<AnswerFn>("testPluginEntryAnswer");
        callHost_ = procedure<CallHostFn>("testPluginCallHost");
    }
    ~TestLibrary() { FreeLibrary(module_); }
    bool ok() const { return module_ && log_ && clear_; }
    HMODULE module() const { return module_; }
    std::vector<std::string> log() const {
        std::vector<char> text(65536);
        log_(text.data(), int(text.size()));
        std::vector<std::string> lines;
        for (const char* p = text.data(); *p;) {
            const char* end = std::strchr(p, '\n');
            lines.emplace_back(p, end ? size_t(end - p) : std::strlen(p));
            p = end ? end + 1 : p + std::strlen(p);
        }
        return lines;
    }
    void clear() { clear_(); }
    VstIntPtr entryAnswer(int i) { return answer_(i); }
    VstIntPtr callHost(AEffect* e, VstInt32 op, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
        return callHost_(e, op, index, value, ptr, opt);
    }

private:
    template <typename T>
    T procedure(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    using LogFn = int (*)(char*, int);
    using ClearFn = void (*)();
    using AnswerFn = VstIntPtr (*)(int);
    using CallHostFn = VstIntPtr (*)(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float);
    HMODULE module_;
    LogFn log_ = nullptr;
    ClearFn clear_ = nullptr;
    AnswerFn answer_ = nullptr;
    CallHostFn callHost_ = nullptr;
};

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line)
            return true;
    return false;
}

bool fileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// The VST 2 effect behind a slot, as the backend holds it.
AEffect* effectOf(const EffectSlot* slot) { return vst2PluginOf(slot->plugin)->effect(); }
const Vst2Library* libraryOf(const EffectSlot* slot) { return vst2PluginOf(slot->plugin)->library(); }

}  // namespace

TEST(EffectHostLoading, OpensAndConfiguresInOrder) {
    TestLibrary lib(testPlugin("TestRecorder"));
    ASSERT_TRUE(lib.ok());
    lib.clear();
    EffectHost host;
    EffectSlot* slot = host.loadPlugin(-1, testPlugin("TestRecorder").c_str());
    ASSERT_NE(slot, nullptr);
    const std::vector<std::string> expected = {
        "main",
        "op 22 index 0 value 0 opt 0",        // effIdentify
        "op 0 index 0 value 0 opt 0",         // effOpen
        "op 10 index 0 value 0 opt 44100",    // effSetSampleRate
        "op 11 index 0 value 1024 opt 0",     // effSetBlockSize
        "op 43 index 0 value 1024 opt 44100", // effSetBlockSizeAndSampleRate
        "op 12 index 0 value 1 opt 0",        // effMainsChanged: resume
        "op 2 index 0 value 0 opt 0",         // effSetProgram 0
    };
    const std::vector<std::string> log = lib.log();
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + expected.size()), expected);

    EXPECT_EQ(slot->currentProgram, 0);
    EXPECT_EQ(slot->suspended, 0);
    ASSERT_EQ(slot->parameterCount, 2);
    EXPECT_EQ(slot->parameters[0], 0.25f);
    EXPECT_EQ(slot->parameters[1], 0.75f);
    ASSERT_EQ(slot->programCount, 3);
    EXPECT_STREQ(slot->programNames + 0 * 32, "current 0");  // asked by selecting the program
    EXPECT_STREQ(slot->programNames + 1 * 32, "program one with a name far too");  // 31 characters
    EXPECT_STREQ(slot->programNames + 2 * 32, "current 2");
    EXPECT_EQ(lib.log().back(), "op 2 index 0 value 0 opt 0");  // back on program 0
    char name[32];
    ASSERT_TRUE(host.effectName(slot, name));
    EXPECT_STREQ(name, "Recorder Fx");
    EXPECT_EQ(host.slotList(), slot);

    lib.clear();
    host.unloadSlot(slot);
    EXPECT_EQ(lib.log(), (std::vector<std::string>{"op 12 index 0 value 0 opt 0", "op 1 index 0 value 0 opt 0"}));
    EXPECT_EQ(host.slotList(), nullptr);
}

TEST(EffectHostLoading, PluginsWithoutProgramNamesGetNoNameAndProgramZero) {
    TestLibrary lib(testPlugin("TestNoProgramNames"));
    EffectHost host;
    EffectSlot* slot = host.loadPlugin(-1, testPlugin("TestNoProgramNames").c_str());
    ASSERT_NE(slot, nullptr);
    for (int i = 0; i < 3; ++i)
        EXPECT_STREQ(slot->programNames + i * 32, "no name");
    EXPECT_EQ(lib.log().back(), "op 2 index 0 value 0 opt 0");
    EXPECT_EQ(effectOf(slot)->dispatcher(effectOf(slot), effGetProgram, 0, 0, nullptr, 0.0f), 0);
    char name[32];
    host.effectName(slot, name);
    EXPECT_STREQ(name, "TestNoProgramNames");  // no name of its own: the file's base name
}

TEST(EffectHostLoading, RefusesWhatIsNotAnEffect) {
    MessageBoxRecorder boxes;
    EffectHost host;
    EXPECT_EQ(host.loadPlugin(-1, (kTestPlugins + "Missing.dll").c_str()), nullptr);
    EXPECT_EQ(host.loadPlugin(-1, testPlugin("TestNoEntry").c_str()), nullptr);
    EXPECT_EQ(host.loadPlugin(-1, testPlugin("TestWrongMagic").c_str()), nullptr);
    {
        TestLibrary lib(testPlugin("TestWrongIdentify"));
        lib.clear();
        EXPECT_EQ(host.loadPlugin(-1, testPlugin("TestWrongIdentify").c_str()), nullptr);
        EXPECT_FALSE(contains(lib.log(), "op 0 index 0 value 0 opt 0"));  // never opened
    }
    EXPECT_EQ(boxes.count(), 0u);  // these fail silently; the caller shows its own box

    // The caller's box carries the reason: the path and, for a library of the other
    // width (which only that width's bridge can run, and which this library, without
    // an entry point, cannot answer in), which width and bridge it is and why not.
    EXPECT_EQ(host.loadPlugin(-1, testPlugin("TestOtherWidth").c_str()), nullptr);
    const std::string reason = host.lastLoadFailure();
#ifdef _WIN64
    const char* expectedWidth = "it is a 32-bit plug-in, which this 64-bit edition of Talvenor Live runs in "
                                "talvenor-bridge32.exe, and that did not run here (this system may not run 32-bit "
                                "programs): ";
#else
    const char* expectedWidth = "it is a 64-bit plug-in, which this 32-bit edition of Talvenor Live runs in "
                                "talvenor-bridge64.exe, and that did not run here (this system may not run 64-bit "
                                "programs): ";
#endif
    EXPECT_EQ(reason.rfind(testPlugin("TestOtherWidth") + ": ", 0), 0u) << reason;
    EXPECT_NE(reason.find(expectedWidth), std::string::npos) << reason;
    EXPECT_GT(reason.size(), reason.find(expectedWidth) + std::strlen(expectedWidth)) << "no reason after: " << reason;
    showErrorWithDetail(kStrLoadPluginFailed, host.lastLoadFailure());
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Error #16");
    EXPECT_EQ(boxes.boxes()[0].text, "Failed to load the plugin\r\n\r\n" + reason);
    EXPECT_EQ(host.loadPlugin(-1, testPlugin("TestWrongMagic").c_str()), nullptr);
    EXPECT_EQ(std::string(host.lastLoadFailure()), testPlugin("TestWrongMagic") + ": the library did not answer as a VST 2 effect");
    boxes.clear();

    TestLibrary synth(testPlugin("TestSynth"));
    synth.clear();
    EXPECT_EQ(host.loadPlugin(-1, testPlugin("TestSynth").c_str()), nullptr);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Talvenor Live");
    EXPECT_EQ(boxes.boxes()[0].text, "This plugin is a synthesizer, but not an effect. ");
    const auto log = synth.log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "op 12 index 0 value 0 opt 0");  // switched off, then closed
    EXPECT_EQ(log.back(), "op 1 index 0 value 0 opt 0");
    EXPECT_EQ(host.slotList(), nullptr);

    // Over-long paths are refused, never cut into another file's name.
    std::string longPath = kTestPlugins + std::string(300 - kTestPlugins.size(), 'a') + ".dll";
    EXPECT_EQ(host.loadPlugin(-1, longPath.c_str()), nullptr);
    EXPECT_FALSE(host.addPluginEntry(longPath.c_str()));
}

TEST(EffectHostLoading, ListIndexAndTheSameNamedFallback) {
    EffectHost host;
    ASSERT_TRUE(host.addPluginEntry(testPlugin("TestChunks").c_str()));
    ASSERT_TRUE(host.addPluginEntry(ourPlugin("Overdrive").c_str()));
    EXPECT_EQ(host.loadPlugin(2, nullptr), nullptr);  // past the end
    EffectSlot* byIndex = host.loadPlugin(1, nullptr);
    ASSERT_NE(byIndex, nullptr);
    EXPECT_EQ(std::string(byIndex->path), ourPlugin("Overdrive"));
    host.unloadSlot(byIndex);

    // A stored path that no longer exists finds the same base name in the list...
    EffectSlot* moved = host.loadPlugin(-1, "C:\\Old Folder\\Plugins\\Overdrive.dll");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(std::string(moved->path), ourPlugin("Overdrive"));
    // ...compared case-sensitively.
    EXPECT_EQ(host.loadPlugin(-1, "C:\\Old Folder\\Plugins\\overdrive.dll"), nullptr);
}

TEST(EffectHostLoading, TwoPositionsOfOneLibraryGetTwoInstances) {
    EffectHost host;
    const std::string path = ourPlugin("Overdrive");
    EffectSlot* first = host.loadPlugin(-1, path.c_str());
    EffectSlot* second = host.loadPlugin(-1, path.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(effectOf(first), effectOf(second));
    EXPECT_NE(libraryOf(first)->handle(), libraryOf(second)->handle());
    EXPECT_STREQ(libraryOf(first)->privateCopy(), "");
    ASSERT_STRNE(libraryOf(second)->privateCopy(), "");
    EXPECT_TRUE(fileExists(libraryOf(second)->privateCopy()));
    EXPECT_EQ(std::string(second->path), path);  // the slot names the original

    // The copy's folder never reaches the plug-in.
    auto* directory = reinterpret_cast<const char*>(
        hostCallback(effectOf(second), audioMasterGetDirectory, 0, 0, nullptr, 0.0f));
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(std::string(directory), kOurPlugins);

    // Unloading one leaves the other working.
    const std::string copy = libraryOf(second)->privateCopy();
    host.unloadSlot(first);
    float left[64], right[64];
    for (int i = 0; i < 64; ++i)
        left[i] = right[i] = 0.5f * float(i % 7) / 7.0f;
    float* live[2] = {left, right};
    host.processSlot(second, live, 2, 64);
    EXPECT_NE(left[63], 0.0f);
    host.unloadSlot(second);
    EXPECT_FALSE(fileExists(copy.c_str()));
}

TEST(EffectHostLoading, FindsTheEntryPointUnderEveryName) {
    EffectHost host;
    // Only "VSTPluginMain": the name current plug-ins export.
    EffectSlot* current = host.loadPlugin(-1, testPlugin("TestVstPluginMainOnly").c_str());
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(effectOf(current)->uniqueID, fourCharCode('t', 'e', 's', 't'));
    // A plug-in keeping its programs as chunks loads like any other.
    EffectSlot* chunks = host.loadPlugin(-1, testPlugin("TestChunks").c_str());
    ASSERT_NE(chunks, nullptr);
    EXPECT_TRUE(effectOf(chunks)->flags & effFlagsProgramChunks);
    EXPECT_EQ(chunks->programCount, 3);
}

TEST(EffectHostLoading, ThreeOutputsLoadButLeaveTheSignal) {
    EffectHost host;
    EffectSlot* slot = host.loadPlugin(-1, testPlugin("TestThreeOutputs").c_str());
    ASSERT_NE(slot, nullptr);
    float left[32], right[32];
    for (int i = 0; i < 32; ++i)
        left[i] = right[i] = float(i);
    float* live[2] = {left, right};
    host.processSlot(slot, live, 2, 32);
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(left[i], float(i));
}

TEST(EffectHostLoading, MonoLiveIntoOneInTwoOut) {
    EffectHost host;
    EffectSlot* slot = host.loadPlugin(-1, testPlugin("TestMonoToStereo").c_str());
    ASSERT_NE(slot, nullptr);
    float mono[32];
    for (int i = 0; i < 32; ++i)
        mono[i] = float(i);
    float* live[1] = {mono};
    host.processSlot(slot, live, 1, 32);
    for (int i = 0; i < 32; ++i)
        ASSERT_FLOAT_EQ(mono[i], float(i) * 0.25f + float(i) * 0.5f);  // both outputs summed back
}

TEST(EffectHostRates, FollowLiveInputAndIgnoreTinyChanges) {
    TestLibrary lib(testPlugin("TestRecorder"));
    EffectHost host;
    ASSERT_NE(host.loadPlugin(-1, testPlugin("TestRecorder").c_str()), nullptr);
    ASSERT_NE(host.loadPlugin(-1, ourPlugin("Modulane").c_str()), nullptr);
    lib.clear();
    host.setSampleRate(44100.0005f);
    host.setBlockSize(1024);
    EXPECT_TRUE(lib.log().empty());
    host.setSampleRate(48000.0f);
    host.setBlockSize(256);
    EXPECT_EQ(lib.log(), (std::vector<std::string>{"op 10 index 0 value 0 opt 48000", "op 11 index 0 value 256 opt 0"}));
    EXPECT_EQ(hostCallback(nullptr, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f), 48000);
    EXPECT_EQ(hostCallback(nullptr, audioMasterGetBlockSize, 0, 0, nullptr, 0.0f), 256);

    // Stopping suspends every slot; starting resumes those not switched off.
    EffectSlot* recorder = host.slotList();
    host.setSlotActive(recorder, false);
    lib.clear();
    host.suspendAllSlots();
    host.resumeAllSlots();
    EXPECT_EQ(lib.log(), std::vector<std::string>{"op 12 index 0 value 0 opt 0"});
    host.setSlotActive(recorder, true);
    host.setSlotActive(recorder, true);  // already active: nothing sent
    EXPECT_EQ(lib.log().back(), "op 12 index 0 value 1 opt 0");
    EXPECT_EQ(lib.log().size(), 2u);
}

TEST(HostCallback, AnswersAsTalvenorLive) {
    LiveSettings settings;
    EffectHost host;
    host.attachSettings(&settings);
    EXPECT_EQ(hostCallback(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f), 2);
    EXPECT_EQ(hostCallback(nullptr, audioMasterCurrentId, 0, 0, nullptr, 0.0f), 0x54764C32);
    EXPECT_EQ(hostCallback(nullptr, audioMasterIdle, 0, 0, nullptr, 0.0f), 70);
    EXPECT_EQ(hostCallback(nullptr, audioMasterPinConnected, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(hostCallback(nullptr, audioMasterTempoAt, 0, 0, nullptr, 0.0f), 1200000);
    EXPECT_EQ(hostCallback(nullptr, audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(hostCallback(nullptr, audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f), 210);
    EXPECT_EQ(hostCallback(nullptr, audioMasterGetLanguage, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(hostCallback(nullptr, audioMasterAutomate, 1, 0, nullptr, 0.5f), 0);
    EXPECT_EQ(hostCallback(nullptr, 5, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(hostCallback(nullptr, 9999, 0, 0, nullptr, 0.0f), 0);

    char text[64];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(hostCallback(nullptr, audioMasterGetVendorString, 0, 0, text, 0.0f), 1);
    EXPECT_STREQ(text, "Talvenor Software");
    EXPECT_EQ(text[18], 'x');  // 18 bytes written, no more
    EXPECT_EQ(hostCallback(nullptr, audioMasterGetProductString, 0, 0, text, 0.0f), 1);
    EXPECT_STREQ(text, "Talvenor Live");

    for (const char* yes : {"sizeWindow", "supplyIdle", "sendVstTimeInfo"})
        EXPECT_EQ(hostCallback(nullptr, audioMasterCanDo, 0, 0, const_cast<char*>(yes), 0.0f), 1) << yes;
    for (const char* no : {"SizeWindow", "sizeWindow ", "sizewindow", "receiveVstEvents", ""})
        EXPECT_EQ(hostCallback(nullptr, audioMasterCanDo, 0, 0, const_cast<char*>(no), 0.0f), 0) << no;

    settings.tempo = 9050;
    auto* time = reinterpret_cast<VstTimeInfo*>(hostCallback(nullptr, audioMasterGetTime, 0, 0, nullptr, 0.0f));
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->tempo, 90.5);
    EXPECT_EQ(time->sampleRate, 44100.0);
    EXPECT_EQ(time->samplePos, 0.0);
    EXPECT_EQ(time->flags, kVstTempoValid);
    EXPECT_EQ(time->ppqPos, 0.0);
    EXPECT_EQ(hostCallback(nullptr, audioMasterTempoAt, 0, 0, nullptr, 0.0f), 905000);
}

TEST(HostCallback, RequestsAboutTheCallersSlot) {
    EffectHost host;
    TestLibrary lib(testPlugin("TestCallsHost"));
    EffectSlot* slot = host.loadPlugin(-1, testPlugin("TestCallsHost").c_str());
    ASSERT_NE(slot, nullptr);
    // Inside the entry point the plug-in has no slot yet.
    EXPECT_EQ(lib.entryAnswer(0), 0);  // audioMasterSizeWindow
    EXPECT_EQ(lib.entryAnswer(1), 0);  // audioMasterGetDirectory
    EXPECT_EQ(lib.entryAnswer(2), 0);  // audioMasterNeedIdle
    EXPECT_EQ(lib.entryAnswer(3), 2);  // audioMasterVersion needs no slot

    EXPECT_FALSE(vst2PluginOf(slot->plugin)->needsIdle());
    EXPECT_EQ(lib.callHost(effectOf(slot), audioMasterNeedIdle, 0, 0, nullptr, 0.0f), 1);
    EXPECT_TRUE(vst2PluginOf(slot->plugin)->needsIdle());
    EXPECT_EQ(lib.callHost(effectOf(slot), audioMasterSizeWindow, 320, 240, nullptr, 0.0f), 1);  // no editor yet
    auto* directory = reinterpret_cast<const char*>(
        lib.callHost(effectOf(slot), audioMasterGetDirectory, 0, 0, nullptr, 0.0f));
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(std::string(directory), kTestPlugins);
    // The text stays readable after the call.
    const std::string again = directory;
    EXPECT_EQ(again.back(), '\\');
}

namespace {

uint32_t le32At(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

float floatAt(const uint8_t* p) {
    const uint32_t bits = le32At(p);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

std::string chunkOf(EffectSlot* slot) {
    void* data = nullptr;
    const VstIntPtr size = effectOf(slot)->dispatcher(effectOf(slot), effGetChunk, 1, 0, &data, 0.0f);
    return data && size > 0 ? std::string(static_cast<const char*>(data), size_t(size)) : std::string();
}

using SetChunkAnswerFn = void (*)(int, VstIntPtr, int);

}  // namespace

// The state blob in load order, the plug-ins' chunks and parameters captured and
// given back, and answers the host must not believe.
TEST(EffectHostState, BlobCapturesAndRestoresEveryPluginsState) {
    EffectHost host;
    const uint8_t* blob = nullptr;
    ASSERT_EQ(host.buildStateBlob(&blob), 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob), 8), "VSTWRAP_");

    // C:\a.dll with three parameters: a 48-byte section, 56 bytes in all.
    ASSERT_TRUE(CopyFileA(testPlugin("TestThreeParameters").c_str(), "C:\\a.dll", FALSE));
    EffectSlot* three = host.loadPlugin(-1, "C:\\a.dll");
    ASSERT_NE(three, nullptr);
    effectOf(three)->setParameter(effectOf(three), 1, 0.5f);
    ASSERT_EQ(host.buildStateBlob(&blob), 56);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob + 8), 4), "PLUG");
    EXPECT_EQ(blob[12] | blob[13] << 8, 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob + 14), 8), "C:\\a.dll");
    EXPECT_EQ(le32At(blob + 22), 21u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob + 26), 5), "PARAM");
    EXPECT_EQ(le32At(blob + 31), 3u);
    EXPECT_EQ(floatAt(blob + 35), 0.25f);
    EXPECT_EQ(floatAt(blob + 39), 0.5f);
    EXPECT_EQ(floatAt(blob + 43), 0.0f);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob + 47), 4), "DATA");
    EXPECT_EQ(le32At(blob + 51), 1u);
    EXPECT_EQ(blob[55], 0);
    EXPECT_EQ(three->parameters[1], 0.5f) << "the host's copy follows what was read";
    EXPECT_EQ(three->state.size(), 0u) << "the records are released after the build";

    // A chunk plug-in after it: its section follows, in load order.
    TestLibrary chunks(testPlugin("TestChunks"));
    ASSERT_TRUE(chunks.ok());
    auto setChunkAnswer =
        reinterpret_cast<SetChunkAnswerFn>(reinterpret_cast<void*>(GetProcAddress(chunks.module(), "testPluginSetChunkAnswer")));
    ASSERT_NE(setChunkAnswer, nullptr);
    EffectSlot* chunky = host.loadPlugin(-1, testPlugin("TestChunks").c_str());
    ASSERT_NE(chunky, nullptr);
    const size_t pathLength = std::strlen(chunky->path);
    const std::string own = chunkOf(chunky);
    ASSERT_FALSE(own.empty());
    int32_t length = host.buildStateBlob(&blob);
    ASSERT_EQ(length, int32_t(56 + pathLength + 9 + own.size() + 19));
    // Where the chunk plug-in's record starts in a blob (each build makes a new one).
    const auto recordIn = [&](const uint8_t* b) { return b + 56 + 6 + pathLength + 4; };
    const uint8_t* record = recordIn(blob);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record), 5), "CHUNK");
    EXPECT_EQ(le32At(record + 5), own.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record + 9), own.size()), own);
    // Only the slots asked for (the positions' plug-ins, not one loaded beside them).
    EffectSlot* const onlyThree[2] = {nullptr, three};
    ASSERT_EQ(host.buildStateBlob(&blob, onlyThree, 2), 56);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob + 14), 8), "C:\\a.dll");
    EXPECT_EQ(chunky->state.size(), 0u);

    // A chunk of -1 is "CHUNK" with size 0.
    setChunkAnswer(1, -1, 0);
    ASSERT_EQ(host.buildStateBlob(&blob), int32_t(56 + pathLength + 9 + 19));
    record = recordIn(blob);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record), 5), "CHUNK");
    EXPECT_EQ(le32At(record + 5), 0u);
    EXPECT_TRUE(host.captureState(chunky));
    host.releaseState(chunky);

    // Answers the host must not read from: over the cap, or a size without data.
    // They are refused (an empty chunk stands in the blob) with the size told.
    const VstIntPtr tooLarge = VstIntPtr(kMaxChunkBytes) + 1;
    setChunkAnswer(1, tooLarge, 0);
    char told[300] = "";
    EXPECT_FALSE(host.captureState(chunky, told, sizeof told));
    EXPECT_NE(std::string(told).find(std::to_string(tooLarge) + " bytes"), std::string::npos) << told;
    EXPECT_EQ(chunky->state.size(), 9u);
    host.releaseState(chunky);
    ASSERT_EQ(host.buildStateBlob(&blob), int32_t(56 + pathLength + 9 + 19));
    setChunkAnswer(1, 10, 1);
    EXPECT_FALSE(host.captureState(chunky, told, sizeof told));
    EXPECT_NE(std::string(told).find(" 10 bytes"), std::string::npos) << told;
    host.releaseState(chunky);
    setChunkAnswer(0, 0, 0);

    // States given back: a chunk through effSetChunk for the current program, the
    // parameters the plug-in has (a fourth value is not set), the copy following.
    uint8_t chunkRecord[9 + 5];
    writeChunkRecord(chunkRecord, "hello", 5);
    chunks.clear();
    ASSERT_TRUE(host.restoreState(chunky, chunkRecord, sizeof chunkRecord));
    EXPECT_TRUE(contains(chunks.log(), "op 24 index 1 value 5 opt 0"));
    EXPECT_EQ(chunkOf(chunky), "hello");
    const float values[4] = {0.125f, 0.375f, 0.625f, 0.875f};
    uint8_t parameterRecord[9 + 16];
    writeParameterRecord(parameterRecord, values, 4);
    ASSERT_TRUE(host.restoreState(three, parameterRecord, sizeof parameterRecord));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(effectOf(three)->getParameter(effectOf(three), i), values[i]) << i;
        EXPECT_EQ(three->parameters[i], values[i]) << i;
    }
    EXPECT_FALSE(host.restoreState(three, parameterRecord, sizeof parameterRecord - 1));

    // Loaded again, a slot is another slot, also at the same address.
    const uint32_t before = three->serial;
    host.unloadSlot(three);
    EffectSlot* again = host.loadPlugin(-1, "C:\\a.dll");
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again->serial, before);
    EXPECT_NE(again->serial, 0u);
    host.unloadAllSlots();
    DeleteFileA("C:\\a.dll");
}
