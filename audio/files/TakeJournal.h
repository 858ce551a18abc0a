#pragma once
#include <cstddef>

// Which direct takes are being written, kept where a later start of the program finds
// them: a take still listed at start-up was cut off by a crash, a killed process or a
// power cut, and its header is brought up to what the file holds then. UI thread.
class TakeJournal {
public:
    virtual ~TakeJournal() = default;
    virtual void noteStarted(const char* path) = 0;
    // The take was stored with a header that states its sizes, or is gone.
    virtual void noteEnded(const char* path) = 0;
};

// The journal under the program's settings key, one value per take named by its full
// path, shared by the program and the live rig of either edition.
TakeJournal& registryTakeJournal();

// At start-up: each take still listed is repaired when its header needs it, and
// forgotten; a take whose file is held open (the other edition still recording it)
// stays listed, and one that is gone or not a take of ours is forgotten. Writes a line
// for each repaired take into report ("<path>: <m> min <s> sec"); returns how many.
int repairTakesLeftInProgress(char* report, size_t reportSize);
