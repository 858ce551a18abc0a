#pragma once
#include <cstdint>

#include "WinInclude.h"

// Tap tempo in the frame: the toolbar's button, or T while the frame itself holds
// the keyboard (not a child window, where T may be typed), sets the metronome's
// tempo from the taps. UI thread.

// A first press of T (not a repeat, no Ctrl, Alt or Shift) to the frame, its MDI
// client or its toolbar while the frame is the active window.
bool isTapTempoKey(const MSG& message);
// One tap at a message time (milliseconds of GetMessageTime's clock).
void tapTempoAt(DWORD messageTime);
// True while the last tap is recent enough to be continued, at this time.
bool tempoTapping(DWORD now);
