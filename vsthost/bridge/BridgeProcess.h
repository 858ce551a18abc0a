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

// The bridge program beside this program's own file; false when the path is too long.
bool bridgeProgramPath(char* path, size_t size);
