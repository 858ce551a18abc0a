#include "HostedProgram.h"

#include "FrameWindow.h"
#include "TalvenorLive.h"
#include "WinDriver.h"

namespace windriver {

HostedProgram::~HostedProgram() {
    // A test that stopped at a failed assertion leaves whatever it changed: the
    // program's question about saving it is answered, or the wait would never end.
    if (thread_ && !closeDiscarding(20000))
        TerminateThread(thread_, 1);
    if (thread_)
        CloseHandle(thread_);
}

DWORD WINAPI HostedProgram::run(void* self) {
    auto* program = static_cast<HostedProgram*>(self);
    program->exitCode_ = runTalvenorLive(GetModuleHandleA(nullptr), program->commandLine_.c_str());
    return 0;
}

bool HostedProgram::start(const std::string& commandLine) {
    commandLine_ = commandLine;
    exitCode_ = -1;
    thread_ = CreateThread(nullptr, 0, run, this, 0, &threadId_);
    return thread_ != nullptr;
}

HWND HostedProgram::waitForFrame(DWORD timeoutMs) {
    return waitForTopWindow(GetCurrentProcessId(), kFrameClassName, nullptr, timeoutMs);
}

bool HostedProgram::waitForExit(DWORD timeoutMs) {
    if (!thread_)
        return true;
    if (WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    CloseHandle(thread_);
    thread_ = nullptr;
    return true;
}

void HostedProgram::postClose() {
    HWND frame = thread_ ? findTopWindow(GetCurrentProcessId(), kFrameClassName) : nullptr;
    if (frame)
        PostMessageA(frame, WM_CLOSE, 0, 0);
}

bool HostedProgram::close(DWORD timeoutMs) {
    postClose();
    return waitForExit(timeoutMs);
}

bool HostedProgram::closeDiscarding(DWORD timeoutMs) {
    postClose();
    const DWORD start = GetTickCount();
    while (!waitForExit(50)) {
        for (HWND box : dialogsOf(GetCurrentProcessId()))
            if (windowText(box) == "Confirm")
                pressButton(box, IDNO);
        if (GetTickCount() - start > timeoutMs)
            return false;
    }
    return true;
}

bool waitForTicks(uint32_t ticks) {
    const uint32_t start = frameTimerTicks();
    return waitUntil([&] { return frameTimerTicks() - start >= ticks; }, 5000);
}

}  // namespace windriver
