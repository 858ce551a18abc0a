// ZerevaZ-2-UDID.dll as other ASIO hosts use it: registered with regsvr32 in the
// test prefix, listed under "software\asio", created through COM by a host program
// that is not ours in anything but its source (asio_foreign_host), streaming between
// the bench's devices, and refused while another program has the driver open.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include <objbase.h>

#include "AsioProbe.h"
#include "DriverClaim.h"
#include "DriverList.h"
#include "DriverTestSupport.h"
#include "MessageBoxRecorder.h"
#include "RegistryKeys.h"

namespace {

const char kClassKey[] = "Software\\Classes\\CLSID\\{0FBD8060-41F5-11D8-BF79-B7C0DFD25873}";
const char kAsioKey[] = "software\\asio";
const char kDriverEntry[] = "software\\asio\\ZerevaZ-2-UDID wrapper";
const char kDriverName[] = "ZerevaZ-2-UDID wrapper";

std::string windowsPath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

const std::string& driverDll() {
    static const std::string path = windowsPath(TALVENOR_DRIVER_DLL);
    return path;
}

// A Windows program started with its output on a pipe.
class Child {
public:
    // A busy Wine bench now and then fails to create a process at all; that says
    // nothing of the program, so the start is tried again, saying so.
    explicit Child(const std::string& commandLine) {
        for (int attempt = 1; attempt <= 3 && !started_; ++attempt) {
            if (attempt > 1)
                Sleep(500);
            DWORD error = 0;
            if (!start(commandLine, &error))
                std::fprintf(stderr, "could not start %s (error %lu, attempt %d)\n", commandLine.c_str(),
                             static_cast<unsigned long>(error), attempt);
        }
    }
    ~Child() {
        if (started_) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        if (read_)
            CloseHandle(read_);
    }
    bool started() const { return started_; }

    // Reads output until text appears or the time runs out.
    bool waitForText(const char* text, int ms) {
        for (int waited = 0; waited <= ms; waited += 20) {
            drain();
            if (output_.find(text) != std::string::npos)
                return true;
            if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) {
                drain();
                return output_.find(text) != std::string::npos;
            }
        }
        return false;
    }
    // Waits for the end; its exit code, or 99 after a time-out.
    DWORD finish(int ms) {
        if (!started_)
            return DWORD(-1);
        for (int waited = 0; waited < ms; waited += 20) {
            drain();
            if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0)
                break;
        }
        drain();
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
        DWORD code = 99;
        GetExitCodeProcess(process_.hProcess, &code);
        drain();
        return code;
    }
    const std::string& output() const { return output_; }

private:
    bool start(const std::string& commandLine, DWORD* error) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write = nullptr;
        if (!CreatePipe(&read_, &write, &inherit, 0)) {
            *error = GetLastError();
            read_ = nullptr;
            return false;
        }
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = write;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string line = commandLine;
        started_ = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_);
        if (!started_) {
            *error = GetLastError();
            CloseHandle(read_);
            read_ = nullptr;
        }
        CloseHandle(write);
        return started_;
    }

    void drain() {
        DWORD available = 0;
        while (PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(read_, buffer, sizeof buffer, &got, nullptr) || got == 0)
                return;
            for (DWORD i = 0; i < got; ++i)
                if (buffer[i] != '\r')  // the child's stdout is in text mode
                    output_ += buffer[i];
        }
    }

    HANDLE read_ = nullptr;
    PROCESS_INFORMATION process_{};
    bool started_ = false;
    std::string output_;
};

DWORD run(const std::string& commandLine, std::string* output = nullptr, int ms = 60000) {
    Child child(commandLine);
    if (!child.started())
        return DWORD(-1);
    const DWORD code = child.finish(ms);
    if (output)
        *output = child.output();
    return code;
}

DWORD regsvr32(bool unregister) {
    return run(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + driverDll() + "\"");
}

std::string foreignHost(const char* arguments) {
    return "\"" + windowsPath(TALVENOR_FOREIGN_HOST) + "\" " + arguments;
}

template <typename Function>
Function entryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

bool keyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string readText(const char* path, const char* name) {
    char text[1024] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return "<no value>";
    return type == REG_SZ ? text : "<not text>";
}

std::vector<std::string> subkeys(const char* path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[512];
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    RegCloseKey(key);
    return names;
}

