// ZerevaZ-2-UDID.dll: the built-in driver as an in-process COM server, so that every
// ASIO host on the machine can use it. The driver object is the program's own.
#include "WinInclude.h"
#include <objbase.h>
#include <olectl.h>

#include "ClassFactory.h"
#include "DriverRegistration.h"
#include "Dx2AsioDriver.h"
#include "ServerCounts.h"

namespace {
HINSTANCE thisLibrary = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisLibrary = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(clsid, CLSID_Dx2AsioDriver))
        return CLASS_E_CLASSNOTAVAILABLE;
    return driverClassFactory().QueryInterface(iid, object);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return serverIsIdle() ? S_OK : S_FALSE; }

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(thisLibrary, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return SELFREG_E_CLASS;  // no path that fits the registry's value: register nothing
    return registerDriverServer(path);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return unregisterDriverServer(); }
