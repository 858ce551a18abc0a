#pragma once
// The frame's toolbar: ten picture buttons with hot and pressed states, each
// sending a menu command to the frame (the tap button shows the tempo tapped while
// the player taps), and the tooltips of the toolbar and the navigation bar.
#include <cstdint>

#include "WinInclude.h"

constexpr char kToolbarClassName[] = "TALVENORLIVE2_TOOLB";
constexpr int kToolbarButtonCount = 10;
constexpr int kToolbarWidth = 590;
constexpr int kToolbarHeight = 54;

enum class ToolbarButtonState { normal = 0, pressed = 1, hot = 2 };

// The command each button sends (32773 New Performance ... 32780 FX Manager, then
// Tuner and Tap Tempo).
int toolbarButtonCommand(int index);
const char* toolbarButtonTip(int index);
// Button i's area in the toolbar: x from L(i) to L(i) + 50, y from 6 to 47.
RECT toolbarButtonRect(int index);

bool registerToolbarClass(HINSTANCE instance);
// The toolbar as a visible child of the frame at (0, 0), 590 x 54; null on failure.
HWND createToolbar(HWND frame, HINSTANCE instance);
// A button's state, for tests; normal for anything out of range.
ToolbarButtonState toolbarButtonState(HWND toolbar, int index);

// The metronome's tempo in hundredths of a beat per minute; while lit (the player
// taps) the tap button shows it in place of its picture, as a tap pedal's display
// does. Repaints only when something changed.
void showToolbarTempo(HWND toolbar, int32_t tempo, bool lit);
// The tempo's text ("150.0") and whether it is shown, for tests.
bool toolbarTempoShown(HWND toolbar, char* text, int size, bool* lit);

// The tooltip control with tools 0..9 on the toolbar's buttons and 10..13 (Play,
// Pause, Rewind, Position) on the navigation bar. The message loop relays mouse
// messages to it (TTM_RELAYEVENT). Null on failure.
HWND createToolbarTips(HWND toolbar, HWND navigationBar, HINSTANCE instance);
