#include "RigSession.h"

#include <cstdio>

#include "ErrorFlags.h"
#include "MessageBoxes.h"
#include "RegistryKeys.h"
#include "StringIds.h"
#include "WinInclude.h"

RigSession::RigSession()
    : engine_(new LiveEngine()), settings_(new LiveSettings()), effects_(new EffectHost()), deck_(new WaveDeck()) {
    engine_->chain().attachSettings(settings_.get());
    engine_->attachEffects(effects_.get());
    engine_->attachRecorder(deck_.get());
    engine_->attachAccompaniment(deck_.get());
    effects_->attachSettings(settings_.get());
    settings_->connectPositions(effects_.get(), engine_.get());
}

RigSession::~RigSession() {
    engine_.reset();
    settings_.reset();
    effects_.reset();
    deck_.reset();
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
    return recording;
}

bool storeBuiltInDriverChoices(const std::string& inputDevice, const std::string& outputDevice, int blockFrames,
                               int blockCount) {
    if (inputDevice.empty() && outputDevice.empty() && blockFrames == 0 && blockCount == 0)
        return true;
    HKEY key = nullptr;
    if (!createSettingsKeys() ||
        RegOpenKeyExA(HKEY_CURRENT_USER, kBuiltInDriverKeyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    auto storeName = [&](const char* value, const std::string& name) {
        if (name.empty())
            return;
        char padded[256] = {};  // stored as 256 bytes, zero-padded, as the driver writes it
        std::snprintf(padded, sizeof padded, "%s", name.c_str());
        ok = ok && RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(padded), sizeof padded) ==
                       ERROR_SUCCESS;
    };
    auto storeNumber = [&](const char* value, int number) {
        if (number <= 0)
            return;
        const DWORD v = DWORD(number);
        ok = ok && RegSetValueExA(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) ==
                       ERROR_SUCCESS;
    };
    storeName("dxInputDevice", inputDevice);
    storeName("dxOutputDevice", outputDevice);
    storeNumber("dxBufferSize", blockFrames);
    storeNumber("dxNumBuffers", blockCount);
    RegCloseKey(key);
    return ok;
}

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
