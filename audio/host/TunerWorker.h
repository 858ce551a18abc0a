#pragma once
#include <atomic>

#include "TunerTap.h"

// The thread that analyses what the tuner hears, while the tuner listens: the driver
// thread only fills the tuner's ring. UI thread for start and stop.
class TunerWorker {
public:
    explicit TunerWorker(TunerTap& tuner) : tuner_(tuner) {}
    ~TunerWorker() { stop(); }
    TunerWorker(const TunerWorker&) = delete;
    TunerWorker& operator=(const TunerWorker&) = delete;

    bool start();  // false when no thread could be made
    void stop();
    bool running() const { return thread_ != nullptr; }

private:
    static unsigned long __stdcall run(void* context);

    TunerTap& tuner_;
    void* thread_ = nullptr;
    std::atomic<bool> stopping_{false};
};
