#include "ProAudioThread.h"

ProAudioThread::ProAudioThread() {
    avrt_ = LoadLibraryA("avrt.dll");
    if (!avrt_)
        return;
    typedef HANDLE(WINAPI * Join)(LPCWSTR, LPDWORD);
    Join join = reinterpret_cast<Join>(reinterpret_cast<void*>(GetProcAddress(avrt_, "AvSetMmThreadCharacteristicsW")));
    revert_ = reinterpret_cast<Revert>(reinterpret_cast<void*>(GetProcAddress(avrt_, "AvRevertMmThreadCharacteristics")));
    DWORD taskIndex = 0;
    if (join && revert_)
        task_ = join(L"Pro Audio", &taskIndex);
}

ProAudioThread::~ProAudioThread() {
    if (task_)
        revert_(task_);
    if (avrt_)
        FreeLibrary(avrt_);
}
