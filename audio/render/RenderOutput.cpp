#include "RenderOutput.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "RecordingFormat.h"
#include "TakeBlock.h"

namespace {

const uint32_t kFlushBytes = 1024 * 1024;  // the header follows the data at least this often

// A new file rather than one truncated in place: under Wine creating over an existing
// file truncates it, and a file truncated to nothing is written back in full at its
// close (the file system guards a rewrite that way), which held up the end of every
// render. A temporary file left by an earlier render is deleted first; one that cannot
// be is overwritten as before.
HANDLE createTemporary(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && DeleteFileA(path))
        file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
        file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file;
}

}  // namespace

RenderOutput::RenderOutput() = default;

RenderOutput::~RenderOutput() {
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
    std::free(pending_);
}

std::string RenderOutput::temporaryPathFor(const std::string& target) {
    std::string stem = target;
    if (stem.size() >= 4) {
        std::string ending = stem.substr(stem.size() - 4);
        for (char& c : ending)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (ending == ".wav")
            stem.resize(stem.size() - 4);
    }
    return stem + ".part.wav";
}

bool RenderOutput::create(const char* target, const FormatRecord& entry, uint32_t hostRate) {
    target_ = target;
    temporary_ = temporaryPathFor(target_);
    take_.format = recordingFormatFrom(entry);
    limit_ = maxTakeDataBytes(take_.format.blockAlign);
    pending_ = static_cast<uint8_t*>(std::malloc(kFlushBytes + DeckBuffers::kEncodedSize));
    if (!pending_ || !buffers_.valid() || !prepareTakeConverter(take_, hostRate)) {
        systemError_ = 0;
        return false;
    }
    file_ = createTemporary(temporary_.c_str());
    if (file_ == INVALID_HANDLE_VALUE) {
        systemError_ = GetLastError();
        return false;
    }
    if (!writeHeader()) {
        systemError_ = GetLastError();
        discard();
        return false;
    }
    return true;
}

void RenderOutput::fail(unsigned long error) {
    failed_ = true;
    systemError_ = error;
}

bool RenderOutput::write(const float* left, const float* right, int32_t frames, float hostRate) {
    if (failed_ || file_ == INVALID_HANDLE_VALUE)
        return false;
    float* channels[2] = {const_cast<float*>(left), const_cast<float*>(right)};
    // The converter writes at most kMaxFrames frames per call: at a higher output rate
    // the chain's frames go in smaller parts.
    const double most = double(DeckBuffers::kMaxFrames) * hostRate / double(take_.format.samplesPerSec) - 4.0;
    const int32_t largestPart =
        most >= double(DeckBuffers::kMaxFrames) ? DeckBuffers::kMaxFrames : most < 1.0 ? 1 : int32_t(most);
    while (frames > 0) {
        const int32_t part = frames > largestPart ? largestPart : frames;
        const int32_t converted = convertForTake(take_, buffers_, channels, 2, part, hostRate, 1.0f);
        uint32_t bytes = encodeTakeBlock(take_, buffers_, converted);
        const uint32_t fit = bytesThatFit(dataBytes_, bytes, limit_, take_.format.blockAlign);
        std::memcpy(pending_ + pendingBytes_, buffers_.encoded, fit);
        pendingBytes_ += fit;
        dataBytes_ += fit;
        if (fit < bytes) {
            flush();
            fail(ERROR_FILE_TOO_LARGE);  // the RIFF sizes are 32-bit
            return false;
        }
        if (pendingBytes_ >= kFlushBytes && !flush())
            return false;
        channels[0] += part;
        channels[1] += part;
        frames -= part;
    }
    return true;
}

uint32_t RenderOutput::framesWritten() const { return dataBytes_ / take_.format.blockAlign; }

bool RenderOutput::writeHeader() {
    uint8_t header[kWaveHeaderBytes];
    // Only what reached the file counts, so the header never promises more.
    buildWaveHeader(take_.format, dataBytes_ - pendingBytes_, header);
    LARGE_INTEGER start{}, end{};
    DWORD written = 0;
    return SetFilePointerEx(file_, start, nullptr, FILE_BEGIN) &&
           WriteFile(file_, header, kWaveHeaderBytes, &written, nullptr) && written == kWaveHeaderBytes &&
           SetFilePointerEx(file_, end, nullptr, FILE_END);
}

bool RenderOutput::flush() {
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    if (pendingBytes_ > 0) {
        DWORD written = 0;
        const BOOL ok = WriteFile(file_, pending_, pendingBytes_, &written, nullptr);
        if (!ok || written != pendingBytes_) {
            const unsigned long error = ok ? ERROR_DISK_FULL : GetLastError();
            // Whole frames that did reach the disk stay; the header will say so.
            const uint32_t kept = written - written % take_.format.blockAlign;
            dataBytes_ -= pendingBytes_;
            pendingBytes_ = 0;
            dataBytes_ += kept;
            if (kept != written) {
                LARGE_INTEGER back;
                back.QuadPart = -int64_t(written - kept);
                SetFilePointerEx(file_, back, nullptr, FILE_END);
                SetEndOfFile(file_);
            }
            writeHeader();
            fail(error);
            return false;
        }
        pendingBytes_ = 0;
    }
    if (!writeHeader()) {
        fail(GetLastError());
        return false;
    }
    return true;
}

bool RenderOutput::finish() {
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = flush();
    const BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (!closed && !failed_)
        fail(GetLastError());
    return flushed && closed;
}

bool RenderOutput::commit() {
    if (!finish() || failed_)
        return false;
    if (!MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        fail(GetLastError());
        return false;
    }
    return true;
}

bool RenderOutput::keepPartial() {
    const bool wasFailed = failed_;
    const bool finished = finish();
    return wasFailed || finished;
}

void RenderOutput::discard() {
    if (file_ != INVALID_HANDLE_VALUE) {
        CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    if (!temporary_.empty())
        DeleteFileA(temporary_.c_str());
}
