#pragma once
#include <string>

#include "WinInclude.h"

// The Setlist tool window (caption "Setlist"), owned by the frame like the tuner:
// a display of the performance on stage, PREV and NEXT, the entries in their order
// with the one on stage marked, Add, Remove, up and down, the entry's autoplay,
// "Keep changes for this show", the effect tail at a switch, and New, Open, Save and
// Save As of the setlist. Closing hides it. UI thread.

constexpr char kSetlistClassName[] = "TALVENORLIVE2_SETLIST";

bool registerSetlistClass(HINSTANCE instance);
// Hidden until shown; null on failure.
HWND createSetlistWindow(HWND frame, HINSTANCE instance);
// Shows and activates it (the Setlist command).
void showSetlistWindow();
// Shows the setlist as it is now (called by the setlist after every change).
void refreshSetlistWindow();

// What the window shows, for tests: the row drawn with the on-stage mark (-1 for
// none), the row selected, and the display's text ("2 / 3  Ballad Two").
int setlistWindowMarkedRow();
int setlistWindowSelectedRow();
std::string setlistWindowDisplay();
