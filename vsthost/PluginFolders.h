#pragma once
#include <cstddef>

// The folders where plug-in formats expect their plug-ins installed, for the scan:
// a folder under the one an environment variable names, and the entries of a
// variable holding a list of folders. Each answer ends in a backslash. False when the
// variable is not set, the entry is missing, or the answer would not fit.

// "%variable%\tail\" (tail may be empty).
bool folderUnderVariable(const char* variable, const char* tail, char* path, size_t size);
// Entry index of a ';'-separated list of folders in variable.
bool folderListEntry(const char* variable, int index, char* path, size_t size);
