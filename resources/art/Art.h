#pragma once
// The pieces of artwork, each painted at the size its resource needs.
#include "Canvas.h"

// A knob at (cx, cy) scaled to `size` pixels across (27 for the control's frames),
// turned to value 0..1 (-135 to +135 degrees), with its amber value arc.
void drawKnob(Canvas& canvas, float cx, float cy, float size, float value, bool withArc);

Canvas knobStrip();          // 89 frames of 27 x 27
Canvas switchStates();       // off and on, 33 x 16 each
Canvas positionThumb();      // idle and dragging, 14 x 30 each
Canvas transportButtons();   // play, playing, pause, paused, rewind, rewind held; 35 x 35 each

Canvas toolbarStrip(bool active);  // 10 buttons of 48 x 39

Canvas valueBar();           // 166 x 16
Canvas meterPanel();         // 300 x 56
Canvas fxPanel();            // 548 x 272
Canvas navigationPanel();    // 293 x 130
Canvas mdiBackground();      // 64 x 64 tile
Canvas editorBackground();   // 64 x 64 tile, light: the parameter view draws black text
Canvas parameterHeader();    // 346 x 21
Canvas programsButton();     // 17 x 17

// The program icon at a square size, with its opacity as a second canvas (grey levels).
void programIcon(int size, Canvas& colour, Canvas& opacity);
