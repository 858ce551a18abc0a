#include "Vst3Text.h"

#include <cstring>

#include "Vst3Abi.h"

namespace vst3text {

namespace {

size_t utf8Length(uint32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

void putUtf8(uint32_t c, char* out) {
    if (c < 0x80) {
        out[0] = char(c);
    } else if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
    } else {
        out[0] = char(0xF0 | (c >> 18));
        out[1] = char(0x80 | ((c >> 12) & 0x3F));
        out[2] = char(0x80 | ((c >> 6) & 0x3F));
        out[3] = char(0x80 | (c & 0x3F));
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Where word w's byte b (most significant first) sits in the stored ID: V3_ID's order.
size_t storedIndex(size_t w, size_t b) {
#if V3_COM_COMPAT
    if (w == 0)
        return 3 - b;
    if (w == 1)
        return b < 2 ? 5 - b : 9 - b;
#endif
    return w * 4 + b;
}

}  // namespace

void fromUtf16(const int16_t* text, size_t units, char* out, size_t size) {
    if (size == 0)
        return;
    size_t used = 0;
    for (size_t i = 0; text && i < units && text[i] != 0; ++i) {
        uint32_t c = uint16_t(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && uint16_t(text[i + 1]) >= 0xDC00 &&
            uint16_t(text[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        const size_t length = utf8Length(c);
        if (used + length > size - 1)
            break;
        putUtf8(c, out + used);
        used += length;
    }
    out[used] = '\0';
}

void toUtf16(const char* text, int16_t* out, size_t units) {
    if (units == 0)
        return;
    size_t used = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text ? text : "");
    while (*p && used + 1 < units) {
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        c &= more == 3 ? 0x07 : more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
        for (; more > 0 && (*p & 0xC0) == 0x80; --more)
            c = (c << 6) | (*p++ & 0x3F);
        if (c >= 0x10000) {
            if (used + 2 >= units)
                break;
            c -= 0x10000;
            out[used++] = int16_t(0xD800 + (c >> 10));
            out[used++] = int16_t(0xDC00 + (c & 0x3FF));
        } else {
            out[used++] = int16_t(c);
        }
    }
    out[used] = 0;
}

void fromField(const char* field, size_t fieldSize, char* out, size_t size) {
    if (size == 0)
        return;
    size_t length = 0;
    while (field && length < fieldSize && field[length] != '\0')
        ++length;
    if (length > size - 1)
        length = size - 1;
    if (length)
        std::memcpy(out, field, length);
    out[length] = '\0';
}

void classIdText(const uint8_t id[16], char text[33]) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t w = 0; w < 4; ++w) {
        for (size_t b = 0; b < 4; ++b) {
            const uint8_t byte = id[storedIndex(w, b)];
            text[w * 8 + b * 2] = kDigits[byte >> 4];
            text[w * 8 + b * 2 + 1] = kDigits[byte & 15];
        }
    }
    text[32] = '\0';
}

bool classIdFromText(const char* text, uint8_t id[16]) {
    if (!text || std::strlen(text) != 32)
        return false;
    for (size_t w = 0; w < 4; ++w) {
        for (size_t b = 0; b < 4; ++b) {
            const int high = hexValue(text[w * 8 + b * 2]);
            const int low = hexValue(text[w * 8 + b * 2 + 1]);
            if (high < 0 || low < 0)
                return false;
            id[storedIndex(w, b)] = uint8_t(high * 16 + low);
        }
    }
    return true;
}

bool hasCategory(const char* field, size_t fieldSize, const char* name) {
    const size_t nameLength = std::strlen(name);
    size_t start = 0;
    for (size_t i = 0; i <= fieldSize; ++i) {
        const bool end = i == fieldSize || field[i] == '\0';
        if (end || field[i] == '|') {
            if (i - start == nameLength && std::memcmp(field + start, name, nameLength) == 0)
                return true;
            start = i + 1;
        }
        if (end)
            break;
    }
    return false;
}

}  // namespace vst3text
