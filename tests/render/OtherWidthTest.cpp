// A plug-in of the other Windows width, bridged by itself: the other edition's
// Overdrive rendered by this edition's rig (through the other width's bridge) sounds
// sample for sample as the other edition's own rig renders it in process. Where the
// other edition is not built, or this machine cannot run programs of its width, the
// test does not run and says why; the program then exits 77, which ctest reports as
// skipped (and scripts/run-tests names with its reason).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "RenderTestSupport.h"
#include "WavFiles.h"
#include "WinInclude.h"

namespace {

const std::string kOtherBin = TALVENOR_OTHER_WIDTH_BIN;
#ifdef _WIN64
const char kOtherWidth[] = "32-bit";
const char kOtherBridge[] = "talvenor-bridge32.exe";
#else
const char kOtherWidth[] = "64-bit";
const char kOtherBridge[] = "talvenor-bridge64.exe";
#endif

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string besideThisProgram(const char* name) {
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    std::string path = own;
    return path.substr(0, path.find_last_of('\\') + 1) + name;
}

// Runs a program and waits for it; its exit code, or -1 with the system's error when
// it could not be started.
int runProgram(const std::string& commandLine, DWORD timeoutMs, std::string& why) {
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &info)) {
        why = "it could not be started (system error " + std::to_string(GetLastError()) + ")";
        return -1;
    }
    DWORD code = 0;
    if (WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(info.hProcess, 1);
        why = "it did not end in time";
        code = DWORD(-1);
    } else {
        GetExitCodeProcess(info.hProcess, &code);
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return int(code);
}

void notRun(const std::string& reason) { std::printf("bridge test not run: %s\n", reason.c_str()); }

}  // namespace

TEST(OtherWidth, TheOtherEditionsOverdriveSoundsTheSameThroughItsBridge) {
    const std::string bridge = kOtherBin + "talvenor-bridge.exe";
    const std::string rig = kOtherBin + "talvenor-rig.exe";
    const std::string overdrive = kOtherBin + "VST Plugins\\Overdrive.dll";
    for (const std::string& needed : {bridge, rig, overdrive})
        if (!exists(needed)) {
            notRun(std::string("the ") + kOtherWidth + " edition is not built (" + needed + " is missing)");
            GTEST_SKIP() << needed << " is missing";
        }
    // The other width's bridge beside this program, under its name, as each edition ships it.
    const std::string installed = besideThisProgram(kOtherBridge);
    ASSERT_TRUE(CopyFileA(bridge.c_str(), installed.c_str(), FALSE)) << installed;
    // Started without the program's arguments, a bridge that runs says so and ends with 2.
    std::string why;
    const int answer = runProgram("\"" + installed + "\"", 20000, why);
    if (answer != 2) {
        notRun(std::string("this machine cannot run ") + kOtherWidth + " programs (" + kOtherBridge + ": " +
               (answer == -1 ? why : "it ended with " + std::to_string(answer) + " as it started") + ")");
        GTEST_SKIP() << kOtherBridge << " does not run here";
    }

    DryTake take;
    take.rate = 44100;
    take.bits = 24;
    for (int c = 0; c < 2; ++c) {
        std::vector<float> v(44100);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = 0.5f * float(std::sin(0.0314 * double(i) * (c + 1))) * (i % 4410 < 2205 ? 1.0f : 0.2f);
        take.channels.push_back(quantise(v, 24));
    }
    ASSERT_TRUE(writeDryTake("other-width-dry.wav", take));
    const std::vector<std::string> settings{"--buffer", "256", "--fx", "0=" + overdrive, "--param", "0:0=0.7",
                                            "--tail", "0"};
    // The other edition, in process.
    std::string command = "\"" + rig + "\" --render other-width-dry.wav --out other-width-own.wav";
    for (const std::string& s : settings)
        command += " \"" + s + "\"";
    ASSERT_EQ(runProgram(command, 120000, why), 0) << command << ": " << why;
    // This edition, bridged by itself.
    std::vector<std::string> arguments{"--render", "other-width-dry.wav", "--out", "other-width-bridged.wav"};
    arguments.insert(arguments.end(), settings.begin(), settings.end());
    int result = -1;
    const std::string printed = capturedOutput([&] { return runRig(arguments); }, &result);
    ASSERT_EQ(result, 0) << printed;
    EXPECT_NE(printed.find("(VST 2, in its own process)"), std::string::npos) << printed;
    WavContent own, bridged;
    ASSERT_TRUE(readWav("other-width-own.wav", own));
    ASSERT_TRUE(readWav("other-width-bridged.wav", bridged));
    ASSERT_EQ(bridged.frames(), own.frames());
    EXPECT_EQ(bridged.samples, own.samples) << "sample for sample";
}

// Skipped and nothing failed: 77, which ctest counts as not run.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    const testing::UnitTest& tests = *testing::UnitTest::GetInstance();
    if (failed == 0 && tests.skipped_test_count() > 0 && tests.successful_test_count() == 0)
        return 77;
    return failed;
}
