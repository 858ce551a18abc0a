#pragma once
// ZerevaZ-2-UDID's entries in the machine's registry, in the view of the library's
// own width (a 32-bit library writes where 32-bit hosts look, a 64-bit one where
// 64-bit hosts look):
//   HKLM "Software\Classes\CLSID\{class id}" with "InprocServer32" (the library's
//        path, ThreadingModel "Apartment"): COM creates the driver from it;
//   HKLM "software\asio\ZerevaZ-2-UDID wrapper" with "CLSID" and "Description":
//        ASIO hosts list the driver from it.
#include "WinInclude.h"

// The text form of the driver's class id, braces included.
extern const char kDriverClsidText[];
// HKLM paths of the two entries, relative to the machine key.
extern const char kDriverClassKeyPath[];
extern const char kDriverAsioKeyPath[];

// Writes both entries for the library at modulePath. On any failure (no rights to
// the machine's keys, for one) everything this call wrote is removed again and the
// failure is returned.
HRESULT registerDriverServer(const wchar_t* modulePath);
// Removes both entries, and "software\asio" itself when nothing else is left in it.
// Entries that are already gone are no failure.
HRESULT unregisterDriverServer();
