// Whose fault a crash is, as the rig's fault handler decides it, for crashes that lie
// inside a system library or in no code at all. Each crash happens for real on a
// thread of its own; a first-chance handler asks the handler's decision while the
// faulting thread's stack is still whole, then ends that thread, so the test process
// lives on.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PluginFaultNote.h"
#include "FaultingCaller.h"
#include "VstInterface.h"
#include "WinInclude.h"

namespace {

const std::string kTestPlugins = std::string(TALVENOR_BIN_DIR) + "test-plugins\\";

// What the handler made of one crash.
struct Verdict {
    bool faulted = false;
    DWORD code = 0;
    bool faultInProgram = false;  // the faulting address itself lies in this test program
    bool faultInAModule = false;
    bool blamed = false;
    std::string path;
};

DWORD g_probeThread = 0;
Verdict g_verdict;

[[noreturn]] void endProbeThread() { ExitThread(0); }

LONG CALLBACK judgeProbeFault(EXCEPTION_POINTERS* info) {
    if (GetCurrentThreadId() != g_probeThread || g_verdict.faulted)
        return EXCEPTION_CONTINUE_SEARCH;
    g_verdict.faulted = true;
    g_verdict.code = info->ExceptionRecord->ExceptionCode;
    HMODULE module = nullptr;
    g_verdict.faultInAModule =
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(info->ExceptionRecord->ExceptionAddress), &module) &&
        module;
    g_verdict.faultInProgram = g_verdict.faultInAModule && module == GetModuleHandleA(nullptr);
    char path[MAX_PATH] = "";
    g_verdict.blamed = blamedPluginOf(info, path, sizeof path);
    g_verdict.path = path;
    // The thread goes on in a function that ends it, with a stack pointer aligned as
    // at a function's entry.
#if defined(_WIN64)
    info->ContextRecord->Rip = DWORD64(uintptr_t(&endProbeThread));
    info->ContextRecord->Rsp = (info->ContextRecord->Rsp & ~DWORD64(15)) - 8;
#else
    info->ContextRecord->Eip = DWORD(uintptr_t(&endProbeThread));
    info->ContextRecord->Esp = (info->ContextRecord->Esp & ~DWORD(15)) - 4;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

struct Probe {
    void (*crash)(void*);
    void* argument;
};

DWORD WINAPI runProbe(void* probe) {
    const Probe* p = static_cast<const Probe*>(probe);
    p->crash(p->argument);
    return 0;
}

// Runs `crash` on a thread of its own and returns the handler's verdict on its fault.
Verdict judgeCrash(void (*crash)(void*), void* argument) {
    g_verdict = Verdict{};
    void* handler = AddVectoredExceptionHandler(1, judgeProbeFault);
    EXPECT_NE(handler, nullptr);
    Probe probe{crash, argument};
    HANDLE thread = CreateThread(nullptr, 0, runProbe, &probe, CREATE_SUSPENDED, &g_probeThread);
    EXPECT_NE(thread, nullptr);
    if (thread) {
        ResumeThread(thread);
        EXPECT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    RemoveVectoredExceptionHandler(handler);
    g_probeThread = 0;
    return g_verdict;
}

// Our own code hands the system a wild pointer to read.
__attribute__((noinline)) void programReadsThroughTheSystem(void*) {
    const char* volatile wild = reinterpret_cast<const char*>(uintptr_t(16));
    wchar_t wide[64];
    MultiByteToWideChar(CP_UTF8, 0, wild, -1, wide, 64);
}

// The host callback the test's plug-ins get: asked for idle calls while `g_hostCrashes`,
// it hands the system a wild pointer, as a faulty host would.
bool g_hostCrashes = false;
VstIntPtr VSTCALLBACK crashingHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterVersion)
        return 2400;
    if (opcode == audioMasterNeedIdle && g_hostCrashes)
        programReadsThroughTheSystem(nullptr);
    return opcode == audioMasterNeedIdle || opcode == audioMasterSizeWindow ? 1 : 0;
}

