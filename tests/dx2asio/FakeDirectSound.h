#pragma once
// Stand-ins for DirectSound ring buffers, so the streaming loop can be driven block by
// block: each records the calls it receives and can be told to fail or to be lost.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WinInclude.h"
#include <dsound.h>

struct FakeCall {
    std::string name;
    DWORD offset;
    DWORD bytes;
    double ms;     // performance-counter time of the call, in milliseconds
    DWORD cursor;  // a ring's device cursor at a Lock
};

class FakeCallLog {
public:
    static double nowMs() {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return 1000.0 * double(now.QuadPart) / double(frequency.QuadPart);
    }
    virtual ~FakeCallLog() = default;
    void record(const char* name, DWORD offset = 0, DWORD bytes = 0, DWORD cursor = 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(FakeCall{name, offset, bytes, nowMs(), cursor});
    }
    std::vector<FakeCall> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<FakeCall> calls(const std::string& name) const {
        std::vector<FakeCall> picked;
        for (const FakeCall& c : calls())
            if (c.name == name)
                picked.push_back(c);
        return picked;
    }

private:
    mutable std::mutex mutex_;
    std::vector<FakeCall> calls_;
};

// The IUnknown of a stand-in: it counts the releases (it is never deleted by them) and
// answers IDirectSoundNotify with notify when given one, no other interface.
template <class Interface>
class FakeUnknown : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = nullptr;
        if (!notify || !IsEqualGUID(iid, IID_IDirectSoundNotify))
            return E_NOINTERFACE;
        *object = notify;
        ++notifyHandedOut;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        ++releases;
        return 1;
    }
    IDirectSoundNotify* notify = nullptr;
    std::atomic<int> releases{0};
    std::atomic<int> notifyHandedOut{0};
};

// What the playback and the capture ring share: the bytes, the device's cursor, and
// Lock and Unlock over one stretch of the ring (never two).
class FakeRing : public FakeCallLog {
public:
    FakeRing(DWORD bytes, uint8_t fill) : ring(bytes, fill) {}

    std::vector<uint8_t> ring;
    std::atomic<int> failLockAt{-1};  // the Lock call with this number (0-based) fails
    std::atomic<int> locks{0};
    std::atomic<DWORD> cursor{0};  // the play cursor, or the capture cursor (everything before it is captured)
    std::atomic<bool> standsStill{false};  // a device clock leaves this ring's cursor where it is

    // The device moves on by this many blocks of the given size.
    void advance(DWORD blocks, DWORD blockBytes) { cursor = DWORD((cursor + blocks * blockBytes) % ring.size()); }

protected:
    HRESULT lockRing(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2) {
        record("Lock", offset, bytes, cursor);
        if (locks++ == failLockAt)
            return DSERR_INVALIDCALL;
        if (offset + bytes > ring.size() || p2 || n2)
            return DSERR_INVALIDPARAM;
        *p1 = ring.data() + offset;
        *n1 = bytes;
        return DS_OK;
    }
    HRESULT unlockRing(LPVOID p1, DWORD n1) {
        record("Unlock", DWORD(static_cast<uint8_t*>(p1) - ring.data()), n1);
        return DS_OK;
    }
};

class FakePlaybackBuffer : public FakeUnknown<IDirectSoundBuffer>, public FakeRing {
public:
    explicit FakePlaybackBuffer(DWORD bytes) : FakeRing(bytes, 0xAA) {}

    std::atomic<int> lostStatusReports{0};  // GetStatus answers "lost" this many more times
    std::atomic<int> restoreFailures{0};    // Restore fails this many more times
    std::atomic<DWORD> writeLead{0};        // the write cursor runs this far ahead of the play cursor
    std::atomic<bool> failPosition{false};

    HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD play, LPDWORD write) override {
        if (failPosition)
            return DSERR_INVALIDCALL;
        if (play)
            *play = cursor;
        if (write)
            *write = DWORD((cursor + writeLead) % ring.size());
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolume(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPan(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override {
        record("GetStatus");
        if (lostStatusReports > 0) {
            --lostStatusReports;
            *status = DSBSTATUS_BUFFERLOST;
        } else {
            *status = DSBSTATUS_PLAYING | DSBSTATUS_LOOPING;
        }
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2,
                                   DWORD) override {
        return lockRing(offset, bytes, p1, n1, p2, n2);
    }
    HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD flags) override {
        record(flags & DSBPLAY_LOOPING ? "Play looping" : "Play once");
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD position) override {
        record("SetCurrentPosition", position);
        cursor = position;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX) override { return failSetFormat ? DSERR_BADFORMAT : DS_OK; }
    std::atomic<bool> failSetFormat{false};
    HRESULT STDMETHODCALLTYPE SetVolume(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFrequency(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override {
        record("Stop");
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID p1, DWORD n1, LPVOID, DWORD) override { return unlockRing(p1, n1); }
    HRESULT STDMETHODCALLTYPE Restore() override {
        record("Restore");
        if (restoreFailures > 0) {
            --restoreFailures;
            return DSERR_BUFFERLOST;
        }
        return DS_OK;
    }
};

class FakeCaptureBuffer : public FakeUnknown<IDirectSoundCaptureBuffer>, public FakeRing {
public:
    explicit FakeCaptureBuffer(DWORD bytes) : FakeRing(bytes, 0) {}

    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCBCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD capture, LPDWORD read) override {
        if (capture)
            *capture = cursor;
        if (read)
            *read = cursor;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUNDCAPTURE, LPCDSCBUFFERDESC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2,
                                   DWORD) override {
        return lockRing(offset, bytes, p1, n1, p2, n2);
    }
    HRESULT STDMETHODCALLTYPE Start(DWORD flags) override {
        record(flags & DSCBSTART_LOOPING ? "Start looping" : "Start once");
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        record("Stop");
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID p1, DWORD n1, LPVOID, DWORD) override { return unlockRing(p1, n1); }
};

class FakeNotify : public FakeUnknown<IDirectSoundNotify> {
public:
    std::vector<DSBPOSITIONNOTIFY> positions;
    bool fail = false;
    HRESULT STDMETHODCALLTYPE SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY list) override {
        if (fail)
            return DSERR_INVALIDPARAM;
        positions.assign(list, list + count);
        return DS_OK;
    }
};

// The device objects: each hands out its stand-in buffers, or fails when told to.
class FakeSound : public FakeUnknown<IDirectSound> {
public:
    explicit FakeSound(DWORD ringBytes) : primary(0), secondary(ringBytes) {}
    FakePlaybackBuffer primary;
    FakePlaybackBuffer secondary;
    bool failPrimary = false, failSecondary = false;
    int primaryHandedOut = 0, secondaryHandedOut = 0;

    HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer, LPUNKNOWN) override {
        const bool wantsPrimary = (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
        if (wantsPrimary ? failPrimary : failSecondary)
            return DSERR_GENERIC;
        *buffer = wantsPrimary ? &primary : &secondary;
        ++(wantsPrimary ? primaryHandedOut : secondaryHandedOut);
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPDIRECTSOUNDBUFFER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND, DWORD) override { return DS_OK; }
    HRESULT STDMETHODCALLTYPE Compact() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return E_NOTIMPL; }
};

class FakeSoundCapture : public FakeUnknown<IDirectSoundCapture> {
public:
    explicit FakeSoundCapture(DWORD ringBytes) : buffer(ringBytes) {}
    FakeCaptureBuffer buffer;
    bool failCreate = false;
    int handedOut = 0;

    HRESULT STDMETHODCALLTYPE CreateCaptureBuffer(LPCDSCBUFFERDESC, LPDIRECTSOUNDCAPTUREBUFFER* created,
                                                  LPUNKNOWN) override {
        if (failCreate)
            return DSERR_GENERIC;
        *created = &buffer;
        ++handedOut;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return E_NOTIMPL; }
};

// A device's clock for stand-in rings: from a thread of its own it moves the cursors
// on by one block each block period and signals each ring's notification event, as a
// sound system does, and can miss notifications or let a cursor stand still, as one
// under load or with a failing device does.
class FakeDeviceClock {
public:
    struct Ring {
        FakeRing* ring;
        HANDLE event;
    };
    FakeDeviceClock(std::vector<Ring> rings, DWORD blockBytes, double periodMs)
        : rings_(std::move(rings)), blockBytes_(blockBytes), periodMs_(periodMs) {}
    virtual ~FakeDeviceClock() { stop(); }

    std::atomic<int> dropNext{0};          // the next this many blocks notify nobody
    std::atomic<bool> dropAll{false};      // no block notifies anybody
    std::atomic<int> ticks{0};             // blocks the devices have moved on
    std::atomic<int> droppedTicks{0};

    void start() {
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        running_ = false;
        if (thread_.joinable())
            thread_.join();
    }
    // Waits until the devices have moved on by this many more blocks.
    void waitTicks(int more) {
        const int until = ticks + more;
        while (ticks < until)
            Sleep(1);
    }

private:
    void run() {
        double due = FakeCallLog::nowMs() + periodMs_;
        while (running_) {
            while (running_ && FakeCallLog::nowMs() < due)
                Sleep(1);
            due += periodMs_;
            bool notify = !dropAll;
            if (dropNext > 0) {
                --dropNext;
                notify = false;
            }
            for (const Ring& r : rings_)
                if (!r.ring->standsStill)
                    r.ring->advance(1, blockBytes_);
            ++ticks;
            if (!notify) {
                ++droppedTicks;
                continue;
            }
            for (const Ring& r : rings_)
                if (!r.ring->standsStill)
                    SetEvent(r.event);
        }
    }

    const std::vector<Ring> rings_;
    const DWORD blockBytes_;
    const double periodMs_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};
