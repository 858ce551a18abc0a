#include "SettingsStore.h"

#include <cmath>
#include <cstring>

#include "EffectHost.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "NoteNames.h"
#include "ProgramFolder.h"
#include "RegistryKeys.h"
#include "ShellState.h"
#include "WaveDeck.h"

namespace {

const char kNoDevice[] = "<no device>";
const int kDriverNameSize = 999;

// Reads a value only when it has exactly this type and size; a larger value answers
// ERROR_MORE_DATA and a smaller one a short size, and both are ignored.
bool readExact(HKEY key, const char* name, DWORD type, void* data, DWORD size) {
    DWORD foundType = 0;
    DWORD foundSize = size;
    const LONG result = RegQueryValueExA(key, name, nullptr, &foundType, static_cast<BYTE*>(data), &foundSize);
    return result == ERROR_SUCCESS && foundType == type && foundSize == size;
}

bool readDword(HKEY key, const char* name, uint32_t* value) {
    uint32_t read = 0;
    if (!readExact(key, name, REG_DWORD, &read, sizeof read))
        return false;
    *value = read;
    return true;
}

bool readFloat(HKEY key, const char* name, float* value) {
    uint32_t bits = 0;
    if (!readDword(key, name, &bits))
        return false;
    std::memcpy(value, &bits, sizeof *value);
    return true;
}

bool readSpot(HKEY key, const char* name, WindowSpot* spot) {
    int32_t pair[2] = {0, 0};
    if (!readExact(key, name, REG_BINARY, pair, sizeof pair))
        return false;
    spot->x = pair[0];
    spot->y = pair[1];
    return true;
}

// A text value into a zero-filled buffer whose last byte stays NUL; a value of
// another type or longer than the buffer leaves the buffer as it was.
bool readText(HKEY key, const char* name, char* text, DWORD size) {
    char buffer[1024];
    if (size > sizeof buffer)
        return false;
    std::memset(buffer, 0, sizeof buffer);
    DWORD type = 0;
    DWORD found = size;
    const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &found);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    buffer[size - 1] = '\0';
    std::memcpy(text, buffer, size);
    return true;
}

void limitPosition(WindowSpot* spot) {
    spot->x = limitWindowCoordinate(spot->x, 700);
    spot->y = limitWindowCoordinate(spot->y, 500);
}

void readUnit(HKEY key, const char* name, Relaxed<float>& field) {
    float value = 0.0f;
    if (readFloat(key, name, &value))
        field = limitUnit(value, field);
}

void writeDword(HKEY key, const char* name, uint32_t value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void writeFloat(HKEY key, const char* name, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    writeDword(key, name, bits);
}

void writeText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(std::strlen(text) + 1));
}

void writeSpot(HKEY key, const char* name, const WindowSpot& spot) {
    const int32_t pair[2] = {spot.x, spot.y};
    RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(pair), sizeof pair);
}

// The tool windows' positions are their client areas' top-left corners on the screen,
// the values their move notifications report.
void recordClientOrigin(HWND window, WindowSpot* spot) {
    POINT origin{0, 0};
    if (window && IsWindow(window) && ClientToScreen(window, &origin)) {
        spot->x = origin.x;
        spot->y = origin.y;
    }
}

}  // namespace

float limitUnit(float value, float fallback) {
    if (std::isnan(value))
        return fallback;
    return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
}

int32_t limitTempo(int32_t tempo) {
    return tempo < LiveSettings::kMinTempo ? LiveSettings::kMinTempo
                                            : (tempo > LiveSettings::kMaxTempo ? LiveSettings::kMaxTempo : tempo);
}

uint8_t centerAmpFromStored(uint32_t stored) {
    const int8_t low = int8_t(uint8_t(stored & 0xFF));
    return low > 1 ? 1 : (low < 0 ? 0 : uint8_t(low));
}

