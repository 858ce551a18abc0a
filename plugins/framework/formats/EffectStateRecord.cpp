#include "EffectStateRecord.h"

#include <cmath>
#include <cstring>

namespace effectstate {

namespace {

const uint8_t kMagic[4] = {'T', 'L', 'F', 'X'};

void put32(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value >> 16);
    at[3] = uint8_t(value >> 24);
}

uint32_t get32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

uint32_t hashOf(const uint8_t* data, size_t size) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

}  // namespace

size_t recordSize(uint32_t programs, uint32_t parameters) {
    return kHeaderBytes + size_t(programs) * parameters * 4 + 4;
}

void write(const Layout& layout, uint32_t currentProgram, const float* values, uint8_t* out) {
    std::memcpy(out, kMagic, 4);
    put32(out + 4, kVersion);
    put32(out + 8, layout.tag);
    put32(out + 12, layout.programs);
    put32(out + 16, layout.parameters);
    put32(out + 20, currentProgram);
    const size_t count = size_t(layout.programs) * layout.parameters;
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &values[i], 4);
        put32(out + kHeaderBytes + 4 * i, bits);
    }
    const size_t body = kHeaderBytes + 4 * count;
    put32(out + body, hashOf(out, body));
}

bool read(const Layout& layout, const uint8_t* data, size_t size, uint32_t* currentProgram, float* values) {
    if (!data || size != recordSize(layout.programs, layout.parameters))
        return false;
    const size_t body = size - 4;
    if (std::memcmp(data, kMagic, 4) != 0 || get32(data + 4) != kVersion || get32(data + 8) != layout.tag ||
        get32(data + 12) != layout.programs || get32(data + 16) != layout.parameters ||
        get32(data + 20) >= layout.programs || get32(data + body) != hashOf(data, body))
        return false;
    const size_t count = size_t(layout.programs) * layout.parameters;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bits = get32(data + kHeaderBytes + 4 * i);
        float value;
        std::memcpy(&value, &bits, 4);
        if (!(value >= 0.0f && value <= 1.0f))  // NaN too
            return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bits = get32(data + kHeaderBytes + 4 * i);
        std::memcpy(&values[i], &bits, 4);
    }
    *currentProgram = get32(data + 20);
    return true;
}

}  // namespace effectstate
