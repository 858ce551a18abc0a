#pragma once
#include <cstddef>

#include "WinInclude.h"

// The performance as the shell sees it until performance files arrive: the first
// snapshot, the change test and New Performance. Nothing a user can do yet changes
// a performance, so no question is ever asked. UI thread.

// Remembers the performance as it is now, so that it is not reported as changed.
void snapshotPerformance();
bool performanceChanged();

// Asks to save a changed performance (false when the user cancels), then empties
// the effect positions, closes the accompaniment, resets the title, takes a new
// snapshot, closes every MDI child and hides the navigation bar.
bool newPerformance(HWND frame);

// "Talvenor Live 2.10", or "Talvenor Live 2.10 (name)" with the performance file's
// base name when a path is given.
void setFrameTitle(HWND frame, const char* performancePath);
void frameTitle(const char* performancePath, char* title, size_t size);

// The performance path on the command line: leading double quotes and blanks are
// skipped and the path runs to the end or to the next double quote. Empty when
// there is none.
void performancePathFromCommandLine(const char* commandLine, char* path, size_t size);

// Start-up: a performance named on the command line. Opening performances is not
// available yet; the user is told which file was not opened.
void openCommandLinePerformance(const char* path);
