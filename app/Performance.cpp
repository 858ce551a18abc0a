#include "Performance.h"

#include <cstdio>
#include <cstring>

#include "EffectHost.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "PathNames.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "StringIds.h"
#include "WaveDeck.h"

namespace {

const double kVersion = 2.1;

}  // namespace

void snapshotPerformance() {
    // The state blob and the positions' snapshot come with the performance files;
    // until then a performance cannot change, so there is nothing to remember.
}

bool performanceChanged() { return false; }

bool newPerformance(HWND frame) {
    if (performanceChanged()) {
        const int answer = showMessageBox(frame, "Performance was changed. Do you want to save it?", "Confirm",
                                          MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL)
            return false;
    }
    g_liveEngine->pauseProcessing();
    g_effectHost->unloadAllSlots();
    for (int position = 0; position < LiveSettings::kPositions; ++position) {
        g_liveSettings->slots[position] = nullptr;
        g_liveSettings->bypass[position] = 0;
    }
    g_waveDeck->closeAccompaniment();
    g_liveEngine->resumeProcessing();
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

void openCommandLinePerformance(const char* path) {
    char format[512];
    char text[1024];
    if (!loadStringText(kStrCommandLinePerformanceNotYet, format, sizeof format))
        return;
    // The string holds one %s; the path is put in its place by hand so that no
    // other '%' in either text is taken as a format.
    const char* mark = std::strstr(format, "%s");
    if (!mark) {
        std::snprintf(text, sizeof text, "%s", format);
    } else {
        std::snprintf(text, sizeof text, "%.*s%s%s", int(mark - format), format, path, mark + 2);
    }
    showMessageBox(errorBoxOwner(), text, "Talvenor Live", MB_OK | MB_ICONINFORMATION);
}
