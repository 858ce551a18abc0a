#pragma once
// The WASAPI endpoints the driver can open, as the system's device enumerator lists
// them: capture or render, by friendly name, the default endpoint first.
#include "WinInclude.h"
#include <audioclient.h>
#include <mmdeviceapi.h>

#include "DeviceList.h"
#include "WasapiExclusiveNegotiation.h"

// The interface ids the WASAPI modes ask for, kept here (documented values) so that
// the driver does not depend on which of them the import libraries carry.
extern const CLSID kMMDeviceEnumeratorClass;
extern const IID kMMDeviceEnumeratorId;
extern const IID kAudioClientId;
extern const IID kAudioClient3Id;
extern const IID kAudioCaptureClientId;
extern const IID kAudioRenderClientId;

class WasapiEndpoints {
public:
    static const int kMaxIdLength = 512;

    WasapiEndpoints();
    virtual ~WasapiEndpoints();
    WasapiEndpoints(const WasapiEndpoints&) = delete;
    WasapiEndpoints& operator=(const WasapiEndpoints&) = delete;

    // Replaces the list with the active endpoints of flow (eCapture or eRender), the
    // default one first; an endpoint without a readable id or name is left out. UI
    // thread, COM initialised. The failing answer when there is no enumerator.
    HRESULT enumerate(EDataFlow flow);

    // The names, in the same order; entries carry no GUID, so the first (the default)
    // is the list's default device.
    const DeviceList& names() const { return names_; }
    // The endpoint id of entry index, or null past the list.
    const wchar_t* id(int index) const;

private:
    DeviceList names_;
    wchar_t ids_[DeviceList::kEntries][kMaxIdLength];
};

// Clients on one endpoint, found by its id (UI thread, COM initialised).
class EndpointClientSource : public AudioClientSource {
public:
    EndpointClientSource();
    virtual ~EndpointClientSource();
    EndpointClientSource(const EndpointClientSource&) = delete;
    EndpointClientSource& operator=(const EndpointClientSource&) = delete;

    // Finds the endpoint; the failing answer when it is gone or there is no enumerator.
    HRESULT open(const wchar_t* endpointId);
    HRESULT activate(IAudioClient** client) override;

private:
    IMMDevice* device_;
};
