#pragma once
// The windowed program's MIDI input devices, feeding the MIDI control point
// (ProgramMidi.h): opened at start-up, closed at exit before the control point goes,
// and the timer's part (devices that went away, SysEx buffers). Also the frame
// commands MIDI bindings press. UI thread.
#include "WinInclude.h"

// After the control point exists and the frame is shown: the chosen devices open;
// those not connected are told in one box, those that would not open in another.
bool startProgramMidiInputs();
// Before the control point goes: every device closed, no callback feeds it any more.
void stopProgramMidiInputs();
// Timer: a device that went away is told once; the rest go on.
void tickProgramMidiInputs();