void writeOtherDriver() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\asio\\Other Card", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const char clsid[] = "{12345678-1234-1234-1234-123456789ABC}";
    RegSetValueExA(key, "CLSID", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid), sizeof clsid);
    RegSetValueExA(key, "Description", 0, REG_SZ, reinterpret_cast<const BYTE*>("Other Card"), 11);
    RegCloseKey(key);
}

std::vector<std::string> listed() {
    DriverList list;
    std::vector<std::string> names;
    for (int32_t i = 0; i < list.count(); ++i)
        names.push_back(list.entry(i)->description);
    return names;
}

// The lines of the foreign host's report from "opened" up to the streaming.
std::string answersIn(const std::string& report) {
    const size_t from = report.find("opened\n");
    const size_t to = report.find("createBuffers");
    if (from == std::string::npos)
        return "";
    return report.substr(from + 7, to == std::string::npos ? std::string::npos : to - from - 7);
}

// "name number" lines; the name of a missing one reads as NaN.
std::map<std::string, double> numbersIn(const std::string& report) {
    std::map<std::string, double> values;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t space = line.find(' ');
        if (space != std::string::npos)
            values[line.substr(0, space)] = std::strtod(line.c_str() + space + 1, nullptr);
    }
    return values;
}

double number(const std::map<std::string, double>& values, const char* name) {
    const auto found = values.find(name);
    return found == values.end() ? std::nan("") : found->second;
}

class ComDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        regsvr32(true);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAsioKey);
    }
    void TearDown() override {
        regsvr32(true);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAsioKey);
        CoUninitialize();
    }

    StoredDriverValues values_;
    MessageBoxRecorder boxes_;
};

}  // namespace

TEST_F(ComDriverTest, RegsvrWritesBothEntriesTheProgramListsItOnceAndUnregisteringRemovesEveryKey) {
    writeOtherDriver();
    ASSERT_EQ(regsvr32(false), 0u);
    EXPECT_EQ(readText(kClassKey, nullptr), kDriverName);
    const std::string classServer = std::string(kClassKey) + "\\InprocServer32";
    EXPECT_EQ(_stricmp(readText(classServer.c_str(), nullptr).c_str(), driverDll().c_str()), 0)
        << readText(classServer.c_str(), nullptr);
    EXPECT_EQ(readText(classServer.c_str(), "ThreadingModel"), "Apartment");
    EXPECT_EQ(readText(kDriverEntry, "CLSID"), "{0FBD8060-41F5-11D8-BF79-B7C0DFD25873}");
    EXPECT_EQ(readText(kDriverEntry, "Description"), kDriverName);

    // Our own program sees its built-in driver once, as the built-in entry.
    EXPECT_EQ(listed(), (std::vector<std::string>{"Other Card", kDriverName}));

    ASSERT_EQ(regsvr32(true), 0u);
    EXPECT_FALSE(keyExists(kClassKey));
    EXPECT_FALSE(keyExists(kDriverEntry));
    EXPECT_EQ(subkeys(kAsioKey), std::vector<std::string>{"Other Card"}) << "another driver's entry stays";

    // Alone under "software\asio", the entry takes the key with it.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAsioKey);
    ASSERT_EQ(regsvr32(false), 0u);
    ASSERT_TRUE(keyExists(kDriverEntry));
    ASSERT_EQ(regsvr32(true), 0u);
    EXPECT_FALSE(keyExists(kAsioKey));
    EXPECT_FALSE(keyExists(kClassKey));
    EXPECT_EQ(regsvr32(true), 0u) << "unregistering twice is no failure";
}

TEST_F(ComDriverTest, ARegistrationThatCannotBeCompletedIsReportedAndLeavesNoKeys) {
    // A volatile "software\asio" cannot hold the lasting entry, so the second half of
    // the registration fails after the class entry was written.
    HKEY asio = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kAsioKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr,
                              &asio, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(asio);

    EXPECT_NE(regsvr32(false), 0u) << "the failure reaches regsvr32's exit code";
    EXPECT_FALSE(keyExists(kClassKey));
    EXPECT_FALSE(keyExists(kDriverEntry));

    HMODULE library = LoadLibraryA(driverDll().c_str());
    ASSERT_NE(library, nullptr);
    auto registerServer = entryPoint<HRESULT(WINAPI*)()>(library, "DllRegisterServer");
    ASSERT_NE(registerServer, nullptr);
    const HRESULT result = registerServer();
    EXPECT_TRUE(FAILED(result)) << std::hex << result;
    EXPECT_FALSE(keyExists(kClassKey));
    EXPECT_TRUE(keyExists(kAsioKey)) << "a key that was there before is not taken away";
    EXPECT_TRUE(subkeys(kAsioKey).empty());
    FreeLibrary(library);
}

