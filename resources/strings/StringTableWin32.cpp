#include "StringTable.h"

#include "WinInclude.h"

bool stringTableText(int id, char* out, size_t size) {
    if (!out || size == 0)
        return false;
    out[0] = '\0';
    return LoadStringA(GetModuleHandleA(nullptr), UINT(id), out, int(size)) > 0;
}
