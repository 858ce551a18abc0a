#include "StringTable.h"

#include <cstdio>

namespace {

struct Entry {
    int id;
    const char* text;
};

// Generated at build time from the program's resource script.
const Entry kTable[] = {
#include "StringTableEntries.inc"
};

}  // namespace

bool stringTableText(int id, char* out, size_t size) {
    if (!out || size == 0)
        return false;
    out[0] = '\0';
    for (const Entry& entry : kTable)
        if (entry.id == id)
            return std::snprintf(out, size, "%s", entry.text) >= 0;
    return false;
}
