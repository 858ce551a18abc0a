#include "DriverClaim.h"

#include <mutex>

#include "WinInclude.h"

const char kDriverInUseText[] =
    "ZerevaZ-2-UDID is already in use by another program. Close the driver there (or that program), "
    "then try again.";

namespace {

// A named object exists while any process has it open: the first process to create
// it owns the driver until its last driver object lets go.
const char kClaimName[] = "Local\\Talvenor ZerevaZ-2-UDID in use";

std::mutex claimLock;  // driver objects of several host threads may come and go
HANDLE claimHandle = nullptr;
long claimCount = 0;

}  // namespace

bool claimDriver() {
    std::lock_guard<std::mutex> hold(claimLock);
    if (claimCount > 0) {
        ++claimCount;
        return true;
    }
    HANDLE handle = CreateMutexA(nullptr, FALSE, kClaimName);
    if (!handle)
        return false;  // exists under rights we cannot open: someone else has it
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        return false;
    }
    claimHandle = handle;
    claimCount = 1;
    return true;
}

void releaseDriverClaim() {
    std::lock_guard<std::mutex> hold(claimLock);
    if (claimCount <= 0)
        return;
    if (--claimCount == 0) {
        CloseHandle(claimHandle);
        claimHandle = nullptr;
    }
}
