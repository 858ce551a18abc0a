#pragma once
// The two VU meter windows (input and output): two rows of 43 segments each, left
// channel above, right below, showing the last peak without hold or decay.
#include "WinInclude.h"

constexpr char kVuMeterClassName[] = "TALVENORLIVE2_VUMETER";
constexpr int kMeterSegments = 43;
constexpr int kMeterHotSegment = 38;  // segments from here on light in the hot colour

// Lit segments for a peak: trunc((20 x log10(peak) + 80) x 0.5375), 0..43
// (a peak of 0 or below counts as -80 dB).
int litSegments(float peak);

// Background: the pattern of bitmap 137 from instance.
bool registerVuMeterClass(HINSTANCE instance);
// Both meters, "Input VU Meter" and "Output VU Meter": hidden tool windows owned by
// the frame, sized for a 300 x 56 client area. False on failure.
bool createVuMeters(HWND frame, HINSTANCE instance);
HWND inputMeterWindow();
HWND outputMeterWindow();
void showMeters();
void hideMeters();

// The frame's timer: new peaks for both meters; a visible meter whose lit segments
// changed repaints at once.
void updateMeters(float inputLeft, float inputRight, float outputLeft, float outputRight);
// The segments a meter shows now (row 0 left, 1 right), for tests; -1 if unknown.
int meterLitSegments(HWND meter, int row);

// The position each meter recorded at its last move (the "inmeterWndPos" and
// "outmeterWndPos" settings): the window's top-left corner on the screen, so that
// moving the window there restores it exactly. False before the window first moved.
bool meterPosition(HWND meter, POINT& position);
