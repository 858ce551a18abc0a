#pragma once
// The plug-in scanner: walks the program's own plug-in folder, the user's VST folder
// and the folders the format backends name, depth first, and lists every file or
// bundle a backend calls its own (VST 2: "*.dll", in lower case) in the effect host's
// plug-in list with its format, marking the user's favourites. Loads nothing. Runs
// on the scan thread while the scan dialog shows its progress.
#include <atomic>
#include <cstdint>

#include "WinInclude.h"

class EffectHost;

struct PluginScan {
    static constexpr int kDirectorySize = 260;

    EffectHost* host = nullptr;
    char appPluginDir[kDirectorySize] = "";  // both end in a backslash, or are empty
    char vstDir[kDirectorySize] = "";
    // Cleared by the dialog's Abort; the walk stops before its next entry.
    std::atomic<uint8_t> scanContinue{1};
    HWND statusText = nullptr;  // shows the file found last; may be null
    int32_t count = 0;
};

// Empties the list and walks both folders; true when at least one walk succeeded.
// The caller arms scanContinue before, so an Abort that comes before the walk has
// begun is not forgotten.
bool rescanPlugins(PluginScan& scan);
// Appends the plug-ins below directory (ending in a backslash) to the list. True for
// an empty text and for a folder that could be listed, also when aborted.
bool scanDirectory(PluginScan& scan, const char* directory);

// The registry's favourites: one string value per plug-in, named by its base name,
// holding its full path.
constexpr char kFavouritesKeyFormat[] = "%s\\Favourites";
// True when the favourites hold exactly this path under its base name.
bool isFavouritePath(const char* path);

// Marks entry index of the list a favourite (or no longer one) and keeps the registry
// in step; the favourites key is created on first use. False when the list has no
// such entry or the registry cannot be written.
bool addFavourite(EffectHost& host, int32_t index);
bool removeFavourite(EffectHost& host, int32_t index);
