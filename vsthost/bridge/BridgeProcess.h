#pragma once
// Starting a bridge process for one plug-in (Windows): the shared region and the four
// bells made by the program, the bridge program of this edition started on them and
// put in the program's job, so that it never outlives the program.
#include <cstddef>

#include "PluginInstance.h"

// The plug-in at path, through the backend of format (its label), run by the bridge
// program at bridgePath. Null with the reason in failure when the process could not
// be started or the plug-in did not load in it. UI thread.
PluginInstance* loadInBridge(const char* bridgePath, const char* path, const char* format, const char* classId,
                             PluginHostEvents* events, char* failure, size_t failureSize);

// The bridge program beside this program's own file for plug-ins of this edition's
// width (talvenor-bridge.exe) or, with otherWidth, of the other width
// (talvenor-bridge32.exe in the 64-bit edition, talvenor-bridge64.exe in the 32-bit
// one); false when the path is too long.
bool bridgeProgramPath(char* path, size_t size, bool otherWidth = false);
