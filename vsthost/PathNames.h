#pragma once
#include <cstddef>

// The base name of a path: the text after the last backslash (or slash), cut at the
// last '.', at most 31 characters. Used for plug-in display names and matching.
void baseNameOf(const char* path, char* out, size_t outSize);

// The directory of a path, cut after its last backslash (kept). Empty when the path
// has no backslash.
void directoryOf(const char* path, char* out, size_t outSize);
