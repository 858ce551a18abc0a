#pragma once
// The calling thread scheduled as audio while the object lives: in the system's "Pro
// Audio" class where it has one (avrt.dll), which raises it above every ordinary thread
// of the machine; where it has none, the priority the caller set stays. Back to
// ordinary scheduling when the object goes. Windows; made and destroyed on the same
// thread.
#include "WinInclude.h"

class ProAudioThread {
public:
    ProAudioThread();
    ~ProAudioThread();
    ProAudioThread(const ProAudioThread&) = delete;
    ProAudioThread& operator=(const ProAudioThread&) = delete;

    bool joinedProAudio() const { return task_ != nullptr; }

private:
    typedef BOOL(WINAPI* Revert)(HANDLE);
    HMODULE avrt_ = nullptr;
    HANDLE task_ = nullptr;
    Revert revert_ = nullptr;
};
