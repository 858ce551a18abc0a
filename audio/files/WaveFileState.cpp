#include "WaveFileState.h"

#include <cstring>

void WaveFileState::clear() {
    std::memset(path, 0, sizeof path);
    handle = nullptr;
    format = FormatRecord{};
    dataBytes = 0;
    dataOffset = 0;
    converters[0] = converters[1] = RateConverterState{0.0f, 0.0f};
    readPosition = 0u;
    seekTarget = 0u;
    seekPending.store(false, std::memory_order_relaxed);
    readError = false;
}

void WaveFileState::attach(RiffFile* file, const WaveLayout& layout) {
    handle = file;
    format = layout.format;
    dataBytes = layout.dataBytes;
    dataOffset = layout.dataOffset;
}
