#include "PathNames.h"

#include <cstring>

namespace {

const char* afterLastSeparator(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/')
            name = p + 1;
    return name;
}

}  // namespace

void baseNameOf(const char* path, char* out, size_t outSize) {
    if (outSize == 0)
        return;
    out[0] = '\0';
    if (!path)
        return;
    const char* name = afterLastSeparator(path);
    size_t length = std::strlen(name);
    const char* dot = std::strrchr(name, '.');
    if (dot)
        length = size_t(dot - name);
    if (length > 31)
        length = 31;
    if (length > outSize - 1)
        length = outSize - 1;
    std::memcpy(out, name, length);
    out[length] = '\0';
}

void directoryOf(const char* path, char* out, size_t outSize) {
    if (outSize == 0)
        return;
    out[0] = '\0';
    if (!path)
        return;
    const char* cut = std::strrchr(path, '\\');
    if (!cut)
        return;
    size_t length = size_t(cut - path) + 1;
    if (length > outSize - 1)
        length = outSize - 1;
    std::memcpy(out, path, length);
    out[length] = '\0';
}
