#pragma once
#include "WinInclude.h"

// Puts a dialog in the middle of its owner window (a dialog template's centring
// uses the middle of the screen instead), kept on the screen.
void centreOnOwner(HWND dialog);
