#include "ClapFailure.h"

#include <cstdio>

#include "StringIds.h"
#include "StringTable.h"

void describeClapFailure(ClapFailure failure, const char* detail, char* text, size_t size) {
    if (!text || size == 0)
        return;
    char format[256];
    if (!stringTableText(kStrClapFirstFailure + int(failure), format, sizeof format))
        std::snprintf(format, sizeof format, "CLAP failure %d (%%s)", int(failure));
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, size, format, detail ? detail : "");
#pragma GCC diagnostic pop
}
