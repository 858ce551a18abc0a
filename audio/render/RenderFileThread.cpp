#include "RenderFileThread.h"

#include <cstdlib>

namespace {

// A side that finds its ring empty (or full) yields a few times, then sleeps: the
// other side usually needs far less than a millisecond.
class Waiting {
public:
    void once() {
        Sleep(turns_ < 50 ? 0 : 1);
        ++turns_;
    }

private:
    int turns_ = 0;
};

}  // namespace

RenderFileThread::RenderFileThread(RenderInput& input, RenderOutput& output, float hostRate)
    : input_(input), output_(output), hostRate_(hostRate) {}

RenderFileThread::~RenderFileThread() {
    stop();
    release();
}

bool RenderFileThread::allocate(int32_t blockFrames) {
    release();
    const size_t perBlock = size_t(blockFrames) * kChannels;
    memory_ = static_cast<float*>(std::calloc(perBlock * 2 * kBlocks, sizeof(float)));
    if (!memory_)
        return false;
    blockFrames_ = blockFrames;
    float* next = memory_;
    for (int32_t b = 0; b < kBlocks; ++b)
        for (long ch = 0; ch < kChannels; ++ch) {
            inputs_[b].channels[ch] = next;
            next += blockFrames;
            outputs_[b][ch] = next;
            next += blockFrames;
        }
    readPosition_ = 0;
    inputEnded_ = false;
    inputsRead_ = inputsUsed_ = outputsQueued_ = outputsWritten_ = 0;
    writeFailed_ = false;
    written_ = 0;
    return true;
}

void RenderFileThread::release() {
    std::free(memory_);
    memory_ = nullptr;
    blockFrames_ = 0;
}

bool RenderFileThread::start() {
    if (thread_)
        return true;
    if (!memory_)
        return false;
    quit_ = false;
    thread_ = CreateThread(nullptr, 0, &RenderFileThread::threadMain, this, 0, nullptr);
    return thread_ != nullptr;
}

void RenderFileThread::stop() {
    if (!thread_)
        return;
    quit_ = true;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI RenderFileThread::threadMain(void* self) {
    static_cast<RenderFileThread*>(self)->run();
    return 0;
}

// Everything queued is written before the next read, and before the thread ends.
void RenderFileThread::run() {
    for (;;) {
        bool worked = false;
        while (writeOne())
            worked = true;
        if (readOne())
            worked = true;
        if (!worked) {
            if (quit_.load())
                return;
            Sleep(1);
        }
    }
}

bool RenderFileThread::readOne() {
    const uint32_t read = inputsRead_.load(std::memory_order_relaxed);
    if (inputEnded_.load(std::memory_order_relaxed) || read - inputsUsed_.load() >= uint32_t(kBlocks) ||
        readPosition_ >= input_.frames())
        return false;
    InputBlock& block = inputs_[read % kBlocks];
    const uint64_t left = input_.frames() - readPosition_;
    block.wanted = left < uint64_t(blockFrames_) ? int32_t(left) : blockFrames_;
    block.got = input_.read(block.channels[0], block.channels[1], block.wanted);
    readPosition_ += uint64_t(block.wanted);
    if (block.got < block.wanted)
        inputEnded_ = true;  // the render ends with this block
    inputsRead_.store(read + 1);
    return true;
}

bool RenderFileThread::writeOne() {
    const uint32_t written = outputsWritten_.load(std::memory_order_relaxed);
    if (written == outputsQueued_.load())
        return false;
    const uint32_t slot = written % kBlocks;
    if (!writeFailed_.load(std::memory_order_relaxed)) {
        if (output_.write(outputs_[slot][0], outputs_[slot][1], outputFrames_[slot], hostRate_))
            written_.store(written_.load(std::memory_order_relaxed) + uint64_t(outputFrames_[slot]));
        else
            writeFailed_ = true;
    }
    outputsWritten_.store(written + 1);
    return true;
}

const RenderFileThread::InputBlock* RenderFileThread::nextInput(const std::atomic<bool>& stopRequest) {
    const uint32_t used = inputsUsed_.load(std::memory_order_relaxed);
    for (Waiting waiting; inputsRead_.load() == used; waiting.once())
        if (stopRequest.load())
            return nullptr;
    return &inputs_[used % kBlocks];
}

void RenderFileThread::doneWithInput() { inputsUsed_.store(inputsUsed_.load(std::memory_order_relaxed) + 1); }

float* const* RenderFileThread::outputBlock() {
    const uint32_t queued = outputsQueued_.load(std::memory_order_relaxed);
    for (Waiting waiting; queued - outputsWritten_.load() >= uint32_t(kBlocks); waiting.once()) {
    }
    return outputs_[queued % kBlocks];
}

void RenderFileThread::queueOutput(int32_t frames) {
    const uint32_t queued = outputsQueued_.load(std::memory_order_relaxed);
    outputFrames_[queued % kBlocks] = frames;
    outputsQueued_.store(queued + 1);
}

bool RenderFileThread::drain() {
    for (Waiting waiting; outputsWritten_.load() != outputsQueued_.load(); waiting.once()) {
    }
    return !writeFailed_.load();
}
