#include "RenderInput.h"

#include <cstdlib>
#include <cstring>

#include "HandleFile.h"
#include "RiffFile.h"
#include "SampleFormat.h"

namespace {

const uint32_t kReadAhead = 256 * 1024;  // bytes per read: few calls, little memory

}  // namespace

RenderInput::RenderInput() = default;

RenderInput::~RenderInput() { close(); }

void RenderInput::close() {
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    std::free(bytes_);
    bytes_ = nullptr;
}

WaveOpenResult RenderInput::open(const char* path) {
    close();
    layout_ = WaveLayout{};
    frames_ = present_ = position_ = 0;
    systemError_ = 0;
    failed_ = endedEarly_ = false;
    capacity_ = held_ = used_ = 0;
    file_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                        nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        systemError_ = GetLastError();
        return WaveOpenResult::OpenError;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_, &size)) {
        systemError_ = GetLastError();
        return WaveOpenResult::OpenError;
    }
    // The sizes of a WAV file are 32-bit: what lies beyond 4 GB is no part of it.
    const uint64_t fileSize = uint64_t(size.QuadPart);
    const uint32_t parsedSize = fileSize > UINT32_MAX ? UINT32_MAX : uint32_t(fileSize);

    HandleFile file(file_);
    WaveOpenResult result = parseWave(file, parsedSize, layout_);
    if (result == WaveOpenResult::OpenError) {
        // Data running past the end of the file is an open error to the parser. Asked
        // again as if the file were as long as its header says, a header that is sound
        // in itself passes: the file was cut short and is rendered as far as it goes.
        WaveLayout whole{};
        if (file.seek(0, SeekFrom::Start) == 0 && parseWave(file, UINT32_MAX, whole) == WaveOpenResult::Ok &&
            uint64_t(whole.dataOffset) <= fileSize) {
            layout_ = whole;
            result = WaveOpenResult::Ok;
        } else {
            file.seek(0, SeekFrom::Start);
        }
    }
    if (result != WaveOpenResult::Ok)
        return result;

    const uint16_t align = layout_.format.blockAlign;
    frames_ = layout_.dataBytes / align;
    const uint64_t held = fileSize - uint64_t(layout_.dataOffset);
    present_ = held >= layout_.dataBytes ? frames_ : uint32_t(held / align);
    capacity_ = kReadAhead - kReadAhead % align;
    bytes_ = static_cast<uint8_t*>(std::malloc(capacity_));
    if (!bytes_) {
        systemError_ = ERROR_NOT_ENOUGH_MEMORY;
        return WaveOpenResult::OpenError;
    }
    return WaveOpenResult::Ok;
}

bool RenderInput::fill() {
    const uint16_t align = layout_.format.blockAlign;
    const uint32_t inBuffer = (held_ - used_) / align;  // 0 when fill is called
    const uint32_t next = position_ + inBuffer;
    if (next >= present_) {
        failed_ = true;
        endedEarly_ = true;
        return false;
    }
    const uint64_t left = uint64_t(present_ - next) * align;
    const DWORD want = DWORD(left < capacity_ ? left : capacity_);
    DWORD got = 0;
    if (!ReadFile(file_, bytes_, want, &got, nullptr)) {
        systemError_ = GetLastError();
        failed_ = true;
        return false;
    }
    held_ = got - got % align;
    used_ = 0;
    if (held_ == 0) {  // shorter than it was when it was opened
        failed_ = true;
        endedEarly_ = true;
        return false;
    }
    return true;
}

int32_t RenderInput::read(float* left, float* right, int32_t count) {
    if (failed_ || file_ == INVALID_HANDLE_VALUE)
        return 0;
    const uint16_t align = layout_.format.blockAlign;
    int32_t done = 0;
    while (done < count && position_ < frames_) {
        if (used_ == held_ && !fill())
            break;
        uint32_t n = uint32_t(count - done);
        const uint32_t buffered = (held_ - used_) / align;
        if (n > buffered)
            n = buffered;
        if (n > frames_ - position_)
            n = frames_ - position_;
        float* channels[2] = {left + done, right + done};
        decodeSamples(bytes_ + used_, channels, int32_t(n), layout_.format, false);
        if (layout_.format.channels == 1)
            std::memcpy(right + done, left + done, sizeof(float) * n);
        used_ += n * align;
        position_ += n;
        done += int32_t(n);
    }
    return done;
}
