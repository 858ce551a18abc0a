#pragma once
// The CPU usage display in the frame's bottom strip: a label, a bar of up to 100
// pixels and the load as text.
#include "WinInclude.h"

// load: tenths of a percent as the driver host measures it (-100 without a
// performance counter). Percent shown: load x 0.1 limited to 0..100.
double cpuLoadPercent(long load);
// "%.1f %%" of the percent, e.g. "52.3 %".
void formatCpuLoad(long load, char* text, int size);
// Width in pixels of the bar for a load, 0..100.
int cpuBarWidth(long load);

// Draws the display with its top at y (the frame's client height - 25).
void paintCpuUsage(HDC dc, int y, long load);

// The frame's timer: draws the display into the frame's bottom strip at once when
// the shown load (a tenth of a percent) differs from what it drew last; true when it
// drew. The frame's own paint handler still calls paintCpuUsage.
bool updateCpuUsage(HWND frame, long load);
