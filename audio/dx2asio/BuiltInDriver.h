#pragma once
#include "Asio.h"

// The built-in driver's description: its entry in the driver list, its name, and the
// name the user and the stored settings choose it by.
extern const char kBuiltInDriverName[23];  // 22 characters and the NUL

// ZerevaZ-2-UDID, created directly in the program rather than through COM (UI thread).
IASIO* createBuiltInDriver();
// Destroys a driver made by createBuiltInDriver through its deleting destructor,
// without going through AddRef and Release (UI thread). Null does nothing.
void destroyBuiltInDriver(IASIO* driver);
