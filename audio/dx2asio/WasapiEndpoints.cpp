#include "WasapiEndpoints.h"

#include <cstring>
#include <cwchar>
#include <functiondiscoverykeys_devpkey.h>

const CLSID kMMDeviceEnumeratorClass = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID kMMDeviceEnumeratorId = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID kAudioClientId = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID kAudioClient3Id = {0x7ED4EE07, 0x8E67, 0x4CD4, {0x8C, 0x1A, 0x2B, 0x7A, 0x59, 0x87, 0xAD, 0x42}};
const IID kAudioCaptureClientId = {0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
const IID kAudioRenderClientId = {0xF294ACFC, 0x3146, 0x4483, {0xA7, 0xBF, 0xAD, 0xDC, 0xA7, 0xC2, 0x60, 0xE2}};

namespace {

// {A45C254E-DF1C-4EFD-8020-67D146A850E0}, 14: the endpoint's friendly name.
const PROPERTYKEY kFriendlyName = {{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

template <class T>
void releaseInterface(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

HRESULT createEnumerator(IMMDeviceEnumerator** enumerator) {
    *enumerator = nullptr;
    return CoCreateInstance(kMMDeviceEnumeratorClass, nullptr, CLSCTX_ALL, kMMDeviceEnumeratorId,
                            reinterpret_cast<void**>(enumerator));
}

// The friendly name in the program's code page; false without one.
bool friendlyName(IMMDevice* device, char* name, int size) {
    IPropertyStore* store = nullptr;
    if (FAILED(device->OpenPropertyStore(STGM_READ, &store)) || !store)
        return false;
    PROPVARIANT value;
    PropVariantInit(&value);
    bool named = false;
    if (SUCCEEDED(store->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR && value.pwszVal &&
        value.pwszVal[0])
        named = WideCharToMultiByte(CP_ACP, 0, value.pwszVal, -1, name, size, nullptr, nullptr) > 0;
    PropVariantClear(&value);
    store->Release();
    name[size - 1] = '\0';
    return named;
}

}  // namespace

WasapiEndpoints::WasapiEndpoints() { std::memset(ids_, 0, sizeof ids_); }

WasapiEndpoints::~WasapiEndpoints() {}

const wchar_t* WasapiEndpoints::id(int index) const {
    return index >= 0 && index < names_.count() ? ids_[index] : nullptr;
}

HRESULT WasapiEndpoints::enumerate(EDataFlow flow) {
    names_.clear();
    std::memset(ids_, 0, sizeof ids_);
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr = createEnumerator(&enumerator);
    if (FAILED(hr) || !enumerator)
        return FAILED(hr) ? hr : E_POINTER;

    wchar_t defaultId[kMaxIdLength] = {};
    IMMDevice* fallback = nullptr;
    if (SUCCEEDED(enumerator->GetDefaultAudioEndpoint(flow, eConsole, &fallback)) && fallback) {
        LPWSTR id = nullptr;
        if (SUCCEEDED(fallback->GetId(&id)) && id) {
            std::wcsncpy(defaultId, id, kMaxIdLength - 1);
            CoTaskMemFree(id);
        }
        char name[256];
        if (defaultId[0] && friendlyName(fallback, name, sizeof name) && names_.add(nullptr, name))
            std::wcsncpy(ids_[names_.count() - 1], defaultId, kMaxIdLength - 1);
        fallback->Release();
    }

    IMMDeviceCollection* all = nullptr;
    hr = enumerator->EnumAudioEndpoints(flow, DEVICE_STATE_ACTIVE, &all);
    if (SUCCEEDED(hr) && all) {
        UINT count = 0;
        all->GetCount(&count);
        for (UINT i = 0; i < count && names_.count() < DeviceList::kMaxListedDevices; ++i) {
            IMMDevice* device = nullptr;
            if (FAILED(all->Item(i, &device)) || !device)
                continue;
            LPWSTR id = nullptr;
            char name[256];
            // An id too long to keep is left out rather than cut into another's.
            if (SUCCEEDED(device->GetId(&id)) && id && std::wcslen(id) < size_t(kMaxIdLength) &&
                std::wcscmp(id, defaultId) != 0 && friendlyName(device, name, sizeof name) &&
                names_.add(nullptr, name))
                std::wcsncpy(ids_[names_.count() - 1], id, kMaxIdLength - 1);
            if (id)
                CoTaskMemFree(id);
            device->Release();
        }
        all->Release();
    }
    enumerator->Release();
    return SUCCEEDED(hr) ? S_OK : hr;
}

EndpointClientSource::EndpointClientSource() : device_(nullptr) {}

EndpointClientSource::~EndpointClientSource() { releaseInterface(device_); }

HRESULT EndpointClientSource::open(const wchar_t* endpointId) {
    releaseInterface(device_);
    if (!endpointId)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr = createEnumerator(&enumerator);
    if (FAILED(hr) || !enumerator)
        return FAILED(hr) ? hr : E_POINTER;
    hr = enumerator->GetDevice(endpointId, &device_);
    enumerator->Release();
    if (FAILED(hr))
        device_ = nullptr;
    return hr;
}

HRESULT EndpointClientSource::activate(IAudioClient** client) {
    *client = nullptr;
    if (!device_)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return device_->Activate(kAudioClientId, CLSCTX_ALL, nullptr, reinterpret_cast<void**>(client));
}
