#pragma once
#include <cstdint>

#include "DeckBuffers.h"
#include "WaveFileState.h"

// The reader's work for one block of the live chain, on the driver thread: perform a
// pending seek, read the stretch of the file that spans the block (looping to the
// start of the data within the block), decode it, convert it to the live rate and
// add it into the live channels with the gain. Mixing nothing is not a failure: no
// file, no data or not playing return true. False once a read or seek has failed;
// the failure raises the accompaniment read-error flag once and mixing stays off
// until the file is closed.
bool mixAccompanimentFrom(WaveFileState& file, DeckBuffers& buffers, bool playing, float* const* channels,
                          int32_t channelCount, int32_t frames, float hostRate, float gain);
