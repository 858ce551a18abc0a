#include "StreamLoop.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ChannelCopy.h"
#include "MessageBoxes.h"

const char kBuiltInDriverCaption[] = "Talvenor ZerevaZ-2-UDID";

namespace {

const char kLoopFailed[] = "There was an error occured when trying to start the buffer's loop.\n The loop now will stop";
const DWORD kRestoreRetryMs = 10;
// A wait for a notification lasts two block periods, and at least 20 ms: Wine and many
// drivers move their cursors in steps of about 10 ms, and a shorter bound would often
// fire just before a notification that is on its way.
const double kMinNotificationWaitMs = 20.0;
// Once a wait has timed out, the loop looks at the cursors twice a block period until
// a notification arrives again.
const double kMinCursorPollMs = 2.0;
// A cursor that stands still this long belongs to a failed device. Before a device's
// cursor first moves, its sound server may still be starting the stream (a few tens
// of milliseconds on a sound card, up to a second or so on a sound server whose
// output was idle).
const double kStallMs = 500.0;
const double kFirstMoveMs = 2000.0;

// The last value a device's cursor showed and when that value changed.
struct CursorWatch {
    DWORD value = 0;
    double changedMs = 0.0;
    bool moved = false;

    void start(DWORD cursor, double now) {
        value = cursor;
        changedMs = now;
        moved = false;
    }
    void see(DWORD cursor, double now) {
        if (cursor == value)
            return;
        value = cursor;
        changedMs = now;
        moved = true;
    }
    bool stalled(double now, double stallMs) const { return now - changedMs > (moved ? stallMs : kFirstMoveMs); }
};

// One run of the loop: positions and ring geometry live here, read once at the start.
class Streamer {
public:
    explicit Streamer(const StreamSetup& setup)
        : s_(setup),
          blockBytes_(DWORD(setup.blockFrames) * setup.format.nBlockAlign),
          ringBytes_(blockBytes_ * DWORD(setup.blocks)),
          readPosition_(ringBytes_ - blockBytes_),
          writePosition_(blockBytes_),
          capture_(setup.captureBuffer),
          playback_(setup.secondaryBuffer),
          pacedByCapture_(capture_ && (!playback_ || setup.syncByInput)),
          pacing_(pacedByCapture_ ? setup.captureEvent : setup.playbackEvent) {
        layout_.frames = int(setup.blockFrames);
        layout_.channels = setup.format.nChannels > 2 ? 2 : setup.format.nChannels;
        layout_.bytesPerSample = setup.format.wBitsPerSample / 8;
        layout_.blockAlign = setup.format.nBlockAlign;
        channelBytes_ = size_t(setup.blockFrames) * size_t(layout_.bytesPerSample);
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        countsPerMs_ = double(frequency.QuadPart) / 1000.0;
        const double rate = setup.format.nSamplesPerSec ? double(setup.format.nSamplesPerSec) : 44100.0;
        blockMs_ = 1000.0 * double(setup.blockFrames) / rate;
        waitMs_ = toWaitMs(std::max(2.0 * blockMs_, kMinNotificationWaitMs));
        pollMs_ = toWaitMs(std::max(blockMs_ / 2.0, kMinCursorPollMs));
        stallMs_ = std::max(kStallMs, 4.0 * blockMs_);
    }
    virtual ~Streamer() = default;

    StreamEnd run() {
        if (!capture_ && !playback_)
            return StreamEnd::failed;
        if (playback_ && !zeroRegion(0, blockBytes_))
            return StreamEnd::failed;
        ResetEvent(pacing_);
        if (capture_) {
            if (FAILED(capture_->Start(DSCBSTART_LOOPING)))
                return StreamEnd::failed;
            if (playback_)
                Sleep(0);  // let the capture get going before the playback starts
        }
        if (playback_ && !startPlayback())
            return StreamEnd::failed;
        if (!startWatches())
            return StreamEnd::failed;

        while (!stopRequested()) {
            if (playback_) {
                DWORD status = 0;
                if (FAILED(playback_->GetStatus(&status)))
                    return StreamEnd::failed;
                if (status & DSBSTATUS_BUFFERLOST) {
                    const Recovery r = recoverLostBuffer();
                    if (r == Recovery::stopped)
                        return StreamEnd::stopped;
                    if (r == Recovery::failed)
                        return StreamEnd::failed;
                }
            }
            if (!cycle())
                return stalled_ ? StreamEnd::stalled : StreamEnd::failed;
            switch (waitForNextBlock()) {
            case Wake::block:
            case Wake::notYet:
                break;
            case Wake::stop:
                return StreamEnd::stopped;
            case Wake::failed:
                return StreamEnd::failed;
            case Wake::stalled:
                return StreamEnd::stalled;
            }
        }
        return StreamEnd::stopped;
    }

private:
    enum class Recovery { restored, stopped, failed };
    enum class Wake { block, notYet, stop, failed, stalled };

