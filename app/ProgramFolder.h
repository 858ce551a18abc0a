#pragma once
#include <cstddef>

// Where the program's own plug-ins are. The 32-bit edition installed beside the
// 64-bit one shares the settings key with it, so a folder stored there may be the
// other edition's, full of libraries this one cannot load: the folder the running
// program was started from decides. UI thread.

// The folder of the running program's file, ending in a backslash; false (folder
// empty) when its path does not fit.
bool runningProgramFolder(char* folder, size_t size);

// The program folder and its plug-in folder ("VST Plugins\" under it). The running
// program's folder when it has a "VST Plugins" folder of its own; otherwise (a
// program started from outside its installation) storedFolder, the one the settings
// name, as before; empty when neither is known.
void chooseProgramFolders(const char* storedFolder, char* programFolder, char* pluginFolder, size_t size);
