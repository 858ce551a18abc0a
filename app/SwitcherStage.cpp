#include "SwitcherStage.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "ControlTargets.h"
#include "EffectHost.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MidiBindings.h"
#include "MidiControl.h"
#include "MessageBoxes.h"
#include "PerformanceFormat.h"
#include "PerformanceLoading.h"
#include "ProgramMidi.h"
#include "SetlistWindow.h"
#include "ShellState.h"
#include "StringIds.h"
#include "WaveDeck.h"

namespace {

// How long a switch may wait for its block before the stage stops waiting: live
// input that runs puts it in place within a block or two.
const DWORD kInstallWaitMs = 2000;

SwitcherStage* g_switcherStage = nullptr;

bool liveInputRuns() { return g_liveEngine && g_liveEngine->running() && g_switchPoint; }

bool onOwnThread(unsigned long thread, const char* what) {
    if (GetCurrentThreadId() == thread)
        return true;
    char text[160];
    std::snprintf(text, sizeof text, "SwitcherStage::%s called off the UI thread\n", what);
    OutputDebugStringA(text);
    return false;
}

}  // namespace

bool ProgramPerformanceLoader::loadPerformance(const std::string& path, LoadedPerformance& out, std::string& error) {
    // Only its plug-in parameters' bindings: the program's own are the registry's.
    if (!loadPerformanceForSwitch(*g_effectHost, path, true, out, error))
        return false;
    for (EffectSlot* slot : out.chain.slots)
        if (slot)
            slots_.insert(slot);
    return true;
}

void ProgramPerformanceLoader::unloadSlots(const SwitchSet& set) {
    for (EffectSlot* slot : set.slots)
        if (slot) {
            slots_.erase(slot);
            g_effectHost->unloadSlot(slot);
        }
}

void ProgramPerformanceLoader::switchAccompaniment(const std::string& path, bool autoplay) {
    WaveDeck& deck = *g_waveDeck;
    if (path.empty()) {
        if (deck.isAccompanimentOpen())
            deck.closeAccompaniment();
        return;
    }
    if (!deck.isAccompanimentOpen() || std::strcmp(deck.accompaniment().path, path.c_str()) != 0) {
        deck.pause();
        if (!deck.openAccompaniment(path.c_str())) {
            showErrorWithDetail(kStrOpenAccompanimentFailed, path.c_str());
            return;
        }
    } else {
        deck.pause();
        deck.rewind();
    }
    if (autoplay)
        deck.play();
}

SwitcherStage::SwitcherStage() : thread_(GetCurrentThreadId()) {}

SwitcherStage::~SwitcherStage() {
    reset();
    switcher_.reset();
}

bool SwitcherStage::follow(int index, const char* path, Setlist& into) const {
    if (index < 0 || !path)
        return false;
    if (size_t(index) < into.entries.size() && !into.entries[size_t(index)].missing &&
        _stricmp(into.entries[size_t(index)].resolved.c_str(), path) == 0)
        return false;
    if (into.entries.size() <= size_t(index)) {
        SetlistEntry unknown;  // an entry the setlist has not named to the stage yet
        unknown.missing = true;
        into.entries.resize(size_t(index) + 1, unknown);
    }
    SetlistEntry& entry = into.entries[size_t(index)];
    entry.resolved = path;
    entry.path = path;
    entry.missing = false;
    entry.autoplay = false;  // the setlist starts the backing track itself
    return true;
}

void SwitcherStage::reset() {
    if (!switcher_)
        return;
    // The switch point reads the posted set until its block: it must not go before.
    const DWORD start = GetTickCount();
    while (switcher_->switchWaiting() && GetTickCount() - start < kInstallWaitMs) {
        Sleep(1);
        switcher_->service();
    }
    if (switcher_->switchWaiting())
        return;
    switcher_->setSetlist(list_);
    if (onStage_ >= 0)
        switcher_->setRunning(size_t(onStage_));
}

bool SwitcherStage::makeSwitcher() {
    if (switcher_)
        return true;
    if (!g_switchPoint)
        return false;
    switcher_.reset(new (std::nothrow) PerformanceSwitcher(*g_switchPoint, loader_));
    if (!switcher_)
        return false;
    switcher_->setTailSeconds(tailSeconds_);
    reset();
    return true;
}

