// The machine of a library read from its file's first bytes: the two widths found
// where the DOS header points, and every pointer or length that does not hold
// refused rather than followed.
#include <gtest/gtest.h>

#include <vector>

#include "PeHeader.h"

namespace {

std::vector<uint8_t> library(uint32_t peAt, uint16_t machine, size_t size = 1024) {
    std::vector<uint8_t> bytes(size, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i)
        bytes[0x3C + i] = uint8_t(peAt >> (8 * i));
    if (size_t(peAt) + 6 <= size) {
        bytes[peAt] = 'P';
        bytes[peAt + 1] = 'E';
        bytes[peAt + 4] = uint8_t(machine);
        bytes[peAt + 5] = uint8_t(machine >> 8);
    }
    return bytes;
}

uint16_t machineOf(const std::vector<uint8_t>& bytes) { return peMachine(bytes.data(), bytes.size()); }

}  // namespace

TEST(PeHeader, ReadsTheWidthAndBelievesNoPointer) {
    EXPECT_EQ(widthOfMachine(machineOf(library(0x80, 0x8664))), LibraryWidth::Bits64);
    EXPECT_EQ(widthOfMachine(machineOf(library(0xF8, 0x014C))), LibraryWidth::Bits32);
    EXPECT_EQ(widthOfMachine(machineOf(library(0x80, 0xAA64))), LibraryWidth::Unknown) << "another machine";
    EXPECT_EQ(machineOf(library(0x80, 0xAA64)), 0xAA64);
    EXPECT_STREQ(widthName(LibraryWidth::Bits32), "32-bit");
    EXPECT_STREQ(widthName(LibraryWidth::Bits64), "64-bit");
    EXPECT_STREQ(widthName(LibraryWidth::Unknown), "");
    EXPECT_EQ(ownWidth(), sizeof(void*) == 8 ? LibraryWidth::Bits64 : LibraryWidth::Bits32);

    // The header as far in as the reader looks, and the last place it still fits.
    EXPECT_EQ(machineOf(library(uint32_t(kPeHeadBytes - 6), 0x8664, kPeHeadBytes)), 0x8664);
    EXPECT_EQ(machineOf(library(uint32_t(kPeHeadBytes - 5), 0x8664, kPeHeadBytes)), 0) << "cut by the end";
    EXPECT_EQ(machineOf(library(uint32_t(kPeHeadBytes + 16), 0x8664, 2 * kPeHeadBytes)), 0)
        << "past the bytes looked at, though the file goes on";

    std::vector<uint8_t> notMz = library(0x80, 0x8664);
    notMz[1] = 'Y';
    std::vector<uint8_t> notPe = library(0x80, 0x8664);
    notPe[0x82] = 1;
    const std::vector<uint8_t> wrapping = library(0xFFFFFFFEu, 0x8664);
    const std::vector<uint8_t> intoDosHeader = library(0x10, 0x8664);
    const std::vector<uint8_t> pastTheEnd = library(0x500, 0x8664);
    std::vector<uint8_t> shortFile = library(0x80, 0x8664);
    shortFile.resize(63);
    const std::vector<uint8_t>* refused[] = {&notMz, &notPe, &wrapping, &intoDosHeader, &pastTheEnd, &shortFile};
    for (size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i)
        EXPECT_EQ(machineOf(*refused[i]), 0) << "case " << i;
    EXPECT_EQ(peMachine(nullptr, 100), 0);
    const std::vector<uint8_t> exact = library(0x80, 0x014C, 0x86);
    EXPECT_EQ(machineOf(exact), 0x014C) << "the file ends just after the field";
}
