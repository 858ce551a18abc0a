#include "WaveDeck.h"

#include <cstring>
#include <new>

#include "AccompanimentMix.h"
#include "ErrorFlags.h"
#include "MessageBoxes.h"
#include "StringIds.h"
#include "TakeBlock.h"

namespace {

const char kStoreQuestion[] = "The record now should be stored to disk.\nContinue?";
const char kStoreCaption[] = "Record";

bool fitsPath(const char* path) { return path && std::strlen(path) < size_t(WaveFileState::kPathSize); }

uint32_t wholeRate(float rate) { return rate >= 1.0f && rate < 4.0e9f ? uint32_t(rate + 0.5f) : 0u; }

}  // namespace

WaveDeck::WaveDeck(RiffFileFactory* files, TakeJournal* journal)
    : files_(files ? files : &mmio_), journal_(journal ? journal : &registryTakeJournal()) {
    startWriter();
}

WaveDeck::~WaveDeck() {
    finishTake();
    endWriter();
    closeAccompanimentFile();
}

// ---------------------------------------------------------------- accompaniment

bool WaveDeck::openAccompaniment(const char* path) {
    closeAccompanimentFile();
    const WaveOpenResult result = openFile(path);
    if (result != WaveOpenResult::Ok) {
        showError(stringIdFor(result));
        return false;
    }
    return true;
}

WaveOpenResult WaveDeck::openFile(const char* path) {
    if (!buffers_.valid() || !fitsPath(path))
        return WaveOpenResult::OpenError;
    // Alone first: a file another program holds open is refused, and its size bounds
    // every length the header states.
    uint32_t size = 0;
    FileIdentity identity;
    if (!probeFileAlone(path, size, identity))
        return WaveOpenResult::OpenError;
    RiffFile* file = files_->openForReading(path);
    if (!file)
        return WaveOpenResult::OpenError;
    WaveLayout layout;
    const WaveOpenResult result = parseWave(*file, size, layout);
    if (result != WaveOpenResult::Ok) {
        delete file;
        return result;
    }
    // The earlier file was closed and its state cleared before this open.
    if (!accompaniment_.attach(file, layout, lastHostRate_)) {
        delete file;
        accompaniment_.clear();
        return WaveOpenResult::OpenError;
    }
    std::strcpy(accompaniment_.path, path);
    accompanimentIdentity_ = identity;
    return WaveOpenResult::Ok;
}

void WaveDeck::closeAccompaniment() {
    if (!accompaniment_.handle)
        return;
    closeAccompanimentFile();
    playing_ = false;
}

void WaveDeck::closeAccompanimentFile() {
    delete accompaniment_.handle;
    accompaniment_.clear();
    accompanimentIdentity_ = FileIdentity{};
}

double WaveDeck::playbackPosition() const {
    if (!accompaniment_.handle || accompaniment_.dataBytes == 0)
        return 0.0;
    const uint32_t at = accompaniment_.seekPending.load(std::memory_order_acquire) ? accompaniment_.seekTarget
                                                                                   : accompaniment_.readPosition;
    return double(at) / double(accompaniment_.dataBytes);
}

void WaveDeck::seekPlayback(float fraction) {
    WaveFileState& file = accompaniment_;
    if (!file.handle || file.dataBytes == 0)
        return;
    if (!(fraction > 0.0f))  // also NaN
        fraction = 0.0f;
    if (fraction > 1.0f)
        fraction = 1.0f;
    const uint32_t frames = file.dataBytes / file.format.blockAlign;
    uint64_t target = uint64_t(file.format.blockAlign) * uint64_t(double(frames) * double(fraction));
    if (target >= file.dataBytes)
        target = 0;
    // The driver thread reads the target only after it has seen the request.
    file.seekTarget = uint32_t(target);
    file.seekPending.store(true, std::memory_order_release);
}

bool WaveDeck::mixAccompaniment(float* const* channels, int32_t channelCount, int32_t frames, float hostRate,
                                float gain) {
    noteHostRate(hostRate);
    return mixAccompanimentFrom(accompaniment_, buffers_, playing_, channels, channelCount, frames, hostRate, gain);
}

