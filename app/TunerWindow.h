#pragma once
#include <cstdint>

#include "WinInclude.h"

#include "TunerFace.h"

// The tuner tool window (caption "Tuner"), owned by the frame like the meters: the
// tuner's display, "Mute while tuning", "Mute the take too" and the reference A.
// While it is open the shell's tuner listens and its worker analyses; closing it
// stops both, which also lets the output and the take sound again. UI thread.

constexpr char kTunerClassName[] = "TALVENORLIVE2_TUNER";

bool registerTunerClass(HINSTANCE instance);
// Hidden until opened; null on failure.
HWND createTunerWindow(HWND frame, HINSTANCE instance);

// The Tuner command: opens the window when closed, closes it when open.
void toggleTuner();
void openTuner();
void closeTuner();
bool tunerIsOpen();

// The frame's timer: a new reading (its serial changed) repaints the display.
void updateTunerWindow();

// What the window shows now and the serial of the reading shown, for tests.
bool tunerWindowShows(HWND tuner, TunerFaceText* text, uint64_t* serial);
