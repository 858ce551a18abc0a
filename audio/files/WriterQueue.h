#pragma once
#include <atomic>
#include <cstdint>

// The encoded blocks of a direct take on their way from the driver thread to the
// writer thread: a ring over the take's block buffer. The driver thread puts whole
// blocks while they fit; the writer takes what is waiting, as one or two stretches
// (the ring's end cuts it), and writes it in one call each. A block that does not fit
// because the writer is behind with earlier ones is refused; the count of bytes
// waiting is the only field both threads touch.
class WriterQueue {
public:
    WriterQueue() = default;
    virtual ~WriterQueue() = default;
    WriterQueue(const WriterQueue&) = delete;
    WriterQueue& operator=(const WriterQueue&) = delete;

    // UI thread, while neither thread uses the queue.
    void reset(uint8_t* buffer, uint32_t size);

    // Driver thread. False (and nothing copied) when the block does not fit.
    bool put(const uint8_t* bytes, uint32_t count);
    uint32_t room() const { return size_ - waiting_.load(std::memory_order_acquire); }

    // Any thread: bytes handed over and not yet written.
    uint32_t waiting() const { return waiting_.load(); }

    // Writer thread: the first stretch of waiting bytes that lies in one piece.
    uint32_t peek(const uint8_t*& at) const;
    // Writer thread: frees the first count bytes (at most what peek gave).
    void consume(uint32_t count);
    // Writer thread: frees everything waiting (after a failed write).
    void discard() { consume(waiting()); }

private:
    uint8_t* buffer_ = nullptr;
    uint32_t size_ = 0;
    uint32_t head_ = 0;  // driver thread: where the next block goes
    uint32_t tail_ = 0;  // writer thread: the first byte waiting
    std::atomic<uint32_t> waiting_{0};
};
