#pragma once
#include "ChainStages.h"

class WaveDeck;

// The accompaniment commands of the main window, without their dialog: the file is
// opened or closed while the chain is paused, since the driver thread may be reading
// it. processing may be null when no driver is loaded. UI thread.

// After the reason that openAccompaniment shows, a failed open adds string 18.
bool openAccompanimentPaused(WaveDeck& deck, ProcessingControl* processing, const char* path);
void closeAccompanimentPaused(WaveDeck& deck, ProcessingControl* processing);
