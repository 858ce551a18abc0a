#pragma once
// A bell of the bridge as Windows rings it: an auto-reset event, waited for together
// with the other side's process, so that a side that is gone is seen at once.
#include "BridgeCall.h"
#include "WinInclude.h"

namespace bridge {

class WindowsBell final : public Doorbell {
public:
    WindowsBell() = default;
    ~WindowsBell() override {
        if (event_)
            CloseHandle(event_);
    }
    WindowsBell(const WindowsBell&) = delete;
    WindowsBell& operator=(const WindowsBell&) = delete;

    // Takes the event; peer is the other side's process (not owned).
    void attach(HANDLE event, HANDLE peer) {
        event_ = event;
        peer_ = peer;
    }
    bool ready() const { return event_ != nullptr; }
    // The waiting thread owns windows (the bridge's UI thread, with the plug-in's
    // editor): their messages are dispatched while it waits.
    void dispatchMessagesWhileWaiting() { dispatches_ = true; }
    // The waiting thread is the program's UI thread: messages other threads send to
    // its windows (the system's, as the bridge's window comes and goes) are answered
    // while it waits, since their senders wait for them; posted messages and input
    // wait, so that nothing of the user's runs inside a call.
    void answerSentMessagesWhileWaiting() { answersSent_ = true; }
    void ring() override { SetEvent(event_); }
    Wake wait(uint32_t microseconds) override {
        const HANDLE handles[2] = {event_, peer_};
        // Windows waits in milliseconds: rounded up, a deadline is never cut short.
        const DWORD ms = DWORD((uint64_t(microseconds) + 999) / 1000);
        const DWORD count = peer_ ? 2 : 1;
        if (dispatches_ || answersSent_)
            return waitDispatching(handles, count, ms);
        const DWORD result = WaitForMultipleObjects(count, handles, FALSE, ms);
        if (result == WAIT_OBJECT_0)
            return Wake::Rung;
        if (result == WAIT_TIMEOUT)
            return Wake::TimedOut;
        return Wake::PeerGone;  // the process ended, or the handles are no more
    }

private:
    Wake waitDispatching(const HANDLE* handles, DWORD count, DWORD ms) {
        const DWORD start = GetTickCount();
        for (;;) {
            const DWORD waited = GetTickCount() - start;
            const DWORD left = waited >= ms ? 0 : ms - waited;
            const DWORD result = MsgWaitForMultipleObjectsEx(count, handles, left, dispatches_ ? QS_ALLINPUT : QS_SENDMESSAGE,
                                                             dispatches_ ? MWMO_INPUTAVAILABLE : 0);
            if (result == WAIT_OBJECT_0)
                return Wake::Rung;
            if (result == WAIT_TIMEOUT)
                return Wake::TimedOut;
            if (result != WAIT_OBJECT_0 + count)
                return Wake::PeerGone;
            MSG message;
            if (!dispatches_)
                PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // answers what was sent
            else
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            if (left == 0)
                return Wake::TimedOut;
        }
    }

    HANDLE event_ = nullptr;
    bool dispatches_ = false;
    bool answersSent_ = false;
    HANDLE peer_ = nullptr;
};

// The names a bridge's region and bells go by: base, then what each is.
inline void bridgeObjectName(wchar_t* out, size_t size, const wchar_t* base, const wchar_t* what) {
    _snwprintf(out, size, L"%ls-%ls", base, what);
    out[size - 1] = L'\0';
}

constexpr const wchar_t* kBellNames[4] = {L"ui-to", L"ui-from", L"audio-to", L"audio-from"};

}  // namespace bridge
