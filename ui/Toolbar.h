#pragma once
// The frame's toolbar: eight picture buttons with hot and pressed states, each
// sending a menu command to the frame, and the tooltips of the toolbar and the
// navigation bar.
#include "WinInclude.h"

constexpr char kToolbarClassName[] = "TALVENORLIVE2_TOOLB";
constexpr int kToolbarButtonCount = 8;
constexpr int kToolbarWidth = 400;
constexpr int kToolbarHeight = 54;

enum class ToolbarButtonState { normal = 0, pressed = 1, hot = 2 };

// The command each button sends (32773 New Performance ... 32780 FX Manager).
int toolbarButtonCommand(int index);
const char* toolbarButtonTip(int index);
// Button i's area in the toolbar: x from L(i) to L(i) + 50, y from 6 to 47.
RECT toolbarButtonRect(int index);

bool registerToolbarClass(HINSTANCE instance);
// The toolbar as a visible child of the frame at (0, 0), 400 x 54; null on failure.
HWND createToolbar(HWND frame, HINSTANCE instance);
// A button's state, for tests; normal for anything out of range.
ToolbarButtonState toolbarButtonState(HWND toolbar, int index);

// The tooltip control with tools 0..7 on the toolbar's buttons and 8..11 (Play,
// Pause, Rewind, Position) on the navigation bar. The message loop relays mouse
// messages to it (TTM_RELAYEVENT). Null on failure.
HWND createToolbarTips(HWND toolbar, HWND navigationBar, HINSTANCE instance);
