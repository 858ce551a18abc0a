#pragma once
#include "WinInclude.h"

// Where the program keeps its settings: keys under HKEY_CURRENT_USER.

// The program's settings (gains, gate, driver name, directories...).
constexpr char kSettingsKeyPath[] = "SOFTWARE\\Talvenor Software\\Talvenor Live\\2";
// The built-in driver's values ("dxInputDevice", "dxBufferSize"...), its sub-key "ZerevaZ-2-UDID".
constexpr char kBuiltInDriverKeyPath[] = "SOFTWARE\\Talvenor Software\\Talvenor Live\\2\\ZerevaZ-2-UDID";

// Creates the settings key and the built-in driver's key under HKEY_CURRENT_USER
// when the installation did not (called once at start-up, UI thread). Existing keys
// and their values are left as they are. True when both keys exist afterwards.
bool createSettingsKeys();

// A sub-key of the settings key under HKEY_CURRENT_USER, named by a format whose %s
// is the settings key's path ("%s\\Favourites"), opened with the access asked and
// created only when `create`. Null when it is not there or could not be opened.
HKEY openSettingsSubkey(const char* pathFormat, REGSAM access, bool create);
