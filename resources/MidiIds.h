#pragma once
// Numbers of the MIDI windows' resources (midi.rc): commands, dialogs, controls.

// Commands of the main menu.
#define IDC_CMD_MIDI_SETTINGS 32830
// The menu of a control that MIDI can move.
#define IDC_CMD_MIDI_LEARN 32831
#define IDC_CMD_MIDI_FORGET 32832

// The MIDI Settings dialog.
#define IDD_MIDI_SETTINGS 170
#define IDC_MIDI_DEVICE_LIST 1200  // list view with check boxes
#define IDC_MIDI_DEVICE_NOTE 1201
