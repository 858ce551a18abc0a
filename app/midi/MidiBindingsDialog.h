#pragma once
#include "WinInclude.h"

// The MIDI Bindings window (Audio menu), modal over owner: every binding, the
// program's and the performance's, with its source, channel, target and behaviour.
// A binding is learnt for any target the program has (the FX Manager's controls,
// the commands, a setlist entry), its channel and behaviour edited, or removed. A
// binding to a plug-in no longer loaded is shown as such (the control point never
// applies it). UI thread.
void runMidiBindingsDialog(HWND owner);
