#include "RigShow.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ControlTargets.h"
#include "MessageBoxes.h"
#include "PerformanceFormat.h"
#include "PerformanceLoading.h"
#include "SetlistSwitch.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"
#include "WinInclude.h"

namespace {

std::string fullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full) : path;
}

const char* commandWord(ProgramCommand command) {
    switch (command) {
    case ProgramCommand::LiveInput: return "live input";
    case ProgramCommand::TapTempo: return "tap tempo";
    case ProgramCommand::Record: return "record";
    default: return "command";
    }
}

}  // namespace

bool checkPerformanceFile(const std::string& path, std::string& error) {
    std::vector<uint8_t> bytes;
    PerformanceImage image;
    return readPerformanceImage(path, bytes, image, error);
}

bool RigPerformanceLoader::loadPerformance(const std::string& path, LoadedPerformance& out, std::string& error) {
    return loadPerformanceForSwitch(session_.effects(), path, false, out, error);
}

void RigPerformanceLoader::unloadSlots(const SwitchSet& set) {
    for (EffectSlot* slot : set.slots)
        if (slot)
            session_.effects().unloadSlot(slot);
}

void RigPerformanceLoader::switchAccompaniment(const std::string& path, bool autoplay) {
    WaveDeck& deck = session_.deck();
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

RigShow::RigShow(RigSession& session, const RigOptions& options)
    : session_(session), options_(options), loader_(session), point_(session.switchPoint()) {}

RigShow::~RigShow() {
    session_.midi().playScript(nullptr);
    switcher_.reset();
}

bool RigShow::wanted() const {
    return !options_.performance.empty() || !options_.setlist.empty() || !options_.midiScript.empty();
}

bool RigShow::setUp() {
    active_ = wanted();
    if (!active_)
        return true;
    if (!options_.midiScript.empty()) {
        MidiScriptError problem;
        if (!readMidiScriptFile(fullPath(options_.midiScript), script_, problem)) {
            std::fprintf(stderr, "talvenor-rig: %s, line %d: %s\n", options_.midiScript.c_str(), problem.line,
                         problem.reason.c_str());
            return false;
        }
        session_.midi().playScript(&script_);
    }
    Setlist setlist;
    if (!options_.setlist.empty()) {
        const std::string path = fullPath(options_.setlist);
        SetlistReport report;
        if (!readSetlistFile(path, setlist, report)) {
            std::fprintf(stderr, "talvenor-rig: %s\n", describeSetlistProblem(report, path).c_str());
            return false;
        }
        if (setlist.entries.empty()) {
            std::fprintf(stderr, "talvenor-rig: the setlist %s has no performances\n", path.c_str());
            return false;
        }
        // Missing or damaged performances are named together; the rest plays.
        std::string unusable;
        for (SetlistEntry& entry : setlist.entries) {
            std::string why;
            if (entry.missing)
                unusable += entry.path + ": the file is not there\n";
            else if (!checkPerformanceFile(entry.resolved, why))
                unusable += entry.path + ": " + why + "\n";
        }
        if (!unusable.empty())
            showErrorWithDetail(kStrSetlistEntriesUnusable, unusable.c_str());
    } else if (!options_.performance.empty()) {
        SetlistEntry entry;
        entry.resolved = fullPath(options_.performance);
        entry.path = options_.performance;
        entry.missing = !regularFileExists(entry.resolved);
        setlist.entries.push_back(entry);
    }
    if (setlist.entries.empty())
        return true;  // a script alone: it plays on what --fx set up
    switcher_.reset(new PerformanceSwitcher(point_, loader_));
    switcher_->setTailSeconds(options_.tailSeconds);
    switcher_->setSetlist(setlist);
    std::string error;
    // The first entry that opens; with --performance there is only the one.
    for (size_t i = 0; i < setlist.entries.size(); ++i) {
        if (switcher_->startWith(i, session_.settings(), error))
            break;
        if (!options_.setlist.empty() && i + 1 < setlist.entries.size())
            continue;
        std::fprintf(stderr, "talvenor-rig: %s\n", error.c_str());
        return false;
    }
    const LoadedPerformance* now = switcher_->currentPerformance();
    if (now && !now->missing.empty())
        std::printf("not found, playing without: %s", now->missing.c_str());
    if (now)
        session_.midi().setPerformanceBindings(now->bindings);
    std::printf("%s\n", setlistSwitchLine(0.0, size_t(switcher_->current()),
                                          switcher_->setlist().entries[size_t(switcher_->current())]).c_str());
    std::fflush(stdout);
    switcher_->preloadNeighbours();
    return true;
}

void RigShow::switchTo(int index, const char* why) {
    if (!switcher_ || index < 0)
        return;
    std::string error;
    if (!switcher_->switchTo(size_t(index), error))
        std::printf("switch to setlist entry %d (%s) not made: %s\n", index + 1, why, error.c_str());
}

void RigShow::handle(const ControlEvent& event) {
    const double rate = session_.engine().chain().sampleRate();
    const double at = double(event.frame) / (rate > 0.0 ? rate : 44100.0);
    switch (event.kind) {
    case ControlEventKind::UnboundProgram:
        if (switcher_) {
            const int index = setlistEntryForMessage(event.message, switcher_->setlist().entries.size(),
                                                     kSetlistAnyChannel);
            if (index >= 0)
                switchTo(index, "program change");
            else
                std::printf("%8.3f s  program change %d: the setlist has no entry %d\n", at, event.message.data1 + 1,
                            event.message.data1 + 1);
        }
        break;
    case ControlEventKind::Command: {
        if (event.value < 0.5f)
            break;  // a release
        const ProgramCommand command = ProgramCommand(targetItem(event.target));
        WaveDeck& deck = session_.deck();
        switch (command) {
        case ProgramCommand::NextPerformance:
            switchTo(switcher_ ? (switcher_->switchWaiting() ? -1 : switcher_->current() + 1) : -1, "next");
            break;
        case ProgramCommand::PreviousPerformance:
            switchTo(switcher_ ? (switcher_->switchWaiting() ? -1 : switcher_->current() - 1) : -1, "previous");
            break;
        case ProgramCommand::SetlistEntry:
            switchTo(int(targetArgument(event.target)), "bound program change");
            break;
        case ProgramCommand::Play: deck.play(); break;
        case ProgramCommand::Pause: deck.pause(); break;
        case ProgramCommand::Rewind: deck.rewind(); break;
        default:
            std::printf("%8.3f s  %s: not available in the rig\n", at, commandWord(command));
            break;
        }
        break;
    }
    case ControlEventKind::Deferred:
        if (targetGroup(event.target) == TargetGroup::PluginParameter) {
            ParameterApplier::setDeferred(session_.effects(), session_.settings(), event.target, event.value);
        } else if (targetGroup(event.target) == TargetGroup::Bypass) {
            const int position = targetPosition(event.target);
            if ((session_.settings().bypass[position] != 0) != (event.value >= 0.5f))
                session_.settings().toggleBypass(position);
        }
        break;
    case ControlEventKind::Applied:
        if (targetBehaviourKind(event.target) == TargetBehaviourKind::Switch) {
            char name[64];
            targetName(event.target, name, sizeof name);
            std::printf("%8.3f s  %s %s\n", at, name, event.value >= 0.5f ? "on" : "off");
        }
        break;
    }
}

void RigShow::printSwitch() {
    const double rate = session_.engine().chain().sampleRate();
    const double at = double(point_.lastSwitchFrame()) / (rate > 0.0 ? rate : 44100.0);
    const int index = switcher_->current();
    std::printf("%s\n", setlistSwitchLine(at, size_t(index), switcher_->setlist().entries[size_t(index)]).c_str());
    const LoadedPerformance* now = switcher_->currentPerformance();
    if (now && !now->missing.empty())
        std::printf("not found, playing without: %s", now->missing.c_str());
    std::fflush(stdout);
}

void RigShow::service() {
    if (!active_)
        return;
    ControlEvent event;
    while (session_.midi().takeEvent(event))
        handle(event);
    if (switcher_ && switcher_->service()) {
        if (const LoadedPerformance* now = switcher_->currentPerformance())
            session_.midi().setPerformanceBindings(now->bindings);
        printSwitch();
    }
    session_.midi().eventsHandled();
    if (switcher_ && !switcher_->switchWaiting())
        servicedSwitches_.store(point_.switchesInstalled(), std::memory_order_release);
    std::fflush(stdout);
}

bool RigShow::busy(void* show) {
    RigShow* s = static_cast<RigShow*>(show);
    return s->active_ && (s->session_.midi().eventsOutstanding() ||
                          s->point_.switchesInstalled() != s->servicedSwitches_.load(std::memory_order_acquire));
}