    static DWORD toWaitMs(double ms) { return DWORD(std::ceil(ms)); }

    bool stopRequested() const { return s_.stopRequest->load(std::memory_order_acquire); }

    double nowMs() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return double(now.QuadPart) / countsPerMs_;
    }

    void count(std::atomic<uint32_t> StreamCounters::*counter) {
        if (s_.counters)
            (s_.counters->*counter).fetch_add(1, std::memory_order_relaxed);
    }

    DWORD blockOf(DWORD cursor) const { return (cursor % ringBytes_) / blockBytes_; }

    // The capture's read cursor (everything before it is captured) and the playback's
    // play cursor, into their watches; the playback's write cursor where asked for.
    bool readCursors(DWORD* writeCursor = nullptr) {
        const double now = nowMs();
        if (capture_) {
            DWORD captureCursor = 0, readCursor = 0;
            if (FAILED(capture_->GetCurrentPosition(&captureCursor, &readCursor)))
                return false;
            captureWatch_.see(readCursor, now);
        }
        if (playback_) {
            DWORD playCursor = 0, committed = 0;
            if (FAILED(playback_->GetCurrentPosition(&playCursor, &committed)))
                return false;
            playbackWatch_.see(playCursor, now);
            if (writeCursor)
                *writeCursor = committed;
        }
        return true;
    }

    bool startWatches() {
        if (!readCursors())
            return false;
        const double now = nowMs();
        captureWatch_.start(captureWatch_.value, now);
        playbackWatch_.start(playbackWatch_.value, now);
        return true;
    }

    bool anyDeviceStalled() {
        const double now = nowMs();
        const bool capture = capture_ && captureWatch_.stalled(now, stallMs_);
        const bool playback = playback_ && playbackWatch_.stalled(now, stallMs_);
        if (!capture && !playback)
            return false;
        if (capture)
            count(&StreamCounters::captureStalls);
        if (capture && !captureWatch_.moved)
            count(&StreamCounters::captureNeverStarted);
        if (playback)
            count(&StreamCounters::playbackStalls);
        return true;
    }

    DWORD pacingCursor() const { return pacedByCapture_ ? captureWatch_.value : playbackWatch_.value; }

    // The positions move one block per cycle, as the notifications do. The devices'
    // cursors correct them only where they have become unsafe or late: the block to
    // read is the one the capture is writing (not whole yet, or being captured over),
    // or more than a block of margin older than the newest whole one (a loop that has
    // fallen behind would otherwise stay behind, up to a ring late), or the block to
    // write lies in the span the playback has taken, from the block playing to the
    // one under the write cursor (with small blocks that span holds several: a block
    // written inside it would be heard a whole ring late). Left alone, merged
    // notifications (a slow cycle, a burst of captured data), a cursor moving in coarse
    // steps or clocks drifting apart would keep the loop there for good; with
    // two-block rings that is every block. In step, this is the capture block just
    // completed and the playback block after the device's span. Where the ring has
    // room, a correction keeps a block of margin, so that the next step of a coarse
    // cursor does not call for another one.
    bool keepPositionsSafe() {
        DWORD writeCursor = 0;
        if (!readCursors(&writeCursor))
            return false;
        if (anyDeviceStalled()) {
            stalled_ = true;
            return false;
        }
        cycleMs_ = nowMs();
        pacingAtCycle_ = pacingCursor();
        const DWORD blocks = DWORD(s_.blocks);
        if (capture_) {
            const DWORD capturing = blockOf(captureWatch_.value);
            const DWORD back = blocks >= 4 ? 2 : 1;  // the newest whole block, or the one before
            const DWORD behind = (capturing + blocks - readPosition_ / blockBytes_) % blocks;
            if (behind == 0 || behind > back + 1)
                readPosition_ = ((capturing + blocks - back) % blocks) * blockBytes_;
        }
        if (playback_) {
            const DWORD playing = blockOf(playbackWatch_.value);
            const DWORD committed = blockOf(writeCursor);  // taken by the device from its start on
            const DWORD taken = (committed + blocks - playing) % blocks;  // blocks of the span after the playing one
            const DWORD target = writePosition_ / blockBytes_;
            if ((target + blocks - playing) % blocks <= taken) {
                DWORD ahead = blocks >= 5 ? 2 : 1;  // the first untouched block, or the one after
                if (taken + ahead >= blocks)
                    ahead = blocks - taken - 1;  // no margin left: the first untouched block
                // A ring the device has taken whole leaves no block untouched.
                const DWORD next = ahead ? (committed + ahead) % blocks : (playing + 1) % blocks;
                writePosition_ = next * blockBytes_;
            }
        }
        return true;
    }

