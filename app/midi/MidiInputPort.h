#pragma once
// One open MIDI input device: opened with its callback, its SysEx buffers prepared
// and queued, started; on destruction stopped, reset, its buffers unprepared and
// closed, in that order. What the device sends goes to a feed of the engine's MIDI
// control point, which this port alone feeds (from the device's callback thread).
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "MidiInSystem.h"
#include "MidiInputFeed.h"

class MidiInputPort {
public:
    static constexpr size_t kNameSize = MAXPNAMELEN;
    static constexpr size_t kSysExBuffers = 4;
    static constexpr size_t kSysExBufferSize = 1024;

    MidiInputPort() = default;
    virtual ~MidiInputPort();  // closes
    MidiInputPort(const MidiInputPort&) = delete;
    MidiInputPort& operator=(const MidiInputPort&) = delete;

    // UI thread: opens device (its winmm index now) under name, feeding feed, and
    // starts it. The answer is winmm's: MMSYSERR_NOERROR, or why it failed (the port
    // stays closed). The feed must outlive the port's open time.
    MMRESULT open(UINT device, const char* name, MidiInputFeed& feed);
    // UI thread: stop, reset, unprepare, close. Nothing more arrives afterwards.
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    const char* name() const { return name_; }

    // UI thread, every tick: gives the SysEx buffers the device has filled back to it
    // (winmm forbids doing so inside the callback). Their contents are not used.
    void requeueSysExBuffers();
    // UI thread: true once, when the device went away by itself (its driver closed
    // it: unplugged, or the driver stopped).
    bool takeVanished();

    // Any thread: what arrived so far (for the settings dialog and tests).
    uint64_t messagesReceived() const { return received_.load(std::memory_order_relaxed); }
    uint64_t sysExBytesReceived() const { return sysExBytes_.load(std::memory_order_relaxed); }

    // The function winmm calls on its own thread (CALLBACK_FUNCTION, instance = the
    // port). It never blocks, allocates or locks, and calls no winmm function.
    static void CALLBACK callback(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                  DWORD_PTR param2);

private:
    void deliver(UINT message, DWORD_PTR param1, DWORD_PTR param2);
    void releaseBuffers();

    MidiInputFeed* feed_ = nullptr;
    MidiInSystem* system_ = nullptr;  // the one that opened the device
    HMIDIIN handle_ = nullptr;
    char name_[kNameSize] = "";
    MIDIHDR headers_[kSysExBuffers] = {};
    bool prepared_[kSysExBuffers] = {};
    char sysEx_[kSysExBuffers][kSysExBufferSize] = {};
    std::atomic<bool> returned_[kSysExBuffers] = {};  // filled by the device, not yet given back
    std::atomic<bool> closing_{false};   // our own close: its MIM_CLOSE is expected
    std::atomic<bool> vanished_{false};  // a MIM_CLOSE we did not ask for
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> sysExBytes_{0};
};
