#include "FailedPlugins.h"

#include <cstdio>
#include <cstring>

#include "RegistryKeys.h"
#include "WinInclude.h"

namespace {

HKEY openFailedKey(REGSAM access, bool create) {
    char keyPath[300];
    std::snprintf(keyPath, sizeof keyPath, kFailedPluginsKeyFormat, kSettingsKeyPath);
    HKEY key = nullptr;
    const LONG result = create ? RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, access, nullptr, &key,
                                                 nullptr)
                               : RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, access, &key);
    return result == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

bool failedBefore(const char* path, char* how, size_t howSize) {
    if (how && howSize)
        how[0] = '\0';
    if (!path || !path[0])
        return false;
    HKEY key = openFailedKey(KEY_READ, false);
    if (!key)
        return false;
    // What the registry holds is read as untrusted as any file: a value of another
    // type or too long still counts as failed, with no words for how.
    char stored[64] = "";
    DWORD type = 0;
    DWORD size = sizeof stored - 1;
    const LONG result = RegQueryValueExA(key, path, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return false;
    if (how && howSize && result == ERROR_SUCCESS && type == REG_SZ && size < sizeof stored) {
        stored[size] = '\0';
        std::snprintf(how, howSize, "%s", stored);
    }
    return true;
}

bool isOwnEffect(const PluginIdentity& identity) {
    if (std::strcmp(identity.vendor, "Talvenor Software") != 0)
        return false;
    static const char* const kOwnEffects[] = {"Modulane", "Filtrace", "Overdrive"};
    for (const char* name : kOwnEffects)
        if (std::strcmp(identity.name, name) == 0)
            return true;
    return false;
}

const char* failureWord(const char* sentence) {
    if (!sentence || std::strstr(sentence, "stopped answering") || std::strstr(sentence, "did not answer"))
        return "stopped answering";
    if (std::strstr(sentence, "crashed"))
        return "crashed";
    return std::strstr(sentence, "ended") ? "quit" : "stopped answering";
}

bool rememberFailure(const char* path, const PluginIdentity& identity, const char* how) {
    if (!path || !path[0] || isOwnEffect(identity))
        return false;
    HKEY key = openFailedKey(KEY_SET_VALUE, true);
    if (!key)
        return false;
    const char* word = how && how[0] ? how : "failed";
    const LONG result =
        RegSetValueExA(key, path, 0, REG_SZ, reinterpret_cast<const BYTE*>(word), DWORD(std::strlen(word) + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool forgetFailure(const char* path) {
    HKEY key = openFailedKey(KEY_SET_VALUE, false);
    if (!key)
        return true;
    const LONG result = RegDeleteValueA(key, path);
    RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}
