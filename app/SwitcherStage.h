#pragma once
#include <memory>
#include <set>
#include <string>

#include "PerformanceStage.h"
#include "PerformanceSwitcher.h"

// The program's way of opening a performance into the effect host while the running
// one plays: its plug-ins loaded with their states beside the positions, no question
// asked and processing never paused; the backing track opened at the switch (and
// played only with autoplay). Keeps the slots it loaded until they are unloaded, so
// that the stage can say which ones File, Open must spare. UI thread.
class ProgramPerformanceLoader : public PerformanceLoader {
public:
    bool loadPerformance(const std::string& path, LoadedPerformance& out, std::string& error) override;
    void unloadSlots(const SwitchSet& set) override;
    void switchAccompaniment(const std::string& path, bool autoplay) override;

    bool loaded(const EffectSlot* slot) const { return slots_.count(slot) != 0; }
    // Slot is the stage's to keep from now on (the positions' plug-ins going into a
    // tail at a switch, whoever loaded them).
    void adopt(const EffectSlot* slot) { slots_.insert(slot); }
    // Slot was unloaded by someone else (File, Open unloading the positions).
    void forget(const EffectSlot* slot) { slots_.erase(slot); }

private:
    std::set<const EffectSlot*> slots_;
};

// The setlist's stage while live input runs: the entries next to the one on stage
// are loaded beforehand and a switch swaps the chain at a block boundary, the
// outgoing effects ringing on for the tail (the switch point's). Before live input
// runs a switch opens the file as File, Open does. UI thread; service() from the
// frame's timer.
class SwitcherStage : public PerformanceStage {
public:
    SwitcherStage();
    ~SwitcherStage() override;

    FileOutcome bringOn(HWND frame, int index, const char* loadPath, const char* name, char* detail,
                        size_t detailSize) override;
    void expect(int nextIndex, const char* nextPath, int previousIndex, const char* previousPath) override;
    void setTailSeconds(int seconds) override;
    bool spares(const EffectSlot* slot) const override;
    void positionsReplaced(const EffectSlot* const* previous, int count) override;

    // Tails that rang out unloaded, the neighbours loaded.
    void service();
    PerformanceSwitcher* switcher() { return switcher_.get(); }

private:
    // The switcher's entries follow the setlist's indices; entry index loads from
    // path. False when it already did (nothing forgotten).
    bool follow(int index, const char* path, Setlist& into) const;
    // The switcher's entries set again from list_ (performances made ready go), the
    // entry on stage told.
    void reset();
    bool makeSwitcher();
    // The incoming performance's own MIDI bindings in place of the outgoing one's.
    void takeBindings();

    ProgramPerformanceLoader loader_;
    std::unique_ptr<PerformanceSwitcher> switcher_;
    Setlist list_;
    // A switch that live input had not put in place when bringOn stopped waiting:
    // named when it lands.
    int lateIndex_ = -1;
    HWND lateFrame_ = nullptr;
    std::string lateName_;
    int onStage_ = -1;  // the entry the positions hold, -1 when they hold another performance
    int tailSeconds_ = int(PerformanceSwitcher::kDefaultTailSeconds);
    unsigned long thread_ = 0;
};

// The program's one stage: made and set as the setlist's stage at start, deleted
// before the effect host.
void startSwitcherStage();
void serviceSwitcherStage();
void closeSwitcherStage();
SwitcherStage* switcherStage();
