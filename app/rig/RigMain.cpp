// talvenor-rig: the headless live rig. The instrument comes in through an ASIO
// driver (the built-in DirectSound one by default), goes through up to eight
// effects, is mixed with the backing track and the click and sent back out, and
// the take is recorded. Everything a window would show is printed instead.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "DemoSounds.h"
#include "EffectHost.h"
#include "ErrorFlags.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "RegistryKeys.h"
#include "RigConsole.h"
#include "RigOptions.h"
#include "StringIds.h"
#include "WaveDeck.h"
#include "WinInclude.h"

namespace {

const char kBuiltInDriver[] = "ZerevaZ-2-UDID wrapper";

double dbfs(float peak) { return peak > 0.0f ? 20.0 * std::log10(peak) : -99.9; }

// The built-in driver reads its devices and block size from the registry when it
// is opened; the rig's options are stored there first.
bool storeBuiltInDriverChoices(const RigOptions& o) {
    if (o.inputDevice.empty() && o.outputDevice.empty() && o.bufferFrames == 0)
        return true;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    auto storeName = [&](const char* value, const std::string& name) {
        if (name.empty())
            return;
        char padded[256] = {};
        std::snprintf(padded, sizeof padded, "%s", name.c_str());
        ok = ok && RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(padded), sizeof padded) ==
                       ERROR_SUCCESS;
    };
    storeName("dxInputDevice", o.inputDevice);
    storeName("dxOutputDevice", o.outputDevice);
    if (o.bufferFrames > 0) {
        const DWORD frames = DWORD(o.bufferFrames);
        ok = ok && RegSetValueExA(key, "dxBufferSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&frames),
                                  sizeof frames) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

const int16_t* loadClick(uint32_t* sizeBytes) {
    *sizeBytes = 0;
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kClickResourceId), TALVENOR_CLICK_RESOURCE_TYPE);
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return nullptr;
    *sizeBytes = SizeofResource(nullptr, found);
    return static_cast<const int16_t*>(data);
}

std::string defaultTakeName() {
    const std::time_t now = std::time(nullptr);
    char name[64];
    std::strftime(name, sizeof name, "take-%Y%m%d-%H%M%S.wav", std::localtime(&now));
    return name;
}

std::string fullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full) : path;
}

// The objects of one session, created and destroyed in the program's order: the
// engine first (destroying it closes the driver, so no callback outlives the rest).
struct Session {
    std::unique_ptr<LiveEngine> engine{new LiveEngine()};
    std::unique_ptr<LiveSettings> settings{new LiveSettings()};
    std::unique_ptr<EffectHost> effects{new EffectHost()};
    std::unique_ptr<WaveDeck> deck{new WaveDeck()};

    Session() {
        engine->chain().attachSettings(settings.get());
        engine->attachEffects(effects.get());
        engine->attachRecorder(deck.get());
        engine->attachAccompaniment(deck.get());
        effects->attachSettings(settings.get());
        settings->connectPositions(effects.get(), engine.get());
    }
    ~Session() {
        engine.reset();
        settings.reset();
        effects.reset();
        deck.reset();
    }
};

// What the main window's timer does with the flags the audio threads raise.
void serviceErrorFlags(Session& s, bool& recording) {
    if (takeErrorFlag(kFlagRestartLiveInput))
        s.engine->restartLiveInput();
    if (takeErrorFlag(kFlagUnsupportedFormat))
        showError(kStrFormatNotSupported);
    if (takeErrorFlag(kFlagDriverReset))
        s.engine->resetDriver();
    if (takeErrorFlag(kFlagRecordError) && recording) {
        showError(kStrRecordError);
        s.engine->stopLiveInput();
        s.deck->stopRecording();
        recording = false;
        s.engine->startLiveInput();
    }
    if (takeErrorFlag(kFlagAccompReadError)) {
        showError(kStrAccompanimentReadError);
        s.deck->pause();
    }
    if (takeErrorFlag(kFlagDiskTooSlow))
        showError(kStrDiskTooSlow);
}

