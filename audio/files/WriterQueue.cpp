#include "WriterQueue.h"

#include <cstring>

void WriterQueue::reset(uint8_t* buffer, uint32_t size) {
    buffer_ = buffer;
    size_ = buffer ? size : 0;
    head_ = tail_ = 0;
    waiting_.store(0, std::memory_order_release);
}

bool WriterQueue::put(const uint8_t* bytes, uint32_t count) {
    // The acquire makes the writer's reads of what it freed happen before we overwrite.
    if (count == 0 || count > room())
        return false;
    const uint32_t first = count < size_ - head_ ? count : size_ - head_;
    std::memcpy(buffer_ + head_, bytes, first);
    std::memcpy(buffer_, bytes + first, count - first);
    head_ = (head_ + count) % size_;
    // Sequentially consistent: a writer that announces its wait and then looks at the
    // count must either see these bytes or be seen waiting by the putter.
    waiting_.fetch_add(count);
    return true;
}

uint32_t WriterQueue::peek(const uint8_t*& at) const {
    const uint32_t waiting = this->waiting();
    at = buffer_ + tail_;
    return waiting < size_ - tail_ ? waiting : size_ - tail_;
}

void WriterQueue::consume(uint32_t count) {
    if (count == 0)
        return;
    tail_ = (tail_ + count) % size_;
    waiting_.fetch_sub(count, std::memory_order_release);
}
