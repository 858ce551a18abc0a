#include "LiveSettings.h"

#include <cstdlib>
#include <cstring>

#include "ChainStages.h"

LiveSettings::LiveSettings() {
    for (int i = 0; i < kPositions; ++i) {
        slots[i] = nullptr;
        bypass[i] = 0;
        snapshotSlots[i] = 0;
        snapshotBypass[i] = 0;
    }
    std::memset(performanceName, 0, sizeof performanceName);
    std::memset(snapshotAccompaniment, 0, sizeof snapshotAccompaniment);
}

LiveSettings::~LiveSettings() { std::free(snapshotBlob); }

void LiveSettings::connectPositions(EffectSlots* host, ProcessingControl* processing) {
    effectHost_ = host;
    processing_ = processing;
}

namespace {

bool validPosition(int32_t p) { return p >= 0 && p < LiveSettings::kPositions; }

// Pauses the driver's processing for the lifetime of the object, when there is
// processing to pause.
class PausedProcessing {
public:
    explicit PausedProcessing(ProcessingControl* processing) : processing_(processing) {
        if (processing_)
            processing_->pauseProcessing();
    }
    ~PausedProcessing() {
        if (processing_)
            processing_->resumeProcessing();
    }
    PausedProcessing(const PausedProcessing&) = delete;
    PausedProcessing& operator=(const PausedProcessing&) = delete;

private:
    ProcessingControl* processing_;
};

}  // namespace

EffectSlot* LiveSettings::slotAt(int32_t index) const {
    if (index < 0)
        index = 0;
    if (index >= kPositions)
        index = kPositions - 1;
    return slots[index];
}

bool LiveSettings::loadIntoPosition(int32_t position, int32_t listIndex) {
    if (!validPosition(position) || !effectHost_)
        return false;
    return installInPosition(position, effectHost_->loadPlugin(listIndex, nullptr));
}

bool LiveSettings::loadPathIntoPosition(int32_t position, const char* path) {
    if (!validPosition(position) || !effectHost_ || !path)
        return false;
    return installInPosition(position, effectHost_->loadPlugin(-1, path));
}

bool LiveSettings::installInPosition(int32_t position, EffectSlot* slot) {
    if (!slot)
        return false;
    // The new slot is not visible to the chain yet, so it is switched while
    // processing goes on.
    effectHost_->setSlotActive(slot, bypass[position] == 0);
    EffectSlot* previous = nullptr;
    {
        // A callback arriving while paused does no processing: the pause covers the
        // exchange alone, so that no buffer of the take or the outputs is lost to it.
        PausedProcessing paused(processing_);
        previous = slots[position];
        slots[position] = slot;
        if (previous)
            effectHost_->detachSlot(previous);
    }
    // Out of every position now, the previous occupant can be closed at leisure.
    if (previous)
        effectHost_->unloadSlot(previous);
    return true;
}

bool LiveSettings::unloadPosition(int32_t position) {
    if (!validPosition(position) || !slots[position])
        return true;
    EffectSlot* previous = nullptr;
    {
        PausedProcessing paused(processing_);
        previous = slots[position];
        slots[position] = nullptr;
        if (effectHost_)
            effectHost_->detachSlot(previous);
    }
    if (effectHost_)
        effectHost_->unloadSlot(previous);
    return true;
}

void LiveSettings::swapPositions(int32_t a, int32_t b) {
    PausedProcessing paused(processing_);
    EffectSlot* slot = slots[a];
    slots[a] = slots[b];
    slots[b] = slot;
    const uint8_t flag = bypass[a];
    bypass[a] = bypass[b];
    bypass[b] = flag;
}

bool LiveSettings::moveUp(int32_t position) {
    if (position >= 1 && position < kPositions)
        swapPositions(position, position - 1);
    return true;
}

bool LiveSettings::moveDown(int32_t position) {
    if (position >= 0 && position < kPositions - 1)
        swapPositions(position, position + 1);
    return true;
}

void LiveSettings::toggleBypass(int32_t position) {
    if (!validPosition(position))
        return;
    const uint8_t bypassed = bypass[position] == 0 ? 1 : 0;
    EffectSlot* slot = effectHost_ ? slots[position] : nullptr;
    // The plug-in is switched on before the chain may call it and switched off only
    // after the chain has stopped calling it; the pause covers the flag alone.
    if (slot && !bypassed)
        effectHost_->setSlotActive(slot, true);
    {
        PausedProcessing paused(processing_);
        bypass[position] = bypassed;
    }
    if (slot && bypassed)
        effectHost_->setSlotActive(slot, false);
}