// A test plug-in loaded in this process and noted as the host notes it.
struct LoadedPlugin {
    std::string path;
    HMODULE library = nullptr;
    AEffect* effect = nullptr;
    explicit LoadedPlugin(const std::string& file) : LoadedPlugin(kTestPlugins + file, kTestPlugins + file) {}
    // A copy of a plug-in's file at loaded, noted under the original's path.
    LoadedPlugin(const std::string& loaded, const std::string& original) : path(original) {
        library = LoadLibraryA(loaded.c_str());
        auto entry = library ? reinterpret_cast<VstEntryProc>(reinterpret_cast<void*>(GetProcAddress(library, "main"))) : nullptr;
        effect = entry ? entry(crashingHost) : nullptr;
        notePluginInProcess(path.c_str());
    }
    // Left loaded: a thread ended inside it may have left its state anyhow.
    ~LoadedPlugin() { notePluginOutOfProcess(path.c_str()); }
};

// Processes blocks until the plug-in fails (the test plug-ins fail after 200 to 300).
void processUntilItFails(void* plugin) {
    AEffect* e = static_cast<LoadedPlugin*>(plugin)->effect;
    std::vector<float> left(64), right(64), outLeft(64), outRight(64);
    float* in[2] = {left.data(), right.data()};
    float* out[2] = {outLeft.data(), outRight.data()};
    for (int block = 0; block < 1000; ++block)
        e->processReplacing(e, in, out, 64);
}

__attribute__((noinline)) const void* returnAddressOfThisCall() { return __builtin_return_address(0); }
int g_someData = 1;

}  // namespace

