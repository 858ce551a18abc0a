#pragma once
// The state of one of our effects as the VST3 and CLAP builds save it: every
// program's parameter values and the current program, in a fixed little-endian
// layout that reads the same in both widths.
//
//   0  'T' 'L' 'F' 'X'
//   4  u32 version (1)
//   8  u32 effect tag (EffectDescription::stateTag)
//  12  u32 program count
//  16  u32 parameter count
//  20  u32 current program
//  24  f32 values, program by program, parameter by parameter (IEEE bits)
//  end u32 FNV-1a hash of every byte before it
#include <cstddef>
#include <cstdint>

namespace effectstate {

constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderBytes = 24;

// The bytes of a record with these counts.
size_t recordSize(uint32_t programs, uint32_t parameters);

struct Layout {
    uint32_t tag;
    uint32_t programs;
    uint32_t parameters;
};

// Writes the record into out (recordSize bytes). values holds programs x parameters.
void write(const Layout& layout, uint32_t currentProgram, const float* values, uint8_t* out);

// Reads a record written for exactly this layout; false (and nothing written) when
// it is of another effect, version or size, damaged, or holds a value outside 0..1.
bool read(const Layout& layout, const uint8_t* data, size_t size, uint32_t* currentProgram, float* values);

}  // namespace effectstate
