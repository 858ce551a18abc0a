#pragma once
// The size of an editor window: the frame (an MDI child) holds the view (the
// plug-in's own editor or the parameter view) kEditorViewLeft pixels in, beside
// the programs button, and its client area is exactly the view and that margin.
// Opening an editor and a plug-in's request for a new size both go through
// resizeEditor, so a plug-in gets the same window whichever way it is sized.
// UI thread.
#include "WinInclude.h"

constexpr int kEditorViewLeft = 20;

// The outer size of `frame` whose client area is clientWidth x clientHeight, from
// the frame's own style and extended style (a child window has no menu bar).
SIZE frameSizeForClient(HWND frame, int clientWidth, int clientHeight);

// Places the view at (kEditorViewLeft, 0) with width x height and sizes the frame
// around it, without moving the frame or changing its z-order. A size outside what
// an editor rectangle can hold (0 to 32767) is taken at the nearest end.
void resizeEditor(void* frame, void* view, int width, int height);
