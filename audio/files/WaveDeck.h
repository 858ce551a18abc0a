#pragma once
#include <atomic>
#include <cstdint>

#include "ChainStages.h"
#include "DeckBuffers.h"
#include "DeckFiles.h"
#include "MmioFile.h"
#include "RecordingFormat.h"
#include "Relaxed.h"
#include "TakeJournal.h"
#include "WaveFileState.h"
#include "WaveParser.h"
#include "WriterQueue.h"
#include "WinInclude.h"

// The accompaniment reader and the recorder: the two WAV files of the live rig.
//
// The accompaniment is read on the driver thread, block by block, and mixed into the
// live channels before the output stage. A take is recorded either straight to disk,
// each block handed to the writer thread through the block buffer, or into memory and
// stored at the end. The live chain reaches the deck through its two stage interfaces.
//
// Opening and closing the accompaniment happen while the chain is paused; a take's
// tap is closed inside a pause of the processing attached, before the take's file
// and memory are released, so that no recordBlock can still be using them. Nothing here shows a box on the
// driver or writer thread: they raise error flags, and the main window reports them.
// Asked for another name when a RAM take could not be stored, so that the take,
// still in memory, is not lost: writes the name into path and returns true, or
// returns false to give the take up. UI thread.
class RamStoreRetry {
public:
    virtual ~RamStoreRetry() = default;
    virtual bool anotherName(char* path, size_t pathSize) = 0;
};

class WaveDeck : public ChainRecorder, public ChainAccompaniment {
public:
    // Allocates the buffers and starts the writer thread. files opens the deck's files
    // (null: mmio); journal lists the direct takes being written, for their repair
    // after a crash (null: the registry's). Both must outlive the deck.
    explicit WaveDeck(RiffFileFactory* files = nullptr, TakeJournal* journal = nullptr);
    // UI thread, at exit: finishes a take still running (a direct take keeps what it
    // has, silently), ends the writer thread, closes the files.
    ~WaveDeck() override;
    WaveDeck(const WaveDeck&) = delete;
    WaveDeck& operator=(const WaveDeck&) = delete;

    // False when the buffers could not be allocated: every file is then refused.
    bool valid() const { return buffers_.valid(); }

    // --- options: UI thread, while no take runs (the settings and the recording dialog) ---
    int32_t diskBufferTime = 1024;  // milliseconds, 1 to 1024; kept for the settings only
    Relaxed<bool> playingOnly{false};  // the take holds the playing without the accompaniment
    bool startAccompaniment = true;    // a take restarts the accompaniment from its start
    uint16_t maximumRecordingTime = 200;  // seconds of a RAM take, 10 to 600 at start
    bool ramMode = false;
    int8_t formatIndex = RecordingFormatTable::kDefaultIndex;
    RecordingFormatTable formats;
    RamStoreRetry* ramStoreRetry = nullptr;  // null: a RAM take that cannot be stored is lost

    // --- accompaniment: UI thread; open and close only while the chain is paused ---
    // Closes any open accompaniment and opens path; the playing flag is kept. Shows
    // the reason with showError and leaves no accompaniment open when it fails.
    bool openAccompaniment(const char* path);
    void closeAccompaniment();
    void play() { playing_ = true; }
    void pause() { playing_ = false; }
    void rewind() { seekPlayback(0.0f); }
    bool isPlaying() const { return playing_; }
    bool isAccompanimentOpen() const { return accompaniment_.handle != nullptr; }
    // 0 to 1; the pending seek's target until the driver thread performs it.
    double playbackPosition() const;
    // Asks the driver thread to continue at the fraction of the data at its next block.
    void seekPlayback(float fraction);
    const WaveFileState& accompaniment() const { return accompaniment_; }

    // Driver thread, once per block of the chain.
    bool mixAccompaniment(float* const* channels, int32_t channelCount, int32_t frames, float hostRate,
                          float gain) override;

    // The driver host's pause, for ending a take's tap (null while no driver is
    // loaded: nothing calls recordBlock then). UI thread, at start-up.
    void attachProcessing(ProcessingControl* processing) { processing_ = processing; }

    // --- recorder: UI thread ---
    // True at once when a take already runs. Failures show their box (none when the
    // placeholder header cannot be written).
    bool startRecording(const char* path);
    // True when the take was stored without error, and when none was running.
    bool stopRecording();
    bool isRecording() const { return recording_.load(std::memory_order_acquire); }
    // The main window's timer stops a RAM take that has filled its memory.
    bool isRamTakeFull() const;
    bool isTakeInRam() const { return takeInRam_; }
    // The 44-byte header at the start of the take's file, for the bytes recorded.
    // A direct take has one from its start, brought up to date by the writer once a
    // second of it has been written, so a take cut off at any moment opens in any
    // player up to that point (and is repaired at the next start).
    bool writeWaveHeader();
    const WaveFileState& recording() const { return take_; }
    // True while blocks of a direct take wait for the writer thread.
    bool isBlockPending() const { return writerQueue_.waiting() != 0; }
    bool hasWriter() const { return writerThread_ != nullptr; }

    // Driver thread, once per block of the chain.
    bool tapsBeforeAccompaniment() const override { return playingOnly; }
    void recordBlock(float* const* channels, int32_t channelCount, int32_t frames, float hostRate,
                     float gain) override;

private:
    static DWORD WINAPI writerEntry(void* deck);
    // Writer thread: writes each block the driver thread hands over.
    void recordWriterThread();
    void startWriter();
    void endWriter();
    void writeWaitingBlocks();
    void refreshTakeOnDisk();

    void noteHostRate(float rate);
    WaveOpenResult openFile(const char* path);
    void closeAccompanimentFile();
    bool namesAccompaniment(const char* path) const;

    void waitForWriter();
    void closeTap();
    bool storeRamTake();
    bool keepWhatWasWritten(uint32_t counted);
    void closeTakeFile(bool keptAfterFailure, bool keptForRepair);
    void endTakeJournal(bool keptForRepair);
    bool takeAnotherName();
    void finishTake();

    MmioFileFactory mmio_;
    RiffFileFactory* files_;
    TakeJournal* journal_;
    ProcessingControl* processing_ = nullptr;
    DeckBuffers buffers_;

    Relaxed<bool> playing_{false};
    // The chain's rate as the driver thread last passed it: files opened and takes
    // started later get a converter table for it too, should it be an unusual one.
    Relaxed<uint32_t> lastHostRate_{0};
    WaveFileState accompaniment_;
    FileIdentity accompanimentIdentity_;

    WaveFileState take_;
    std::atomic<bool> recording_{false};
    bool takeInRam_ = false;         // the mode the running take started in
    bool takeCreatedFile_ = false;   // the take's file exists because this take made it
    Relaxed<bool> takeFull_{false};  // a direct take reached the largest size a WAV file can state
    uint32_t takeByteLimit_ = 0;
    uint32_t takeBytesQueued_ = 0;   // driver thread: bytes of a direct take handed to the writer
    uint32_t headerStates_ = 0;      // writer thread: the bytes the header on disk states
    WriterQueue writerQueue_;
    uint8_t* ramTake_ = nullptr;

    HANDLE writerThread_ = nullptr;
    HANDLE writerEvent_ = nullptr;
    std::atomic<bool> writerQuit_{false};
    // Set by the writer just before it waits for the event; the driver thread signals
    // the event only when it clears this, so a writer busy with earlier blocks costs
    // the driver thread no system call.
    std::atomic<bool> writerIdle_{false};
};