void WaveDeck::noteHostRate(float rate) {
    const uint32_t whole = wholeRate(rate);
    if (whole != 0 && whole != lastHostRate_)
        lastHostRate_ = whole;
}

// ---------------------------------------------------------------- recorder

bool WaveDeck::namesAccompaniment(const char* path) const {
    if (!accompaniment_.handle)
        return false;
    return identifyFile(path).sameAs(accompanimentIdentity_) || sameFullPath(path, accompaniment_.path);
}

bool WaveDeck::startRecording(const char* path) {
    if (isRecording())
        return true;
    if (!fitsPath(path)) {  // a longer name cannot be kept, nor cut into another file's name
        showError(kStrCannotCreateFile);
        return false;
    }
    if (namesAccompaniment(path)) {
        showError(kStrRecordOverAccompaniment);
        return false;
    }
    if (!buffers_.valid()) {
        showError(kStrNotEnoughMemory);
        return false;
    }
    int32_t count = formats.count;
    count = count < 1 ? 1 : count > RecordingFormatTable::kSlots ? RecordingFormatTable::kSlots : count;
    if (formatIndex >= count)
        formatIndex = int8_t(count - 1);
    if (formatIndex < 0)
        formatIndex = 0;
    const FormatRecord& entry = formats.entries[formatIndex];
    const FormatRecord format = recordingFormatFrom(entry);
    if (format.blockAlign == 0 || format.samplesPerSec == 0)
        return false;

    // The converter's tables before anything else is set up: without memory for them
    // the take cannot start.
    take_.clear();
    take_.format = format;
    if (!prepareTakeConverter(take_, lastHostRate_)) {
        take_.clear();
        showError(kStrNotEnoughMemory);
        return false;
    }
    struct ClearOnFailure {
        WaveFileState& take;
        bool armed;
        ~ClearOnFailure() {
            if (armed)
                take.clear();
        }
    } clearOnFailure{take_, true};

    if (ramMode) {
        maximumRecordingTime = clampRecordingSeconds(maximumRecordingTime);
        const uint32_t capacity = ramTakeCapacity(entry, maximumRecordingTime);
        if (capacity == 0)
            return false;
        uint8_t* memory = new (std::nothrow) uint8_t[capacity];
        if (!memory) {
            showError(kStrNotEnoughMemory);
            return false;
        }
        // Every page is touched here, so that the driver thread takes no page fault
        // while it fills the take.
        std::memset(memory, 0, capacity);
        take_.dataBytes = capacity;
        ramTake_ = memory;
        takeCreatedFile_ = false;
    } else {
        // Without its writer a direct take would drop every block but the first.
        if (!writerThread_) {
            showError(kStrNotEnoughMemory);
            return false;
        }
        RiffFile* file = files_->createForWriting(path);
        if (!file) {
            showError(kStrCannotCreateFile);
            return false;
        }
        // A valid header from the first write: cut off before the writer first brings
        // it up to date, the take still opens (empty) and is repaired at the next start.
        uint8_t header[kWaveHeaderBytes];
        buildWaveHeader(format, 0, header);
        if (file->write(header, kWaveHeaderBytes) != int32_t(kWaveHeaderBytes)) {
            delete file;
            deleteFile(path);
            return false;
        }
        take_.handle = file;
        takeCreatedFile_ = true;
        journal_->noteStarted(path);
    }

    std::strcpy(take_.path, path);
    take_.dataOffset = kWaveHeaderBytes;
    take_.readError = false;
    takeInRam_ = ramMode;
    takeFull_ = false;
    takeByteLimit_ = maxTakeDataBytes(format.blockAlign);
    takeBytesQueued_ = 0;
    headerStates_ = 0;
    writerQueue_.reset(buffers_.blockBytes, DeckBuffers::kByteBufferSize);

    if (startAccompaniment) {
        seekPlayback(0.0f);
        play();
    }
    clearOnFailure.armed = false;
    recording_.store(true, std::memory_order_release);
    return true;
}

