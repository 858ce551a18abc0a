#include "BridgeMessage.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "BridgeRegion.h"

namespace bridge {

void initialiseRegion(Region* region) {
    region->magic = kMagic;
    region->version = kVersion;
    region->size = uint32_t(sizeof(Region));
    region->reserved = 0;
    region->news.store(0);
    for (Serials* s : {&region->ui.serials, &region->audio.serials}) {
        s->request.store(0);
        s->reply.store(0);
        s->callerAsleep.store(0);
        s->answererAsleep.store(1);  // until the bridge is up and looking, ring it
        s->coming.store(0);
    }
    region->ui.size = 0;
    region->audio.frames = 0;
    region->audio.tempo = 0.0;
}

bool regionSpeaksOurs(const Region* region, uint64_t mappedBytes) {
    return region && mappedBytes >= sizeof(Region) && region->magic == kMagic && region->version == kVersion &&
           region->size == sizeof(Region);
}

void MessageWriter::put(const void* data, uint32_t size) {
    if (!ok_ || size > capacity_ - used_) {
        ok_ = false;
        return;
    }
    std::memcpy(buffer_ + used_, data, size);
    used_ += size;
}

void MessageWriter::patchU32(uint32_t at, uint32_t v) {
    if (ok_ && at <= used_ && used_ - at >= sizeof v)
        std::memcpy(buffer_ + at, &v, sizeof v);
    else
        ok_ = false;
}

void MessageWriter::text(const char* s) {
    const size_t length = s ? std::strlen(s) : 0;
    bytes(s, length > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(length));
}

void MessageWriter::bytes(const void* data, uint32_t size) {
    u32(size);
    if (size)
        put(data, size);
}

uint32_t MessageWriter::roomForBytes() const {
    const uint32_t left = capacity_ - used_;
    return ok_ && left > sizeof(uint32_t) ? left - uint32_t(sizeof(uint32_t)) : 0;
}

bool MessageReader::take(void* out, uint32_t size) {
    if (!ok_ || size > size_ - read_) {
        ok_ = false;
        return false;
    }
    std::memcpy(out, buffer_ + read_, size);
    read_ += size;
    return true;
}

uint32_t MessageReader::u32() {
    uint32_t v = 0;
    return take(&v, sizeof v) ? v : 0;
}

int32_t MessageReader::i32() {
    int32_t v = 0;
    return take(&v, sizeof v) ? v : 0;
}

float MessageReader::f32() {
    float v = 0.0f;
    if (take(&v, sizeof v) && !std::isfinite(v))
        ok_ = false;
    return ok_ ? v : 0.0f;
}

double MessageReader::f64() {
    double v = 0.0;
    if (take(&v, sizeof v) && !std::isfinite(v))
        ok_ = false;
    return ok_ ? v : 0.0;
}

const uint8_t* MessageReader::bytes(uint32_t* size) {
    const uint32_t n = u32();
    if (!ok_ || n > size_ - read_) {
        ok_ = false;
        *size = 0;
        return nullptr;
    }
    const uint8_t* at = buffer_ + read_;
    read_ += n;
    *size = n;
    return at;
}

bool MessageReader::text(char* out, size_t size, uint32_t limit) {
    uint32_t n = 0;
    const uint8_t* at = bytes(&n);
    if (!ok_ || n > limit || size == 0) {
        ok_ = false;
        if (size)
            out[0] = '\0';
        return false;
    }
    const size_t kept = n < size - 1 ? n : size - 1;
    if (kept)
        std::memcpy(out, at, kept);
    out[kept] = '\0';
    // A NUL inside ends the text there, as C strings do: nothing past it is shown.
    return true;
}

}  // namespace bridge
