#pragma once
#include <cstdint>

#include "DeckBuffers.h"
#include "WaveFileState.h"

// The recorder's work for one block of the live chain, on the driver thread.

// UI thread, when a take starts (its format set): the converter's tables from the
// common host rates and the one last seen to the take's rate. False when memory is short.
bool prepareTakeConverter(WaveFileState& take, uint32_t lastHostRate);

// Converts the live channels to the take's rate and channel layout with the gain: a
// mono take of two live channels holds their mean, a stereo take of one live channel
// has it on both. The decode buffers then hold the take's frames. Returns how many:
// the converter carries the fraction of a frame a block leaves to the next one.
int32_t convertForTake(WaveFileState& take, DeckBuffers& buffers, float* const* channels, int32_t channelCount,
                       int32_t frames, float hostRate, float gain);

// Encodes that many converted frames into the encoded block; returns its bytes.
uint32_t encodeTakeBlock(const WaveFileState& take, DeckBuffers& buffers, int32_t frames);

// Appends the encoded block to a RAM take, shortened to whole frames when it reaches
// the capacity. Returns the bytes appended.
uint32_t appendToRamTake(WaveFileState& take, const DeckBuffers& buffers, uint8_t* ramTake, uint32_t blockBytes);
