// The plug-in scan and the "Select a Plugin" dialog of the hosted program: which
// files are listed and in what order, a favourite stored in other letter case, the
// status text of the third file, Abort keeping what was found, favourites moving
// between the branches, the same base name in two folders, and one of our effects
// chosen into a position from the FX Manager.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "WinInclude.h"
#include <commctrl.h>

#include "EffectHost.h"
#include "EffectIds.h"
#include "FrameWindow.h"
#include "FxManagerWindow.h"
#include "HostedProgram.h"
#include "LiveSettings.h"
#include "PluginScan.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "Controls.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const std::string kOurPlugins = std::string(TALVENOR_BIN_DIR) + "VST Plugins\\";
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

std::string tempFolder(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + name + "\\";
}

void makeFile(const std::string& path) {
    std::ofstream(path, std::ios::binary) << "not a plug-in";
}

// The names of a folder's entries in the order the file system lists them.
std::vector<std::string> listed(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::string> pluginPaths() {
    std::vector<std::string> paths;
    for (const PluginEntry* entry = g_effectHost->pluginList(); entry; entry = entry->next)
        paths.push_back(entry->path);
    return paths;
}

std::string itemText(HWND tree, HTREEITEM item) {
    char text[64] = "";
    TVITEMA query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
    return text;
}

HTREEITEM next(HWND tree, HTREEITEM item, WPARAM how) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

// The roots' texts with their children's texts: "Favourites: x | VST Plugins: a, b".
std::string treeText(HWND tree) {
    std::string text;
    for (HTREEITEM root = next(tree, nullptr, TVGN_ROOT); root; root = next(tree, root, TVGN_NEXT)) {
        text += (text.empty() ? "" : " | ") + itemText(tree, root) + ":";
        for (HTREEITEM child = next(tree, root, TVGN_CHILD); child; child = next(tree, child, TVGN_NEXT))
            text += " " + itemText(tree, child);
    }
    return text;
}

// Selects the n-th child (0-based) named text under the root rootText.
bool selectItem(HWND tree, const std::string& rootText, const std::string& text, int n = 0) {
    for (HTREEITEM root = next(tree, nullptr, TVGN_ROOT); root; root = next(tree, root, TVGN_NEXT)) {
        if (itemText(tree, root) != rootText)
            continue;
        if (text.empty())
            return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root)) != 0;
        for (HTREEITEM child = next(tree, root, TVGN_CHILD); child; child = next(tree, child, TVGN_NEXT))
            if (itemText(tree, child) == text && n-- == 0)
                return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(child)) != 0;
    }
    return false;
}

void click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

HWND openSelection(HWND panel, int position) {
    PostMessageA(GetDlgItem(panel, IDC_FX_FIRST_NAME + position), WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
    return waitForMessageBox(kPid, "Select a Plugin", kTimeout).window;
}

}  // namespace

