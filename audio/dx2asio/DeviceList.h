#pragma once
// The DirectSound devices the built-in driver can open, as enumeration lists them.
#include "WinInclude.h"

struct DeviceEntry {
    bool hasGuid;  // false for the platform's default device, which has no GUID
    GUID guid;     // copied: the enumeration's pointer is not ours to keep
    char description[256];
};

// One list of devices (capture or playback). At most kMaxListedDevices are listed;
// the list ends at the first entry with an empty description, so the two entries
// beyond the last listable one always end it.
class DeviceList {
public:
    static const int kEntries = 33;
    static const int kMaxListedDevices = 31;

    DeviceList();
    virtual ~DeviceList();

    void clear();
    // Replaces the list with the playback devices / the capture devices (UI thread).
    void enumeratePlayback();
    void enumerateCapture();
    // Stores one device in the next entry; false (nothing stored) when the list is full.
    bool add(const GUID* guid, const char* description);

    int count() const;
    // Entry 0..kEntries-1; an index beyond the list reads an empty entry.
    const DeviceEntry& entry(int index) const;
    // The first listed device whose description equals name exactly (case-sensitive), or -1.
    int find(const char* name) const;
    // The system's default device: the entry DirectSound lists without a GUID (it lists
    // it first, and it follows the default that the system's sound settings name), or -1
    // when the list has none.
    int defaultDevice() const;

private:
    static BOOL CALLBACK enumerated(LPGUID guid, LPCSTR description, LPCSTR module, LPVOID context);

    DeviceEntry entries_[kEntries];
    int stored_;
};
