#pragma once
#include "WinInclude.h"

// The "FX Manager" MDI child: it holds the FX Manager panel, created with it. UI thread.
constexpr char kFxManagerClassName[] = "TALVENORLIVE2_FXMAN";
constexpr int kFxManagerWidth = 548;
constexpr int kFxManagerHeight = 290;

LRESULT CALLBACK fxManagerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Activates the child when it exists, otherwise creates it at its last position.
void showFxManager();

// The panel inside the child; null while the child is closed.
HWND fxManagerPanel();
