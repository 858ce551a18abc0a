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

void WaveFileState::takeFrom(WaveFileState& other) {
    std::memcpy(path, other.path, sizeof path);
    handle = other.handle;
    format = other.format;
    dataBytes = other.dataBytes;
    dataOffset = other.dataOffset;
    converters[0] = other.converters[0];
    converters[1] = other.converters[1];
    readPosition = other.readPosition.load();
    seekTarget = other.seekTarget.load();
    seekPending.store(other.seekPending.load(std::memory_order_relaxed), std::memory_order_relaxed);
    readError = other.readError.load();
    other.clear();
}
