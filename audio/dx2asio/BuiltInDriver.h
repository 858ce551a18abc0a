#pragma once
#include "Asio.h"

// ZerevaZ-2-UDID, created directly in the program rather than through COM (UI thread).
IASIO* createBuiltInDriver();
// Destroys a driver made by createBuiltInDriver through its deleting destructor,
// without going through AddRef and Release (UI thread). Null does nothing.
void destroyBuiltInDriver(IASIO* driver);
