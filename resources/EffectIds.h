#pragma once
// Numbers of the effect windows' resources (effects.rc): the FX Manager panel, the
// plug-in selection and the scan dialogs.

// The FX Manager panel, a modeless child dialog inside the "FX Manager" window.
#define IDD_FX_MANAGER 144
#define IDC_FX_OUTGAIN_KNOB 1008
#define IDC_FX_INGAIN_KNOB 1009
#define IDC_FX_GATE_ATTACK_KNOB 1010
#define IDC_FX_GATE_RELEASE_KNOB 1011
#define IDC_FX_GATE_THRESH_KNOB 1012
#define IDC_FX_DC_FILTER_SWITCH 1007
#define IDC_FX_FIRST_BYPASS_SWITCH 1013  // 1013 + r: on while position r plays
#define IDC_FX_FIRST_NAME 1021           // 1021 + r: the name of position r's effect
#define IDC_FX_GATE_ATTACK_TEXT 1029
#define IDC_FX_INGAIN_TEXT 1030
#define IDC_FX_GATE_RELEASE_TEXT 1031
#define IDC_FX_OUTGAIN_TEXT 1032
#define IDC_FX_GATE_THRESH_TEXT 1033
#define IDC_FX_POSITION_INFO 1034        // the position under the mouse: its effect, vendor, format

// "Select a Plugin": the tree of favourites and plug-ins, and the favourites button.
#define IDD_SELECT_PLUGIN 145
#define IDC_SELECT_TREE 1022
#define IDC_SELECT_FAVOURITE 3

// "Searching for plugins...": at start-up, and for the commands that rescan.
#define IDD_SCAN_AT_START 153
#define IDD_SCAN 147
#define IDC_SCAN_STATUS 1023
