#include "StreamLoop.h"

#include <cstring>

#include "ChannelCopy.h"
#include "MessageBoxes.h"

const char kBuiltInDriverCaption[] = "Talvenor ZerevaZ-2-UDID";

namespace {

const char kLoopFailed[] = "There was an error occured when trying to start the buffer's loop.\n The loop now will stop";
const DWORD kRestoreRetryMs = 10;

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
          pacing_(capture_ && (!playback_ || setup.syncByInput) ? setup.captureEvent : setup.playbackEvent) {
        layout_.frames = int(setup.blockFrames);
        layout_.channels = setup.format.nChannels > 2 ? 2 : setup.format.nChannels;
        layout_.bytesPerSample = setup.format.wBitsPerSample / 8;
        layout_.blockAlign = setup.format.nBlockAlign;
        channelBytes_ = size_t(setup.blockFrames) * size_t(layout_.bytesPerSample);
    }
    virtual ~Streamer() = default;

    bool run() {
        if (!capture_ && !playback_)
            return false;
        if (playback_ && !zeroRegion(0, blockBytes_))
            return false;
        ResetEvent(pacing_);
        if (capture_) {
            if (FAILED(capture_->Start(DSCBSTART_LOOPING)))
                return false;
            if (playback_)
                Sleep(0);  // let the capture get going before the playback starts
        }
        if (playback_ && !startPlayback())
            return false;

        while (!stopRequested()) {
            if (playback_) {
                DWORD status = 0;
                if (FAILED(playback_->GetStatus(&status)))
                    return false;
                if (status & DSBSTATUS_BUFFERLOST) {
                    const Recovery r = recoverLostBuffer();
                    if (r == Recovery::stopped)
                        return true;
                    if (r == Recovery::failed)
                        return false;
                }
            }
            if (!cycle())
                return false;
            if (!waitForPacing())
                return false;
        }
        return true;
    }

private:
    enum class Recovery { restored, stopped, failed };

    bool stopRequested() const { return s_.stopRequest->load(std::memory_order_acquire); }

    DWORD blockOf(DWORD cursor) const { return (cursor % ringBytes_) / blockBytes_; }

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
        const DWORD blocks = DWORD(s_.blocks);
        if (capture_) {
            DWORD captureCursor = 0, readCursor = 0;
            if (FAILED(capture_->GetCurrentPosition(&captureCursor, &readCursor)))
                return false;
            const DWORD capturing = blockOf(readCursor);
            const DWORD back = blocks >= 4 ? 2 : 1;  // the newest whole block, or the one before
            const DWORD behind = (capturing + blocks - readPosition_ / blockBytes_) % blocks;
            if (behind == 0 || behind > back + 1)
                readPosition_ = ((capturing + blocks - back) % blocks) * blockBytes_;
        }
        if (playback_) {
            DWORD playCursor = 0, writeCursor = 0;
            if (FAILED(playback_->GetCurrentPosition(&playCursor, &writeCursor)))
                return false;
            const DWORD playing = blockOf(playCursor);
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

    bool waitForPacing() {
        if (WaitForSingleObject(pacing_, INFINITE) != WAIT_OBJECT_0)
            return false;
        return ResetEvent(pacing_) != 0;
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
        return Recovery::restored;
    }

    const StreamSetup& s_;
    const DWORD blockBytes_;
    const DWORD ringBytes_;
    DWORD readPosition_;   // the capture block the next cycle reads
    DWORD writePosition_;  // the playback block the next cycle writes
    IDirectSoundCaptureBuffer* const capture_;
    IDirectSoundBuffer* const playback_;
    const HANDLE pacing_;
    BlockLayout layout_;
    size_t channelBytes_;
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

bool runStreamLoop(const StreamSetup& setup) {
    if (!setup.callbacks || !setup.callbacks->bufferSwitch || !setup.stopRequest)
        return false;
    Streamer streamer(setup);
    return streamer.run();
}

void streamUntilStopped(const StreamSetup& setup, char* errorText, HWND window) {
    if (runStreamLoop(setup))
        return;
    storeErrorText(errorText, kLoopFailed);
    showMessageBox(window, errorText, kBuiltInDriverCaption, MB_OK | MB_ICONERROR);
}

void storeErrorText(char* errorText, const char* text) {
    std::strncpy(errorText, text ? text : "", 255);
    errorText[255] = '\0';
}
