#include "RegistryKeys.h"

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
