#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MidiBindings.h"
#include "Setlist.h"
#include "SwitchPoint.h"

// A performance made ready off the audio thread: its chain of effects and what else
// the file holds.
struct LoadedPerformance {
    SwitchSet chain;
    std::string accompaniment;           // empty: none
    std::vector<MidiBinding> bindings;   // the performance's own (plug-in parameters)
    std::string missing;                 // parts that could not be loaded, one a line (it plays without them)
};

// Opens performance files into slots of the effect host: the program's and the
// rig's way (PerformanceFiles), stand-ins in the tests. UI thread.
class PerformanceLoader {
public:
    virtual ~PerformanceLoader() = default;
    // Reads the file and loads its plug-ins with their states, resumed (bypassed
    // ones suspended). False (error says why, nothing left loaded) when the file does
    // not read as a performance.
    virtual bool loadPerformance(const std::string& path, LoadedPerformance& out, std::string& error) = 0;
    // Unloads slots no position and no tail holds any more.
    virtual void unloadSlots(const SwitchSet& set) = 0;
    // Opens (or closes, for an empty path) the backing track after a switch; plays at
    // once with autoplay.
    virtual void switchAccompaniment(const std::string& path, bool autoplay) = 0;
};

// The UI thread's half of switching through a setlist without a gap: keeps the
// entries next to the current one (and the one before) loaded while the current one
// plays, posts a switch to the audio thread's SwitchPoint, and unloads the outgoing
// chain once its tail has rung out. UI thread; service() from the timer or loop.
class PerformanceSwitcher {
public:
    static constexpr double kDefaultTailSeconds = 3.0;
    static constexpr double kMaxTailSeconds = 10.0;

    PerformanceSwitcher(SwitchPoint& point, PerformanceLoader& loader);
    ~PerformanceSwitcher();  // unloads what it preloaded and has not switched to
    PerformanceSwitcher(const PerformanceSwitcher&) = delete;
    PerformanceSwitcher& operator=(const PerformanceSwitcher&) = delete;

    // The entries to switch through; forgets preloads (unloads them). current() is
    // then -1 until the first switch.
    void setSetlist(const Setlist& setlist);
    const Setlist& setlist() const { return setlist_; }

    // 0 to 10 s (clamped), default 3.
    void setTailSeconds(double seconds);
    double tailSeconds() const { return tailSeconds_; }

    // Loads entry index now unless it is loaded already. False when it cannot be
    // (error names the performance and why); an entry that failed once is not tried
    // again until setSetlist.
    bool preload(size_t index, std::string& error);
    bool preloaded(size_t index) const;
    // Preloads the entries after and before the current one (first the next).
    void preloadNeighbours();

    // Before live input runs (no block in progress): puts entry index straight into
    // settings' positions, with its backing track. False (error set) when it cannot load.
    bool startWith(size_t index, LiveSettings& settings, std::string& error);
    // The chain in the positions is entry index's, put there another way (opened as
    // a file before live input ran): the next switch goes from it and the neighbours
    // follow it. Nothing is loaded or unloaded. False while a switch waits.
    bool setRunning(size_t index);
    // Posts the switch to entry index (loading it first when it was not preloaded);
    // it takes effect at the next block. False (error set) when the entry cannot be
    // loaded or a switch still waits for its block.
    bool switchTo(size_t index, std::string& error);
    bool next(std::string& error);
    bool previous(std::string& error);
    // The entry last switched to, -1 before any switch.
    int current() const { return current_; }
    // True between switchTo and the block that put it in place.
    bool switchWaiting() const;
    // The performance of the current entry's bindings (after its switch).
    const LoadedPerformance* currentPerformance() const;

    // UI thread, often: what the audio thread finished (a switch installed: the
    // backing track follows; a tail over: its slots unloaded), then the neighbours
    // preloaded. Returns true when a switch was installed since the last call.
    bool service();

private:
    struct Prepared {
        std::unique_ptr<LoadedPerformance> performance;
        bool failed = false;
        std::string error;
    };
    void forget(size_t index);

    SwitchPoint& point_;
    PerformanceLoader& loader_;
    Setlist setlist_;
    std::vector<Prepared> prepared_;
    double tailSeconds_ = kDefaultTailSeconds;
    int current_ = -1;
    int waitingFor_ = -1;       // the entry posted and not yet installed
    uint32_t waitingCount_ = 0; // the installed count it will be put in place as
    // What the chain in the positions came from when no entry of this setlist is
    // current (the setlist was replaced under it).
    std::unique_ptr<LoadedPerformance> running_;
};
