#pragma once
#include <cstddef>

#include "WinInclude.h"

struct EffectSlot;

// Performance files (docs/performance-file.md): opening one in place of the running
// performance and saving the running one. UI thread.

enum class FileOutcome {
    Done,
    Cancelled,  // the user chose not to go on; nothing changed and nothing is shown
    Failed,     // nothing changed; detail says why
};

// Reads the whole file and loads every plug-in with its state aside, while the
// running performance goes on; asks before going on without plug-ins (or an
// accompaniment) that cannot be found. Only then are the positions exchanged, under
// the pause of processing, and the previous plug-ins unloaded.
FileOutcome openPerformanceFile(HWND owner, const char* path, char* detail, size_t detailSize);
// Writes a temporary file beside path, flushes it and puts it in the place of path,
// so that the previous file survives any failure. Done with a detail when a plug-in
// had failed and the state last kept for it was saved in place of its own.
FileOutcome savePerformanceFile(const char* path, char* detail, size_t detailSize);

// The frame's commands. On success the performance name holds the path, the title
// shows its base name and a new snapshot is taken; failures show error 34 (open)
// or 35 (save) with the reason. Save asks for a name when the performance has none
// (or askName); true when the performance was saved.
void openPerformanceCommand(HWND frame);
bool savePerformanceCommand(HWND frame, bool askName);
// Start-up: the performance named on the command line.
void openCommandLinePerformance(HWND frame, const char* path);

// Opens the file at loadPath as Open Performance does (no dialog, no error box) and
// names the performance name: a setlist entry may come back from a copy of its
// performance kept for the show, under its own file's name.
FileOutcome openPerformanceNamed(HWND frame, const char* loadPath, const char* name, char* detail, size_t detailSize);
// Whether the file at path reads as a performance this build can open; detail says
// why not. Nothing is loaded.
bool performanceFileUsable(const char* path, char* detail, size_t detailSize);

// A performance another way has put in place (a gapless switch): named name, its
// title, accompaniment windows and FX Manager shown, a new snapshot taken.
void showPerformanceOnStage(HWND frame, const char* name);
// Unloads every loaded plug-in that is none of kept (kPositions of them, null
// entries allowed) and that the performance stage does not hold.
void unloadStrays(EffectSlot* const* kept);
