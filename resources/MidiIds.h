#pragma once
// Numbers of the MIDI windows' resources (midi.rc): commands, dialogs, controls.

// Commands of the main menu.
#define IDC_CMD_MIDI_SETTINGS 32830
// The menu of a control that MIDI can move.
#define IDC_CMD_MIDI_LEARN 32831
#define IDC_CMD_MIDI_FORGET 32832
#define IDC_CMD_MIDI_BINDINGS 32833

// The MIDI Settings dialog.
#define IDD_MIDI_SETTINGS 170
#define IDC_MIDI_DEVICE_LIST 1200  // list view with check boxes
#define IDC_MIDI_DEVICE_NOTE 1201

// The MIDI Bindings window.
#define IDD_MIDI_BINDINGS 171
#define IDC_MIDI_BINDINGS_LIST 1210       // list view: source, channel, control, behaviour
#define IDC_MIDI_BINDINGS_TARGET 1211     // drop-down list of the program's targets
#define IDC_MIDI_BINDINGS_LEARN 1212
#define IDC_MIDI_BINDINGS_CHANNEL 1213    // drop-down list: any, 1 to 16
#define IDC_MIDI_BINDINGS_BEHAVIOUR 1214  // drop-down list: continuous, toggle, momentary
#define IDC_MIDI_BINDINGS_REMOVE 1215
#define IDC_MIDI_BINDINGS_STATUS 1216
#define IDC_MIDI_BINDINGS_ENTRY 1217      // the setlist entry's number (1 to 1000)
