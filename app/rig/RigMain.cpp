// talvenor-rig: the headless live rig. The instrument comes in through an ASIO
// driver (the built-in DirectSound one by default), goes through up to eight
// effects, is mixed with the backing track and the click and sent back out, and
// the take is recorded. Everything a window would show is printed instead.
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "PluginFaultNote.h"
#include "BuiltInDriver.h"
#include "DemoSounds.h"
#include "MessageBoxes.h"
#include "RegistryKeys.h"
#include "RigConsole.h"
#include "RigErrors.h"
#include "RigOptions.h"
#include "RigRender.h"
#include "RigEffects.h"
#include "RigSession.h"
#include "RigShow.h"
#include "RigTunerLines.h"
#include "TakeJournal.h"
#include "StringIds.h"
#include "WinInclude.h"

namespace {


double dbfs(float peak) { return peak > 0.0f ? 20.0 * std::log10(peak) : -99.9; }

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
        std::fputs(renderUsage(), stdout);
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
    // Takes cut off when a session last ended are repaired before this one records.
    char repaired[2048];
    if (repairTakesLeftInProgress(repaired, sizeof repaired) > 0)
        showErrorWithDetail(-kStrTakesRepaired, repaired);
    // A plug-in that crashed the last run is given a process of its own in this one.
    char crashed[260];
    if (takeCrashedPlugin(crashed, sizeof crashed))
        showErrorWithDetail(-kStrPluginCrashedTheProgram, crashed);
    installPluginFaultHandler();
    int result = 0;
    if (!o.render.input.empty()) {
        result = runRender(o, [](void* c) { return static_cast<RigConsole*>(c)->stopRequested(); }, &console);
        if (result == 0 && console.errorsShown() > 0)
            result = 1;
        CoUninitialize();
        return result;
    }
    {
        RigSession s;
        uint32_t clickBytes = 0;
        const int16_t* click = loadClickResource(&clickBytes);
        if (!click)
            showError(kStrClickMissing);
        s.engine().setClick(click, clickBytes);

        if (o.listDrivers)
            return listDrivers(s.engine());

        if (o.driver == kBuiltInDriverName &&
            !storeBuiltInDriverChoices(o.inputDevice, o.outputDevice, o.bufferFrames, o.bufferCount))
            std::fprintf(stderr, "talvenor-rig: could not store the built-in driver's devices\n");
        if (o.driver == kBuiltInDriverName && o.driverMode >= 0 &&
            !storeBuiltInDriverMode(DriverMode(o.driverMode)))
            std::fprintf(stderr, "talvenor-rig: could not store the built-in driver's mode\n");
        if (!s.engine().openDriverByName(o.driver.c_str()) || s.engine().currentDriver() < 0) {
            showError(kStrOpenDriverFailed);
            std::fprintf(stderr, "talvenor-rig: driver \"%s\" (see --list-drivers)\n", o.driver.c_str());
            return 1;
        }

        if (!setUpRigEffects(s, o))
            return 1;
        RigShow show(s, o);
        if (!show.setUp())
            return 1;

        if (!o.backing.empty()) {
            const std::string backing = fullPath(o.backing);
            if (!s.deck().openAccompaniment(backing.c_str())) {
                showError(kStrOpenAccompanimentFailed);
                printProblem(backing, fileProblem(backing));
                return 1;
            }
            s.deck().play();
        }

        s.settings().metronome = o.metronome ? 1 : 0;
        s.settings().tempo = int32_t(o.tempoBpm * 100.0);
        s.settings().ingain = o.inputGain;
        s.settings().outgain = o.outputGain;
        applyGateOptions(o.gate, s.settings());

        std::string take = o.take.empty() ? defaultTakeName() : o.take;
        take = fullPath(take);
        bool recording = false;
        if (o.record) {
            s.deck().formatIndex = int8_t(o.formatIndex);
            s.deck().ramMode = o.ramTake;
            s.deck().playingOnly = o.playingOnly;
            s.deck().startAccompaniment = !o.backing.empty();
            if (!s.deck().startRecording(take.c_str())) {
                showError(kStrErrorOccured);
                printProblem(take, newFileProblem(take));
                return 1;
            }
            recording = true;
        }
        if (o.tuner && !s.startTuner()) {
            showError(kStrErrorOccured);
            if (recording)
                s.deck().stopRecording();
            return 1;
        }
        if (!s.engine().startLiveInput()) {
            showError(kStrStartLiveInputFailed);
            if (recording)
                s.deck().stopRecording();
            return 1;
        }

        char description[512];
        s.engine().describeDriver(description, sizeof description);
        for (char* p = description; *p; ++p)
            if (*p == '\n')
                *p = ',';
        std::printf("driver: %s (%s)\n", o.driver.c_str(), description);
        if (o.driver == kBuiltInDriverName) {
            // The mode, the period it runs on and the latencies it reports, in frames.
            // DirectSound has no device period: its block is the ring's step.
            const DriverFigures figures = s.engine().driverFigures();
            const DriverMode mode = loadDriverMode(nullptr);
            char period[48] = "no device period";
            if (mode != DriverMode::directSound)
                std::snprintf(period, sizeof period, "period %ld frames",
                              figures.granularity > 0 ? figures.granularity : figures.preferredSize);
            std::printf("mode: %s, block %ld frames, %s, latencies %ld in + %ld out frames\n", driverModeName(mode),
                        figures.preferredSize, period, figures.inputLatency, figures.outputLatency);
        }
        std::printf("%s; Ctrl+C ends the session\n", recording ? ("recording " + take).c_str() : "not recording");
        std::printf("  time   input L/R dBFS   output L/R dBFS    cpu\n");
        std::fflush(stdout);

        // The driver's start-up is not part of the session: --seconds and the times
        // printed count from the first block that went through the chain.
        while (!console.stopRequested() && s.engine().processedBlocks() == 0 && s.engine().running())
            Sleep(1);
        const DWORD started = GetTickCount();
        DWORD lastPrint = started;
        float peaks[4] = {0, 0, 0, 0};
        while (!console.stopRequested() && (o.seconds <= 0.0 || GetTickCount() - started < DWORD(o.seconds * 1000))) {
            Sleep(show.wanted() ? 10 : 70);
            show.service();
            recording = s.serviceErrorFlags(recording);
            if (o.tuner)
                printTunerLines(s.tuner(), false);
            const float now[4] = {s.engine().inputPeakLeft(), s.engine().inputPeakRight(),
                                  s.engine().outputPeakLeft(), s.engine().outputPeakRight()};
            for (int i = 0; i < 4; ++i)
                peaks[i] = std::max(peaks[i], now[i]);
            if (GetTickCount() - lastPrint >= 1000) {
                lastPrint += 1000;
                const int16_t load = s.engine().cpuLoad();
                std::printf("%5lus   %6.1f %6.1f    %6.1f %6.1f    %5.1f%%\n",
                            static_cast<unsigned long>((lastPrint - started) / 1000), dbfs(peaks[0]),
                            dbfs(peaks[1]), dbfs(peaks[2]), dbfs(peaks[3]), load < 0 ? 0.0 : load / 10.0);
                std::fflush(stdout);
                for (float& p : peaks)
                    p = 0.0f;
            }
        }

        s.engine().stopLiveInput();
        recording = s.serviceErrorFlags(recording);
        if (recording) {
            const bool stored = s.deck().stopRecording();
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