void WaveDeck::recordBlock(float* const* channels, int32_t channelCount, int32_t frames, float hostRate, float gain) {
    noteHostRate(hostRate);
    if (!recording_.load(std::memory_order_acquire) || take_.readError || takeFull_)
        return;
    if (takeInRam_ ? take_.readPosition >= take_.dataBytes : !take_.handle)
        return;

    const int32_t takeFrames = convertForTake(take_, buffers_, channels, channelCount, frames, hostRate, gain);
    if (takeFrames <= 0)
        return;
    const uint32_t blockBytes = uint32_t(takeFrames) * take_.format.blockAlign;

    if (takeInRam_) {
        encodeTakeBlock(take_, buffers_, takeFrames);
        appendToRamTake(take_, buffers_, ramTake_, blockBytes);
        return;
    }
    // Stop before the RIFF sizes would wrap, keeping the whole frames that still fit.
    const uint32_t bytes = bytesThatFit(takeBytesQueued_, blockBytes, takeByteLimit_, take_.format.blockAlign);
    if (bytes < blockBytes) {
        takeFull_ = true;
        raiseErrorFlag(kFlagRecordError);
    }
    if (bytes == 0)
        return;
    // The writer is behind by a whole block buffer: this block is lost to the take.
    if (bytes > writerQueue_.room()) {
        raiseErrorFlag(kFlagDiskTooSlow);
        return;
    }
    encodeTakeBlock(take_, buffers_, takeFrames);
    writerQueue_.put(buffers_.encoded, bytes);
    takeBytesQueued_ += bytes;
    if (writerIdle_.exchange(false))
        SetEvent(writerEvent_);
}

bool WaveDeck::isRamTakeFull() const {
    return isRecording() && takeInRam_ && take_.readPosition >= take_.dataBytes;
}

bool WaveDeck::writeWaveHeader() {
    if (!take_.handle)
        return false;
    uint8_t header[kWaveHeaderBytes];
    buildWaveHeader(take_.format, take_.readPosition, header);
    if (take_.handle->seek(0, SeekFrom::Start) != 0)
        return false;
    return take_.handle->write(header, kWaveHeaderBytes) == int32_t(kWaveHeaderBytes);
}

void WaveDeck::waitForWriter() {
    while (isBlockPending() && writerThread_)
        WaitForSingleObject(writerThread_, 1);  // the thread handle never signals while the deck lives
}

// After a failed write, the take keeps the whole frames that are in the file: the
// bytes counted as written, or fewer when the file is shorter. The header is
// rewritten for them; the caller cuts off what follows once the file is closed.
bool WaveDeck::keepWhatWasWritten(uint32_t counted) {
    const int32_t end = take_.handle->seek(0, SeekFrom::End);  // -1 beyond 2 GiB: the count stands
    if (end >= 0) {
        const uint32_t inFile = uint32_t(end) > kWaveHeaderBytes ? uint32_t(end) - kWaveHeaderBytes : 0u;
        if (inFile < counted)
            counted = inFile;
    }
    counted -= counted % take_.format.blockAlign;
    take_.readPosition = counted;
    return counted > 0 && writeWaveHeader();
}

bool WaveDeck::storeRamTake() {
    take_.handle = files_->createForWriting(take_.path);
    if (!take_.handle) {
        showError(kStrCannotCreateFile);
        take_.readError = true;
        return false;
    }
    takeCreatedFile_ = true;
    if (!writeWaveHeader()) {
        take_.readError = true;
        return false;
    }
    const HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    const uint32_t recorded = take_.readPosition;
    const int32_t written = take_.handle->write(ramTake_, int32_t(recorded));
    SetCursor(previous);
    if (written == int32_t(recorded))
        return false;
    take_.readError = true;
    showError(kStrWriteFileFailed);
    return keepWhatWasWritten(written >= 0 ? uint32_t(written) : recorded);
}

// No recordBlock runs once this returns, nor starts later for this take.
void WaveDeck::closeTap() {
    if (processing_)
        processing_->pauseProcessing();
    recording_.store(false, std::memory_order_release);
    if (processing_)
        processing_->resumeProcessing();
}

