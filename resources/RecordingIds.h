#pragma once
// The recording dialog's resource and control numbers (recording.rc).
#define IDD_RECORDING 152
#define IDC_RECORD_MAX_TIME_LABEL 1024
#define IDC_RECORD_BROWSE 1134
#define IDC_RECORD_PATH 1135
#define IDC_RECORD_START 1136
#define IDC_RECORD_TIME 1137
#define IDC_RECORD_START_ACCOMPANIMENT 1139
#define IDC_RECORD_PLAYING_ONLY 1140
#define IDC_RECORD_TO_RAM 1141
#define IDC_RECORD_SPACE 1142
#define IDC_RECORD_FORMAT 1143
#define IDC_RECORD_MAX_TIME 1144
#define IDC_RECORD_DONE 1145
// Shown while RAM recording is chosen: why a take in memory is not safe from a crash.
#define IDC_RECORD_RAM_NOTE 1146