int listDrivers(const LiveEngine& engine) {
    for (int32_t i = 0; i < engine.driverCount(); ++i)
        std::printf("%s\n", engine.driverEntry(i)->description);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    RigOptions o;
    std::string error;
    if (!parseRigOptions(argc, argv, o, error)) {
        std::fprintf(stderr, "talvenor-rig: %s\n", error.c_str());
        return 2;
    }
    if (o.help) {
        std::fputs(rigUsage(), stdout);
        return 0;
    }
    if (!o.makeDemo.empty()) {
        const bool ok = writeDemoRiff(o.makeDemo + "-riff.wav", 16.0) &&
                        writeDemoBacking(o.makeDemo + "-backing.wav", 16.0);
        if (!ok)
            std::fprintf(stderr, "talvenor-rig: cannot write the demo files %s-*.wav\n", o.makeDemo.c_str());
        return ok ? 0 : 1;
    }

    RigConsole console;
    CoInitialize(nullptr);
    createSettingsKeys();
    int result = 0;
    {
        Session s;
        uint32_t clickBytes = 0;
        const int16_t* click = loadClick(&clickBytes);
        if (!click)
            showError(kStrClickMissing);
        s.engine->setClick(click, clickBytes);

        if (o.listDrivers)
            return listDrivers(*s.engine);

        if (o.driver == kBuiltInDriver && !storeBuiltInDriverChoices(o))
            std::fprintf(stderr, "talvenor-rig: could not store the built-in driver's devices\n");
        if (!s.engine->openDriverByName(o.driver.c_str()) || s.engine->currentDriver() < 0) {
            showError(kStrOpenDriverFailed);
            std::fprintf(stderr, "talvenor-rig: driver \"%s\" (see --list-drivers)\n", o.driver.c_str());
            return 1;
        }

        for (const RigOptions::Effect& fx : o.effects) {
            if (!s.settings->loadPathIntoPosition(fx.position, fx.path.c_str())) {
                showError(kStrLoadPluginFailed);
                std::fprintf(stderr, "talvenor-rig: %s\n", fx.path.c_str());
                return 1;
            }
        }
        for (int position : o.bypassed)
            if (!s.settings->bypass[position])
                s.settings->toggleBypass(position);

        if (!o.backing.empty()) {
            if (!s.deck->openAccompaniment(fullPath(o.backing).c_str())) {
                showError(kStrOpenAccompanimentFailed);
                return 1;
            }
            s.deck->play();
        }

        s.settings->metronome = o.metronome ? 1 : 0;
        s.settings->tempo = int32_t(o.tempoBpm * 100.0);
        s.settings->ingain = o.inputGain;
        s.settings->outgain = o.outputGain;

        std::string take = o.take.empty() ? defaultTakeName() : o.take;
        take = fullPath(take);
        bool recording = false;
        if (o.record) {
            s.deck->formatIndex = int8_t(o.formatIndex);
            s.deck->ramMode = o.ramTake;
            s.deck->playingOnly = o.playingOnly;
            s.deck->startAccompaniment = !o.backing.empty();
            if (!s.deck->startRecording(take.c_str())) {
                showError(kStrErrorOccured);
                return 1;
            }
            recording = true;
        }
        if (!s.engine->startLiveInput()) {
            showError(kStrStartLiveInputFailed);
            if (recording)
                s.deck->stopRecording();
            return 1;
        }

        char description[512];
        s.engine->describeDriver(description, sizeof description);
        for (char* p = description; *p; ++p)
            if (*p == '\n')
                *p = ',';
        std::printf("driver: %s (%s)\n", o.driver.c_str(), description);
        std::printf("%s; Ctrl+C ends the session\n", recording ? ("recording " + take).c_str() : "not recording");
        std::printf("  time   input L/R dBFS   output L/R dBFS    cpu\n");
        std::fflush(stdout);

        const DWORD started = GetTickCount();
        DWORD lastPrint = started;
        float peaks[4] = {0, 0, 0, 0};
        while (!console.stopRequested() && (o.seconds <= 0.0 || GetTickCount() - started < DWORD(o.seconds * 1000))) {
            Sleep(70);
            serviceErrorFlags(s, recording);
            if (recording && s.deck->isRamTakeFull()) {
                s.engine->stopLiveInput();
                s.deck->stopRecording();
                recording = false;
                s.engine->startLiveInput();
            }
            const float now[4] = {s.engine->inputPeakLeft(), s.engine->inputPeakRight(),
                                  s.engine->outputPeakLeft(), s.engine->outputPeakRight()};
            for (int i = 0; i < 4; ++i)
                peaks[i] = std::max(peaks[i], now[i]);
            if (GetTickCount() - lastPrint >= 1000) {
                lastPrint += 1000;
                const int16_t load = s.engine->cpuLoad();
                std::printf("%5lus   %6.1f %6.1f    %6.1f %6.1f    %5.1f%%\n",
                            static_cast<unsigned long>((lastPrint - started) / 1000), dbfs(peaks[0]),
                            dbfs(peaks[1]), dbfs(peaks[2]), dbfs(peaks[3]), load < 0 ? 0.0 : load / 10.0);
                std::fflush(stdout);
                for (float& p : peaks)
                    p = 0.0f;
            }
        }

        s.engine->stopLiveInput();
        serviceErrorFlags(s, recording);
        if (recording) {
            const bool stored = s.deck->stopRecording();
            if (!stored) {
                showError(kStrRecordError);
                result = 1;
            }
            std::printf("take: %s\n", take.c_str());
        }
        if (console.errorsShown() > 0)
            result = 1;
    }
    CoUninitialize();
    return result;
}