bool WaveDeck::stopRecording() {
    if (!isRecording())
        return true;
    closeTap();
    // The header is rewritten only after the writer has written every block handed over.
    waitForWriter();

    bool keptAfterFailure = false;
    bool keptForRepair = false;
    if (takeInRam_) {
        // Nothing recorded: nothing to ask about.
        const uint32_t recorded = take_.readPosition;
        if (!take_.readError && recorded > 0 &&
            showMessageBox(errorBoxOwner(), kStoreQuestion, kStoreCaption, MB_ICONQUESTION | MB_YESNO) == IDYES) {
            for (;;) {
                keptAfterFailure = storeRamTake();
                if (!take_.readError || !ramStoreRetry)
                    break;
                // The take is still in memory: the failed file is tidied and the
                // take offered to another name.
                closeTakeFile(keptAfterFailure, false);
                keptAfterFailure = false;
                if (!takeAnotherName())
                    break;
                take_.readError = false;
                take_.readPosition = recorded;
            }
        }
    } else if (take_.readError) {
        keptAfterFailure = keepWhatWasWritten(take_.readPosition);
        // Recorded, but its header could not be brought up to date: the one on disk is
        // valid all the same, and the next start repairs it.
        keptForRepair = !keptAfterFailure && take_.readPosition > 0;
    } else if (!writeWaveHeader()) {
        take_.readError = true;
        keptForRepair = take_.readPosition > 0;
    }
    closeTakeFile(keptAfterFailure, keptForRepair);
    if (!takeInRam_)
        endTakeJournal(keptForRepair);

    const uint32_t recorded = take_.readPosition;
    const bool failed = take_.readError;
    if (failed || recorded == 0)
        raiseErrorFlag(kFlagRecordError);

    delete[] ramTake_;
    ramTake_ = nullptr;
    take_.clear();
    takeInRam_ = false;
    takeCreatedFile_ = false;
    takeFull_ = false;
    return !failed;
}

// The take's file is closed; when the take made it, it keeps the whole frames written
// after a failure, and goes when the take failed or holds nothing.
void WaveDeck::closeTakeFile(bool keptAfterFailure, bool keptForRepair) {
    delete take_.handle;
    take_.handle = nullptr;
    if (takeCreatedFile_ && !keptForRepair) {
        if (keptAfterFailure)
            truncateFile(take_.path, uint64_t(kWaveHeaderBytes) + take_.readPosition);  // after the last whole frame
        else if (take_.readError || take_.readPosition == 0)
            deleteFile(take_.path);
    }
    takeCreatedFile_ = false;
}

// A take kept for repair stays listed, so that the next start brings its header up to
// what the file holds; any other has its final header, or is gone.
void WaveDeck::endTakeJournal(bool keptForRepair) {
    if (!keptForRepair)
        journal_->noteEnded(take_.path);
}

bool WaveDeck::takeAnotherName() {
    char path[sizeof take_.path];
    for (;;) {
        std::memcpy(path, take_.path, sizeof path);
        if (!ramStoreRetry->anotherName(path, sizeof path) || !path[0])
            return false;
        path[sizeof path - 1] = '\0';
        if (!namesAccompaniment(path)) {
            std::memcpy(take_.path, path, sizeof path);
            return true;
        }
        showError(kStrRecordOverAccompaniment);
    }
}

// At destruction: a direct take keeps what it has, without asking or showing anything;
// a RAM take is lost.
void WaveDeck::finishTake() {
    if (!isRecording())
        return;
    closeTap();
    waitForWriter();
    const bool recorded = !takeInRam_ && take_.readPosition > 0;
    const bool kept = recorded && !take_.readError && writeWaveHeader();
    // Recorded but without its final header: the one on disk is valid, the next start
    // repairs it.
    const bool keptForRepair = recorded && !kept;
    delete take_.handle;
    take_.handle = nullptr;
    if (takeCreatedFile_ && !kept && !keptForRepair)
        deleteFile(take_.path);
    if (!takeInRam_)
        endTakeJournal(keptForRepair);
    delete[] ramTake_;
    ramTake_ = nullptr;
    take_.clear();
}

