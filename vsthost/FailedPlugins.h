#pragma once
// Plug-ins that crashed or stopped answering once: remembered in the registry (one
// string value per plug-in under the settings, named by its full path, holding how
// it failed) so that from then on they load in a process of their own, also after
// the program starts again, and the plug-in list marks them. UI thread.
#include <cstddef>

#include "PluginInstance.h"

constexpr char kFailedPluginsKeyFormat[] = "%s\\Failed Plug-ins";

// True when the plug-in at path failed before; how (when given) then holds what
// happened ("crashed", "quit", "stopped answering").
bool failedBefore(const char* path, char* how = nullptr, size_t howSize = 0);
// Remembers the plug-in at path and how it failed; the key is created on first use.
// The program's own effects are not remembered (see isOwnEffect). False when the
// registry could not be written.
bool rememberFailure(const char* path, const PluginIdentity& identity, const char* how);
// Forgets the plug-in's failure: the user moved it back into this process. True when
// it is no longer remembered.
bool forgetFailure(const char* path);
// The program's own three effects (Modulane, Filtrace, Overdrive), which run in this
// process unless asked otherwise.
bool isOwnEffect(const PluginIdentity& identity);
// "crashed", "quit" or "stopped answering" from a plug-in's failure sentence.
const char* failureWord(const char* sentence);
