#pragma once
// Numbers of the main window's resources in talvenor-live.rc: menus, commands,
// accelerators and the shell's own dialogs. The controls' artwork and the built-in
// driver's dialog are numbered in ControlIds.h.

// Menus and the accelerator table.
#define IDM_MAIN_MENU 109
#define IDM_EFFECT_MENU 146
#define IDA_MAIN_ACCELERATORS 158

// Commands of the main menu (and the toolbar, which sends the same numbers).
#define IDC_CMD_ABOUT 104
#define IDC_CMD_EXIT 105
#define IDC_CMD_PLAY_OR_PAUSE 110
#define IDC_CMD_OPEN_PERFORMANCE 32771
#define IDC_CMD_SAVE_PERFORMANCE 32772
#define IDC_CMD_NEW_PERFORMANCE 32773
#define IDC_CMD_SAVE_PERFORMANCE_AS 32774
#define IDC_CMD_OPEN_ACCOMPANIMENT 32775
#define IDC_CMD_CLOSE_ACCOMPANIMENT 32776
#define IDC_CMD_LIVE_INPUT 32777
#define IDC_CMD_METRONOME 32778
#define IDC_CMD_RECORD 32779
#define IDC_CMD_FX_MANAGER 32780
#define IDC_CMD_AUDIO_SETTINGS 32781
#define IDC_CMD_CONTROL_PANEL 32782
#define IDC_CMD_SET_VST_DIRECTORY 32783
#define IDC_CMD_REFRESH_PLUGINS 32784
#define IDC_CMD_PLAY 32797
#define IDC_CMD_PAUSE 32798
#define IDC_CMD_REWIND 32799
#define IDC_CMD_CLOSE_CHILD 32801
#define IDC_CMD_CLOSE_ALL 32802
#define IDC_CMD_NEXT_CHILD 32803
#define IDC_CMD_PREVIOUS_CHILD 32804
#define IDC_CMD_CASCADE 32805
#define IDC_CMD_TILE_VERTICALLY 32806
#define IDC_CMD_TILE_HORIZONTALLY 32807
#define IDC_CMD_TUNER 32808
#define IDC_CMD_TAP_TEMPO 32809

// The effect position's pop-up menu (first pop-up of menu 146).
#define IDC_CMD_SELECT_EFFECT 32785
#define IDC_CMD_UNLOAD_EFFECT 32786
#define IDC_CMD_EDIT_EFFECT 32787
#define IDC_CMD_MOVE_EFFECT_UP 32790
#define IDC_CMD_MOVE_EFFECT_DOWN 32791
#define IDC_CMD_OWN_PROCESS 32810
#define IDC_CMD_RESTART_EFFECT 32811

// The About dialog.
#define IDD_ABOUT 130
#define IDC_ABOUT_VERSION 1050

// The Audio Settings dialog.
#define IDD_AUDIO_SETTINGS 141
#define IDC_AUDIO_DEVICE_LIST 1000
#define IDC_AUDIO_TEMPO_TEXT 1002
#define IDC_AUDIO_TEMPO_TRACKBAR 1003
#define IDC_AUDIO_CONTROL_PANEL 1004
#define IDC_AUDIO_DISK_BUFFER 1005
#define IDC_AUDIO_DRIVER_INFO 1025
#define IDC_AUDIO_AUTO_SYNC 1030

// The tuner window's controls.
#define IDC_TUNER_MUTE_OUTPUT 1100
#define IDC_TUNER_MUTE_TAKE 1101
#define IDC_TUNER_REFERENCE 1102
#define IDC_TUNER_REFERENCE_SPIN 1103
