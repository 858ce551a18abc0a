#pragma once
#include "PartTimes.h"
#include "WinInclude.h"

// The whole program: start-up, the message loop and shut-down. commandLine is the
// text after the program's name (an optional performance path). Returns the exit
// code. instance is the module that holds the program's resources.
int runTalvenorLive(HINSTANCE instance, const char* commandLine);

// How long each part of the last start-up took, up to the frame shown and painted.
using StartUpPartTimes = PartTimes<9>;
const StartUpPartTimes& lastStartUpPartTimes();
