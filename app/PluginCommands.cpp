#include "PluginCommands.h"

#include <cstdio>

#include "EffectIds.h"
#include "PluginScan.h"
#include "PluginScanDialog.h"
#include "ShellState.h"

namespace {

PluginScan g_scan;

void runScan(HWND owner, int templateId) {
    g_scan.host = g_effectHost;
    std::snprintf(g_scan.appPluginDir, sizeof g_scan.appPluginDir, "%s", g_shell.appPluginDir);
    std::snprintf(g_scan.vstDir, sizeof g_scan.vstDir, "%s", g_shell.vstDir);
    runPluginScanDialog(g_windows.instance, owner, templateId, g_scan);
}

}  // namespace

void scanPluginsAtStart() {
    runScan(g_windows.frame, IDD_SCAN_AT_START);
}

void refreshPluginList(HWND owner) {
    runScan(owner, IDD_SCAN);
}
