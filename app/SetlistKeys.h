#pragma once
#include "WinInclude.h"

// The keys that step through the setlist, heard by the message loop before any
// window of the program gets them: Page Down (next) and Page Up (previous), the keys
// page-turner footswitches send, whichever of the program's windows is active; and
// the arrow keys (down or right next, up or left previous) while the Setlist window
// is active, except in its tail field. A held key steps once; with Ctrl, Alt or
// Shift it is not a step. Modal boxes run loops of their own, so no step happens
// while one is open. UI thread.

// +1 (next), -1 (previous), or 0: not a step.
int setlistKeyStep(const MSG& message);
