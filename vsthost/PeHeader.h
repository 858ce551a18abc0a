#pragma once
// The machine a Windows library was built for, read from the first bytes of its file
// (the DOS header's pointer to the PE signature and the file header after it). The
// bytes are the plug-in file's, so every offset is checked against what was read.
// Portable: no platform call, tested natively.
#include <cstddef>
#include <cstdint>

// As many bytes of the file's beginning as the reader looks at; a PE header further
// in is not believed.
constexpr size_t kPeHeadBytes = 4096;

enum class LibraryWidth { Unknown, Bits32, Bits64 };

// The machine field (IMAGE_FILE_MACHINE_*), or 0 when the bytes are not a PE file's
// beginning.
uint16_t peMachine(const uint8_t* head, size_t size);
// 32-bit (i386) or 64-bit (AMD64); Unknown for any other machine or none.
LibraryWidth widthOfMachine(uint16_t machine);
// "32-bit", "64-bit" or "" for Unknown.
const char* widthName(LibraryWidth width);
// This build's own width.
LibraryWidth ownWidth();
