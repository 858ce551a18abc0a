#pragma once
// A byte stream of ours (IBStream) over memory, for the plug-in's state: a writer that
// stops at its limit, or a reader over a copy of a record. UI thread. Counted: the
// creator holds one reference and gives it back with release(); a plug-in that keeps
// a reference keeps the stream alive, never a dangling one.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Vst3Abi.h"

class Vst3MemoryStream {
public:
    // Null when memory ran out.
    static Vst3MemoryStream* createWriter(size_t limit);
    static Vst3MemoryStream* createReader(const uint8_t* data, size_t size);

    v3_bstream** stream() { return static_cast<v3_bstream**>(static_cast<void*>(&table_)); }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    size_t position() const { return position_; }
    // True when the plug-in tried to write past the limit or memory ran out.
    bool overflowed() const { return overflowed_; }
    void release();

    struct Table : v3_funknown {
        v3_bstream stream;
    };

private:
    Vst3MemoryStream(size_t limit, bool writable) : limit_(limit), writable_(writable) {}
    ~Vst3MemoryStream() { delete[] bytes_; }
    bool reserve(size_t capacity);

    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj);
    static uint32_t V3_API addRef(void* self);
    static uint32_t V3_API unref(void* self);
    static v3_result V3_API read(void* self, void* buffer, int32_t count, int32_t* done);
    static v3_result V3_API write(void* self, void* buffer, int32_t count, int32_t* done);
    static v3_result V3_API seek(void* self, int64_t position, int32_t mode, int64_t* result);
    static v3_result V3_API tell(void* self, int64_t* position);
    static Vst3MemoryStream* of(void* self) { return reinterpret_cast<Vst3MemoryStream*>(self); }

    static const Table kTable;
    const Table* table_ = &kTable;  // first member: the object's address is its interface pointer
    std::atomic<uint32_t> refs_{1};
    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t position_ = 0;
    size_t limit_;
    bool writable_;
    bool overflowed_ = false;
};
