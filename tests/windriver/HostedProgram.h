#pragma once
#include <cstdint>
#include <string>

#include "WinInclude.h"

namespace windriver {

// The whole program run on a thread of the test process, which then plays its UI
// thread: the test reaches what only the program's own process can see (its menus,
// its objects, the error flags). The test process must hold the program's resources.
class HostedProgram {
public:
    HostedProgram() = default;
    virtual ~HostedProgram();  // closes a program still running
    HostedProgram(const HostedProgram&) = delete;
    HostedProgram& operator=(const HostedProgram&) = delete;

    bool start(const std::string& commandLine);
    DWORD threadId() const { return threadId_; }
    // The frame once it is visible; null on time-out.
    HWND waitForFrame(DWORD timeoutMs);
    // Asks the frame to close and waits for the program's thread to end.
    bool close(DWORD timeoutMs);
    // The same, answering No when the program asks whether to save a changed
    // performance.
    bool closeDiscarding(DWORD timeoutMs);
    bool waitForExit(DWORD timeoutMs);
    int exitCode() const { return exitCode_; }

private:
    static DWORD WINAPI run(void* self);
    // WM_CLOSE posted to the frame, when the program runs and has one.
    void postClose();

    std::string commandLine_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    int exitCode_ = -1;
};

// Waits until the hosted frame's 70 ms timer has begun `ticks` more ticks: what a
// tick does (flags, counters, repaints) is then done. False after 5 s.
bool waitForTicks(uint32_t ticks);

}  // namespace windriver