TEST(PluginScan, ListsLibrariesMarksFavouritesAndFeedsTheSelection) {
    // The user's folder: a.dll, b.DLL, c.dll.txt, sub\d.dll (which crashed once) and
    // w.dll (a library of the other width); the program's folder: a.dll again (in
    // another folder), x.y.dll and our Overdrive.
    const std::string user = tempFolder("talvenor-scan-user");
    const std::string program = tempFolder("talvenor-scan-app");
    const std::string programPlugins = program + "VST Plugins\\";
    CreateDirectoryA(user.c_str(), nullptr);
    CreateDirectoryA((user + "sub").c_str(), nullptr);
    CreateDirectoryA(program.c_str(), nullptr);
    CreateDirectoryA(programPlugins.c_str(), nullptr);
    for (const char* name : {"a.dll", "b.DLL", "c.dll.txt", "sub\\d.dll"})
        makeFile(user + name);
    makeFile(programPlugins + "a.dll");
    makeFile(programPlugins + "x.y.dll");
    ASSERT_TRUE(CopyFileA((kOurPlugins + "Overdrive.dll").c_str(), (programPlugins + "Overdrive.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((std::string(TALVENOR_BIN_DIR) + "test-plugins\\TestOtherWidth.dll").c_str(),
                          (user + "w.dll").c_str(), FALSE));
#ifdef _WIN64
    const std::string kW = "w 32-bit (VST 2)";
#else
    const std::string kW = "w 64-bit (VST 2)";
#endif
    const std::string kD = "d (VST 2, crashed once: own process)";

    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        settings.setText("szAppDir", program);
        settings.setText("szVstDir", user);
        settings.setPair("frameWndSize", 600, 440);
        // A favourite stored with the folder in other letter case is not this file.
        RegistryKey favourites((std::string(kSettingsKeyPath) + "\\Favourites").c_str(), true);
        std::string otherCase = user + "SUB\\d.dll";
        favourites.setText("d", otherCase);
        // Remembered under its path, whatever the letter case (as the file system finds it).
        RegistryKey failed((std::string(kSettingsKeyPath) + "\\Failed Plug-ins").c_str(), true);
        failed.setText((user + "SUB\\D.dll").c_str(), "crashed");
    }

    HostedProgram hosted;
    ASSERT_TRUE(hosted.start(""));
    // The scan runs before the frame is shown; a scan of a few folders ends before
    // its dialog would show, so none is seen and the frame comes with the list whole.
    HWND frame = hosted.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    // The program's folder first, then the user's, d.dll where sub was met; the
    // upper-case and the longer extension are left out.
    std::vector<std::string> expected;
    for (const std::string& name : listed(programPlugins))
        if (name != "." && name != "..")
            expected.push_back(programPlugins + name);
    for (const std::string& name : listed(user)) {
        if (name == "a.dll")
            expected.push_back(user + name);
        else if (name == "sub")
            expected.push_back(user + "sub\\d.dll");
        else if (name == "w.dll")
            expected.push_back(user + name);
    }
    EXPECT_EQ(pluginPaths(), expected);
    for (const PluginEntry* entry = g_effectHost->pluginList(); entry; entry = entry->next)
        EXPECT_EQ(entry->favourite, 0) << entry->path;

    // The same folder as both: every file twice. The status text of the third file.
    {
        PluginScan scan;
        scan.host = g_effectHost;
        std::snprintf(scan.appPluginDir, sizeof scan.appPluginDir, "%s", programPlugins.c_str());
        std::snprintf(scan.vstDir, sizeof scan.vstDir, "%s", programPlugins.c_str());
        HWND status = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        scan.statusText = status;
        ASSERT_TRUE(scanDirectory(scan, programPlugins.c_str()));
        EXPECT_EQ(scan.count, 3);
        char shown[200] = "";
        GetWindowTextA(status, shown, sizeof shown);
        EXPECT_EQ(std::string(shown), "VST Plugin 2\n" + listed(programPlugins).back());
        ASSERT_TRUE(rescanPlugins(scan));
        EXPECT_EQ(g_effectHost->pluginCount(), 6);
        // An empty setting counts as listed; a folder that is missing does not.
        scan.vstDir[0] = '\0';
        std::snprintf(scan.appPluginDir, sizeof scan.appPluginDir, "%s", (user + "missing\\").c_str());
        EXPECT_TRUE(rescanPlugins(scan));
        std::snprintf(scan.vstDir, sizeof scan.vstDir, "%s", (user + "missing too\\").c_str());
        EXPECT_FALSE(rescanPlugins(scan)) << "no folder could be listed";
        EXPECT_EQ(g_effectHost->pluginCount(), 0);
        DestroyWindow(status);
    }
    ASSERT_TRUE(postCommand(frame, IDC_CMD_REFRESH_PLUGINS));
    HWND refreshing = waitForMessageBox(kPid, "Searching for plugins...", kTimeout).window;
    ASSERT_NE(refreshing, nullptr);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(refreshing); }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(pluginPaths(), expected);

    // The selection: no favourites yet, the plug-ins sorted by name, x.y.dll as x.y,
    // each with its format beside it.
    pressKeys(frame, {VK_CONTROL, 'F'});
    HWND panel = nullptr;
    ASSERT_TRUE(waitUntil([&] { return g_windows.fxManager && (panel = fxManagerPanel()) != nullptr; }, kTimeout));
    HWND select = openSelection(panel, 1);
    ASSERT_NE(select, nullptr);
    HWND tree = GetDlgItem(select, IDC_SELECT_TREE);
    HWND favouriteButton = GetDlgItem(select, IDC_SELECT_FAVOURITE);
    EXPECT_EQ(treeText(tree), "Favourites: | Plugins: a (VST 2) a (VST 2) " + kD + " Overdrive (VST 2) " + kW + " x.y (VST 2)");
    EXPECT_FALSE(IsWindowEnabled(favouriteButton));
    // Added: x.y moves to the favourites at once, and the registry holds its path.
    ASSERT_TRUE(selectItem(tree, "Plugins", "x.y (VST 2)"));
    EXPECT_TRUE(IsWindowEnabled(favouriteButton));
    EXPECT_EQ(windowText(favouriteButton), "Add to Favourites");
    click(select, IDC_SELECT_FAVOURITE);
    EXPECT_EQ(treeText(tree), "Favourites: x.y (VST 2) | Plugins: a (VST 2) a (VST 2) " + kD + " Overdrive (VST 2) " + kW);
    {
        RegistryKey favourites((std::string(kSettingsKeyPath) + "\\Favourites").c_str(), false);
        std::string stored;
        ASSERT_TRUE(favourites.readText("x.y", &stored));
        EXPECT_EQ(stored, programPlugins + "x.y.dll");
    }
    // Both a.dll: one registry value, the second replacing the first.
    ASSERT_TRUE(selectItem(tree, "Plugins", "a (VST 2)", 0));
    click(select, IDC_SELECT_FAVOURITE);
    ASSERT_TRUE(selectItem(tree, "Plugins", "a (VST 2)", 0));
    click(select, IDC_SELECT_FAVOURITE);
    EXPECT_EQ(treeText(tree), "Favourites: a (VST 2) x.y (VST 2) a (VST 2) | Plugins: " + kD + " Overdrive (VST 2) " + kW);
    // Removed: back among the sorted plug-ins at once.
    ASSERT_TRUE(selectItem(tree, "Favourites", "x.y (VST 2)"));
    EXPECT_EQ(windowText(favouriteButton), "Remove from Favourites");
    click(select, IDC_SELECT_FAVOURITE);
    EXPECT_EQ(treeText(tree), "Favourites: a (VST 2) a (VST 2) | Plugins: " + kD + " Overdrive (VST 2) " + kW + " x.y (VST 2)");
    // A branch chosen with OK loads nothing.
    ASSERT_TRUE(selectItem(tree, "Plugins", ""));
    EXPECT_FALSE(IsWindowEnabled(favouriteButton));
    takeScreenshot(kScreenshots, "31-select-a-plugin");
    ASSERT_TRUE(pressButton(select, IDOK));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(g_liveSettings->slots[1], nullptr);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    // Overdrive chosen for position 1.
    select = openSelection(panel, 1);
    ASSERT_NE(select, nullptr);
    ASSERT_TRUE(selectItem(GetDlgItem(select, IDC_SELECT_TREE), "Plugins", "Overdrive (VST 2)"));
    ASSERT_TRUE(pressButton(select, IDOK));
    ASSERT_TRUE(waitUntil([] { return g_liveSettings->slots[1] != nullptr; }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    const char* shown = staticText(GetDlgItem(panel, IDC_FX_FIRST_NAME + 1));
    EXPECT_STREQ(shown, "Overdrive");

    // After the next scan only the a.dll added last is a favourite.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_REFRESH_PLUGINS));
    refreshing = waitForMessageBox(kPid, "Searching for plugins...", kTimeout).window;
    ASSERT_NE(refreshing, nullptr);
    EXPECT_TRUE(waitUntil([&] { return !IsWindow(refreshing); }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    int favourites = 0;
    for (const PluginEntry* entry = g_effectHost->pluginList(); entry; entry = entry->next)
        favourites += entry->favourite;
    EXPECT_EQ(favourites, 1);

    // Abort during a long scan: the dialog goes at once, the list keeps what was found.
    const std::string many = tempFolder("talvenor-scan-many");
    CreateDirectoryA(many.c_str(), nullptr);
    const int kMany = 1500;
    for (int i = 0; i < kMany; ++i)
        makeFile(many + "p" + std::to_string(i) + ".dll");
    std::snprintf(g_shell.vstDir, sizeof g_shell.vstDir, "%s", many.c_str());
    ASSERT_TRUE(postCommand(frame, IDC_CMD_REFRESH_PLUGINS));
    refreshing = waitForMessageBox(kPid, "Searching for plugins...", kTimeout).window;
    ASSERT_NE(refreshing, nullptr);
    HWND abortButton = GetDlgItem(refreshing, IDCANCEL);
    ASSERT_TRUE(waitUntil([&] { return IsWindowEnabled(abortButton); }, kTimeout));
    Sleep(100);
    ASSERT_TRUE(pressButton(refreshing, IDCANCEL));
    ASSERT_TRUE(waitForTicks(2));
    const int found = g_effectHost->pluginCount();
    EXPECT_LT(found, 3 + kMany) << "the scan was not stopped";
    EXPECT_GE(found, 3);
    EXPECT_EQ(int(pluginPaths().size()), found);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    ASSERT_TRUE(hosted.closeDiscarding(kTimeout));
    EXPECT_EQ(hosted.exitCode(), 0);
}
