#include "ClapStateStream.h"

#include <cstring>

ClapStateWriter::ClapStateWriter(ByteRecord& record, size_t limit)
    : stream_{this, write}, record_(record), limit_(limit) {}

int64_t ClapStateWriter::write(const clap_ostream_t* stream, const void* buffer, uint64_t size) {
    if (!stream || !stream->ctx)
        return -1;
    ClapStateWriter* self = static_cast<ClapStateWriter*>(stream->ctx);
    if (size == 0)
        return 0;
    if (!buffer || size > uint64_t(self->limit_) || !self->record_.append(buffer, size_t(size), self->limit_)) {
        self->failed_ = true;
        return -1;
    }
    return int64_t(size);
}

ClapStateReader::ClapStateReader(const uint8_t* data, size_t size)
    : stream_{this, read}, data_(data), size_(data ? size : 0) {}

int64_t ClapStateReader::read(const clap_istream_t* stream, void* buffer, uint64_t size) {
    if (!stream || !stream->ctx)
        return -1;
    ClapStateReader* self = static_cast<ClapStateReader*>(stream->ctx);
    if (size == 0)
        return 0;
    if (!buffer)
        return -1;
    const size_t left = self->size_ - self->at_;
    const size_t n = size < uint64_t(left) ? size_t(size) : left;
    if (n)
        std::memcpy(buffer, self->data_ + self->at_, n);
    self->at_ += n;
    return int64_t(n);
}
