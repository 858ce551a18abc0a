#include "WaveFileState.h"

#include <cstring>

#include "DeckBuffers.h"

void WaveFileState::clear() {
    std::memset(path, 0, sizeof path);
    handle = nullptr;
    format = FormatRecord{};
    dataBytes = 0;
    dataOffset = 0;
    converter.release();
    seam = SeamState{};
    readPosition = 0u;
    seekTarget = 0u;
    seekPending.store(false, std::memory_order_relaxed);
    readError = false;
}

bool WaveFileState::attach(RiffFile* file, const WaveLayout& layout, uint32_t lastHostRate) {
    handle = file;
    format = layout.format;
    dataBytes = layout.dataBytes;
    dataOffset = layout.dataOffset;
    seam = SeamState{};
    return converter.prepare(format.samplesPerSec, true, lastHostRate, DeckBuffers::kMaxFrames);
}
