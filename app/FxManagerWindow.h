#pragma once
#include "WinInclude.h"

// The "FX Manager" MDI child. Its panel of knobs, switches and effect positions comes
// with the effect windows; until then the child holds an empty panel. UI thread.
constexpr char kFxManagerClassName[] = "TALVENORLIVE2_FXMAN";
constexpr int kFxManagerWidth = 548;
constexpr int kFxManagerHeight = 290;

LRESULT CALLBACK fxManagerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Activates the child when it exists, otherwise creates it at its last position.
void showFxManager();
