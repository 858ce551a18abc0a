#pragma once
#include <cstdint>

#include "PartTimes.h"
#include "WinInclude.h"

// The main frame: an MDI frame with the toolbar strip on top, the MDI client below
// it and the CPU display in the bottom strip. Its procedure turns menu, accelerator
// and toolbar commands into the program's operations. UI thread.

constexpr char kFrameClassName[] = "TALVENORLIVE2_MAIN";
constexpr UINT_PTR kFrameTimerId = 0;
constexpr UINT kFrameTimerPeriod = 70;  // milliseconds
constexpr int kToolbarStripHeight = 54;
constexpr int kCpuStripHeight = 25;
constexpr int kMdiClientHeightLoss = 84;  // toolbar strip, CPU strip and a gap
constexpr int kMinimumFrameSize = 200;

LRESULT CALLBACK frameWindowProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam);

// The frame's periodic work: menus, the navigation bar's mark, a running take's
// figures, the editors, the CPU display and the meters, then the error flags the
// audio threads raised, in their fixed order.
void timerTick(HWND frame);
// Ticks begun so far (a tick nested in a box of an earlier one is not counted).
uint32_t frameTimerTicks();
// How long each part of the last counted tick took.
using TickPartTimes = PartTimes<10>;
const TickPartTimes& lastTickPartTimes();

// Keeps a sizing rectangle at least 200 x 200, moving the edge being dragged.
void limitSizingRect(WPARAM edge, RECT* rect);

// The commands (WM_COMMAND of the frame); true when the command was handled here
// and should not also go to the default frame processing.
bool runFrameCommand(HWND frame, int command);
