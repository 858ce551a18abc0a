#pragma once
#include "WinInclude.h"

// The whole program: start-up, the message loop and shut-down. commandLine is the
// text after the program's name (an optional performance path). Returns the exit
// code. instance is the module that holds the program's resources.
int runTalvenorLive(HINSTANCE instance, const char* commandLine);