TEST_F(ComDriverTest, TheLibraryStaysWhileAnObjectFactoryOrLockIsHeld) {
    HMODULE library = LoadLibraryA(driverDll().c_str());
    ASSERT_NE(library, nullptr);
    auto getClassObject = entryPoint<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(library, "DllGetClassObject");
    auto canUnloadNow = entryPoint<HRESULT(WINAPI*)()>(library, "DllCanUnloadNow");
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);

    void* unused = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &unused), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(unused, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_Dx2AsioDriver, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a held factory";
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a lock";
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);

    ASSERT_EQ(getClassObject(CLSID_Dx2AsioDriver, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);  // any object will do as the would-be outer
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer, CLSID_Dx2AsioDriver, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    const GUID stranger = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(factory->CreateInstance(nullptr, stranger, &object), E_NOINTERFACE);
    IASIO* driver = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, CLSID_Dx2AsioDriver, reinterpret_cast<void**>(&driver)), S_OK);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a live driver";
    char name[64] = {};
    driver->getDriverName(name);
    EXPECT_STREQ(name, kDriverName);
    EXPECT_EQ(driver->AddRef(), 2u);
    EXPECT_EQ(driver->Release(), 1u);
    EXPECT_EQ(driver->Release(), 0u);
    EXPECT_EQ(canUnloadNow(), S_OK) << "the refused and the released objects are gone";
    FreeLibrary(library);
}

TEST_F(ComDriverTest, AForeignHostCreatesTheRegisteredDriverAndSeesWhatTheProgramSees) {
    if (!soundServerReachable())
        GTEST_SKIP() << "no sound server in this bench";
    ASSERT_EQ(regsvr32(false), 0u);
    values_.setDevices("Monitor of instrument", "speakers");
    values_.setDword("dxBufferSize", 512);
    values_.setDword("dxNumBuffers", 4);
    TonePlayer tone("instrument", 1000.0, 0.25);
    ASSERT_TRUE(tone.playing());

    std::string builtInAnswers;
    StreamReport builtIn;
    {
        DriverUnderTest driver;
        ASSERT_EQ(driver->init(nullptr), 1);
        builtInAnswers = askDriver(driver.asio());
        builtIn = streamThrough(driver.asio(), 3000);
    }
    EXPECT_EQ(builtIn.created, ASE_OK);
    EXPECT_GT(builtIn.inputTone, 0.1) << "the tone reaches the program's driver";

    CaptureRecorder speakers("Monitor of speakers");
    ASSERT_TRUE(speakers.recording());
    Child host(foreignHost("--stream 3000"));
    ASSERT_TRUE(host.started());
    EXPECT_EQ(host.finish(60000), 0u) << host.output();
    const std::string report = host.output();
    EXPECT_EQ(answersIn(report), builtInAnswers) << report;
    const std::map<std::string, double> seen = numbersIn(report);
    EXPECT_EQ(number(seen, "listed"), 1);
    EXPECT_EQ(number(seen, "init"), 1);
    EXPECT_EQ(number(seen, "preferredSize"), 512);
    EXPECT_EQ(number(seen, "outputLatency"), 2048);
    EXPECT_EQ(number(seen, "createBuffers"), ASE_OK);
    EXPECT_EQ(number(seen, "start"), ASE_OK);
    EXPECT_EQ(number(seen, "stop"), ASE_OK);
    EXPECT_EQ(number(seen, "disposeBuffers"), ASE_OK);
    // Three seconds of 512-frame blocks are 258; a loaded bench may start late.
    EXPECT_GT(number(seen, "switches"), 100) << report;
    EXPECT_GT(number(seen, "inputTone"), 0.1) << "the tone reaches the foreign host";
    EXPECT_EQ(number(seen, "release"), 0) << "the host's reference was the last";
    const std::vector<float> played = speakers.left();
    ASSERT_GT(played.size(), 44100u);
    EXPECT_GT(steadyToneLevel(played.data(), played.size(), 440.0), 0.1)
        << "the foreign host's outputs reach the speakers";
    EXPECT_EQ(boxes_.count(), 0u);
}

