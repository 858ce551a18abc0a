#pragma once
#include "WinInclude.h"

// The recording dialog (modal, from the frame's Record command): the take's file,
// format and method, Start and Stop, and the two counters the frame's timer keeps
// up to date while a take runs. A take begins and ends with live input stopped.
// UI thread.
void runRecordingDialog(HWND frame);
bool recordingDialogIsOpen();
HWND recordingDialogWindow();
// Record start/stop from a MIDI binding: Start or Stop of the open dialog, or the
// dialog opened with its take started.
void toggleTakeFromBinding(HWND frame);
// The frame's timer: a full RAM take stops; the counters follow the take.
void updateRecordingCounters();
// The stop routine, when a take runs (the timer, after a recording error).
void stopTakeFromDialog();
// The take's path, kept while the program runs (not in the settings).
const char* recordingPath();
void setRecordingPath(const char* path);
