#include "AccompanimentCommands.h"

#include "MessageBoxes.h"
#include "StringIds.h"
#include "WaveDeck.h"

bool openAccompanimentPaused(WaveDeck& deck, ProcessingControl* processing, const char* path) {
    if (processing)
        processing->pauseProcessing();
    const bool opened = deck.openAccompaniment(path);
    if (processing)
        processing->resumeProcessing();
    if (!opened)
        showError(kStrOpenAccompanimentFailed);
    return opened;
}

void closeAccompanimentPaused(WaveDeck& deck, ProcessingControl* processing) {
    if (processing)
        processing->pauseProcessing();
    deck.closeAccompaniment();
    if (processing)
        processing->resumeProcessing();
}
