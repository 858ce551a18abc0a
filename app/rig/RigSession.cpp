#include "RigSession.h"

#include "DriverSettings.h"
#include "ErrorFlags.h"
#include "MessageBoxes.h"
#include "RegistryKeys.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"
#include "WinInclude.h"

namespace {

bool slotSuspended(const EffectSlot* slot) { return __atomic_load_n(&slot->suspended, __ATOMIC_RELAXED) != 0; }

}  // namespace

RigSession::RigSession()
    : engine_(new LiveEngine()),
      settings_(new LiveSettings()),
      effects_(new EffectHost()),
      deck_(new WaveDeck()),
      tuner_(new TunerTap()),
      tunerWorker_(new TunerWorker(*tuner_)),
      midi_(new MidiControl()),
      settingsApplier_(new SettingsApplier(*settings_, &slotSuspended)),
      parameterApplier_(new ParameterApplier(*settings_)),
      switchPoint_(new SwitchPoint(effects_.get())) {
    engine_->chain().attachSettings(settings_.get());
    engine_->chain().attachTuner(tuner_.get());
    engine_->attachEffects(effects_.get());
    engine_->attachRecorder(deck_.get());
    engine_->attachAccompaniment(deck_.get());
    effects_->attachSettings(settings_.get());
    settings_->connectPositions(effects_.get(), engine_.get());
    deck_->attachProcessing(engine_.get());
    midi_->attachAppliers(settingsApplier_.get(), parameterApplier_.get());
    engine_->attachMidi(midi_.get());
    engine_->attachSwitch(switchPoint_.get());
}

RigSession::~RigSession() {
    deck_->attachProcessing(nullptr);  // the engine goes first; with it every callback
    engine_.reset();
    tunerWorker_.reset();
    tuner_.reset();
    switchPoint_.reset();
    midi_.reset();
    settingsApplier_.reset();
    parameterApplier_.reset();
    settings_.reset();
    effects_.reset();
    deck_.reset();
}

bool RigSession::startTuner() {
    tuner_->setMuteOutput(false);
    tuner_->setListening(true);
    return tunerWorker_->start();
}

void RigSession::tellFailedEffects() {
    for (int32_t position = 0; position < LiveSettings::kPositions; ++position) {
        EffectSlot* slot = settings_->slots[position];
        char how[160];
        if (!slot || slot->failureTold || !slot->plugin->failed(how, sizeof how))
            continue;
        slot->failureTold = true;
        std::printf("fx %d: %s %s The position passes its signal through dry; the session goes on.\n", int(position),
                    slot->plugin->identity().name, how);
        std::fflush(stdout);
    }
}

bool RigSession::serviceErrorFlags(bool recording) {
    if (takeErrorFlag(kFlagRestartLiveInput))
        engine_->restartLiveInput();
    if (takeErrorFlag(kFlagUnsupportedFormat))
        showError(kStrFormatNotSupported);
    if (takeErrorFlag(kFlagDriverReset))
        engine_->resetDriver();
    const bool takeFailed = takeErrorFlag(kFlagRecordError);
    if (takeFailed)
        showError(kStrRecordError);
    if (recording && (takeFailed || deck_->isRamTakeFull())) {
        // A take starts and stops with live input stopped.
        engine_->stopLiveInput();
        deck_->stopRecording();
        recording = false;
        engine_->startLiveInput();
    }
    if (takeErrorFlag(kFlagAccompReadError)) {
        showError(kStrAccompanimentReadError);
        deck_->pause();
    }
    if (takeErrorFlag(kFlagDiskTooSlow))
        showError(kStrDiskTooSlow);
    // What the program's timer does for its plug-ins (restarts they asked for, their
    // main-thread calls), on this thread, which loaded them.
    for (EffectSlot* slot = effects_->slotList(); slot; slot = slot->next)
        effects_->serviceSlot(slot);
    tellFailedEffects();
    return recording;
}

bool storeBuiltInDriverChoices(const std::string& inputDevice, const std::string& outputDevice, int blockFrames,
                               int blockCount) {
    if (inputDevice.empty() && outputDevice.empty() && blockFrames == 0 && blockCount == 0)
        return true;
    return createSettingsKeys() &&
           saveDriverChoices(inputDevice.c_str(), outputDevice.c_str(), blockFrames, blockCount);
}

bool storeBuiltInDriverMode(DriverMode mode) { return createSettingsKeys() && saveDriverMode(mode); }

const int16_t* loadClickResource(uint32_t* sizeBytes) {
    *sizeBytes = 0;
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(kClickResourceId), TALVENOR_CLICK_RESOURCE_TYPE);
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return nullptr;
    *sizeBytes = SizeofResource(nullptr, found);
    return static_cast<const int16_t*>(data);
}
