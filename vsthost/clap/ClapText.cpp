#include "ClapText.h"

#include <cstring>

size_t copyPluginText(char* out, size_t outSize, const char* source, size_t maxRead) {
    if (outSize == 0)
        return 0;
    size_t n = 0;
    if (source)
        while (n + 1 < outSize && n < maxRead && source[n] != '\0')
            ++n;
    if (n)
        std::memcpy(out, source, n);
    out[n] = '\0';
    return n;
}

bool pluginTextIs(const char* source, const char* wanted, size_t maxRead) {
    if (!source || !wanted)
        return false;
    const size_t length = std::strlen(wanted);
    if (length >= maxRead)
        return false;
    return std::strncmp(source, wanted, length) == 0 && source[length] == '\0';
}

bool endsWithNoCase(const char* text, const char* suffix) {
    const size_t t = std::strlen(text), s = std::strlen(suffix);
    if (s > t)
        return false;
    for (size_t i = 0; i < s; ++i) {
        char a = text[t - s + i], b = suffix[i];
        if (a >= 'A' && a <= 'Z')
            a = char(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = char(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}