// A player must never be told an innocent effect crashed the program: a crash in a
// system library is blamed on the plug-in whose code called it, or through a garbage
// pointer; never on any plug-in when this program's own code made the bad call, even
// from inside a plug-in's call to the host.
TEST(FaultAttributionTest, ACrashInASystemLibraryIsBlamedOnWhoeverCalledIt) {
    // Only return addresses count as callers: not data, not the stack, not garbage.
    EXPECT_TRUE(returnsAfterACall(returnAddressOfThisCall()));
    EXPECT_FALSE(returnsAfterACall(&g_someData));
    int onStack = 0;
    EXPECT_FALSE(returnsAfterACall(&onStack));
    EXPECT_FALSE(returnsAfterACall(reinterpret_cast<const void*>(uintptr_t(0x10))));
    EXPECT_FALSE(returnsAfterACall(nullptr));
    // The call forms the 32-bit scan believes, whole and ending right at the return
    // address, and lookalikes it must not.
    struct Bytes {
        std::vector<uint8_t> code;
        bool call;
    };
    for (const Bytes& b : std::vector<Bytes>{
             {{0x90, 0x90, 0xE8, 0x10, 0x20, 0x30, 0x40}, true},        // call rel32
             {{0x90, 0xFF, 0x15, 0x00, 0x10, 0x40, 0x00}, true},        // call [abs32] (an import)
             {{0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xD0}, true},        // call eax
             {{0x90, 0x90, 0x90, 0x90, 0xFF, 0x55, 0x08}, true},        // call [ebp+8]
             {{0x90, 0x90, 0x90, 0x90, 0xFF, 0x14, 0x24}, true},        // call [esp]
             {{0x90, 0x90, 0x90, 0xFF, 0x54, 0x24, 0x08}, true},        // call [esp+8]
             {{0xFF, 0x94, 0x24, 0x00, 0x01, 0x00, 0x00}, true},        // call [esp+256]
             {{0x90, 0xFF, 0x90, 0x00, 0x01, 0x00, 0x00}, true},        // call [eax+256]
             {{0x90, 0xFF, 0x25, 0x00, 0x10, 0x40, 0x00}, false},       // jmp [abs32]
             {{0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xE0}, false},       // jmp eax
             {{0x90, 0x90, 0xE9, 0x10, 0x20, 0x30, 0x40}, false},       // jmp rel32
             {{0x90, 0x90, 0x90, 0xFF, 0x15, 0x00, 0x10}, false},       // a call cut short
             {{0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x53}, false},       // a function's first bytes
             {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, false}}) {
        EXPECT_EQ(bytesEndWithACall(b.code.data(), int(b.code.size())), b.call) << int(b.code[5]) << " " << int(b.code[6]);
    }
    EXPECT_FALSE(bytesEndWithACall(nullptr, 7));

    LoadedPlugin inSystem("TestCrashesInSystem.dll");
    LoadedPlugin garbage("TestCallsGarbage.dll");
    LoadedPlugin direct("TestCrashesInProcess.dll");
    LoadedPlugin callsHost("TestCallsHostInProcess.dll");
    for (const LoadedPlugin* p : {&inSystem, &garbage, &direct, &callsHost})
        ASSERT_NE(p->effect, nullptr) << p->path;

    // Our own call into the system, with plug-ins noted all around: nobody.
    Verdict v = judgeCrash(programReadsThroughTheSystem, nullptr);
    ASSERT_TRUE(v.faulted);
    EXPECT_EQ(v.code, DWORD(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(v.faultInAModule && !v.faultInProgram) << "the fault lies in a system library";
    EXPECT_FALSE(v.blamed) << v.path;

    // A plug-in's call into the system: that plug-in.
    v = judgeCrash(processUntilItFails, &inSystem);
    ASSERT_TRUE(v.faulted);
    EXPECT_TRUE(v.faultInAModule && !v.faultInProgram) << "the fault lies in a system library";
    EXPECT_TRUE(v.blamed);
    EXPECT_EQ(v.path, inSystem.path);

    // A plug-in's call through a garbage pointer: no code at the fault, that plug-in.
    v = judgeCrash(processUntilItFails, &garbage);
    ASSERT_TRUE(v.faulted);
    EXPECT_FALSE(v.faultInAModule);
    EXPECT_TRUE(v.blamed);
    EXPECT_EQ(v.path, garbage.path);

    // A fault in the plug-in's own code: that plug-in, as before.
    v = judgeCrash(processUntilItFails, &direct);
    ASSERT_TRUE(v.faulted);
    EXPECT_TRUE(v.blamed);
    EXPECT_EQ(v.path, direct.path);

    // The plug-in calls the host, and the host's own call into the system faults: the
    // plug-in further out on the stack is innocent.
    g_hostCrashes = true;
    v = judgeCrash(processUntilItFails, &callsHost);
    g_hostCrashes = false;
    ASSERT_TRUE(v.faulted);
    EXPECT_TRUE(v.faultInAModule && !v.faultInProgram) << "the fault lies in a system library";
    EXPECT_FALSE(v.blamed) << v.path;

    // A second instance of a plug-in runs from a private copy of its file: a crash in
    // the copy is the original's.
    char folder[MAX_PATH], copyFile[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
    std::snprintf(copyFile, sizeof copyFile, "%sfault-attribution-copy-%lu.dll", folder, GetCurrentProcessId());
    ASSERT_TRUE(CopyFileA(direct.path.c_str(), copyFile, FALSE));
    LoadedPlugin copy(copyFile, direct.path);
    ASSERT_NE(copy.effect, nullptr);
    notePluginCopy(copy.library, direct.path.c_str());
    v = judgeCrash(processUntilItFails, &copy);
    ASSERT_TRUE(v.faulted);
    EXPECT_TRUE(v.blamed);
    EXPECT_EQ(v.path, direct.path) << "the copy stands for its original";
    forgetPluginCopy(copy.library);
    v = judgeCrash(processUntilItFails, &copy);
    ASSERT_TRUE(v.faulted);
    EXPECT_FALSE(v.blamed) << "a copy forgotten stands for nothing: " << v.path;

    // Once no longer noted, the plug-in that called the system is not blamed: only
    // noted files are plug-ins running in this process.
    notePluginOutOfProcess(inSystem.path.c_str());
    v = judgeCrash(processUntilItFails, &inSystem);
    notePluginInProcess(inSystem.path.c_str());
    ASSERT_TRUE(v.faulted);
    EXPECT_FALSE(v.blamed) << v.path;
}
