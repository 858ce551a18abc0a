#include "PeHeader.h"

namespace {

constexpr size_t kDosHeaderBytes = 64;
constexpr size_t kPointerAt = 0x3C;  // e_lfanew
constexpr size_t kSignatureBytes = 4;
constexpr size_t kMachineBytes = 2;  // the first field of the file header
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;

uint32_t le32(const uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

}  // namespace

uint16_t peMachine(const uint8_t* head, size_t size) {
    if (!head || size < kDosHeaderBytes || head[0] != 'M' || head[1] != 'Z')
        return 0;
    const size_t looked = size < kPeHeadBytes ? size : kPeHeadBytes;
    // Compared as a size with what remains: no sum that could wrap.
    const size_t at = le32(head + kPointerAt);
    if (at < kDosHeaderBytes || at > looked || looked - at < kSignatureBytes + kMachineBytes)
        return 0;
    if (head[at] != 'P' || head[at + 1] != 'E' || head[at + 2] != 0 || head[at + 3] != 0)
        return 0;
    return uint16_t(head[at + 4] | head[at + 5] << 8);
}

LibraryWidth widthOfMachine(uint16_t machine) {
    switch (machine) {
    case kMachineI386: return LibraryWidth::Bits32;
    case kMachineAmd64: return LibraryWidth::Bits64;
    default: return LibraryWidth::Unknown;
    }
}

const char* widthName(LibraryWidth width) {
    switch (width) {
    case LibraryWidth::Bits32: return "32-bit";
    case LibraryWidth::Bits64: return "64-bit";
    case LibraryWidth::Unknown: return "";
    }
    return "";
}

LibraryWidth ownWidth() { return sizeof(void*) == 8 ? LibraryWidth::Bits64 : LibraryWidth::Bits32; }
