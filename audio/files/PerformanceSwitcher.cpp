#include "PerformanceSwitcher.h"

#include <cstdio>

#include "SetlistSwitch.h"
#include "StringIds.h"
#include "StringTable.h"

PerformanceSwitcher::PerformanceSwitcher(SwitchPoint& point, PerformanceLoader& loader)
    : point_(point), loader_(loader) {}

PerformanceSwitcher::~PerformanceSwitcher() {
    for (size_t i = 0; i < prepared_.size(); ++i)
        if (int(i) != current_ && int(i) != waitingFor_)
            forget(i);
}

void PerformanceSwitcher::forget(size_t index) {
    if (index >= prepared_.size())
        return;
    Prepared& p = prepared_[index];
    if (p.performance)
        loader_.unloadSlots(p.performance->chain);
    p.performance.reset();
    p.failed = false;
    p.error.clear();
}

void PerformanceSwitcher::setSetlist(const Setlist& setlist) {
    for (size_t i = 0; i < prepared_.size(); ++i)
        if (int(i) != current_ && int(i) != waitingFor_)
            forget(i);
    // The running chain stays in the positions; what it came from is kept for its
    // bindings until the next switch replaces it.
    std::vector<Prepared> kept;
    kept.resize(setlist.entries.size());
    if (current_ >= 0 && size_t(current_) < prepared_.size() && prepared_[size_t(current_)].performance)
        running_ = std::move(prepared_[size_t(current_)].performance);
    setlist_ = setlist;
    prepared_ = std::move(kept);
    current_ = -1;
}

void PerformanceSwitcher::setTailSeconds(double seconds) {
    if (!(seconds >= 0.0))
        seconds = 0.0;
    tailSeconds_ = seconds > kMaxTailSeconds ? kMaxTailSeconds : seconds;
}

bool PerformanceSwitcher::preloaded(size_t index) const {
    return index < prepared_.size() && prepared_[index].performance != nullptr;
}

bool PerformanceSwitcher::preload(size_t index, std::string& error) {
    if (index >= prepared_.size()) {
        error = "there is no setlist entry " + std::to_string(index + 1);
        return false;
    }
    Prepared& p = prepared_[index];
    if (p.performance)
        return true;
    if (p.failed) {
        error = p.error;
        return false;
    }
    const SetlistEntry& entry = setlist_.entries[index];
    std::unique_ptr<LoadedPerformance> loaded(new LoadedPerformance);
    std::string reason;
    if (entry.missing) {
        reason = "the file is not there";
    } else if (!loader_.loadPerformance(entry.resolved, *loaded, reason)) {
        if (reason.empty())
            reason = "it could not be read";
    } else {
        p.performance = std::move(loaded);
        return true;
    }
    char format[256] = "";
    char text[2048];
    if (stringTableText(kStrSwitchLoadFailed, format, sizeof format))
        std::snprintf(text, sizeof text, format, entry.path.c_str(), reason.c_str());
    else
        std::snprintf(text, sizeof text, "%s: %s", entry.path.c_str(), reason.c_str());
    p.failed = true;
    p.error = text;
    error = text;
    return false;
}

void PerformanceSwitcher::preloadNeighbours() {
    std::string ignored;  // told when the switch to it is asked for
    const int base = waitingFor_ >= 0 ? waitingFor_ : current_;
    if (base + 1 < int(prepared_.size()))
        preload(size_t(base + 1), ignored);
    if (base - 1 >= 0)
        preload(size_t(base - 1), ignored);
}

bool PerformanceSwitcher::switchWaiting() const { return waitingFor_ >= 0; }

const LoadedPerformance* PerformanceSwitcher::currentPerformance() const {
    if (current_ >= 0 && size_t(current_) < prepared_.size() && prepared_[size_t(current_)].performance)
        return prepared_[size_t(current_)].performance.get();
    return running_.get();
}

bool PerformanceSwitcher::startWith(size_t index, LiveSettings& settings, std::string& error) {
    if (waitingFor_ >= 0 || current_ >= 0 || !preload(index, error))
        return false;
    const LoadedPerformance& p = *prepared_[index].performance;
    for (int position = 0; position < LiveSettings::kPositions; ++position) {
        settings.slots[position] = p.chain.slots[position];
        settings.bypass[position] = p.chain.bypass[position];
    }
    current_ = int(index);
    loader_.switchAccompaniment(p.accompaniment, setlist_.entries[index].autoplay);
    return true;
}

bool PerformanceSwitcher::setRunning(size_t index) {
    if (waitingFor_ >= 0 || index >= prepared_.size())
        return false;
    if (current_ >= 0 && size_t(current_) != index && prepared_[size_t(current_)].performance)
        running_ = std::move(prepared_[size_t(current_)].performance);
    // A copy made ready of it is not what plays: it goes.
    if (int(index) != current_)
        forget(index);
    current_ = int(index);
    return true;
}

bool PerformanceSwitcher::switchTo(size_t index, std::string& error) {
    if (int(index) == current_ && waitingFor_ < 0)
        return true;  // already playing: nothing to do
    if (waitingFor_ >= 0) {
        error = "a switch is still on its way";
        return false;
    }
    if (!preload(index, error))
        return false;
    uint32_t installedAs = 0;
    if (!point_.post(&prepared_[index].performance->chain, tailSeconds_, installedAs)) {
        error = "a switch is still on its way";
        return false;
    }
    waitingFor_ = int(index);
    waitingCount_ = installedAs;
    return true;
}

bool PerformanceSwitcher::next(std::string& error) {
    const int base = waitingFor_ >= 0 ? waitingFor_ : current_;
    if (base + 1 >= int(prepared_.size())) {
        error = "the setlist has no entry after this one";
        return false;
    }
    return switchTo(size_t(base + 1), error);
}

bool PerformanceSwitcher::previous(std::string& error) {
    const int base = waitingFor_ >= 0 ? waitingFor_ : current_;
    if (base <= 0) {
        error = "the setlist has no entry before this one";
        return false;
    }
    return switchTo(size_t(base - 1), error);
}

bool PerformanceSwitcher::service() {
    bool switched = false;
    if (waitingFor_ >= 0 && int32_t(point_.switchesInstalled() - waitingCount_) >= 0) {
        // The outgoing chain now rings in the tail: its slots are the SwitchPoint's
        // until they come back retired; what remains of its entry is its bindings.
        if (current_ >= 0 && size_t(current_) < prepared_.size())
            prepared_[size_t(current_)].performance.reset();
        running_.reset();
        current_ = waitingFor_;
        waitingFor_ = -1;
        const SetlistEntry& entry = setlist_.entries[size_t(current_)];
        const LoadedPerformance& now = *prepared_[size_t(current_)].performance;
        loader_.switchAccompaniment(now.accompaniment, entry.autoplay);
        switched = true;
    }
    SwitchSet retired;
    while (point_.takeRetired(retired))
        loader_.unloadSlots(retired);
    if (waitingFor_ < 0)
        preloadNeighbours();
    return switched;
}
