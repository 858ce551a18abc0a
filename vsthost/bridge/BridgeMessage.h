#pragma once
// The UI lane's payload, written and read field by field. The reader believes no
// length it is given: every field is checked against what is left, a text must end
// within its bound, and the first failure sticks (every later read fails too), so a
// caller checks ok() once after reading all it wants.
#include <cstddef>
#include <cstdint>

namespace bridge {

class MessageWriter {
public:
    MessageWriter(uint8_t* buffer, uint32_t capacity) : buffer_(buffer), capacity_(capacity) {}
    void u32(uint32_t v) { put(&v, sizeof v); }
    void i32(int32_t v) { put(&v, sizeof v); }
    void f32(float v) { put(&v, sizeof v); }
    void f64(double v) { put(&v, sizeof v); }
    // A length, then the bytes (a text without its NUL).
    void text(const char* s);
    void bytes(const void* data, uint32_t size);
    // Sets a u32 written earlier at byte offset at (a count known only afterwards).
    void patchU32(uint32_t at, uint32_t v);
    // Room left for one bytes() field.
    uint32_t roomForBytes() const;
    bool ok() const { return ok_; }
    uint32_t size() const { return used_; }

private:
    void put(const void* data, uint32_t size);
    uint8_t* buffer_;
    uint32_t capacity_;
    uint32_t used_ = 0;
    bool ok_ = true;
};

class MessageReader {
public:
    MessageReader(const uint8_t* buffer, uint32_t size, uint32_t capacity)
        : buffer_(buffer), size_(size <= capacity ? size : 0), ok_(size <= capacity) {}
    uint32_t u32();
    int32_t i32();
    float f32();   // a value that is not finite fails the read
    double f64();  // likewise
    // Copies a text into out (size bytes, NUL-terminated, cut to fit); false for a
    // text longer than limit bytes or past the end.
    bool text(char* out, size_t size, uint32_t limit = 4096);
    // Points at a bytes() field inside the payload.
    const uint8_t* bytes(uint32_t* size);
    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && read_ == size_; }

private:
    bool take(void* out, uint32_t size);
    const uint8_t* buffer_;
    uint32_t size_;
    uint32_t read_ = 0;
    bool ok_;
};

}  // namespace bridge