// ---------------------------------------------------------------- writer thread

void WaveDeck::startWriter() {
    writerThread_ = CreateThread(nullptr, 0, &WaveDeck::writerEntry, this, CREATE_SUSPENDED, nullptr);
    if (!writerThread_)
        return;
    writerEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!writerEvent_) {
        // The thread ends at once without its event.
        ResumeThread(writerThread_);
        WaitForSingleObject(writerThread_, INFINITE);
        CloseHandle(writerThread_);
        writerThread_ = nullptr;
        return;
    }
    SetThreadPriority(writerThread_, THREAD_PRIORITY_TIME_CRITICAL);
    ResumeThread(writerThread_);
}

void WaveDeck::endWriter() {
    if (writerThread_) {
        writerQuit_.store(true, std::memory_order_release);
        SetEvent(writerEvent_);
        WaitForSingleObject(writerThread_, INFINITE);
        CloseHandle(writerThread_);
        writerThread_ = nullptr;
    }
    if (writerEvent_) {
        CloseHandle(writerEvent_);
        writerEvent_ = nullptr;
    }
}

DWORD WINAPI WaveDeck::writerEntry(void* deck) {
    static_cast<WaveDeck*>(deck)->recordWriterThread();
    return 0;
}

void WaveDeck::recordWriterThread() {
    if (!writerEvent_)
        return;
    // The event starts signalled; the first pass finds nothing to do. It is not reset
    // here, where it could swallow the signal of a block handed over already.
    for (;;) {
        WaitForSingleObject(writerEvent_, INFINITE);
        ResetEvent(writerEvent_);
        if (writerQuit_.load(std::memory_order_acquire))
            return;
        // Announce the wait, then look once more: a block handed over meanwhile is
        // either seen here or finds the announcement and signals the event. Taking the
        // announcement back fails only when the driver thread took it (and signals).
        do {
            writeWaitingBlocks();
            writerIdle_.store(true);
        } while (writerQueue_.waiting() != 0 && writerIdle_.exchange(false));
    }
}

void WaveDeck::writeWaitingBlocks() {
    // Bytes waiting make the take's fields ours: they were set before the take began.
    while (writerQueue_.waiting() != 0) {
        if (take_.readError || !take_.handle) {
            writerQueue_.discard();
            return;
        }
        const uint8_t* at = nullptr;
        const uint32_t bytes = writerQueue_.peek(at);
        const int32_t written = take_.handle->write(at, int32_t(bytes));
        // Only what reached the file counts; a refused write ends the take's blocks.
        if (written > 0)
            take_.readPosition = take_.readPosition + uint32_t(written);
        if (written != int32_t(bytes)) {
            take_.readError = true;
            raiseErrorFlag(kFlagRecordError);
            writerQueue_.discard();
            return;
        }
        // Before the block is let go: the UI thread waits for the queue to empty before
        // it writes the final header, and must not meet this one on the way.
        refreshTakeOnDisk();
        writerQueue_.consume(bytes);
    }
}

// Once a second of the take has been written since the header last said so, the
// header states what is in the file and the system is asked to put all of it on the
// disk. Beyond 2 GiB the way back to the end cannot be told in a seek: the header
// then keeps its last sizes, and the final header or the repair states the rest.
void WaveDeck::refreshTakeOnDisk() {
    const uint32_t written = take_.readPosition;
    if (take_.readError || !take_.handle || written - headerStates_ < take_.format.avgBytesPerSec)
        return;
    const uint64_t end = uint64_t(kWaveHeaderBytes) + written;
    if (end > uint64_t(INT32_MAX))
        return;
    headerStates_ = written;
    writeWaveHeader();  // a header left as it was is repaired later; the way back matters
    if (take_.handle->seek(int32_t(end), SeekFrom::Start) != int32_t(end)) {
        // Further blocks could land anywhere in the file: the take ends here.
        take_.readError = true;
        raiseErrorFlag(kFlagRecordError);
        return;
    }
    take_.handle->flushToDisk();
}
