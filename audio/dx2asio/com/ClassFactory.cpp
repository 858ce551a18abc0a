#include "ClassFactory.h"

#include <new>

#include "Dx2AsioDriver.h"
#include "RegistryKeys.h"
#include "ServerCounts.h"

namespace {

// The driver object as this library serves it: its life counts as a use of the library.
class ServedDriver : public Dx2AsioDriver {
public:
    explicit ServedDriver(IUnknown* outer) : Dx2AsioDriver(outer) { serverCountUp(); }
    ~ServedDriver() override { serverCountDown(); }
};

}  // namespace

DriverClassFactory& driverClassFactory() {
    static DriverClassFactory factory;
    return factory;
}

HRESULT STDMETHODCALLTYPE DriverClassFactory::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The factory is never deleted; its references only hold the library.
ULONG STDMETHODCALLTYPE DriverClassFactory::AddRef() {
    serverCountUp();
    return 2;
}

ULONG STDMETHODCALLTYPE DriverClassFactory::Release() {
    serverCountDown();
    return 1;
}

HRESULT STDMETHODCALLTYPE DriverClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer && !IsEqualGUID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    // The program makes these keys at its start; a host that is not our program
    // finds them here, so the settings dialog can store the driver's set-up.
    createSettingsKeys();
    ServedDriver* driver = new (std::nothrow) ServedDriver(outer);
    if (!driver)
        return E_OUTOFMEMORY;
    // The new object has no reference yet: a refused interface deletes it here.
    const HRESULT result = driver->NonDelegatingQueryInterface(iid, object);
    if (FAILED(result))
        driver->deletingDestructor();
    return result;
}

HRESULT STDMETHODCALLTYPE DriverClassFactory::LockServer(BOOL lock) {
    if (lock)
        serverCountUp();
    else
        serverCountDown();
    return S_OK;
}
