#pragma once
#include "WinInclude.h"

// The accompaniment navigation bar: a floating tool window owned by the frame, shown
// while an accompaniment is open. Its name, buttons, slider and gain knob come with
// the accompaniment's own window work; until then it is the empty bar with its
// background. UI thread.
constexpr char kNavigationBarClassName[] = "TALVENORLIVE2_NAVIGATE";
constexpr int kNavigationBarWidth = 293;
constexpr int kNavigationBarHeight = 150;

LRESULT CALLBACK navigationBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
