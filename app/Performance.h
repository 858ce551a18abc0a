#pragma once
#include <cstddef>

#include "WinInclude.h"

// The performance as the shell keeps it: the snapshot taken when it was last opened,
// saved or emptied, the test whether it changed since, and New Performance. The
// snapshot's values live in LiveSettings. UI thread.

// Remembers the performance as it is now, so that it is not reported as changed.
void snapshotPerformance();
// In this order: nothing loaded and no accompaniment ever chosen is no change; then
// another accompaniment file, another slot or bypass in a position, or any byte of
// the plug-ins' state blob that differs from the snapshot is a change.
bool performanceChanged();

// Asks to save a changed performance (false when the user cancels, or when the save
// that Yes asked for was cancelled or failed), then empties the effect positions,
// closes the accompaniment, resets the title, takes a new snapshot, closes every MDI
// child and hides the navigation bar.
bool newPerformance(HWND frame);

// "Talvenor Live 2.10", or "Talvenor Live 2.10 (name)" with the performance file's
// base name when a path is given.
void setFrameTitle(HWND frame, const char* performancePath);
void frameTitle(const char* performancePath, char* title, size_t size);

// The performance path on the command line: leading double quotes and blanks are
// skipped and the path runs to the end or to the next double quote. Empty when
// there is none.
void performancePathFromCommandLine(const char* commandLine, char* path, size_t size);
