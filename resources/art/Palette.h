#pragma once
// The colours of the program's one dark look.
#include "Canvas.h"

namespace palette {
const Rgb panel = rgb(20, 20, 30);          // every control's background
const Rgb panelRaised = rgb(30, 30, 44);
const Rgb panelEdgeLight = rgb(52, 52, 72);
const Rgb well = rgb(7, 7, 12);             // recessed displays and grooves
const Rgb text = rgb(230, 230, 255);
const Rgb label = rgb(150, 150, 185);       // engraved captions
const Rgb labelDim = rgb(95, 95, 125);
const Rgb accent = rgb(255, 168, 40);       // amber: values, lit states
const Rgb ledGreen = rgb(15, 234, 78);
const Rgb ledAmber = rgb(255, 190, 40);
const Rgb ledRed = rgb(255, 78, 43);
const Rgb metalLight = rgb(150, 152, 168);
const Rgb metalDark = rgb(40, 40, 52);
const Rgb screw = rgb(70, 70, 86);
}  // namespace palette
