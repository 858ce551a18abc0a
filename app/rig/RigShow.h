#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "MidiScript.h"
#include "PerformanceSwitcher.h"
#include "RigOptions.h"
#include "RigSession.h"
#include "Setlist.h"

// A performance file opened as the program opens it, for the rig: its plug-ins
// loaded into the session's effect host with their states, its backing track and its
// own MIDI bindings. UI thread.
class RigPerformanceLoader : public PerformanceLoader {
public:
    explicit RigPerformanceLoader(RigSession& session) : session_(session) {}
    bool loadPerformance(const std::string& path, LoadedPerformance& out, std::string& error) override;
    void unloadSlots(const SwitchSet& set) override;
    void switchAccompaniment(const std::string& path, bool autoplay) override;

private:
    RigSession& session_;
};

// Whether path reads as a performance file (error: why not). Loads nothing.
bool checkPerformanceFile(const std::string& path, std::string& error);

// The rig's show: --performance or --setlist with their switches, and --midi-script.
// Set up before live input starts; service() from the rig's loop acts on what MIDI
// control hands over and prints one line per switch. UI thread.
class RigShow {
public:
    RigShow(RigSession& session, const RigOptions& options);
    ~RigShow();
    RigShow(const RigShow&) = delete;
    RigShow& operator=(const RigShow&) = delete;

    // Whether the options ask for anything of this.
    bool wanted() const;
    // Reads the script and the setlist (or the one performance) and puts the first
    // entry in place. False after showing what failed.
    bool setUp();
    // The loop's call: events, switches, tails, preloads.
    void service();
    // A render waits while this is true, so a switch lands at the same block every time.
    static bool busy(void* show);

private:
    void handle(const ControlEvent& event);
    void switchTo(int index, const char* why);
    void printSwitch();

    RigSession& session_;
    const RigOptions& options_;
    RigPerformanceLoader loader_;
    SwitchPoint& point_;
    std::unique_ptr<PerformanceSwitcher> switcher_;
    MidiScript script_;
    bool active_ = false;
    // Switches the loop has looked after (the backing track follows each): a render
    // waits for it too, so a backing track starts at the same block every time.
    std::atomic<uint32_t> servicedSwitches_{0};
};
