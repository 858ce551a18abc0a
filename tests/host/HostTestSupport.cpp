#include "HostTestSupport.h"

#include <cstring>

#include <objbase.h>

#include "ErrorFlags.h"

namespace testregistry {

namespace {

const char kAsioKey[] = "software\\asio";

HKEY createKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    EXPECT_EQ(result, ERROR_SUCCESS) << path;
    return result == ERROR_SUCCESS ? key : nullptr;
}

void setString(HKEY key, const char* name, const std::string& text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
}

}  // namespace

std::string testDriverPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("talvenor_test_asio.dll"), path, sizeof path);
    return path;
}

std::string clsidText(uint8_t variant) {
    const CLSID id = testDriverClsid(variant);
    WCHAR wide[64] = {};
    StringFromGUID2(id, wide, 64);
    char text[64] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

void removeAsioKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAsioKey); }

void registerDriver(const std::string& subkey, const std::string& description, uint8_t variant) {
    const std::string clsid = clsidText(variant);
    if (HKEY key = createKey(HKEY_LOCAL_MACHINE, std::string(kAsioKey) + "\\" + subkey)) {
        setString(key, "clsid", clsid);
        setString(key, "description", description);
        RegCloseKey(key);
    }
    if (HKEY server = createKey(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32")) {
        setString(server, nullptr, testDriverPath());
        setString(server, "ThreadingModel", "Both");
        RegCloseKey(server);
    }
}

void writeValue(const std::string& subkey, const char* name, const std::string& text) {
    if (HKEY key = createKey(HKEY_LOCAL_MACHINE, std::string(kAsioKey) + "\\" + subkey)) {
        setString(key, name, text);
        RegCloseKey(key);
    }
}

void writeBinaryValue(const std::string& subkey, const char* name, const std::vector<uint8_t>& bytes) {
    if (HKEY key = createKey(HKEY_LOCAL_MACHINE, std::string(kAsioKey) + "\\" + subkey)) {
        RegSetValueExA(key, name, 0, REG_BINARY, bytes.data(), DWORD(bytes.size()));
        RegCloseKey(key);
    }
}

}  // namespace testregistry

TestDriverState driverState() {
    TestDriverState state;
    TestDriver_getState(&state);
    return state;
}

TestDriverConfig driverConfig() {
    TestDriverConfig config;
    TestDriver_getConfig(&config);
    return config;
}

void configureDriver(void (*change)(TestDriverConfig&)) {
    TestDriverConfig config = driverConfig();
    change(config);
    TestDriver_configure(&config);
}

bool waitForCallbacks(int count, int timeoutMs) {
    const int target = driverState().callbacks + count;
    for (int waited = 0; waited < timeoutMs; waited += 2) {
        if (driverState().callbacks >= target)
            return true;
        Sleep(2);
    }
    return false;
}

std::vector<float> floatsOf(const std::vector<uint8_t>& bytes) {
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

std::vector<uint8_t> lastBlock(int info) {
    std::vector<uint8_t> bytes(1 << 16);
    bytes.resize(size_t(TestDriver_lastBlock(info, bytes.data(), int32_t(bytes.size()))));
    return bytes;
}

void HostTest::SetUp() {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    boxes_.reset(new MessageBoxRecorder);
    clearErrorFlag(~0u);
    TestDriver_reset();
    testregistry::removeAsioKey();
    testregistry::registerDriver("Talvenor Test ASIO", "Talvenor Test ASIO", 1);
    // Gate and DC filter off, unity gains: the output is the input.
    settings_.gateThresh = 0.0f;
    settings_.centerAmp = 0;
}

void HostTest::TearDown() {
    engine_.reset();
    EXPECT_EQ(driverState().instancesAlive, 0) << "a driver instance outlived the engine";
    boxes_.reset();
    testregistry::removeAsioKey();
    clearErrorFlag(~0u);
    CoUninitialize();
}

LiveEngine& HostTest::makeEngine(LiveEngine::CounterReader counter) {
    engine_.reset(new LiveEngine(counter));
    engine_->chain().attachSettings(&settings_);
    return *engine_;
}

LiveEngine& HostTest::openTestDriver() {
    LiveEngine& engine = engine_ ? *engine_ : makeEngine();
    EXPECT_TRUE(engine.openDriverByName("Talvenor Test ASIO"));
    EXPECT_EQ(engine.currentDriver(), 0);
    return engine;
}
