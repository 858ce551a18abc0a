#pragma once
// The "Searching for plugins..." dialog: runs the scan on a thread of its own and
// shows the file found last; Abort stops the walk. The dialog returns only once the
// scan thread has ended, so the plug-in list can be read right after. UI thread.
#include "WinInclude.h"

struct PluginScan;

// templateId: the start-up dialog or the commands' dialog.
void runPluginScanDialog(HINSTANCE instance, HWND owner, int templateId, PluginScan& scan);
