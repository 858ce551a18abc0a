#pragma once
#include "WinInclude.h"

// The MIDI Settings dialog (Audio menu), modal over owner: every MIDI input device
// present with a check box, and the chosen ones that are not connected now. OK opens
// the ticked devices, closes the others and keeps the choice in the registry; a
// device that would not open is told in a box. Cancel changes nothing. UI thread.
void runMidiSettingsDialog(HWND owner);
