#pragma once
#include <cstdint>

// Little-endian fields of a RIFF file, read from its bytes.
inline uint16_t little16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t little32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
