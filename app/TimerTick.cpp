#include <atomic>
#include <cmath>

#include "CpuDisplay.h"
#include "EditorWindow.h"
#include "EffectHost.h"
#include "ErrorFlags.h"
#include "FrameWindow.h"
#include "FxManagerPanel.h"
#include "FxManagerWindow.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "PartTimes.h"
#include "ProgramMidi.h"
#include "ProgramMidiInputs.h"
#include "SwitcherStage.h"
#include "ResourceIds.h"
#include "RecordingDialog.h"
#include "ShellState.h"
#include "StringIds.h"
#include "TapTempoKey.h"
#include "Toolbar.h"
#include "TunerWindow.h"
#include "VuMeter.h"
#include "WaveDeck.h"

namespace {

// Read by tests and the bench from other threads.
std::atomic<uint32_t> g_ticks{0};
// Set while a tick handles the error flags: a box it shows runs a message loop in
// which further ticks arrive, and those leave the flags to it, so that the boxes of
// one tick appear one after the other, in their order.
bool g_handlingFlags = false;

TickPartTimes g_partTimes = {{"menu", "navigation mark", "recording figures", "CPU display", "meters", "tuner",
                              "tempo", "MIDI and switches", "effects' idle",
                              "error flags"},
                             {}};


void updateMenu(HWND frame) {
    HMENU menu = GetMenu(frame);
    if (!menu)
        return;
    CheckMenuItem(menu, IDC_CMD_METRONOME, MF_BYCOMMAND | (g_liveSettings->metronome ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, IDC_CMD_LIVE_INPUT, MF_BYCOMMAND | (g_liveEngine->running() ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, IDC_CMD_TUNER, MF_BYCOMMAND | (tunerIsOpen() ? MF_CHECKED : MF_UNCHECKED));
    const bool driverOpen = g_liveEngine->currentDriver() >= 0;
    EnableMenuItem(menu, IDC_CMD_CONTROL_PANEL, MF_BYCOMMAND | (driverOpen ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(menu, IDC_CMD_CLOSE_ACCOMPANIMENT,
                   MF_BYCOMMAND | (g_waveDeck->isAccompanimentOpen() ? MF_ENABLED : MF_GRAYED));
}

void updateNavigationMark() {
    HWND bar = g_windows.navigationBar;
    if (!bar)
        return;
    const int x = int(std::trunc(g_waveDeck->playbackPosition() * 100.0 + 138.0));
    if (x == g_shell.lastNavigationMarkX)
        return;
    RECT strip{128, 80, 278, 110};
    InvalidateRect(bar, &strip, TRUE);
    UpdateWindow(bar);
    g_shell.lastNavigationMarkX = x;
}

// A take cannot go on after a write error; it is stored with live input stopped,
// and live input goes on afterwards.
void endFailedTake() {
    if (!g_waveDeck->isRecording())
        return;
    const bool wasRunning = g_liveEngine->running();
    g_liveEngine->stopLiveInput();
    g_waveDeck->stopRecording();
    if (wasRunning)
        g_liveEngine->startLiveInput();
}

void handleErrorFlags() {
    if (takeErrorFlag(kFlagRestartLiveInput))
        g_liveEngine->restartLiveInput();  // shows its own box when it fails
    if (takeErrorFlag(kFlagUnsupportedFormat))
        showError(kStrFormatNotSupported);
    if (takeErrorFlag(kFlagDriverReset))
        g_liveEngine->resetDriver();  // shows its own boxes when it fails
    if (takeErrorFlag(kFlagRecordError)) {
        showError(kStrRecordError);
        if (recordingDialogIsOpen())
            stopTakeFromDialog();
        else
            endFailedTake();
    }
    if (takeErrorFlag(kFlagAccompReadError)) {
        showError(kStrAccompanimentReadError);
        g_waveDeck->pause();
        if (g_windows.navigationBar)
            InvalidateRect(g_windows.navigationBar, nullptr, TRUE);
    }
    if (takeErrorFlag(kFlagDiskTooSlow))
        showError(kStrDiskTooSlow);
}

}  // namespace

uint32_t frameTimerTicks() { return g_ticks.load(); }
const TickPartTimes& lastTickPartTimes() { return g_partTimes; }

void timerTick(HWND frame) {
    if (!g_liveEngine || !g_liveSettings || !g_waveDeck)
        return;
    // A running take's figures join this tick with the recording window.
    PartClock clock(g_partTimes.ms);
    updateMenu(frame);
    clock.endOf(0);
    updateNavigationMark();
    clock.endOf(1);
    updateRecordingCounters();
    clock.endOf(2);
    const LiveEngine& engine = *g_liveEngine;
    // The CPU display in the bottom strip is drawn again only when its figure changed.
    updateCpuUsage(frame, engine.cpuLoad());
    clock.endOf(3);
    updateMeters(engine.inputPeakLeft(), engine.inputPeakRight(), engine.outputPeakLeft(), engine.outputPeakRight());
    clock.endOf(4);
    // The tuner repaints only for a new reading; the tempo readout only for a new
    // tempo (tapped, or set in Audio Settings) or the end of tapping.
    updateTunerWindow();
    clock.endOf(5);
    showToolbarTempo(g_windows.toolbar, g_liveSettings->tempo, tempoTapping(GetTickCount()));
    clock.endOf(6);
    serviceProgramMidi();
    serviceSwitcherStage();  // tails rung out unloaded, the next performances made ready
    clock.endOf(7);
    if (g_effectHost && idleSlots(*g_effectHost))
        if (HWND panel = fxManagerPanel())
            refreshFxManagerPanel(panel);
    followPluginEditorInFront(frame);
    clock.endOf(8);
    if (g_handlingFlags)
        return;
    ++g_ticks;
    g_handlingFlags = true;
    handleErrorFlags();
    tickProgramMidiInputs();
    g_handlingFlags = false;
    clock.endOf(9);
}
