#include "Vst3StateRecord.h"

#include <cstring>

namespace vst3state {

namespace {

constexpr uint8_t kMagic[4] = {'T', 'V', '3', 'S'};

void putU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

uint32_t getU32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool appendPart(ByteRecord& record, const uint8_t* bytes, size_t size) {
    if (size > 0xFFFFFFFFu)
        return false;
    uint8_t length[4];
    putU32(length, uint32_t(size));
    return record.append(length, 4) && (size == 0 || record.append(bytes, size));
}

}  // namespace

bool write(ByteRecord& record, const Vst3StateParts& parts) {
    record.clear();
    uint8_t header[8];
    std::memcpy(header, kMagic, 4);
    putU32(header + 4, kVersion);
    if (record.append(header, sizeof header) && appendPart(record, parts.component, parts.componentSize) &&
        appendPart(record, parts.controller, parts.controllerSize))
        return true;
    record.clear();
    return false;
}

bool read(const uint8_t* data, size_t size, Vst3StateParts* parts) {
    if (!data || size < 16 || std::memcmp(data, kMagic, 4) != 0 || getU32(data + 4) != kVersion)
        return false;
    size_t at = 8;
    const size_t componentSize = getU32(data + at);
    at += 4;
    if (componentSize > size - at || size - at - componentSize < 4)
        return false;
    const uint8_t* component = data + at;
    at += componentSize;
    const size_t controllerSize = getU32(data + at);
    at += 4;
    if (controllerSize != size - at)
        return false;
    parts->component = component;
    parts->componentSize = componentSize;
    parts->controller = data + at;
    parts->controllerSize = controllerSize;
    return true;
}

}  // namespace vst3state
