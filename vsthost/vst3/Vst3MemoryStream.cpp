#include "Vst3MemoryStream.h"

#include <cstring>
#include <new>

const Vst3MemoryStream::Table Vst3MemoryStream::kTable = {
    {&Vst3MemoryStream::queryInterface, &Vst3MemoryStream::addRef, &Vst3MemoryStream::unref},
    {&Vst3MemoryStream::read, &Vst3MemoryStream::write, &Vst3MemoryStream::seek, &Vst3MemoryStream::tell}};

Vst3MemoryStream* Vst3MemoryStream::createWriter(size_t limit) {
    return new (std::nothrow) Vst3MemoryStream(limit, true);
}

Vst3MemoryStream* Vst3MemoryStream::createReader(const uint8_t* data, size_t size) {
    auto* stream = new (std::nothrow) Vst3MemoryStream(size, false);
    if (!stream)
        return nullptr;
    if (size && (!stream->reserve(size) || !data)) {
        stream->release();
        return nullptr;
    }
    if (size)
        std::memcpy(stream->bytes_, data, size);
    stream->size_ = size;
    return stream;
}

void Vst3MemoryStream::release() { unref(this); }

bool Vst3MemoryStream::reserve(size_t capacity) {
    if (capacity <= capacity_)
        return true;
    size_t grown = capacity_ < 4096 ? 4096 : capacity_ * 2;
    if (grown < capacity)
        grown = capacity;
    if (grown > limit_)
        grown = limit_;
    auto* bytes = new (std::nothrow) uint8_t[grown];
    if (!bytes)
        return false;
    if (size_)
        std::memcpy(bytes, bytes_, size_);
    delete[] bytes_;
    bytes_ = bytes;
    capacity_ = grown;
    return true;
}

v3_result V3_API Vst3MemoryStream::queryInterface(void* self, const v3_tuid iid, void** obj) {
    if (!obj)
        return V3_INVALID_ARG;
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_bstream_iid)) {
        addRef(self);
        *obj = self;
        return V3_OK;
    }
    *obj = nullptr;
    return V3_NO_INTERFACE;
}

uint32_t V3_API Vst3MemoryStream::addRef(void* self) { return ++of(self)->refs_; }

uint32_t V3_API Vst3MemoryStream::unref(void* self) {
    const uint32_t left = --of(self)->refs_;
    if (left == 0)
        delete of(self);
    return left;
}

v3_result V3_API Vst3MemoryStream::read(void* self, void* buffer, int32_t count, int32_t* done) {
    Vst3MemoryStream* s = of(self);
    if (done)
        *done = 0;
    if (count < 0 || (count > 0 && !buffer))
        return V3_INVALID_ARG;
    const size_t left = s->position_ < s->size_ ? s->size_ - s->position_ : 0;
    const size_t taken = size_t(count) < left ? size_t(count) : left;
    if (taken)
        std::memcpy(buffer, s->bytes_ + s->position_, taken);
    s->position_ += taken;
    if (done)
        *done = int32_t(taken);
    return V3_OK;
}

v3_result V3_API Vst3MemoryStream::write(void* self, void* buffer, int32_t count, int32_t* done) {
    Vst3MemoryStream* s = of(self);
    if (done)
        *done = 0;
    if (!s->writable_ || count < 0 || (count > 0 && !buffer))
        return V3_INVALID_ARG;
    if (size_t(count) > s->limit_ - s->position_ || !s->reserve(s->position_ + size_t(count))) {
        s->overflowed_ = true;
        return V3_NOMEM;
    }
    if (s->position_ > s->size_)  // written after a seek past the end: the gap reads as zeros
        std::memset(s->bytes_ + s->size_, 0, s->position_ - s->size_);
    if (count)
        std::memcpy(s->bytes_ + s->position_, buffer, size_t(count));
    s->position_ += size_t(count);
    if (s->position_ > s->size_)
        s->size_ = s->position_;
    if (done)
        *done = count;
    return V3_OK;
}

v3_result V3_API Vst3MemoryStream::seek(void* self, int64_t position, int32_t mode, int64_t* result) {
    Vst3MemoryStream* s = of(self);
    int64_t base = 0;
    if (mode == V3_SEEK_CUR)
        base = int64_t(s->position_);
    else if (mode == V3_SEEK_END)
        base = int64_t(s->size_);
    else if (mode != V3_SEEK_SET)
        return V3_INVALID_ARG;
    const int64_t limit = int64_t(s->writable_ ? s->limit_ : s->size_);
    if (position > limit - base || position < -base)
        return V3_INVALID_ARG;
    s->position_ = size_t(base + position);
    if (result)
        *result = int64_t(s->position_);
    return V3_OK;
}

v3_result V3_API Vst3MemoryStream::tell(void* self, int64_t* position) {
    if (!position)
        return V3_INVALID_ARG;
    *position = int64_t(of(self)->position_);
    return V3_OK;
}
