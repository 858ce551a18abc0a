#pragma once
// The program's user texts by their string id, for code on both platforms: in the
// Windows builds from the program's string table resource, natively from the same
// script's table compiled in (so that tests there see the texts users see).
#include <cstddef>

// Copies text id into out (always NUL-terminated); false when there is none such.
bool stringTableText(int id, char* out, size_t size);
