#pragma once
#include <cstdint>

#include "WinInclude.h"

class LiveEngine;
class LiveSettings;
class EffectHost;
class WaveDeck;
class TunerTap;
class TunerWorker;

// The long-lived objects, created in this order at start-up and deleted in the
// same order at exit (the engine first, so no driver callback outlives the rest).
// The tuner taps the engine's chain; its worker analyses while the tuner window is
// open.
extern LiveEngine* g_liveEngine;
extern LiveSettings* g_liveSettings;
extern EffectHost* g_effectHost;
extern WaveDeck* g_waveDeck;
extern TunerTap* g_tuner;
extern TunerWorker* g_tunerWorker;

// The program's windows and the handles the other parts of the program use. UI thread.
struct ShellWindows {
    HINSTANCE instance;
    HWND frame;
    HWND mdiClient;  // owner of every error box
    HWND toolbar;
    HWND inputMeter;
    HWND outputMeter;
    HWND navigationBar;
    HWND tuner;         // the tuner tool window, hidden while closed
    HWND tooltip;
    HWND fxManager;     // the FX Manager MDI child, null while closed
    HWND setlist;       // the Setlist tool window, hidden while closed
    HMENU effectMenu;   // menu 146, whose first pop-up is the effect position's menu
    HMENU effectPopup;
    HACCEL accelerators;
};
extern ShellWindows g_windows;

struct WindowSpot {
    int32_t x;
    int32_t y;
};

// The shell's own settings values and run-time state (UI thread). The frame records
// its position and client size as it moves; the tool windows' positions are read
// from the windows when the settings are saved.
struct ShellValues {
    static constexpr int kPathSize = 260;

    WindowSpot framePosition{100, 50};
    WindowSpot frameSize{600, 400};  // client width and height
    WindowSpot inputMeterPosition{10, 200};
    // Below the input meter: a meter window is 56 pixels of client area plus its
    // caption and frame, so the output meter starts 90 pixels lower.
    WindowSpot outputMeterPosition{10, 290};
    WindowSpot navigationBarPosition{10, 100};
    WindowSpot tunerPosition{330, 200};
    int32_t showState = 5;  // 3 maximised, otherwise 5
    // Moves and sizes are recorded only once the saved places have been applied, so
    // that where the windows were first created does not replace the defaults.
    bool recordPlaces = false;

    char appDir[kPathSize] = "";        // the program's folder, ending in a backslash
    char appPluginDir[kPathSize] = "";  // appDir followed by "VST Plugins\"
    char vstDir[kPathSize] = "";        // the user's VST directory
    char accompFile[kPathSize] = "";    // the last accompaniment path
    char perfFile[kPathSize] = "";      // the last performance path
    char recordFile[kPathSize] = "";    // the take's path, for the run only
    char setlistFile[kPathSize] = "";   // the last setlist ("szSetlistFile"), opened at start

    // The setlist window's place and the effect tail at a switch ("setlistWndPos",
    // "setlistTailSeconds", 0 to 10).
    WindowSpot setlistPosition{360, 60};
    int32_t setlistTailSeconds = 3;

    // The tuner's choices ("tunerMuteOutput", "tunerMuteTake", "tunerReferenceA").
    bool tunerMuteOutput = true;
    bool tunerMuteTake = false;
    int32_t tunerReferenceA = 440;  // Hz

    WindowSpot fxManagerPosition{10, 10};  // kept for the run only
    int32_t lastNavigationMarkX = -1;

    const int16_t* click = nullptr;  // the metronome click's samples (resource 155)
    uint32_t clickBytes = 0;
};
extern ShellValues g_shell;

// Puts every value back to its start-up default (a new run in the same process).
void resetShellState();
