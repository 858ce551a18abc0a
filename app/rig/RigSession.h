#pragma once
#include <memory>
#include <string>

#include "DriverSettings.h"
#include "EffectHost.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MidiControl.h"
#include "ParameterApplier.h"
#include "SettingsApplier.h"
#include "SwitchPoint.h"
#include "TunerTap.h"
#include "TunerWorker.h"
#include "WaveDeck.h"

// The four long-lived objects of a live session, created and wired together in
// the program's order and destroyed in the same order: the engine first, since
// destroying it closes the driver and so no callback outlives the rest. UI thread.
class RigSession {
public:
    RigSession();
    virtual ~RigSession();
    RigSession(const RigSession&) = delete;
    RigSession& operator=(const RigSession&) = delete;

    LiveEngine& engine() { return *engine_; }
    LiveSettings& settings() { return *settings_; }
    EffectHost& effects() { return *effects_; }
    WaveDeck& deck() { return *deck_; }
    TunerTap& tuner() { return *tuner_; }
    // MIDI control and the performance switch, in the chain from the start.
    MidiControl& midi() { return *midi_; }
    SwitchPoint& switchPoint() { return *switchPoint_; }
    // Starts the tuner listening (output not muted: the rig prints what it hears).
    bool startTuner();

    // What the main window's timer does with the flags the audio threads raise:
    // restarts and resets for the driver, the messages, and for a failed take the
    // take is ended (live input goes on). Returns false once the take has ended.
    bool serviceErrorFlags(bool recording);
    // One line for each effect whose process crashed or hung since the last look.
    void tellFailedEffects();

private:
    std::unique_ptr<LiveEngine> engine_;
    std::unique_ptr<LiveSettings> settings_;
    std::unique_ptr<EffectHost> effects_;
    std::unique_ptr<WaveDeck> deck_;
    std::unique_ptr<TunerTap> tuner_;
    std::unique_ptr<TunerWorker> tunerWorker_;
    std::unique_ptr<MidiControl> midi_;
    std::unique_ptr<SettingsApplier> settingsApplier_;
    std::unique_ptr<ParameterApplier> parameterApplier_;
    std::unique_ptr<SwitchPoint> switchPoint_;
};

// The built-in driver reads its devices and block size from the registry when it is
// opened. Empty names and 0 leave the stored values. False when they could not be
// stored.
bool storeBuiltInDriverChoices(const std::string& inputDevice, const std::string& outputDevice, int blockFrames,
                               int blockCount);
// Stores the built-in driver's mode before it is opened (the rig's --dx-mode).
bool storeBuiltInDriverMode(DriverMode mode);

// The metronome click from the program's resources; null (size 0) when missing.
const int16_t* loadClickResource(uint32_t* sizeBytes);
