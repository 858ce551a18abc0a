#include "DriverSettings.h"

#include <cstring>

#include "DeviceList.h"
#include "RegistryKeys.h"

namespace {

long clampLong(long value, long low, long high) { return value < low ? low : value > high ? high : value; }

class DriverKey {
public:
    explicit DriverKey(REGSAM access) {
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, access, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    virtual ~DriverKey() {
        if (key_)
            RegCloseKey(key_);
    }
    DriverKey(const DriverKey&) = delete;
    DriverKey& operator=(const DriverKey&) = delete;

    bool isOpen() const { return key_ != nullptr; }

    bool has(const char* name) const {
        return RegQueryValueExA(key_, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    // Reads a value of the expected type and exact size; false leaves data unspecified.
    bool readExact(const char* name, DWORD type, void* data, DWORD size) const {
        DWORD actualType = 0;
        DWORD actualSize = size;
        if (RegQueryValueExA(key_, name, nullptr, &actualType, static_cast<BYTE*>(data), &actualSize) !=
            ERROR_SUCCESS)
            return false;
        return actualType == type && actualSize == size;
    }

    bool readDword(const char* name, DWORD& value) const { return readExact(name, REG_DWORD, &value, sizeof value); }

    // Reads a text value into text (size bytes, size - 1 asked for); always NUL-terminated.
    bool readText(const char* name, char* text, DWORD size) const {
        std::memset(text, 0, size);
        DWORD type = 0;
        DWORD got = size - 1;
        if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &got) != ERROR_SUCCESS)
            return false;
        text[size - 1] = '\0';
        return type == REG_SZ;
    }

    bool writeBinary(const char* name, const void* data, DWORD size) const {
        return RegSetValueExA(key_, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    }

    bool writeDword(const char* name, DWORD value) const {
        return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
               ERROR_SUCCESS;
    }

    // A device name is stored as 256 bytes, zero-padded.
    bool writeDeviceName(const char* name, const char* device) const {
        char padded[256] = {};
        std::strncpy(padded, device, sizeof padded - 1);
        return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(padded), sizeof padded) ==
               ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
};

int loadDevice(const DriverKey& key, const char* name, const DeviceList& list) {
    char stored[1000];
    if (key.isOpen() && key.readText(name, stored, sizeof stored)) {
        if (std::strcmp(stored, kNoDeviceChosen) == 0)
            return -1;
        const int found = list.find(stored);
        if (found >= 0)
            return found;
    }
    return list.defaultDevice();
}

bool isRingCount(DWORD n) { return n == 2 || n == 4 || n == 8 || n == 16 || n == 32 || n == 64; }

}  // namespace

const char kNoDeviceChosen[] = "<no driver>";
const char kUnreadableModeText[] =
    "The stored driver mode (dxMode) is not one of DirectSound (0), WASAPI shared (1) or WASAPI exclusive (2); "
    "the driver streams with DirectSound";

const char* driverModeName(DriverMode mode) {
    switch (mode) {
    case DriverMode::wasapiExclusive:
        return "WASAPI exclusive";
    case DriverMode::wasapiShared:
        return "WASAPI shared";
    default:
        return "DirectSound";
    }
}

DriverMode loadDriverMode(ModeLoadResult* how) {
    ModeLoadResult ignored;
    if (!how)
        how = &ignored;
    const DriverKey key(KEY_READ);
    *how = ModeLoadResult::newSetUp;
    if (!key.isOpen())
        return DriverMode::wasapiShared;
    DWORD stored = 0;
    if (key.readDword("dxMode", stored)) {
        if (stored <= DWORD(DriverMode::wasapiExclusive)) {
            *how = ModeLoadResult::stored;
            return DriverMode(stored);
        }
        *how = ModeLoadResult::unreadable;
        return DriverMode::directSound;
    }
    if (key.has("dxMode")) {
        *how = ModeLoadResult::unreadable;
        return DriverMode::directSound;
    }
    static const char* const kOlderValues[] = {"dxInputDevice", "dxOutputDevice", "dxBufferSize",
                                               "dxNumBuffers",  "dxSyncByInput",  "dxSoundFormat"};
    for (const char* name : kOlderValues)
        if (key.has(name)) {
            *how = ModeLoadResult::olderSetUp;
            return DriverMode::directSound;
        }
    return DriverMode::wasapiShared;
}

DriverFormat makeDriverFormat(unsigned long rate, long channels, long bytesPerSample) {
    bytesPerSample = clampLong(bytesPerSample, 1, 4);
    channels = clampLong(channels, 1, 2);
    if (rate < 8000)
        rate = 8000;
    if (rate > 96000)
        rate = 96000;
    DriverFormat f;
    std::memset(&f, 0, sizeof f);
    f.wave.wFormatTag = WAVE_FORMAT_PCM;
    f.wave.nChannels = WORD(channels);
    f.wave.nSamplesPerSec = rate;
    f.wave.nAvgBytesPerSec = rate * channels * bytesPerSample;
    f.wave.nBlockAlign = WORD(bytesPerSample * channels);
    f.wave.wBitsPerSample = WORD(8 * bytesPerSample);
    f.wave.cbSize = sizeof(WAVEFORMATEX);
    return f;
}

DriverFormat defaultDriverFormat() { return makeDriverFormat(44100, 2, 2); }

bool extensibleFormat(const WAVEFORMATEX& format, WAVEFORMATEXTENSIBLE& extensible) {
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample <= 16)
        return false;
    // The PCM sub-format, {00000001-0000-0010-8000-00AA00389B71}.
    static const GUID kPcmSubFormat = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    std::memset(&extensible, 0, sizeof extensible);
    extensible.Format = format;
    extensible.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    extensible.Format.cbSize = sizeof extensible - sizeof extensible.Format;
    extensible.Samples.wValidBitsPerSample = format.wBitsPerSample;
    extensible.dwChannelMask = format.nChannels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    extensible.SubFormat = kPcmSubFormat;
    return true;
}

DriverSettings defaultDriverSettings() {
    DriverSettings s;
    s.mode = DriverMode::wasapiShared;
    s.inputDevice = -1;
    s.outputDevice = -1;
    s.bufferSize = kDefaultBufferSize;
    s.numBuffers = 2;
    s.syncByInput = true;
    s.format = defaultDriverFormat();
    return s;
}

void loadDriverSettings(const DeviceList& inputs, const DeviceList& outputs, DriverSettings& settings) {
    const DriverKey key(KEY_READ);
    settings.inputDevice = loadDevice(key, "dxInputDevice", inputs);
    settings.outputDevice = loadDevice(key, "dxOutputDevice", outputs);
    if (!key.isOpen())
        return;

    DWORD value = 0;
    if (key.readDword("dxBufferSize", value))
        settings.bufferSize = clampLong(long(value), kMinBufferSize, kMaxBufferSize);
    if (key.readDword("dxNumBuffers", value))
        settings.numBuffers = isRingCount(value) ? long(value) : 2;
    if (key.readDword("dxSyncByInput", value))
        settings.syncByInput = (value & 0xFF) != 0;

    WAVEFORMATEX stored;
    if (key.readExact("dxSoundFormat", REG_BINARY, &stored, sizeof stored))
        settings.format = makeDriverFormat(stored.nSamplesPerSec, stored.nChannels, stored.wBitsPerSample / 8);
}

bool saveDriverChoices(const char* inputDevice, const char* outputDevice, long blockFrames, long blockCount) {
    const DriverKey key(KEY_WRITE);
    if (!key.isOpen())
        return false;
    bool ok = true;
    if (inputDevice && inputDevice[0])
        ok = key.writeDeviceName("dxInputDevice", inputDevice) && ok;
    if (outputDevice && outputDevice[0])
        ok = key.writeDeviceName("dxOutputDevice", outputDevice) && ok;
    if (blockFrames > 0)
        ok = key.writeDword("dxBufferSize", DWORD(blockFrames)) && ok;
    if (blockCount > 0)
        ok = key.writeDword("dxNumBuffers", DWORD(blockCount)) && ok;
    return ok;
}

bool saveDriverMode(DriverMode mode) {
    const DriverKey key(KEY_WRITE);
    return key.isOpen() && key.writeDword("dxMode", DWORD(mode));
}

FormatSaveResult saveDriverFormat(const WAVEFORMATEX& format) {
    const DriverKey key(KEY_WRITE);
    if (!key.isOpen())
        return FormatSaveResult::noKey;
    return key.writeBinary("dxSoundFormat", &format, sizeof format) ? FormatSaveResult::saved
                                                                     : FormatSaveResult::writeFailed;
}

bool saveAllDriverChoices(const StoredDriverChoices& choices, unsigned& failedValues) {
    failedValues = 0;
    const DriverKey key(KEY_WRITE);
    if (!key.isOpen())
        return false;
    if (!key.writeDeviceName("dxInputDevice", choices.inputDevice ? choices.inputDevice : ""))
        failedValues |= kInputDeviceValue;
    if (!key.writeDeviceName("dxOutputDevice", choices.outputDevice ? choices.outputDevice : ""))
        failedValues |= kOutputDeviceValue;
    if (!key.writeDword("dxBufferSize", choices.bufferSize))
        failedValues |= kBufferSizeValue;
    if (!key.writeDword("dxNumBuffers", choices.numBuffers))
        failedValues |= kNumBuffersValue;
    if (!key.writeDword("dxSyncByInput", choices.syncByInput ? 1 : 0))
        failedValues |= kSyncByInputValue;
    if (!key.writeBinary("dxSoundFormat", &choices.format, sizeof choices.format))
        failedValues |= kSoundFormatValue;
    if (!key.writeDword("dxMode", DWORD(choices.mode)))
        failedValues |= kModeValue;
    return true;
}