namespace {

// The foreign host streams for three seconds while a 1 kHz tone plays into toneSink
// and heardMonitor records: the tone has to reach the host's inputs and the host's
// 440 Hz outputs the recording.
void streamThroughTheForeignHost(const char* toneSink, const char* heardMonitor) {
    TonePlayer tone(toneSink, 1000.0, 0.25);
    ASSERT_TRUE(tone.playing());
    CaptureRecorder heard(heardMonitor);
    ASSERT_TRUE(heard.recording());
    Child host(foreignHost("--stream 3000"));
    ASSERT_TRUE(host.started());
    EXPECT_EQ(host.finish(60000), 0u) << host.output();
    const std::string report = host.output();
    const std::map<std::string, double> seen = numbersIn(report);
    EXPECT_EQ(number(seen, "init"), 1) << report;
    EXPECT_EQ(number(seen, "start"), ASE_OK) << report;
    EXPECT_GT(number(seen, "switches"), 100) << report;
    EXPECT_GT(number(seen, "inputTone"), 0.1) << "the tone played into " << toneSink << " reaches the host\n"
                                               << report;
    const std::vector<float> played = heard.left();
    ASSERT_GT(played.size(), 44100u);
    EXPECT_GT(steadyToneLevel(played.data(), played.size(), 440.0), 0.1)
        << "the host's outputs reach " << heardMonitor;
}

}  // namespace

// Installed and registered, its control panel never opened, nothing of it stored (not
// even its key): the driver streams between the system's default devices, which on
// the bench are the instrument's monitor and the speakers. Once a choice is stored,
// that choice is streamed.
TEST_F(ComDriverTest, AFreshSetUpStreamsBetweenTheDefaultDevicesAndAStoredChoiceWins) {
    if (!soundServerReachable())
        GTEST_SKIP() << "no sound server in this bench";
    ASSERT_EQ(regsvr32(false), 0u);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath), ERROR_SUCCESS);
    streamUntilTheBenchHolds([] { streamThroughTheForeignHost("instrument", "Monitor of speakers"); });

    // The other way round, neither of them the default.
    ASSERT_TRUE(createSettingsKeys());
    values_.setDevices("Monitor of speakers", "instrument");
    streamUntilTheBenchHolds([] { streamThroughTheForeignHost("speakers", "Monitor of instrument"); });
    EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(ComDriverTest, WhileOneProgramHasTheDriverOpenAnotherIsRefusedWithAReason) {
    ASSERT_EQ(regsvr32(false), 0u);
    values_.setDevices("<no driver>", "<no driver>");
    {
        DriverUnderTest program;
        ASSERT_EQ(program->init(nullptr), 1);
        DriverUnderTest sameProgram;  // a host re-creating the driver after a reset
        EXPECT_EQ(sameProgram->init(nullptr), 1);
        std::string output;
        EXPECT_EQ(run(foreignHost(""), &output), 3u) << output;
        EXPECT_NE(output.find(std::string("error ") + kDriverInUseText), std::string::npos) << output;
        EXPECT_NE(output.find("release 0"), std::string::npos) << "the refused driver is let go: " << output;
    }
    std::string output;
    EXPECT_EQ(run(foreignHost("--panel 1"), &output), 0u) << "free again once the program closed it: " << output;
    // The library carries the settings dialog the host's own module lacks.
    EXPECT_NE(output.find("controlPanel 0\npanelWindow 1\n"), std::string::npos) << output;

    // The other way round: the foreign host holds it, the program is refused.
    Child host(foreignHost("--hold 3000"));
    ASSERT_TRUE(host.waitForText("opened", 30000)) << host.output();
    {
        DriverUnderTest program;
        EXPECT_EQ(program->init(nullptr), 0);
        EXPECT_EQ(program.errorMessage(), kDriverInUseText);
    }
    EXPECT_EQ(host.finish(30000), 0u) << host.output();
    DriverUnderTest afterwards;
    EXPECT_EQ(afterwards->init(nullptr), 1) << afterwards.errorMessage();
    EXPECT_EQ(boxes_.count(), 0u);
}
