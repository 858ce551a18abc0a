#include "PluginFolders.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool endWithBackslash(const char* folder, size_t length, const char* tail, char* path, size_t size) {
    if (length == 0 || !path || size == 0)
        return false;
    const bool slashed = folder[length - 1] == '\\' || folder[length - 1] == '/';
    const int written = tail && tail[0]
                            ? std::snprintf(path, size, "%.*s%s%s\\", int(length), folder, slashed ? "" : "\\", tail)
                            : std::snprintf(path, size, "%.*s%s", int(length), folder, slashed ? "" : "\\");
    return written > 0 && size_t(written) < size;
}

}  // namespace

bool folderUnderVariable(const char* variable, const char* tail, char* path, size_t size) {
    const char* folder = variable ? std::getenv(variable) : nullptr;
    return folder && endWithBackslash(folder, std::strlen(folder), tail, path, size);
}

bool folderListEntry(const char* variable, int index, char* path, size_t size) {
    const char* list = variable ? std::getenv(variable) : nullptr;
    if (!list || index < 0)
        return false;
    for (int at = 0;; ++at) {
        const char* end = std::strchr(list, ';');
        const size_t length = end ? size_t(end - list) : std::strlen(list);
        if (length == 0) {
            // An empty entry (";;" or a trailing ';') names no folder and is skipped.
            --at;
        } else if (at == index) {
            return endWithBackslash(list, length, nullptr, path, size);
        }
        if (!end)
            return false;
        list = end + 1;
    }
}
