// Starting and stopping live input on the open driver, the pause bracket around
// changes to what the chain reads, and the answers to the driver's requests. UI thread.
#include <cmath>

#include "ErrorFlags.h"
#include "LiveEngine.h"
#include "MessageBoxes.h"
#include "StringIds.h"

namespace {

// A rate above 96 kHz, or none, is replaced by asking the driver for 44100 Hz.
bool usableRate(double rate) { return rate > 0.0 && rate <= 96000.0; }

long usedChannels(long reported) { return reported < 0 ? 0 : reported > 2 ? 2 : reported; }

}  // namespace

// Channel counts, buffer sizes and the rate. Every figure comes from the driver and
// is checked before the callbacks rely on it. False (nothing shown; the caller
// reports the failed start) when a call fails or a figure is unusable.
bool LiveEngine::readDriverSetup() {
    long inputs = 0, outputs = 0;
    if (driver_->getChannels(&inputs, &outputs) != ASE_OK)
        return false;
    long minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
    if (driver_->getBufferSize(&minSize, &maxSize, &preferredSize, &granularity) != ASE_OK)
        return false;
    // The preferred size is the frame count of every callback and the size of the
    // buffers the driver creates; a driver contradicting its own maximum is not trusted.
    if (preferredSize <= 0 || preferredSize > maxSize)
        return false;
    double rate = 0.0;
    if (driver_->getSampleRate(&rate) != ASE_OK)
        return false;
    if (!usableRate(rate)) {
        if (driver_->setSampleRate(44100.0) != ASE_OK || driver_->getSampleRate(&rate) != ASE_OK)
            return false;
        // Whatever the driver now reports is used, as long as it is believable.
        if (!believableRate(rate))
            return false;
    }

    figures_ = DriverFigures{};
    figures_.inputChannels = inputs < 0 ? 0 : inputs;
    figures_.outputChannels = outputs < 0 ? 0 : outputs;
    figures_.usedInputs = usedChannels(inputs);
    figures_.usedOutputs = usedChannels(outputs);
    figures_.minSize = minSize;
    figures_.maxSize = maxSize;
    figures_.preferredSize = preferredSize;
    figures_.granularity = granularity;
    figures_.outputReadySupported = driver_->outputReady() == ASE_OK;
    chain_.setSampleRate(rate);
    return true;
}

// Used inputs first, then used outputs, channels 0 and 1 of each at most. Shows the
// driver's error text when it fails; every failure after createBuffers succeeded
// disposes of the buffers again.
bool LiveEngine::createBuffers() {
    const long inputs = figures_.usedInputs;
    const long count = inputs + figures_.usedOutputs;
    for (long i = 0; i < count; ++i) {
        bufferInfos_[i] = ASIOBufferInfo{};
        bufferInfos_[i].isInput = i < inputs ? 1 : 0;
        bufferInfos_[i].channelNum = i < inputs ? i : i - inputs;
    }
    callbacks_.bufferSwitch = &LiveEngine::bufferSwitch;
    callbacks_.sampleRateDidChange = &LiveEngine::sampleRateDidChange;
    callbacks_.asioMessage = &LiveEngine::asioMessage;
    callbacks_.bufferSwitchTimeInfo = &LiveEngine::bufferSwitchTimeInfo;

    if (driver_->createBuffers(bufferInfos_, count, figures_.preferredSize, &callbacks_) != ASE_OK) {
        showDriverError();
        return false;
    }
    bool ready = true;
    for (long i = 0; ready && i < count; ++i) {
        // The callbacks read and write both halves without asking again.
        ready = bufferInfos_[i].buffers[0] && bufferInfos_[i].buffers[1];
        if (ready) {
            channelInfos_[i] = ASIOChannelInfo{};
            channelInfos_[i].channel = bufferInfos_[i].channelNum;
            channelInfos_[i].isInput = bufferInfos_[i].isInput;
            ready = driver_->getChannelInfo(&channelInfos_[i]) == ASE_OK;
        }
    }
    if (ready)
        ready = driver_->getLatencies(&figures_.inputLatency, &figures_.outputLatency) == ASE_OK;
    if (!ready) {
        showDriverError();
        driver_->disposeBuffers();
    }
    return ready;
}

bool LiveEngine::startLiveInput() {
    if (running_)
        return true;
    if (!driver_ || !pauseWakeup_.valid())
        return false;
    if (!readDriverSetup() || !createBuffers())
        return false;

    const double rate = chain_.sampleRate();
    chain_.prepareForStart(rate);  // gate windows for this rate, metronome from its start
    if (effects_) {
        effects_->setSampleRate(float(rate));
        effects_->setBlockSize(figures_.preferredSize);
        effects_->resumeAllSlots();
    }
    // Cleared before the first callback, so a format error of this run is reported
    // even when the previous run had one.
    formatErrorLatch_ = 0;
    processedBlocks_ = 0;
    if (driver_->start() != ASE_OK) {
        showDriverError();
        driver_->disposeBuffers();
        if (effects_)
            effects_->suspendAllSlots();  // the plug-ins were resumed for a run that never came
        return false;
    }
    gate_.resume();
    running_ = 1;
    showMeters(true);
    return true;
}

bool LiveEngine::stopLiveInput() {
    if (!driver_ || !running_)
        return false;
    driver_->stop();
    gate_.pause();  // for good: until the next start
    Sleep(100);  // lets a driver thread that was between callbacks leave our code
    driver_->disposeBuffers();
    if (effects_)
        effects_->suspendAllSlots();
    running_ = 0;
    if (cpuLoad_ >= 0)
        cpuLoad_ = 0;  // without a performance counter the load stays unmeasured
    chain_.clearDcFilter();
    showMeters(false);
    return true;
}

void LiveEngine::pauseProcessing() {
    if (running_)
        gate_.pause();
}

void LiveEngine::resumeProcessing() { gate_.resume(); }

bool LiveEngine::restartLiveInput() {
    stopLiveInput();
    if (!startLiveInput()) {
        showError(kStrRestartLiveInputFailed);
        return false;
    }
    return true;
}

bool LiveEngine::resetDriver() {
    const int32_t index = currentIndex_;
    const bool wasRunning = running_;
    closeDriver();
    if (!openDriver(index)) {
        showError(kStrResetDriverFailed);
        return false;
    }
    if (wasRunning && !startLiveInput()) {
        showError(kStrRestartAudioFailed);
        return false;
    }
    return true;
}

void LiveEngine::showMeters(bool show) {
    const int command = show ? SW_SHOWNOACTIVATE : SW_HIDE;
    if (inputMeter_)
        ShowWindow(inputMeter_, command);
    if (outputMeter_)
        ShowWindow(outputMeter_, command);
}
