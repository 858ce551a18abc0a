#include "MidiInputPort.h"

#include <cstring>

MidiInputPort::~MidiInputPort() { close(); }

MMRESULT MidiInputPort::open(UINT device, const char* name, MidiInputFeed& feed) {
    close();
    feed_ = &feed;
    system_ = &midiInSystem();
    std::strncpy(name_, name ? name : "", kNameSize - 1);
    name_[kNameSize - 1] = '\0';
    closing_.store(false);
    vanished_.store(false);
    feed_->restart();  // a message cut off when the last device went is not finished by this one
    HMIDIIN handle = nullptr;
    MMRESULT result = system_->open(&handle, device, reinterpret_cast<DWORD_PTR>(&MidiInputPort::callback),
                                    reinterpret_cast<DWORD_PTR>(this));
    if (result != MMSYSERR_NOERROR)
        return result;
    handle_ = handle;
    for (size_t i = 0; i < kSysExBuffers && result == MMSYSERR_NOERROR; ++i) {
        MIDIHDR& header = headers_[i];
        std::memset(&header, 0, sizeof header);
        header.lpData = sysEx_[i];
        header.dwBufferLength = kSysExBufferSize;
        header.dwUser = i;
        returned_[i].store(false);
        result = system_->prepareHeader(handle_, &header);
        if (result == MMSYSERR_NOERROR) {
            prepared_[i] = true;
            result = system_->addBuffer(handle_, &header);
        }
    }
    if (result == MMSYSERR_NOERROR)
        result = system_->start(handle_);
    if (result != MMSYSERR_NOERROR)
        close();
    return result;
}

void MidiInputPort::close() {
    if (!handle_)
        return;
    closing_.store(true);
    // Stopped first, so nothing new arrives; the reset hands back every queued SysEx
    // buffer (marked done), which may then be unprepared; closing comes last.
    system_->stop(handle_);
    system_->reset(handle_);
    releaseBuffers();
    system_->close(handle_);
    handle_ = nullptr;
}

void MidiInputPort::releaseBuffers() {
    for (size_t i = 0; i < kSysExBuffers; ++i) {
        if (prepared_[i])
            system_->unprepareHeader(handle_, &headers_[i]);
        prepared_[i] = false;
        returned_[i].store(false);
    }
}

void MidiInputPort::requeueSysExBuffers() {
    if (!handle_ || closing_.load())
        return;
    for (size_t i = 0; i < kSysExBuffers; ++i)
        if (prepared_[i] && returned_[i].exchange(false, std::memory_order_acquire))
            system_->addBuffer(handle_, &headers_[i]);
}

bool MidiInputPort::takeVanished() { return vanished_.exchange(false); }

void CALLBACK MidiInputPort::callback(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                      DWORD_PTR param2) {
    if (instance)
        reinterpret_cast<MidiInputPort*>(instance)->deliver(message, param1, param2);
}

void MidiInputPort::deliver(UINT message, DWORD_PTR param1, DWORD_PTR param2) {
    switch (message) {
    case MIM_DATA:
    case MIM_MOREDATA:
        received_.fetch_add(1, std::memory_order_relaxed);
        feed_->shortMessage(uint32_t(param1), uint32_t(param2));
        break;
    case MIM_LONGDATA:
    case MIM_LONGERROR: {
        // A SysEx buffer came back (full, finished, or flushed by a reset). Only a
        // header of ours is taken, found by its place, never by what it says.
        const MIDIHDR* header = reinterpret_cast<const MIDIHDR*>(param1);
        for (size_t i = 0; i < kSysExBuffers; ++i)
            if (header == &headers_[i]) {
                const DWORD recorded = headers_[i].dwBytesRecorded;
                sysExBytes_.fetch_add(recorded <= kSysExBufferSize ? recorded : kSysExBufferSize,
                                      std::memory_order_relaxed);
                returned_[i].store(true, std::memory_order_release);
            }
        break;
    }
    case MIM_CLOSE:
        if (!closing_.load())
            vanished_.store(true);
        break;
    default:  // MIM_OPEN, MIM_ERROR (a malformed short message: nothing to take)
        break;
    }
}
