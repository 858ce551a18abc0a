#pragma once
#include "ControlMailbox.h"

class MidiControl;
class SwitchPoint;

// The program's MIDI control point and performance switch, made with the other
// long-lived objects and in the engine's chain from the start (deleted after the
// engine). UI thread, except what MidiControl and SwitchPoint give other threads.
extern MidiControl* g_midiControl;
extern SwitchPoint* g_switchPoint;

bool createProgramMidi();
void deleteProgramMidi();

// What the MIDI devices, MIDI learn and the setlist act on: commands pressed and
// program changes no binding took. Called from serviceProgramMidi; null: ignored.
using ProgramMidiHandler = void (*)(const ControlEvent& event);
void setProgramMidiHandler(ProgramMidiHandler handler);

// The frame's timer: takes what MIDI control handed over; sets the plug-in
// parameters and bypasses the audio thread left to it, has the FX Manager follow
// what MIDI changed, passes commands and program changes on to the handler.
void serviceProgramMidi();
