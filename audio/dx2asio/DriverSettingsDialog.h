#pragma once
// The built-in driver's settings dialog (resource 154): devices, format, block size,
// ring length and sync, saved under the driver's key. A saved change does not touch
// the running driver; it asks the host for a reset, after which the re-created driver
// loads the new values.
#include "WinInclude.h"

class Dx2AsioDriver;

// The dialog's private message that fills its controls from the driver.
constexpr UINT kFillDriverSettings = WM_USER + 23;

// Creates the dialog modeless, owned by owner, fills and shows it. The dialog's
// template comes from the program's own module. Null when it cannot be created.
HWND openDriverSettingsDialog(Dx2AsioDriver& driver, HWND owner);
