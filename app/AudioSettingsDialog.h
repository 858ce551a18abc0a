#pragma once
#include "WinInclude.h"

// The Audio Settings dialog (resource 141), modal over owner: the driver, the
// metronome's tempo, the disk buffer time and autoSync. Every change takes effect at
// once; Cancel undoes nothing. UI thread.
void runAudioSettingsDialog(HWND owner);

// The disk buffer field's rule: the number read, limited to 1 ... 1024.
int limitDiskBufferField(long milliseconds);
