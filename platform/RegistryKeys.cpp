#include "RegistryKeys.h"

#include <cstdio>

#include "WinInclude.h"

namespace {

bool createKey(const char* path) {
    HKEY key = nullptr;
    const LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

}  // namespace

bool createSettingsKeys() {
    // RegCreateKeyEx creates the missing parents too; the settings key first, so a
    // failure is reported for the outer key.
    return createKey(kSettingsKeyPath) && createKey(kBuiltInDriverKeyPath);
}

HKEY openSettingsSubkey(const char* pathFormat, REGSAM access, bool create) {
    char keyPath[300];
    const int written = std::snprintf(keyPath, sizeof keyPath, pathFormat, kSettingsKeyPath);
    if (written <= 0 || size_t(written) >= sizeof keyPath)
        return nullptr;
    HKEY key = nullptr;
    const LONG result = create ? RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, access, nullptr, &key,
                                                 nullptr)
                               : RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, access, &key);
    return result == ERROR_SUCCESS ? key : nullptr;
}