    bool cycle() {
        if (!keepPositionsSafe())
            return false;
        const DWORD readPosition = readPosition_;
        const DWORD writePosition = writePosition_;
        void* captured = nullptr;
        DWORD capturedBytes = 0;
        if (capture_ &&
            FAILED(capture_->Lock(readPosition, blockBytes_, &captured, &capturedBytes, nullptr, nullptr, 0)))
            return false;
        void* playing = nullptr;
        DWORD playingBytes = 0;
        if (playback_ &&
            FAILED(playback_->Lock(writePosition, blockBytes_, &playing, &playingBytes, nullptr, nullptr, 0))) {
            if (capture_)
                capture_->Unlock(captured, capturedBytes, nullptr, 0);
            return false;
        }

        if (capture_) {
            if (capturedBytes == blockBytes_)
                deinterleaveBlock(static_cast<const uint8_t*>(captured), layout_, s_.inputs);
        } else {
            zeroChannels(s_.inputs);
        }
        if (!playback_)
            zeroChannels(s_.outputs);  // the host's outputs go nowhere, but it must see clean buffers

        s_.callbacks->bufferSwitch(0, 1);

        bool ok = true;
        if (playback_) {
            if (playingBytes == blockBytes_)
                interleaveBlock(static_cast<uint8_t*>(playing), layout_, s_.outputs);
            ok = SUCCEEDED(playback_->Unlock(playing, playingBytes, nullptr, 0));
        }
        if (capture_)
            ok = SUCCEEDED(capture_->Unlock(captured, capturedBytes, nullptr, 0)) && ok;
        readPosition_ = advance(readPosition_);
        writePosition_ = advance(writePosition_);
        return ok;
    }

    DWORD advance(DWORD position) const {
        position += blockBytes_;
        return position >= ringBytes_ ? 0 : position;
    }

    void zeroChannels(uint8_t* const* channels) const {
        for (int ch = 0; ch < 2; ++ch)
            if (channels[ch])
                std::memset(channels[ch], 0, channelBytes_);
    }

    // Waits for the pacing notification, at most a bounded time: a notification can be
    // passed by (an underflow, a position jump) and nothing promises that each one
    // arrives. After a time-out the loop goes on from where the cursors are, as after
    // merged notifications, and follows them until notifications come again.
    Wake waitForNextBlock() {
        const HANDLE handles[2] = {pacing_, s_.stopEvent};
        for (;;) {
            const DWORD bound = missing_ ? pollMs_ : waitMs_;
            const DWORD woken = WaitForMultipleObjects(s_.stopEvent ? 2 : 1, handles, FALSE, bound);
            if (stopRequested())
                return Wake::stop;
            if (woken == WAIT_OBJECT_0) {
                if (!ResetEvent(pacing_))
                    return Wake::failed;
                missing_ = false;
                const bool late = recovered_ && isLateNotification();
                recovered_ = false;
                if (!late)
                    return Wake::block;
                count(&StreamCounters::skipped);
                continue;
            }
            if (woken == WAIT_OBJECT_0 + 1)
                return Wake::stop;
            if (woken != WAIT_TIMEOUT)
                return Wake::failed;
            count(&StreamCounters::timeouts);
            missing_ = true;
            const Wake wake = followCursors();
            if (wake != Wake::notYet)
                return wake;
        }
    }

    // After a time-out: a block is due once the pacing cursor has moved into another
    // block since the last cycle, or has moved at all and two block periods have passed
    // (a two-block ring can come round to the same block). A lost playback ring is due
    // at once: the loop's top restores it.
    Wake followCursors() {
        if (playback_) {
            DWORD status = 0;
            if (FAILED(playback_->GetStatus(&status)))
                return Wake::failed;
            if (status & DSBSTATUS_BUFFERLOST)
                return Wake::block;
        }
        if (!readCursors())
            return Wake::failed;
        if (anyDeviceStalled())
            return Wake::stalled;
        const DWORD cursor = pacingCursor();
        const bool anotherBlock = blockOf(cursor) != blockOf(pacingAtCycle_);
        const bool longAgo = cursor != pacingAtCycle_ && nowMs() - cycleMs_ >= 2.0 * blockMs_;
        if (!anotherBlock && !longAgo)
            return Wake::notYet;
        count(&StreamCounters::recoveries);
        recovered_ = true;
        return Wake::block;
    }

    // The notification of a block that a cycle after a time-out has already processed:
    // the pacing cursor is still in the block it was in then, within a block period.
    bool isLateNotification() {
        if (!readCursors())
            return false;
        return blockOf(pacingCursor()) == blockOf(pacingAtCycle_) && nowMs() - cycleMs_ < blockMs_;
    }