int32_t limitDiskBufferTime(int32_t milliseconds) {
    return milliseconds > 1024 ? 1024 : (milliseconds <= 0 ? 1 : milliseconds);
}

int32_t limitWindowCoordinate(int32_t value, int32_t upper) {
    return value < 0 ? 0 : (value > upper ? upper : value);
}

int32_t limitFrameDimension(int32_t value) { return value < 200 ? 200 : (value > 1000 ? 1000 : value); }

int32_t showStateFromStored(int32_t stored) { return stored == 3 ? 3 : 5; }

int32_t referenceAFromStored(uint32_t stored) {
    return stored >= uint32_t(kLowestReferenceA) && stored <= uint32_t(kHighestReferenceA) ? int32_t(stored)
                                                                                           : int32_t(kDefaultReferenceA);
}

bool choiceFromStored(uint32_t stored, bool fallback) { return stored <= 1 ? stored == 1 : fallback; }

int32_t loadSettings(HWND) {
    ShellValues& shell = g_shell;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        chooseProgramFolders("", shell.appDir, shell.appPluginDir, sizeof shell.appDir);
        return 5;
    }
    LiveSettings& settings = *g_liveSettings;

    char driverName[kDriverNameSize];
    if (readText(key, "asioDevice", driverName, sizeof driverName))
        g_liveEngine->openDriverByName(driverName);  // an unknown name opens nothing, silently
    char storedAppDir[ShellValues::kPathSize] = "";
    readText(key, "szAppDir", storedAppDir, sizeof storedAppDir);
    chooseProgramFolders(storedAppDir, shell.appDir, shell.appPluginDir, sizeof shell.appDir);
    readText(key, "szAccompFile", shell.accompFile, sizeof shell.accompFile);
    readText(key, "szPerfFile", shell.perfFile, sizeof shell.perfFile);
    readText(key, "szVstDir", shell.vstDir, sizeof shell.vstDir);
    readText(key, "szSetlistFile", shell.setlistFile, sizeof shell.setlistFile);

    readUnit(key, "outgain", settings.outgain);
    readUnit(key, "ingain", settings.ingain);
    uint32_t number = 0;
    if (readDword(key, "autoSync", &number))
        g_liveEngine->setAutoSync((number & 0xFF) != 0);
    readUnit(key, "gateAttack", settings.gateAttack);
    readUnit(key, "gateRelease", settings.gateRelease);
    readUnit(key, "gateThresh", settings.gateThresh);
    if (readDword(key, "centerAmp", &number))
        settings.centerAmp = centerAmpFromStored(number);
    if (readDword(key, "diskBufferTime", &number))
        g_waveDeck->diskBufferTime = limitDiskBufferTime(int32_t(number));
    if (readDword(key, "metronome", &number))
        settings.metronome = number != 0 ? 1 : 0;
    if (readDword(key, "tempo", &number))
        settings.tempo = limitTempo(int32_t(number));

    if (readSpot(key, "frameWndPos", &shell.framePosition))
        limitPosition(&shell.framePosition);
    if (readSpot(key, "frameWndSize", &shell.frameSize)) {
        shell.frameSize.x = limitFrameDimension(shell.frameSize.x);
        shell.frameSize.y = limitFrameDimension(shell.frameSize.y);
    }
    if (readSpot(key, "inmeterWndPos", &shell.inputMeterPosition))
        limitPosition(&shell.inputMeterPosition);
    if (readSpot(key, "outmeterWndPos", &shell.outputMeterPosition))
        limitPosition(&shell.outputMeterPosition);
    if (readSpot(key, "navWndPos", &shell.navigationBarPosition))
        limitPosition(&shell.navigationBarPosition);
    if (readSpot(key, "tunerWndPos", &shell.tunerPosition))
        limitPosition(&shell.tunerPosition);
    if (readDword(key, "tunerMuteOutput", &number))
        shell.tunerMuteOutput = choiceFromStored(number, shell.tunerMuteOutput);
    if (readDword(key, "tunerMuteTake", &number))
        shell.tunerMuteTake = choiceFromStored(number, shell.tunerMuteTake);
    if (readDword(key, "tunerReferenceA", &number))
        shell.tunerReferenceA = referenceAFromStored(number);
    if (readSpot(key, "setlistWndPos", &shell.setlistPosition))
        limitPosition(&shell.setlistPosition);
    if (readDword(key, "setlistTailSeconds", &number))
        shell.setlistTailSeconds = number <= 10 ? int32_t(number) : 3;
    if (readDword(key, "frameCmdShow", &number))
        shell.showState = showStateFromStored(int32_t(number));

    RegCloseKey(key);
    return shell.showState;
}

