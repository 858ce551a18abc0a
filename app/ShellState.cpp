#include "ShellState.h"

LiveEngine* g_liveEngine = nullptr;
LiveSettings* g_liveSettings = nullptr;
EffectHost* g_effectHost = nullptr;
WaveDeck* g_waveDeck = nullptr;
TunerTap* g_tuner = nullptr;
TunerWorker* g_tunerWorker = nullptr;

ShellWindows g_windows{};
ShellValues g_shell;

void resetShellState() {
    g_windows = ShellWindows{};
    g_shell = ShellValues{};
}
