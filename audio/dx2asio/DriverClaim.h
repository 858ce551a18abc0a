#pragma once
// One program at a time may use ZerevaZ-2-UDID: the DirectSound devices it opens
// and its one set of stored settings are not made to be shared. The claim is held
// per process, so a host may keep several driver objects (a reset re-creates one
// before the old one is gone), while a second program is refused.

// The text a refused open reports through getErrorMessage.
extern const char kDriverInUseText[];

// Takes this process's share of the claim (UI thread). False when another process
// holds it; every successful claim is given back with releaseDriverClaim.
bool claimDriver();
void releaseDriverClaim();
