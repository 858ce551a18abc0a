#include <cstring>
#include <new>

#include "PluginInstance.h"

bool ByteRecord::append(const void* bytes, size_t count, size_t limit) {
    if (count == 0)
        return true;
    if (!bytes || count > limit || size_ > limit - count)
        return false;
    if (size_ + count > capacity_) {
        size_t grown = capacity_ ? capacity_ : 256;
        while (grown < size_ + count)
            grown = grown > limit / 2 ? limit : grown * 2;
        uint8_t* fresh = new (std::nothrow) uint8_t[grown];
        if (!fresh)
            return false;
        if (size_)
            std::memcpy(fresh, bytes_, size_);
        delete[] bytes_;
        bytes_ = fresh;
        capacity_ = grown;
    }
    std::memcpy(bytes_ + size_, bytes, count);
    size_ += count;
    return true;
}
