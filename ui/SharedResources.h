#pragma once
// The drawing resources the program's windows share: created once at start-up,
// deleted at exit (UI thread). A resource that could not be created is null, and
// drawing with it draws nothing.
#include "WinInclude.h"
#include <commctrl.h>

struct SharedResources {
    HFONT textFont;       // 8-pixel "MS Sans Serif"
    HFONT tagFont;        // the same, narrower: the small tags beside a text
    HBRUSH blackBrush;
    HPEN facePen;         // button-face colour, hides the toolbar buttons' frames
    HBRUSH meterLit;      // green
    HBRUSH meterHot;      // red, the top segments
    HBRUSH meterUnlit;
    HBRUSH panelBrush;    // pattern of the FX Manager background (bitmap 138)

    HIMAGELIST parameterHeader;  // 346 x 21, 1 image (bitmap 154)
    HIMAGELIST programsButton;   // 17 x 17, 1 image (bitmap 148)
    HIMAGELIST transportButtons; // 35 x 35, 6 images (bitmap 149)
    HIMAGELIST valueBar;         // 166 x 16, 1 image (bitmap 134)
    HIMAGELIST knobFrames;       // 27 x 27, 89 images (bitmap 142)
    HIMAGELIST switchStates;     // 33 x 16, 2 images (bitmap 143)
    HIMAGELIST toolbarActive;    // 48 x 39, 10 images (bitmap 140), pressed and hot
    HIMAGELIST toolbarNormal;    // 48 x 39, 10 images (bitmap 139)
    HIMAGELIST positionThumb;    // 14 x 30, 2 images (bitmap 151)
};

// instance: the module whose resources hold the bitmaps (the program).
void createSharedResources(HINSTANCE instance);
void deleteSharedResources();
// All members null before createSharedResources and after deleteSharedResources.
const SharedResources& sharedResources();
