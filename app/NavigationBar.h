#pragma once
#include "WinInclude.h"

// The accompaniment navigation bar: a floating tool window owned by the frame, shown
// while an accompaniment is open, with the file's name, Play, Pause and Rewind, the
// position slider and the accompaniment gain knob. UI thread.
constexpr char kNavigationBarClassName[] = "TALVENORLIVE2_NAVIGATE";
constexpr int kNavigationBarWidth = 293;
constexpr int kNavigationBarHeight = 150;

LRESULT CALLBACK navigationBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The gain knob, and the name and thumb position the bar shows, for tests.
HWND navigationBarKnob();
const char* navigationBarName();
int navigationBarThumbX();

// The frame's "Open Accompaniment" and "Close Accompaniment" commands.
void openAccompanimentCommand(HWND frame);
void closeAccompanimentCommand(HWND frame);
