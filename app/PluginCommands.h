#pragma once
#include "WinInclude.h"

// The plug-in scan as the shell runs it: at start-up before the frame is shown, and
// for "Refresh Plugins List" and a new VST directory. UI thread.
void scanPluginsAtStart();
void refreshPluginList(HWND owner);
