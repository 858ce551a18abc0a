#pragma once
// Shared by the driver host's tests: registering the test driver in the test
// prefix's registry, steering it, and an engine set up to run transparently.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxRecorder.h"
#include "TestDriverControl.h"

// The registry of the test prefix: HKEY_LOCAL_MACHINE "software\asio" and the COM
// classes of the test driver.
namespace testregistry {
void removeAsioKey();
// A complete entry: subkey name, its "clsid" and "description" values, and the COM
// class that points at the test driver DLL.
void registerDriver(const std::string& subkey, const std::string& description, uint8_t variant);
// Writes a value of subkey as given (creating the subkey), for broken entries.
void writeValue(const std::string& subkey, const char* name, const std::string& text);
void writeBinaryValue(const std::string& subkey, const char* name, const std::vector<uint8_t>& bytes);
std::string clsidText(uint8_t variant);
std::string testDriverPath();
}  // namespace testregistry

TestDriverState driverState();
TestDriverConfig driverConfig();
void configureDriver(void (*change)(TestDriverConfig&));
// Waits until the driver has completed at least count more callbacks than now.
bool waitForCallbacks(int count, int timeoutMs = 10000);

// Floats from a driver block of a 32-bit float channel.
std::vector<float> floatsOf(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> lastBlock(int info);

// A fresh prefix state for every test: COM initialised, the error flags clear, the
// test driver at its defaults and registered as the one installed driver
// "Talvenor Test ASIO", and every message box recorded instead of shown.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the engine now (its driver list reads the registry as it is), with
    // settings under which the chain passes its input through unchanged.
    LiveEngine& makeEngine(LiveEngine::CounterReader counter = nullptr);
    // The engine with the test driver open.
    LiveEngine& openTestDriver();

    std::unique_ptr<LiveEngine> engine_;
    LiveSettings settings_;
    std::unique_ptr<MessageBoxRecorder> boxes_;
};
