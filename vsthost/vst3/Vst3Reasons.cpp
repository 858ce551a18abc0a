#include "Vst3Reasons.h"

#include <cstdio>

#include "StringTable.h"

void vst3Reason(char* out, size_t size, int id, const char* first, const char* second) {
    if (!out || size == 0)
        return;
    char format[512];
    if (!stringTableText(id, format, sizeof format))
        std::snprintf(format, sizeof format, "VST3 failure %d (%%s %%s)", id);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(out, size, format, first ? first : "", second ? second : "");
#pragma GCC diagnostic pop
}
