#include "Vst3BundlePath.h"

#include <cstdio>
#include <cstring>

namespace vst3path {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The length of path without trailing separators.
size_t trimmedLength(const char* path) {
    size_t length = std::strlen(path);
    while (length > 0 && isSeparator(path[length - 1]))
        --length;
    return length;
}

bool endsWithVst3(const char* path, size_t length) {
    static const char kExtension[] = ".vst3";
    const size_t extension = sizeof kExtension - 1;
    if (length <= extension || isSeparator(path[length - extension - 1]))
        return false;
    for (size_t i = 0; i < extension; ++i) {
        char c = path[length - extension + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != kExtension[i])
            return false;
    }
    return true;
}

}  // namespace

bool recognises(const char* path) { return path && endsWithVst3(path, trimmedLength(path)); }

bool bundleBinary(const char* bundle, const char* architecture, char* out, size_t size) {
    if (!recognises(bundle) || size == 0)
        return false;
    const size_t length = trimmedLength(bundle);
    size_t nameStart = length;
    while (nameStart > 0 && !isSeparator(bundle[nameStart - 1]))
        --nameStart;
    const int written = std::snprintf(out, size, "%.*s\\Contents\\%s\\%.*s", int(length), bundle, architecture,
                                      int(length - nameStart), bundle + nameStart);
    if (written < 0 || size_t(written) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace vst3path
