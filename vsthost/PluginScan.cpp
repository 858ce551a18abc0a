#include "PluginScan.h"

#include <cstdio>
#include <cstring>

#include "EffectHost.h"
#include "PathNames.h"
#include "RegistryKeys.h"

namespace {

// The favourites key under the settings, opened with the access asked; created only
// when `create` (for the first favourite). Null when it is not there or not opened.
HKEY openFavouritesKey(REGSAM access, bool create) { return openSettingsSubkey(kFavouritesKeyFormat, access, create); }

// The backend whose file (or bundle) this is; null when none lists it.
const PluginFormatBackend* listingBackend(const EffectHost& host, const char* path, const char* name, bool directory) {
    for (int32_t i = 0; i < host.backendCount(); ++i) {
        const PluginFormatBackend* backend = host.backend(i);
        if (directory ? backend->isBundle(path) : backend->scanLists(name))
            return backend;
    }
    return nullptr;
}

void showStatus(PluginScan& scan, const char* fileName) {
    if (!scan.statusText)
        return;
    char status[400];
    std::snprintf(status, sizeof status, "VST Plugin %d\n%s", int(scan.count), fileName);
    SetWindowTextA(scan.statusText, status);
}

// Paths that do not fit the list's field are skipped, never cut into another name.
bool joinPath(char* out, size_t size, const char* directory, const char* name, const char* tail) {
    const int written = std::snprintf(out, size, "%s%s%s", directory, name, tail);
    return written > 0 && size_t(written) < size;
}

void listFile(PluginScan& scan, const char* path, const char* fileName, const PluginFormatBackend& backend) {
    if (!scan.host->addPluginEntry(path, isFavouritePath(path), backend.formatLabel()))
        return;
    showStatus(scan, fileName);
    ++scan.count;
}

}  // namespace

bool isFavouritePath(const char* path) {
    HKEY key = openFavouritesKey(KEY_READ, false);
    if (!key)
        return false;
    char name[32];
    baseNameOf(path, name, sizeof name);
    char stored[261] = "";
    DWORD type = 0;
    DWORD size = 260;
    const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ || size > 260)
        return false;
    stored[size < sizeof stored ? size : sizeof stored - 1] = '\0';
    return std::strcmp(stored, path) == 0;
}

bool scanDirectory(PluginScan& scan, const char* directory) {
    if (!directory[0])
        return true;
    char pattern[MAX_PATH + 2];
    if (!joinPath(pattern, sizeof pattern, directory, "*", ""))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    BOOL more = TRUE;
    while (more && scan.scanContinue.load()) {
        const char* name = found.cFileName;
        const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        char path[PluginEntry::kPathSize];
        // Paths that do not fit are skipped, never cut into another name.
        if ((isDirectory && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)) ||
            !joinPath(path, sizeof path, directory, name, "")) {
            more = FindNextFileA(search, &found);
            continue;
        }
        const PluginFormatBackend* backend = listingBackend(*scan.host, path, name, isDirectory);
        if (backend) {
            listFile(scan, path, name, *backend);
        } else if (isDirectory) {
            char below[PluginScan::kDirectorySize];
            if (joinPath(below, sizeof below, directory, name, "\\"))
                scanDirectory(scan, below);
        }
        more = FindNextFileA(search, &found);
    }
    FindClose(search);
    return true;
}

bool rescanPlugins(PluginScan& scan) {
    scan.host->clearPluginList();
    scan.count = 0;
    const bool fromProgram = scanDirectory(scan, scan.appPluginDir);
    const bool fromUser = scanDirectory(scan, scan.vstDir);
    // The folders each format installs its plug-ins in; one that is missing is no
    // failure (most systems have no plug-ins of some format).
    // A folder named twice (a format's list naming its usual folder) is walked once.
    char walked[PluginFormatBackend::kMaxScanFolders][PluginScan::kDirectorySize];
    int walkedCount = 0;
    for (int32_t i = 0; i < scan.host->backendCount(); ++i) {
        char folder[PluginScan::kDirectorySize];
        for (int32_t k = 0; k < PluginFormatBackend::kMaxScanFolders; ++k) {
            if (!scan.host->backend(i)->scanFolder(k, folder, sizeof folder))
                continue;
            bool seen = _stricmp(folder, scan.appPluginDir) == 0 || _stricmp(folder, scan.vstDir) == 0;
            for (int w = 0; w < walkedCount && !seen; ++w)
                seen = _stricmp(folder, walked[w]) == 0;
            if (seen)
                continue;
            if (walkedCount < PluginFormatBackend::kMaxScanFolders)
                std::memcpy(walked[walkedCount++], folder, sizeof folder);
            scanDirectory(scan, folder);
        }
    }
    return fromProgram || fromUser;
}

bool addFavourite(EffectHost& host, int32_t index) {
    PluginEntry* entry = host.pluginEntry(index);
    if (!entry)
        return false;
    if (entry->favourite)
        return true;
    HKEY key = openFavouritesKey(KEY_SET_VALUE, true);
    if (!key)
        return false;
    char name[32];
    baseNameOf(entry->path, name, sizeof name);
    const LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry->path),
                                       DWORD(std::strlen(entry->path) + 1));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return false;
    entry->favourite = 1;
    return true;
}

bool removeFavourite(EffectHost& host, int32_t index) {
    PluginEntry* entry = host.pluginEntry(index);
    if (!entry)
        return false;
    if (!entry->favourite)
        return true;
    HKEY key = openFavouritesKey(KEY_SET_VALUE, false);
    if (!key)
        return false;
    char name[32];
    baseNameOf(entry->path, name, sizeof name);
    const LONG result = RegDeleteValueA(key, name);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return false;
    entry->favourite = 0;
    return true;
}
