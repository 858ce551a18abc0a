#include "DriverRegistration.h"

#include <cstring>
#include <cwchar>

const char kDriverClsidText[] = "{0FBD8060-41F5-11D8-BF79-B7C0DFD25873}";
const char kDriverClassKeyPath[] = "Software\\Classes\\CLSID\\{0FBD8060-41F5-11D8-BF79-B7C0DFD25873}";
const char kDriverAsioKeyPath[] = "software\\asio\\ZerevaZ-2-UDID wrapper";

namespace {

const char kAsioKeyPath[] = "software\\asio";
const char kDriverDescription[] = "ZerevaZ-2-UDID wrapper";

HRESULT fromWin32(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

class Key {
public:
    Key() = default;
    virtual ~Key() {
        if (key_)
            RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    LONG create(HKEY parent, const char* path) {
        return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key_,
                               nullptr);
    }
    LONG setText(const char* name, const char* text) const {
        return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              DWORD(std::strlen(text) + 1));
    }
    LONG setWideText(const wchar_t* name, const wchar_t* text) const {
        return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              DWORD((std::wcslen(text) + 1) * sizeof(wchar_t)));
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool keyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Removes a key with everything beneath it; one that is not there is no failure.
LONG removeTree(const char* path) {
    const LONG result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, path);
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

// "software\asio" belongs to every ASIO driver: it goes only when it is empty.
void removeAsioKeyIfEmpty() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAsioKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1;
    DWORD values = 1;
    const LONG result =
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kAsioKeyPath);
}

LONG writeClassEntry(const wchar_t* modulePath) {
    Key classKey;
    LONG result = classKey.create(HKEY_LOCAL_MACHINE, kDriverClassKeyPath);
    if (result == ERROR_SUCCESS)
        result = classKey.setText(nullptr, kDriverDescription);
    if (result != ERROR_SUCCESS)
        return result;
    Key server;
    result = server.create(classKey.get(), "InprocServer32");
    if (result == ERROR_SUCCESS)
        result = server.setWideText(nullptr, modulePath);
    if (result == ERROR_SUCCESS)
        result = server.setText("ThreadingModel", "Apartment");
    return result;
}

LONG writeAsioEntry() {
    Key entry;
    LONG result = entry.create(HKEY_LOCAL_MACHINE, kDriverAsioKeyPath);
    if (result == ERROR_SUCCESS)
        result = entry.setText("CLSID", kDriverClsidText);
    if (result == ERROR_SUCCESS)
        result = entry.setText("Description", kDriverDescription);
    return result;
}

}  // namespace

HRESULT registerDriverServer(const wchar_t* modulePath) {
    if (!modulePath || !*modulePath)
        return E_INVALIDARG;
    const bool hadAsioKey = keyExists(kAsioKeyPath);
    LONG result = writeClassEntry(modulePath);
    if (result == ERROR_SUCCESS)
        result = writeAsioEntry();
    if (result == ERROR_SUCCESS)
        return S_OK;
    // Half an entry would make hosts list a driver they cannot create (or create one
    // they cannot list): take back all of it.
    removeTree(kDriverAsioKeyPath);
    removeTree(kDriverClassKeyPath);
    if (!hadAsioKey)
        removeAsioKeyIfEmpty();
    return fromWin32(result);
}

HRESULT unregisterDriverServer() {
    const LONG asioResult = removeTree(kDriverAsioKeyPath);
    const LONG classResult = removeTree(kDriverClassKeyPath);
    removeAsioKeyIfEmpty();
    return fromWin32(asioResult != ERROR_SUCCESS ? asioResult : classResult);
}
