#pragma once
#include "ControlMailbox.h"

// What MIDI control hands the setlist (ProgramMidi's handler): next and previous
// performance and "Setlist Entry N" pressed, and program changes no binding took,
// program N selecting entry N + 1. Other commands are left alone. UI thread.
void handleSetlistMidi(const ControlEvent& event);
