#pragma once
// The Windows multimedia MIDI input functions the program calls, behind one seam:
// the real ones (winmm), or a test's stand-in that plays the devices and calls the
// very callback a device would (MIM_DATA words, SysEx buffers, MIM_CLOSE). Nothing
// above this seam knows which it talks to.
#include "WinInclude.h"
#include <mmsystem.h>

class MidiInSystem {
public:
    virtual ~MidiInSystem() = default;

    // UI thread: the devices present now, and the name of one (false when the index
    // is no longer valid: a device unplugged since the count was taken).
    virtual UINT deviceCount() = 0;
    virtual bool deviceName(UINT device, char* name, size_t size) = 0;

    // UI thread: midiInOpen with CALLBACK_FUNCTION, and the rest of a device's life.
    // Each answers winmm's MMRESULT.
    virtual MMRESULT open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance) = 0;
    virtual MMRESULT start(HMIDIIN handle) = 0;
    virtual MMRESULT stop(HMIDIIN handle) = 0;
    virtual MMRESULT reset(HMIDIIN handle) = 0;
    virtual MMRESULT prepareHeader(HMIDIIN handle, MIDIHDR* header) = 0;
    virtual MMRESULT unprepareHeader(HMIDIIN handle, MIDIHDR* header) = 0;
    virtual MMRESULT addBuffer(HMIDIIN handle, MIDIHDR* header) = 0;
    virtual MMRESULT close(HMIDIIN handle) = 0;
};

// The one in use: winmm's, unless a test has put its own in place.
MidiInSystem& midiInSystem();
// Tests: the system used from now on (null: winmm's again). Set it before the
// devices are listed and opened, and put winmm's back only once they are closed.
void setMidiInSystem(MidiInSystem* system);

// The callback type winmm calls (MidiInProc).
using MidiInCallback = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
