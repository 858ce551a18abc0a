#pragma once
#include <cstdint>

#include "WinInclude.h"

// One installed ASIO driver as the registry lists it, or the built-in driver.
struct DriverEntry {
    CLSID clsid;            // the driver's COM class; all zero for the built-in entry
    char description[256];  // the name shown and saved, NUL-terminated
    DriverEntry* next;
};

// The name of the program's own driver, listed after every installed one.
extern const char kBuiltInDriverName[23];  // defined with the driver (BuiltInDriver.h)

// True when text starts with the built-in driver's name and its terminating NUL.
bool isBuiltInDriverName(const char* text);

// The drivers found under HKEY_LOCAL_MACHINE "software\asio" at construction, in
// registry order, with the built-in entry last. Never rebuilt. UI thread.
class DriverList {
public:
    DriverList();
    virtual ~DriverList();
    DriverList(const DriverList&) = delete;
    DriverList& operator=(const DriverList&) = delete;

    int32_t count() const { return count_; }
    // Null for a negative index or one past the end.
    const DriverEntry* entry(int32_t index) const;
    // The first entry with exactly this description, or -1.
    int32_t indexOf(const char* description) const;

private:
    void buildDriverList();
    void append(const CLSID& clsid, const char* description);

    DriverEntry* head_ = nullptr;
    DriverEntry* tail_ = nullptr;
    int32_t count_ = 0;
};
