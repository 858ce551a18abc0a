#pragma once
// The class factory that COM hands to a host asking for ZerevaZ-2-UDID's class id.
#include "WinInclude.h"
#include <unknwn.h>

// One factory for the library's lifetime; its references count as uses of the
// library, so DllCanUnloadNow says no while a host holds it.
class DriverClassFactory : public IClassFactory {
public:
    DriverClassFactory() = default;
    virtual ~DriverClassFactory() = default;
    DriverClassFactory(const DriverClassFactory&) = delete;
    DriverClassFactory& operator=(const DriverClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // A new driver object; an outer object may only ask for IUnknown (aggregation).
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

DriverClassFactory& driverClassFactory();