bool saveSettings(HWND frame) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return false;
    const LiveSettings& settings = *g_liveSettings;
    ShellValues& shell = g_shell;

    const DriverEntry* driver = g_liveEngine->driverEntry(g_liveEngine->currentDriver());
    writeText(key, "asioDevice", driver ? driver->description : kNoDevice);
    writeText(key, "szAccompFile", shell.accompFile);
    writeText(key, "szPerfFile", shell.perfFile);
    writeText(key, "szVstDir", shell.vstDir);
    writeText(key, "szSetlistFile", shell.setlistFile);
    writeFloat(key, "outgain", settings.outgain);
    writeFloat(key, "ingain", settings.ingain);
    writeDword(key, "autoSync", g_liveEngine->autoSync() ? 1 : 0);
    writeFloat(key, "gateAttack", settings.gateAttack);
    writeFloat(key, "gateRelease", settings.gateRelease);
    writeFloat(key, "gateThresh", settings.gateThresh);
    writeDword(key, "centerAmp", settings.centerAmp);
    writeDword(key, "diskBufferTime", uint32_t(g_waveDeck->diskBufferTime));
    writeDword(key, "tempo", uint32_t(int32_t(settings.tempo)));
    writeDword(key, "metronome", settings.metronome);
    writeSpot(key, "frameWndPos", shell.framePosition);
    writeSpot(key, "frameWndSize", shell.frameSize);
    recordToolWindowPlaces();
    writeSpot(key, "inmeterWndPos", shell.inputMeterPosition);
    writeSpot(key, "outmeterWndPos", shell.outputMeterPosition);
    writeSpot(key, "navWndPos", shell.navigationBarPosition);
    writeSpot(key, "tunerWndPos", shell.tunerPosition);
    writeDword(key, "tunerMuteOutput", shell.tunerMuteOutput ? 1 : 0);
    writeDword(key, "tunerMuteTake", shell.tunerMuteTake ? 1 : 0);
    writeDword(key, "tunerReferenceA", uint32_t(shell.tunerReferenceA));
    writeSpot(key, "setlistWndPos", shell.setlistPosition);
    writeDword(key, "setlistTailSeconds", uint32_t(shell.setlistTailSeconds));
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    const uint32_t showState = frame && GetWindowPlacement(frame, &placement) ? placement.showCmd : 5;
    writeDword(key, "frameCmdShow", showState);

    RegCloseKey(key);
    return true;
}

void recordToolWindowPlaces() {
    recordClientOrigin(g_windows.inputMeter, &g_shell.inputMeterPosition);
    recordClientOrigin(g_windows.outputMeter, &g_shell.outputMeterPosition);
    recordClientOrigin(g_windows.navigationBar, &g_shell.navigationBarPosition);
    recordClientOrigin(g_windows.tuner, &g_shell.tunerPosition);
    recordClientOrigin(g_windows.setlist, &g_shell.setlistPosition);
}

bool prepareSettingsKeys() {
    if (!createSettingsKeys())
        return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    if (RegQueryValueExA(key, "szAppDir", nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
        char folder[MAX_PATH + 1] = "";
        if (runningProgramFolder(folder, sizeof folder))
            writeText(key, "szAppDir", folder);
    }
    RegCloseKey(key);
    return true;
}
