#pragma once
// The windowed program's MIDI: the engine's control point and the input devices
// that feed it, made at start-up and gone at exit, and the timer's part (devices
// that went away, SysEx buffers, the commands MIDI pressed). UI thread.
#include "WinInclude.h"

class MidiControl;
class MidiInputDevices;

// After the settings are read (the engine is not yet calling back): the control
// point goes into the chain and the chosen devices open; those not connected are
// told in one box, those that would not open in another.
bool startProgramMidi();
// After the engine is gone (no callback runs): the devices close, then the control
// point goes.
void stopProgramMidi();
// Timer: a device that went away is told once; the rest go on.
void tickProgramMidi(HWND frame);

MidiControl* programMidiControl();
MidiInputDevices* programMidiInputs();
