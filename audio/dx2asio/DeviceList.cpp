#include "DeviceList.h"

#include <cstring>

#include <dsound.h>

DeviceList::DeviceList() { clear(); }

DeviceList::~DeviceList() = default;

void DeviceList::clear() {
    std::memset(entries_, 0, sizeof entries_);
    stored_ = 0;
}

void DeviceList::enumeratePlayback() {
    clear();
    DirectSoundEnumerateA(&DeviceList::enumerated, this);
}

void DeviceList::enumerateCapture() {
    clear();
    DirectSoundCaptureEnumerateA(&DeviceList::enumerated, this);
}

BOOL CALLBACK DeviceList::enumerated(LPGUID guid, LPCSTR description, LPCSTR, LPVOID context) {
    return static_cast<DeviceList*>(context)->add(guid, description) ? TRUE : FALSE;
}

bool DeviceList::add(const GUID* guid, const char* description) {
    if (stored_ >= kMaxListedDevices)
        return false;
    DeviceEntry& e = entries_[stored_++];
    e.hasGuid = guid != nullptr;
    if (guid)
        e.guid = *guid;
    // Descriptions longer than the entry are cut, never overrun.
    std::strncpy(e.description, description ? description : "", sizeof e.description - 1);
    e.description[sizeof e.description - 1] = '\0';
    return true;
}

int DeviceList::count() const {
    int n = 0;
    while (n < kEntries && entries_[n].description[0] != '\0')
        ++n;
    return n;
}

const DeviceEntry& DeviceList::entry(int index) const {
    if (index < 0 || index >= kEntries)
        return entries_[kEntries - 1];  // always empty: enumeration never fills it
    return entries_[index];
}

int DeviceList::find(const char* name) const {
    if (!name)
        return -1;
    const int listed = count();
    for (int i = 0; i < listed; ++i)
        if (std::strcmp(entries_[i].description, name) == 0)
            return i;
    return -1;
}

int DeviceList::defaultDevice() const {
    const int listed = count();
    for (int i = 0; i < listed; ++i)
        if (!entries_[i].hasGuid)
            return i;
    return -1;
}
