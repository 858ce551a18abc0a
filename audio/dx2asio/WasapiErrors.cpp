#include "WasapiErrors.h"

#include <audioclient.h>
#include <cstdio>

namespace {

const struct {
    HRESULT result;
    const char* meaning;
} kMeanings[] = {
    {AUDCLNT_E_DEVICE_IN_USE, "the device is in use by another program in exclusive mode"},
    {AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED,
     "exclusive mode is not allowed for this device (see its Advanced properties in the sound settings)"},
    {AUDCLNT_E_UNSUPPORTED_FORMAT, "the device does not support the sample format"},
    {AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED, "the buffer size is not aligned to what the device accepts"},
    {AUDCLNT_E_INVALID_DEVICE_PERIOD, "the period is out of the range the device accepts"},
    {AUDCLNT_E_BUFFER_SIZE_ERROR, "the buffer size is out of the range the device accepts"},
    {AUDCLNT_E_DEVICE_INVALIDATED, "the device was removed or disabled"},
    {AUDCLNT_E_ENDPOINT_CREATE_FAILED, "the device could not be opened"},
    {AUDCLNT_E_SERVICE_NOT_RUNNING, "the Windows audio service is not running"},
    {AUDCLNT_E_CPUUSAGE_EXCEEDED, "the audio engine is overloaded"},
    {AUDCLNT_E_EVENTHANDLE_NOT_SET, "the device was started without its event"},
    {AUDCLNT_E_NOT_INITIALIZED, "the stream was used before it was set up"},
    {AUDCLNT_E_ALREADY_INITIALIZED, "the stream was set up twice"},
    {AUDCLNT_E_WRONG_ENDPOINT_TYPE, "the device is not of the expected kind (capture or playback)"},
    {AUDCLNT_E_BUFFER_ERROR, "the device's buffer could not be had"},
    {AUDCLNT_E_BUFFER_OPERATION_PENDING, "the device's buffer is still in use"},
    {AUDCLNT_E_OUT_OF_ORDER, "the device's buffer was asked for out of order"},
    {AUDCLNT_E_ENGINE_PERIODICITY_LOCKED, "another program has fixed the engine's period"},
    {E_OUTOFMEMORY, "there is not enough memory"},
    {E_INVALIDARG, "the device refused the stream's parameters"},
    {E_NOINTERFACE, "the device does not offer the interface"},
    {E_POINTER, "an answer was missing"},
    {REGDB_E_CLASSNOTREG, "the Windows audio devices are not available"},
    {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), "the device is no longer present"},
};

}  // namespace

const char* wasapiFailureMeaning(HRESULT result, char* scratch) {
    for (const auto& m : kMeanings)
        if (m.result == result)
            return m.meaning;
    std::snprintf(scratch, 32, "the device answered 0x%08lX", static_cast<unsigned long>(result));
    return scratch;
}

void describeWasapiFailure(HRESULT result, const char* step, char* text) {
    char scratch[32];
    std::snprintf(text, 256, "%s: %s", step ? step : "WASAPI", wasapiFailureMeaning(result, scratch));
}

bool isExclusiveRefusal(HRESULT result) {
    return result == AUDCLNT_E_DEVICE_IN_USE || result == AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED;
}
