#include "MidiInSystem.h"

#include <cstring>

namespace {

class WinmmMidiIn final : public MidiInSystem {
public:
    UINT deviceCount() override { return midiInGetNumDevs(); }
    bool deviceName(UINT device, char* name, size_t size) override {
        MIDIINCAPSA caps{};
        if (size == 0 || midiInGetDevCapsA(device, &caps, sizeof caps) != MMSYSERR_NOERROR)
            return false;
        // szPname is a fixed array that a driver may fill to its end without a NUL.
        size_t length = strnlen(caps.szPname, sizeof caps.szPname);
        if (length >= size)
            length = size - 1;
        std::memcpy(name, caps.szPname, length);
        name[length] = '\0';
        return true;
    }
    MMRESULT open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance) override {
        return midiInOpen(handle, device, callback, instance, CALLBACK_FUNCTION);
    }
    MMRESULT start(HMIDIIN handle) override { return midiInStart(handle); }
    MMRESULT stop(HMIDIIN handle) override { return midiInStop(handle); }
    MMRESULT reset(HMIDIIN handle) override { return midiInReset(handle); }
    MMRESULT prepareHeader(HMIDIIN handle, MIDIHDR* header) override {
        return midiInPrepareHeader(handle, header, sizeof *header);
    }
    MMRESULT unprepareHeader(HMIDIIN handle, MIDIHDR* header) override {
        return midiInUnprepareHeader(handle, header, sizeof *header);
    }
    MMRESULT addBuffer(HMIDIIN handle, MIDIHDR* header) override {
        return midiInAddBuffer(handle, header, sizeof *header);
    }
    MMRESULT close(HMIDIIN handle) override { return midiInClose(handle); }
};

WinmmMidiIn g_winmm;
MidiInSystem* g_system = &g_winmm;

}  // namespace

MidiInSystem& midiInSystem() { return *g_system; }

void setMidiInSystem(MidiInSystem* system) { g_system = system ? system : &g_winmm; }
