#pragma once
#include <cstddef>

#include "PerformanceFiles.h"
#include "WinInclude.h"

struct EffectSlot;

// How the setlist puts a performance on stage in place of the running one. The
// setlist decides which entry and asks the changed-performance question; a stage
// only brings the performance on. UI thread.
class PerformanceStage {
public:
    virtual ~PerformanceStage();

    // UI thread. Brings entry index of the setlist on: the performance in the file at
    // loadPath, named name (the entry's own file; loadPath differs when changes were
    // kept for the show). On Failed nothing changed and detail says why.
    virtual FileOutcome bringOn(HWND frame, int index, const char* loadPath, const char* name, char* detail,
                                size_t detailSize) = 0;
    // UI thread. The entries the next switch most likely brings on, with the files
    // they load from (an index of -1 and a null path: none), so that a stage can make
    // them ready beforehand.
    virtual void expect(int nextIndex, const char* nextPath, int previousIndex, const char* previousPath);
    // UI thread. How long the outgoing effects ring on after a switch, 0 to 10 s.
    virtual void setTailSeconds(int seconds);
    // UI thread. Whether the stage holds slot outside the positions (a performance
    // made ready, a tail ringing): File, Open and New must leave it loaded.
    virtual bool spares(const EffectSlot* slot) const;
    // UI thread. The positions were given other plug-ins than the stage put there (File,
    // Open, New); previous, what the positions held, is about to be unloaded.
    virtual void positionsReplaced(const EffectSlot* const* previous, int count);
};

// Opens the file as File, Open Performance does: the chain is rebuilt while the
// previous performance plays, then exchanged under one pause of processing.
class FileOpenStage : public PerformanceStage {
public:
    FileOutcome bringOn(HWND frame, int index, const char* loadPath, const char* name, char* detail,
                        size_t detailSize) override;
};

// The stage the setlist uses; the file-open stage until another is set. Not owned.
PerformanceStage& performanceStage();
void setPerformanceStage(PerformanceStage* stage);
