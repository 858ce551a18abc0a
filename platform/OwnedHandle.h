#pragma once
// A Windows file handle closed when it goes out of scope; close() says whether the
// system accepted the close (a write may fail only there).
#include "WinInclude.h"

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE h) : handle(h) {}
    ~OwnedHandle() { close(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    bool valid() const { return handle != INVALID_HANDLE_VALUE; }
    bool close() {
        const bool closed = !valid() || CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return closed;
    }
    HANDLE handle;
};
