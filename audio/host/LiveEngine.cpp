// The engine's life cycle and the open driver: creation through COM (or directly
// for the built-in driver), init, release, description and control panel.
#include "LiveEngine.h"

#include <cstdio>
#include <cstring>

#include <objbase.h>

#include "BuiltInDriver.h"
#include "MessageBoxes.h"

std::atomic<LiveEngine*> LiveEngine::current_{nullptr};

namespace {

bool readPerformanceCounter(uint64_t* value) {
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now))
        return false;
    *value = uint64_t(now.QuadPart);
    return true;
}

// A driver is asked to write at most 256 characters with their NUL, but nothing
// makes it stop there: the slack keeps an overlong text inside this record, and the
// 256th byte is forced to NUL before the text is used.
struct DriverText {
    char text[256];
    char slack[256];

    DriverText() { std::memset(this, 0, sizeof *this); }
    const char* terminated() {
        text[sizeof text - 1] = '\0';
        return text;
    }
};

}  // namespace

LiveEngine::LiveEngine(CounterReader counter) : counter_(counter ? counter : readPerformanceCounter) {
    uint64_t probe = 0;
    cpuLoad_ = counter_(&probe) ? 0 : -100;
    current_.store(this, std::memory_order_release);
}

LiveEngine::~LiveEngine() {
    closeDriver();
    LiveEngine* self = this;
    current_.compare_exchange_strong(self, nullptr);
}

LiveEngine::WakeupEvent::WakeupEvent() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

LiveEngine::WakeupEvent::~WakeupEvent() {
    if (event_)
        CloseHandle(event_);
}

void LiveEngine::WakeupEvent::wake() { SetEvent(event_); }
void LiveEngine::WakeupEvent::wait() { WaitForSingleObject(event_, INFINITE); }

void LiveEngine::setMeterWindows(HWND input, HWND output) {
    inputMeter_ = input;
    outputMeter_ = output;
}

void LiveEngine::attachEffects(ChainEffects* effects) {
    effects_ = effects;
    chain_.attachEffects(effects);
}

bool LiveEngine::openDriver(int32_t index) {
    if (index == currentIndex_)
        return true;
    const DriverEntry* entry = drivers_.entry(index);
    if (!entry)
        return false;
    closeDriver();

    const bool builtIn = isBuiltInDriverName(entry->description);
    IASIO* driver = nullptr;
    if (builtIn) {
        driver = createBuiltInDriver();
    } else {
        // ASIO drivers answer their own class id as the interface id.
        void* object = nullptr;
        if (FAILED(CoCreateInstance(entry->clsid, nullptr, CLSCTX_INPROC_SERVER, entry->clsid, &object)))
            return false;
        driver = static_cast<IASIO*>(object);
    }
    if (!driver)
        return false;

    driver_ = driver;
    driverIsBuiltIn_ = builtIn;
    if (!driver->init(owner_)) {
        showDriverError();
        driver_ = nullptr;
        releaseDriver(driver, builtIn);
        return false;
    }
    currentIndex_ = index;
    formatErrorLatch_ = 0;
    return true;
}

bool LiveEngine::openDriverByName(const char* description) {
    const int32_t index = drivers_.indexOf(description);
    return index < 0 ? true : openDriver(index);
}

bool LiveEngine::openDriverObject(IASIO* driver) {
    if (!driver)
        return false;
    closeDriver();
    driver->AddRef();
    driver_ = driver;
    driverIsBuiltIn_ = false;
    if (!driver->init(owner_)) {
        showDriverError();
        driver_ = nullptr;
        driver->Release();
        return false;
    }
    currentIndex_ = kUnlistedDriver;
    formatErrorLatch_ = 0;
    return true;
}

void LiveEngine::closeDriver() {
    stopLiveInput();
    if (driver_) {
        IASIO* driver = driver_;
        driver_ = nullptr;
        releaseDriver(driver, driverIsBuiltIn_);
    }
    currentIndex_ = -1;
    gate_.resume();
}

// How a driver is disposed of follows from how it was made, never from the name it
// reports: an outside driver calling itself by the built-in name must still go
// through its own Release.
void LiveEngine::releaseDriver(IASIO* driver, bool builtIn) {
    if (builtIn)
        destroyBuiltInDriver(driver);
    else
        driver->Release();
}

void LiveEngine::showDriverError() {
    if (!driver_)
        return;
    DriverText message;
    driver_->getErrorMessage(message.text);
    const char* text = message.terminated();
    if (text[0])
        showMessageBox(owner_, text, "ASIO Error", MB_OK | MB_ICONERROR);
}

void LiveEngine::describeDriver(char* text, size_t size) {
    if (!text || size == 0)
        return;
    if (!driver_) {
        std::snprintf(text, size, "No driver opened");
        return;
    }
    // A call that fails leaves its values at zero; the results are not consulted.
    long inputLatency = 0, outputLatency = 0, inputs = 0, outputs = 0;
    double rate = 0.0;
    driver_->getLatencies(&inputLatency, &outputLatency);
    driver_->getSampleRate(&rate);
    driver_->getChannels(&inputs, &outputs);
    double inputMs = 0.0, outputMs = 0.0;
    if (rate > 1.0) {
        inputMs = double(inputLatency) * 1000.0 / rate;
        outputMs = double(outputLatency) * 1000.0 / rate;
    }
    std::snprintf(text, size,
                  "Sample Rate: %g\nInput Channels: %d\nOutput Channels: %d\nInput Latency: %.1f msec\n"
                  "Output Latency: %.1f msec",
                  rate, int(inputs), int(outputs), inputMs, outputMs);
}

bool LiveEngine::openControlPanel() {
    if (!driver_)
        return true;
    if (driver_->controlPanel() != ASE_OK) {
        showDriverError();
        return false;
    }
    return true;
}

DriverFigures LiveEngine::driverFigures() const {
    DriverFigures figures = figures_;
    // The chain keeps the rate, following the driver's changes; none before a start.
    figures.sampleRate = figures_.preferredSize > 0 ? chain_.sampleRate() : 0.0;
    return figures;
}
