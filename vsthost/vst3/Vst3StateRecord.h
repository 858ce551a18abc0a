#pragma once
// The byte record of a VST3 plug-in's state: the component's part, then the edit
// controller's, each prefixed with its length. Portable.
//   "TV3S"  u32 version (1)  u32 component length, bytes  u32 controller length, bytes
// All numbers little-endian; nothing follows the controller's part.
#include <cstddef>
#include <cstdint>

#include "PluginInstance.h"

struct Vst3StateParts {
    const uint8_t* component = nullptr;
    size_t componentSize = 0;
    const uint8_t* controller = nullptr;
    size_t controllerSize = 0;
};

namespace vst3state {
constexpr uint32_t kVersion = 1;
// False when the record would pass its limit (or memory ran out); record is then empty.
bool write(ByteRecord& record, const Vst3StateParts& parts);
// False when data is not a whole record of this layout; parts then point into data.
bool read(const uint8_t* data, size_t size, Vst3StateParts* parts);
}  // namespace vst3state