    bool zeroRegion(DWORD offset, DWORD bytes) {
        void* data = nullptr;
        DWORD got = 0;
        if (FAILED(playback_->Lock(offset, bytes, &data, &got, nullptr, nullptr, 0)))
            return false;
        if (data)
            std::memset(data, 0, got);
        return SUCCEEDED(playback_->Unlock(data, got, nullptr, 0));
    }

    bool startPlayback() {
        if (s_.primaryBuffer && FAILED(s_.primaryBuffer->Play(0, 0, DSBPLAY_LOOPING)))
            return false;
        if (FAILED(playback_->Play(0, 0, DSBPLAY_LOOPING)))
            return false;
        return SUCCEEDED(playback_->SetCurrentPosition(0));
    }

    // A lost playback ring is restored (retried every 10 ms while no stop is
    // requested), refilled with silence and played again from its start, so that
    // its notifications resume before the loop waits for one; writing then resumes
    // at its second block.
    Recovery recoverLostBuffer() {
        while (FAILED(playback_->Restore())) {
            if (stopRequested())
                return Recovery::stopped;
            if (s_.stopEvent)
                WaitForSingleObject(s_.stopEvent, kRestoreRetryMs);
            else
                Sleep(kRestoreRetryMs);
        }
        if (stopRequested())
            return Recovery::stopped;
        if (s_.primaryBuffer)
            s_.primaryBuffer->Restore();  // a primary that was not lost answers with success too
        if (!zeroRegion(0, ringBytes_))
            return Recovery::failed;
        ResetEvent(s_.playbackEvent);
        if (!startPlayback())
            return Recovery::failed;
        writePosition_ = blockBytes_;
        if (!startWatches())
            return Recovery::failed;
        return Recovery::restored;
    }

    const StreamSetup& s_;
    const DWORD blockBytes_;
    const DWORD ringBytes_;
    DWORD readPosition_;   // the capture block the next cycle reads
    DWORD writePosition_;  // the playback block the next cycle writes
    IDirectSoundCaptureBuffer* const capture_;
    IDirectSoundBuffer* const playback_;
    const bool pacedByCapture_;
    const HANDLE pacing_;
    BlockLayout layout_;
    size_t channelBytes_;
    double countsPerMs_;
    double blockMs_;
    DWORD waitMs_;    // the bound on a wait for a notification
    DWORD pollMs_;    // the bound while notifications are missing
    double stallMs_;  // a cursor standing still this long is a failed device
    CursorWatch captureWatch_;
    CursorWatch playbackWatch_;
    DWORD pacingAtCycle_ = 0;  // the pacing cursor when the last cycle began
    double cycleMs_ = 0.0;
    bool missing_ = false;    // the last wait timed out: follow the cursors
    bool recovered_ = false;  // the last cycle came from the cursors, not a notification
    bool stalled_ = false;
};

}  // namespace

bool setBlockNotifications(IDirectSoundNotify* notify, HANDLE event, DWORD blockBytes, long blocks) {
    DSBPOSITIONNOTIFY positions[64];
    if (!notify || blocks < 1 || blocks > 64)
        return false;
    for (long k = 0; k < blocks; ++k) {
        positions[k].dwOffset = DWORD(k + 1) * blockBytes - 1;
        positions[k].hEventNotify = event;
    }
    return SUCCEEDED(notify->SetNotificationPositions(DWORD(blocks), positions));
}

StreamEnd runStreamLoop(const StreamSetup& setup) {
    if (!setup.callbacks || !setup.callbacks->bufferSwitch || !setup.stopRequest)
        return StreamEnd::failed;
    Streamer streamer(setup);
    const StreamEnd end = streamer.run();
    if (end == StreamEnd::stalled && setup.counters)
        setup.counters->stalls.fetch_add(1, std::memory_order_relaxed);
    return end;
}

bool noteStreamEnd(StreamEnd end, const StreamSetup& setup, char* errorText) {
    if (end == StreamEnd::stopped)
        return false;
    storeErrorText(errorText, kLoopFailed);
    // A stalled device may come back when opened anew: the host's reset does that. A
    // host that takes the request opens the driver again at once and reports a failure
    // of its own, so a box saying the loop stops would be wrong and in the player's way.
    const ASIOCallbacks* callbacks = setup.callbacks;
    if (end == StreamEnd::stalled && callbacks && callbacks->asioMessage &&
        callbacks->asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr))
        return callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr) == 0;
    return true;
}

void showStreamFailure(const char* text, HWND window) {
    showMessageBox(window, text, kBuiltInDriverCaption, MB_OK | MB_ICONERROR);
}

void storeErrorText(char* errorText, const char* text) {
    std::strncpy(errorText, text ? text : "", 255);
    errorText[255] = '\0';
}
