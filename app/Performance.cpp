#include "Performance.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "EffectHost.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "MidiLearn.h"
#include "PathNames.h"
#include "PerformanceFiles.h"
#include "PerformanceStage.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "StringIds.h"
#include "WaveDeck.h"

namespace {

const double kVersion = 2.1;

uint32_t serialOf(const EffectSlot* slot) { return slot ? slot->serial : 0; }

// The performance's MIDI bindings as the snapshot saw them: a parameter learnt or
// forgotten since is a change to save. `bindingsKnown` false when they could not be
// written out, which vouches for nothing.
std::vector<char> g_snapshotBindings;
bool g_snapshotBindingsKnown = false;

}  // namespace

void snapshotPerformance() {
    LiveSettings& settings = *g_liveSettings;
    for (int position = 0; position < LiveSettings::kPositions; ++position) {
        settings.snapshotSlots[position] = serialOf(settings.slots[position]);
        settings.snapshotBypass[position] = settings.bypass[position];
    }
    std::free(settings.snapshotBlob);
    settings.snapshotBlob = nullptr;
    // Only what the positions hold: a next performance loaded beside them or a tail
    // still ringing is no part of this one.
    const uint8_t* blob = nullptr;
    const int32_t length = g_effectHost->buildStateBlob(&blob, settings.slots, LiveSettings::kPositions);
    if (blob && length > 0) {
        settings.snapshotBlob = static_cast<uint8_t*>(std::malloc(size_t(length)));
        if (settings.snapshotBlob)
            std::memcpy(settings.snapshotBlob, blob, size_t(length));
    }
    settings.snapshotLength = length;
    std::snprintf(settings.snapshotAccompaniment, sizeof settings.snapshotAccompaniment, "%s",
                  g_waveDeck->accompaniment().path);
    g_snapshotBindingsKnown = performanceBindingsText(g_snapshotBindings);
}

bool performanceChanged() {
    const LiveSettings& settings = *g_liveSettings;
    bool anyEffect = false;
    for (int position = 0; position < LiveSettings::kPositions; ++position)
        anyEffect = anyEffect || settings.slots[position] != nullptr;
    if (!anyEffect && !g_shell.accompFile[0])
        return false;
    if (std::strcmp(g_waveDeck->accompaniment().path, settings.snapshotAccompaniment) != 0)
        return true;
    std::vector<char> bindings;
    if (!g_snapshotBindingsKnown || !performanceBindingsText(bindings) || bindings != g_snapshotBindings)
        return true;
    for (int position = 0; position < LiveSettings::kPositions; ++position)
        if (serialOf(settings.slots[position]) != settings.snapshotSlots[position] ||
            settings.bypass[position] != settings.snapshotBypass[position])
            return true;
    const uint8_t* blob = nullptr;
    const int32_t length = g_effectHost->buildStateBlob(&blob, settings.slots, LiveSettings::kPositions);
    // A snapshot whose copy could not be kept cannot vouch for anything.
    return !blob || length != settings.snapshotLength || !settings.snapshotBlob ||
           std::memcmp(blob, settings.snapshotBlob, size_t(length)) != 0;
}

bool newPerformance(HWND frame) {
    if (performanceChanged()) {
        const int answer = showMessageBox(frame, "Performance was changed. Do you want to save it?", "Confirm",
                                          MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL)
            return false;
        // A save that did not happen would lose the changes: as good as Cancel.
        if (answer == IDYES && !savePerformanceCommand(frame, false))
            return false;
    }
    takePerformanceBindings(nullptr, 0);
    EffectSlot* previous[LiveSettings::kPositions];
    g_liveEngine->pauseProcessing();
    for (int position = 0; position < LiveSettings::kPositions; ++position) {
        previous[position] = g_liveSettings->slots[position];
        if (previous[position])
            g_effectHost->detachSlot(previous[position]);
        g_liveSettings->slots[position] = nullptr;
        g_liveSettings->bypass[position] = 0;
    }
    g_waveDeck->closeAccompaniment();
    g_liveEngine->resumeProcessing();
    // What the stage holds beside the positions (a tail ringing) stays until it is done.
    performanceStage().positionsReplaced(previous, LiveSettings::kPositions);
    for (EffectSlot* slot : previous)
        if (slot)
            g_effectHost->unloadSlot(slot);
    EffectSlot* const none[LiveSettings::kPositions] = {};
    unloadStrays(none);
    g_liveSettings->performanceName[0] = '\0';
    setFrameTitle(frame, nullptr);
    snapshotPerformance();
    if (frame)
        SendMessageA(frame, WM_COMMAND, IDC_CMD_CLOSE_ALL, 0);
    if (g_windows.navigationBar)
        ShowWindow(g_windows.navigationBar, SW_HIDE);
    return true;
}

void frameTitle(const char* performancePath, char* title, size_t size) {
    if (!performancePath || !performancePath[0]) {
        std::snprintf(title, size, "Talvenor Live %.2f", kVersion);
        return;
    }
    char name[32];
    baseNameOf(performancePath, name, sizeof name);
    std::snprintf(title, size, "Talvenor Live %.2f (%s)", kVersion, name);
}

void setFrameTitle(HWND frame, const char* performancePath) {
    char title[64];
    frameTitle(performancePath, title, sizeof title);
    if (frame)
        SetWindowTextA(frame, title);
}

void performancePathFromCommandLine(const char* commandLine, char* path, size_t size) {
    if (size == 0)
        return;
    path[0] = '\0';
    if (!commandLine)
        return;
    while (*commandLine == '"' || *commandLine == ' ')
        ++commandLine;
    size_t length = 0;
    while (commandLine[length] && commandLine[length] != '"')
        ++length;
    if (length >= size)
        length = size - 1;  // a longer path is cut rather than overflowing
    std::memcpy(path, commandLine, length);
    path[length] = '\0';
}
