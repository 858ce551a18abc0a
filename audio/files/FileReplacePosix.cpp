#include "FileReplace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

void say(char* detail, size_t size, const char* format, const char* text, int number = 0) {
    if (detail && size)
        std::snprintf(detail, size, format, text, std::strerror(number));
}

bool writeAll(int file, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(file, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

// The same steps as on Windows, for the native builds: complete on the disk first.
bool replaceFileContents(const char* path, const uint8_t* data, size_t size, char* detail, size_t detailSize) {
    const std::string temporary = std::string(path) + kReplaceTemporarySuffix;
    const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) {
        say(detail, detailSize, "%s could not be created (%s).", temporary.c_str(), errno);
        return false;
    }
    const bool written = writeAll(file, data, size) && ::fsync(file) == 0;
    const int writeError = errno;
    if (::close(file) != 0 || !written) {
        ::unlink(temporary.c_str());
        say(detail, detailSize, "%s could not be written (%s).", temporary.c_str(), writeError);
        return false;
    }
    if (std::rename(temporary.c_str(), path) != 0) {
        const int moveError = errno;
        ::unlink(temporary.c_str());
        say(detail, detailSize, "%s could not be replaced (%s).", path, moveError);
        return false;
    }
    return true;
}
