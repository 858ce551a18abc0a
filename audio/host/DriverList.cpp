#include "DriverList.h"

#include <cstring>
#include <new>

#include <objbase.h>

#include "BuiltInDriver.h"
#include "Dx2AsioDriver.h"

bool isBuiltInDriverName(const char* text) {
    // The name and its NUL: a longer name that merely starts the same does not match.
    return text && std::memcmp(text, kBuiltInDriverName, sizeof kBuiltInDriverName) == 0;
}

namespace {

// Reads a registry text of at most 256 bytes. The value need not end in a NUL (the
// registry does not insist), so one byte more is kept as the terminator.
bool readRegistryText(HKEY key, const char* name, char (&text)[257]) {
    std::memset(text, 0, sizeof text);
    DWORD size = 256;
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS;
}

bool readDriverKey(HKEY asioKey, const char* subkeyName, CLSID& clsid, char (&description)[257]) {
    HKEY subkey = nullptr;
    if (RegOpenKeyExA(asioKey, subkeyName, 0, KEY_READ, &subkey) != ERROR_SUCCESS)
        return false;
    bool ok = false;
    char clsidText[257];
    if (readRegistryText(subkey, "clsid", clsidText)) {
        WCHAR wide[100];
        if (MultiByteToWideChar(CP_ACP, 0, clsidText, -1, wide, 100) > 0 &&
            SUCCEEDED(CLSIDFromString(wide, &clsid)))
            ok = readRegistryText(subkey, "description", description);
    }
    RegCloseKey(subkey);
    return ok;
}

}  // namespace

DriverList::DriverList() { buildDriverList(); }

DriverList::~DriverList() {
    while (head_) {
        DriverEntry* next = head_->next;
        delete head_;
        head_ = next;
    }
}

void DriverList::buildDriverList() {
    HKEY asioKey = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\asio", &asioKey) == ERROR_SUCCESS) {
        char subkeyName[512];
        for (DWORD index = 0; RegEnumKeyA(asioKey, index, subkeyName, sizeof subkeyName) == ERROR_SUCCESS; ++index) {
            CLSID clsid;
            char description[257];
            // ZerevaZ-2-UDID.dll registered for other hosts is the driver this program
            // has built in: it is listed once, as the built-in entry at the end.
            if (readDriverKey(asioKey, subkeyName, clsid, description) && !IsEqualGUID(clsid, CLSID_Dx2AsioDriver))
                append(clsid, description);
        }
        RegCloseKey(asioKey);
    }
    append(CLSID{}, kBuiltInDriverName);
}

void DriverList::append(const CLSID& clsid, const char* description) {
    DriverEntry* entry = new (std::nothrow) DriverEntry;
    if (!entry)
        return;
    entry->clsid = clsid;
    std::strncpy(entry->description, description, sizeof entry->description - 1);
    entry->description[sizeof entry->description - 1] = '\0';
    entry->next = nullptr;
    if (tail_)
        tail_->next = entry;
    else
        head_ = entry;
    tail_ = entry;
    ++count_;
}

const DriverEntry* DriverList::entry(int32_t index) const {
    if (index < 0)
        return nullptr;
    const DriverEntry* e = head_;
    for (; e && index > 0; --index)
        e = e->next;
    return e;
}

int32_t DriverList::indexOf(const char* description) const {
    if (!description)
        return -1;
    int32_t index = 0;
    for (const DriverEntry* e = head_; e; e = e->next, ++index)
        if (std::strcmp(e->description, description) == 0)
            return index;
    return -1;
}
