#pragma once
#include <string>

#include "Setlist.h"
#include "WinInclude.h"

// The setlist the program has open (one at a time): its file, its entries in their
// order, the entry on stage, and the switches between entries. Paths given and
// returned here are in the ANSI code page, as the rest of the program keeps them;
// the entries hold UTF-8, as the file does. Every box goes through the program's
// error box or its confirmation. UI thread.

// What the window shows of one entry.
struct SetlistEntryView {
    std::string name;      // the performance's file name without its extension
    std::string path;      // its file (ANSI)
    bool autoplay = false;
    bool unusable = false; // missing or damaged when last looked at
    bool missing = false;  // of those, the ones whose file is not there
    bool kept = false;     // changes to it are kept for this show
};

int setlistEntryCount();
SetlistEntryView setlistEntryView(int index);
// The entry on stage: the running performance is its file; -1 when none is.
int currentSetlistEntry();
// The setlist's file, "" for one never saved.
const char* setlistFilePath();
// Changed since it was opened or saved (entries added, removed, moved, options).
bool setlistChanged();

// "Keep changes for this show": changes to a performance of the setlist are kept
// (in a copy for the run) when the setlist moves on and come back with the entry,
// without the question whether to save them. Off for every new or opened setlist.
bool keepChangesForShow();
void setKeepChangesForShow(bool keep);

// File commands; each asks to save a changed setlist first, and false means the
// user cancelled or it failed (the box was shown). Opening names the performances
// that are missing or damaged in one box and keeps the rest usable; then, when
// bringOnFirst, the first usable entry comes on stage.
bool newSetlist(HWND frame);
bool openSetlistCommand(HWND frame);
bool openSetlistFile(HWND frame, const char* path, bool bringOnFirst);
bool saveSetlistCommand(HWND frame, bool askName);
// The question before the program closes (and before another setlist replaces this
// one): changes kept for the show are offered for their performances' files, then a
// changed setlist for its own. False when the user cancelled or a save failed.
bool askToSaveChangedSetlist(HWND frame);
// Forgets the setlist and deletes the copies kept for the show (program exit).
void closeSetlistSession();

// Editing. Add asks for performance files (several at once) and puts them after
// the entry at, or at the end for -1; returns the index of the first added or -1.
int addSetlistEntriesCommand(HWND owner, int at);
int addSetlistEntry(const char* path, int at);
bool removeSetlistEntry(int index);
// Moves the entry one place (-1 up, +1 down); the index it has afterwards, or -1.
int moveSetlistEntry(int index, int step);
bool setSetlistEntryAutoplay(int index, bool autoplay);

// Switching. A changed running performance is asked about first (Yes saves it, No
// drops the changes, Cancel stays), unless changes are kept for this show and it is
// the setlist's own. An entry whose performance fails to open is named in an error
// box, marked unusable and skipped by next and previous. True when index is on stage.
bool switchToSetlistEntry(HWND frame, int index);
// The next (+1) or previous (-1) usable entry; from no entry on stage, the first.
bool stepSetlist(HWND frame, int step);

// The effect tail at a switch, 0 to 10 s (default 3), kept in the settings.
int setlistTailSeconds();
void setSetlistTailSeconds(int seconds);
int limitTailSeconds(int seconds);

// A path ending in ".tlset" (any case): a setlist rather than a performance.
bool isSetlistPath(const char* path);

// The text conversions at the file's edge.
std::string ansiToUtf8(const std::string& text);
std::string utf8ToAnsi(const std::string& text);
