#include "TakeJournal.h"

#include <cstdio>
#include <cstring>

#include "HandleFile.h"
#include "RegistryKeys.h"
#include "TakeRepair.h"
#include "WinInclude.h"

namespace {

const char kJournalSubKey[] = "Takes in progress";

// The journal's key, created when asked to.
HKEY openJournal(bool create) {
    char path[sizeof kSettingsKeyPath + sizeof kJournalSubKey + 1];
    std::snprintf(path, sizeof path, "%s\\%s", kSettingsKeyPath, kJournalSubKey);
    HKEY key = nullptr;
    const LONG result = create ? RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                                                 nullptr, &key, nullptr)
                               : RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, &key);
    return result == ERROR_SUCCESS ? key : nullptr;
}

// The same take is named alike whichever folder the program was started in.
bool fullPathOf(const char* path, char (&full)[MAX_PATH]) {
    const DWORD length = path ? GetFullPathNameA(path, MAX_PATH, full, nullptr) : 0;
    return length > 0 && length < MAX_PATH;
}

class RegistryTakeJournal : public TakeJournal {
public:
    void noteStarted(const char* path) override {
        char full[MAX_PATH];
        HKEY key = fullPathOf(path, full) ? openJournal(true) : nullptr;
        if (!key)
            return;  // the take is recorded all the same; only its repair after a crash is not offered
        RegSetValueExA(key, full, 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
        RegCloseKey(key);
    }
    void noteEnded(const char* path) override {
        char full[MAX_PATH];
        HKEY key = fullPathOf(path, full) ? openJournal(false) : nullptr;
        if (!key)
            return;
        RegDeleteValueA(key, full);
        RegCloseKey(key);
    }
};

enum class Visit { forget, keep };

// One listed take: repaired when it needs it. Opened with no sharing, so that a take
// another process still writes is left alone.
Visit visitTake(const char* path, char* report, size_t reportSize, int& repaired) {
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Visit::keep : Visit::forget;
    }
    LARGE_INTEGER size{};
    TakeRepair repair{TakeRepairResult::notOurs, {}, 0};
    if (GetFileSizeEx(handle, &size)) {
        HandleFile file(handle);
        repair = repairTake(file, uint64_t(size.QuadPart));
    }
    CloseHandle(handle);
    if (repair.result == TakeRepairResult::failed)
        return Visit::keep;  // tried again at the next start
    if (repair.result == TakeRepairResult::repaired) {
        ++repaired;
        const uint32_t seconds = repair.dataBytes / repair.format.avgBytesPerSec;
        const size_t used = std::strlen(report);
        if (used + 1 < reportSize)
            std::snprintf(report + used, reportSize - used, "%s%s: %u min %u sec", used ? "\n" : "", path,
                          seconds / 60, seconds % 60);
    }
    return Visit::forget;
}

}  // namespace

TakeJournal& registryTakeJournal() {
    static RegistryTakeJournal journal;
    return journal;
}

int repairTakesLeftInProgress(char* report, size_t reportSize) {
    if (report && reportSize)
        report[0] = '\0';
    HKEY key = openJournal(false);
    if (!key)
        return 0;
    int repaired = 0;
    // Values are taken from the end, so that forgetting one leaves the others' indices.
    DWORD count = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr) == ERROR_SUCCESS) {
        char unused[1] = {'\0'};  // no report asked for: the lines go nowhere
        char* lines = report && reportSize ? report : unused;
        const size_t linesSize = report && reportSize ? reportSize : sizeof unused;
        for (DWORD index = count; index-- > 0;) {
            char path[MAX_PATH];
            DWORD length = sizeof path;
            if (RegEnumValueA(key, index, path, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                continue;  // a name too long for a path is no take of ours; it stays unread
            if (visitTake(path, lines, linesSize, repaired) == Visit::forget)
                RegDeleteValueA(key, path);
        }
    }
    RegCloseKey(key);
    return repaired;
}