FileOutcome SwitcherStage::bringOn(HWND frame, int index, const char* loadPath, const char* name, char* detail,
                                   size_t detailSize) {
    if (!onOwnThread(thread_, "bringOn"))
        return FileOutcome::Failed;
    if (!liveInputRuns()) {
        // No block to switch at: the file opens in place, as File, Open opens it.
        const FileOutcome outcome = openPerformanceNamed(frame, loadPath, name, detail, detailSize);
        if (outcome == FileOutcome::Done) {
            follow(index, loadPath, list_);
            onStage_ = index;
            reset();
        }
        return outcome;
    }
    if (!makeSwitcher()) {
        std::snprintf(detail, detailSize, "There is not enough memory for the switch.");
        return FileOutcome::Failed;
    }
    if (follow(index, loadPath, list_))
        reset();
    // What plays now rings on in the tail after the switch: File, Open must spare it
    // until the tail hands it back.
    for (EffectSlot* slot : g_liveSettings->slots)
        if (slot)
            loader_.adopt(slot);
    std::string error;
    if (!switcher_->switchTo(size_t(index), error)) {
        std::snprintf(detail, detailSize, "%s", error.c_str());
        return FileOutcome::Failed;
    }
    // Named, shown and snapshotted only once the chain is in the positions.
    const DWORD start = GetTickCount();
    bool installed = false;
    while (!installed && GetTickCount() - start < kInstallWaitMs) {
        installed = switcher_->service();
        if (!installed)
            Sleep(1);
    }
    if (!installed) {
        // Posted and not to be taken back: the performance is named when it lands.
        lateIndex_ = index;
        lateFrame_ = frame;
        lateName_ = name;
        return FileOutcome::Cancelled;
    }
    onStage_ = index;
    takeBindings();
    showPerformanceOnStage(frame, name);
    return FileOutcome::Done;
}

void SwitcherStage::takeBindings() {
    const LoadedPerformance* now = switcher_ ? switcher_->currentPerformance() : nullptr;
    if (g_midiControl && now)
        g_midiControl->setPerformanceBindings(now->bindings);
}

void SwitcherStage::expect(int nextIndex, const char* nextPath, int previousIndex, const char* previousPath) {
    if (!onOwnThread(thread_, "expect"))
        return;
    if (switcher_ && switcher_->switchWaiting())
        return;  // the posted set must stay where it is
    const bool changed = follow(nextIndex, nextPath, list_) | follow(previousIndex, previousPath, list_);
    if (!switcher_)
        return;  // made ready once live input runs (service)
    if (changed)
        reset();  // the chain in the positions stays; only performances made ready go
    if (!liveInputRuns())
        return;
    std::string ignored;  // told when the switch to it is asked for
    if (nextIndex >= 0)
        switcher_->preload(size_t(nextIndex), ignored);
    if (previousIndex >= 0)
        switcher_->preload(size_t(previousIndex), ignored);
}

void SwitcherStage::setTailSeconds(int seconds) {
    tailSeconds_ = seconds;
    if (switcher_)
        switcher_->setTailSeconds(seconds);
}

bool SwitcherStage::spares(const EffectSlot* slot) const { return loader_.loaded(slot); }

void SwitcherStage::positionsReplaced(const EffectSlot* const* previous, int count) {
    for (int i = 0; i < count; ++i)
        if (previous[i])
            loader_.forget(previous[i]);
    // The switcher's entry on stage is no longer what plays.
    onStage_ = -1;
    reset();
}

void SwitcherStage::service() {
    // Live input started: the entries next to the one on stage are made ready.
    if (!switcher_ && liveInputRuns() && !list_.entries.empty())
        makeSwitcher();
    if (!switcher_ || !liveInputRuns())
        return;
    if (switcher_->service() && lateIndex_ >= 0) {
        onStage_ = lateIndex_;
        takeBindings();
        showPerformanceOnStage(lateFrame_, lateName_.c_str());
        refreshSetlistWindow();
    }
    if (!switcher_->switchWaiting())
        lateIndex_ = -1;
}

void startSwitcherStage() {
    if (g_switcherStage)
        return;
    g_switcherStage = new (std::nothrow) SwitcherStage();
    setPerformanceStage(g_switcherStage);
}

void serviceSwitcherStage() {
    if (g_switcherStage)
        g_switcherStage->service();
}

void closeSwitcherStage() {
    setPerformanceStage(nullptr);
    delete g_switcherStage;
    g_switcherStage = nullptr;
}

SwitcherStage* switcherStage() { return g_switcherStage; }
