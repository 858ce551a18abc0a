#pragma once
// The render driver's file work on a thread of its own: the input is read and decoded
// some blocks ahead of the chain, and what the chain made is converted and written
// behind it, so that the render thread spends its time on the chain alone while the
// other core copies to and from the files.
//
// Two single-producer, single-consumer rings of blocks; their indices are atomics and
// either side waits by sleeping, never on a system object (under Wine every event call
// is a round trip to the server, which costs more than the work it would hand over).
#include <atomic>
#include <cstdint>

#include "RenderInput.h"
#include "RenderOutput.h"
#include "WinInclude.h"

class RenderFileThread {
public:
    static constexpr int32_t kBlocks = 16;  // of each ring; a power of two
    static constexpr long kChannels = 2;

    struct InputBlock {
        float* channels[kChannels];
        int32_t wanted;  // frames the block was to hold
        int32_t got;     // frames read; fewer than wanted: the input ended or failed there
    };

    RenderFileThread(RenderInput& input, RenderOutput& output, float hostRate);
    virtual ~RenderFileThread();
    RenderFileThread(const RenderFileThread&) = delete;
    RenderFileThread& operator=(const RenderFileThread&) = delete;

    // Driver's UI thread. Blocks of blockFrames; false when memory is short. What was
    // read ahead is forgotten.
    bool allocate(int32_t blockFrames);
    void release();
    // Starts the thread, which reads on after the blocks read ahead (kept from an
    // earlier start, when the host stopped and starts again); false when it could not
    // be started. stop waits until everything queued is written.
    bool start();
    void stop();

    // --- render thread, between start and stop ---
    // The next block of the input, once read; null when the stop flag came first.
    const InputBlock* nextInput(const std::atomic<bool>& stopRequest);
    void doneWithInput();
    // A free block to put frames of the chain's output into (a block begun is
    // finished, so this waits whatever comes).
    float* const* outputBlock();
    void queueOutput(int32_t frames);
    // Waits until every queued block is written; false when a write failed.
    bool drain();
    // Any thread: a write failed (nothing more is written), and the frames written
    // before it (all those queued, when none failed).
    bool writeFailed() const { return writeFailed_.load(); }
    uint64_t framesWritten() const { return written_.load(); }

private:
    static DWORD WINAPI threadMain(void* self);
    void run();
    bool readOne();
    bool writeOne();

    RenderInput& input_;
    RenderOutput& output_;
    const float hostRate_;
    int32_t blockFrames_ = 0;
    float* memory_ = nullptr;
    InputBlock inputs_[kBlocks] = {};
    float* outputs_[kBlocks][kChannels] = {};
    int32_t outputFrames_[kBlocks] = {};

    HANDLE thread_ = nullptr;
    std::atomic<bool> quit_{false};
    uint64_t readPosition_ = 0;  // the input frame the next block read starts at
    std::atomic<bool> inputEnded_{false};
    // Counts of blocks ever put into and taken out of each ring.
    std::atomic<uint32_t> inputsRead_{0}, inputsUsed_{0};
    std::atomic<uint32_t> outputsQueued_{0}, outputsWritten_{0};
    std::atomic<bool> writeFailed_{false};
    std::atomic<uint64_t> written_{0};
};
