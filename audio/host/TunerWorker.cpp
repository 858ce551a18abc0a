#include "TunerWorker.h"

#include "WinInclude.h"

bool TunerWorker::start() {
    if (thread_)
        return true;
    stopping_.store(false);
    thread_ = CreateThread(nullptr, 0, &TunerWorker::run, this, 0, nullptr);
    return thread_ != nullptr;
}

void TunerWorker::stop() {
    if (!thread_)
        return;
    stopping_.store(true);
    WaitForSingleObject(static_cast<HANDLE>(thread_), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread_));
    thread_ = nullptr;
}

// Below the driver's thread: the analysis may fall behind for a moment (the ring holds
// most of a second), the audio may not.
unsigned long __stdcall TunerWorker::run(void* context) {
    TunerWorker* worker = static_cast<TunerWorker*>(context);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    while (!worker->stopping_.load())
        if (!worker->tuner_.work())
            Sleep(5);
    return 0;
}
