// The four callbacks the driver calls on its own thread. They allocate nothing and
// take no lock; their only system calls are the two counter reads and the driver's
// outputReady (and the wakeup of a pause that waits for the block to end).
#include <cmath>
#include <cstring>

#include "ErrorFlags.h"
#include "LiveEngine.h"
#include "SampleFormat.h"

void LiveEngine::bufferSwitch(long doubleBufferIndex, ASIOBool directProcess) {
    LiveEngine* engine = current_.load(std::memory_order_acquire);
    if (!engine || !engine->driver_)
        return;
    ASIOTime time;
    std::memset(&time, 0, sizeof time);
    if (engine->driver_->getSamplePosition(&time.timeInfo.samplePosition, &time.timeInfo.systemTime) == ASE_OK)
        time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
    bufferSwitchTimeInfo(&time, doubleBufferIndex, directProcess);
}

ASIOTime* LiveEngine::bufferSwitchTimeInfo(ASIOTime*, long doubleBufferIndex, ASIOBool) {
    LiveEngine* engine = current_.load(std::memory_order_acquire);
    if (engine && engine->driver_)
        engine->processBuffer(doubleBufferIndex);
    return nullptr;
}

void LiveEngine::sampleRateDidChange(ASIOSampleRate sampleRate) {
    LiveEngine* engine = current_.load(std::memory_order_acquire);
    // A rate that is no rate would turn the filters and gate ramps into NaN, and an
    // absurd one overflow the counts derived from it: both are ignored.
    if (!engine || !believableRate(sampleRate))
        return;
    engine->chain_.setSampleRate(sampleRate);
}

long LiveEngine::asioMessage(long selector, long value, void*, double*) {
    LiveEngine* engine = current_.load(std::memory_order_acquire);
    return engine ? engine->answerMessage(selector, value) : 0;
}

// The requests only raise flags: the main window's timer acts on them on the UI thread.
long LiveEngine::answerMessage(long selector, long value) {
    switch (selector) {
    case kAsioSelectorSupported:
        switch (value) {
        case kAsioEngineVersion:
        case kAsioResetRequest:
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo:
        case kAsioSupportsTimeCode:
        case kAsioMMCCommand:
            return 1;
        default:
            return 0;
        }
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
        raiseErrorFlag(kFlagDriverReset);
        return 1;
    case kAsioBufferSizeChange:
        // The callbacks keep the size the buffers were made with until the restart.
        raiseErrorFlag(kFlagRestartLiveInput);
        return 1;
    case kAsioResyncRequest:
        if (autoSync_)
            raiseErrorFlag(kFlagRestartLiveInput);
        return 1;
    case kAsioLatenciesChanged:
    case kAsioSupportsTimeInfo:
        return 1;
    default:
        return 0;
    }
}

// One driver channel per entry from the channel's sample type; false (with the
// error flag raised and the latch set) for a type the chain cannot convert.
bool LiveEngine::buildChannels(ChannelBuffer* channels, int first, int count, long half) {
    for (int i = 0; i < count; ++i) {
        ChannelBuffer& channel = channels[i];
        const int32_t endian = formatFromSampleType(channelInfos_[first + i].type, channel.format, chain_.sampleRate());
        if (endian < 0) {
            raiseErrorFlag(kFlagUnsupportedFormat);
            formatErrorLatch_ = 1;
            return false;
        }
        channel.bigEndian = endian == 1 ? 1 : 0;
        channel.position = static_cast<uint8_t*>(bufferInfos_[first + i].buffers[half]);
    }
    return true;
}

void LiveEngine::processBuffer(long doubleBufferIndex) {
    uint64_t start = 0;
    const bool timed = counter_(&start);

    // The block is marked busy before the gate's flag is read: a pause that has
    // returned never overlaps processing (ProcessingGate).
    if (gate_.enter() && !formatErrorLatch_ && (doubleBufferIndex == 0 || doubleBufferIndex == 1)) {
        // Zero-filled, so the entry after the last used one has a null position.
        ChannelBuffer inputs[kMaxUsed + 1] = {};
        ChannelBuffer outputs[kMaxUsed + 1] = {};
        const int usedInputs = int(figures_.usedInputs);
        if (buildChannels(inputs, 0, usedInputs, doubleBufferIndex) &&
            buildChannels(outputs, usedInputs, int(figures_.usedOutputs), doubleBufferIndex)) {
            chain_.processBlock(inputs, outputs, int32_t(figures_.preferredSize));
            processedBlocks_ = processedBlocks_ + 1;
        }
    }
    if (figures_.outputReadySupported)
        driver_->outputReady();
    gate_.leave();

    if (timed && cpuLoad_ >= 0)
        updateCpuLoad(start);
}

// The share of the time since the previous callback's start spent in this one, in
// tenths of a percent. Differences are taken on the counter's low 32 bits.
void LiveEngine::updateCpuLoad(uint64_t start) {
    uint64_t end = 0;
    if (!counter_(&end))
        return;
    const uint32_t begin = uint32_t(start);
    const uint32_t previous = uint32_t(previousStart_);
    double load = 1.0;
    if (begin != previous)
        load = double(uint32_t(uint32_t(end) - begin)) / double(uint32_t(begin - previous));
    double tenths = load * 1000.0;
    if (!(tenths >= 0.0))
        tenths = 0.0;
    if (tenths > 1000.0)
        tenths = 1000.0;
    cpuLoad_ = int16_t(tenths);
    previousStart_ = start;
}
