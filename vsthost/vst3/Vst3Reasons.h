#pragma once
// The reasons a VST3 plug-in failed, from the program's string table. Windows.
#include <cstddef>

// The text of string id into out (size bytes), with up to two inserts; a process
// without the string table gets the number. Always NUL-terminated.
void vst3Reason(char* out, size_t size, int id, const char* first = "", const char* second = "");
