#pragma once
// "Select a Plugin": the plug-in list as a tree with the branches "Favourites" and
// "VST Plugins", and a button that moves the selected plug-in into or out of the
// favourites. UI thread.
#include <cstdint>

#include "WinInclude.h"

class EffectHost;

// Runs the dialog modally. 0 when nothing loadable was chosen (Cancel, a branch, an
// empty list); otherwise n + 1 for entry n of the list shown under "VST Plugins",
// -(n + 1) for one shown under "Favourites".
int32_t runPluginSelectDialog(HINSTANCE instance, HWND owner, EffectHost& host);
