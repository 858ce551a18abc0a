#include "EffectRunner.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "AudioEffect.h"
#include "EffectStateRecord.h"

namespace {

// Room for any text an effect writes through the VST 2 operations (they assume a
// host buffer of at least this size).
constexpr size_t kScratch = 256;

bool copyOut(const char* scratch, char* text, size_t size) {
    if (!text || size == 0)
        return false;
    std::snprintf(text, size, "%s", scratch);
    return true;
}

}  // namespace

bool EffectRunner::ChangeList::add(int32_t offset, int32_t index, float value) {
    if (count_ >= kMaxChanges)
        return false;
    // Formats deliver changes mostly in order (one queue after another in VST3):
    // an insertion from the back is short.
    int32_t at = count_;
    while (at > 0 && changes_[at - 1].offset > offset) {
        changes_[at] = changes_[at - 1];
        --at;
    }
    changes_[at] = {offset, index, value};
    ++count_;
    return true;
}

EffectRunner::~EffectRunner() {
    delete effect_;
    delete texts_;
}

bool EffectRunner::create(const EffectDescription& description) {
    if (effect_ || !description.create)
        return false;
    description_ = &description;
    effect_ = description.create();
    texts_ = description.create();
    if (!effect_ || !texts_)
        return false;
    const AEffect* record = effect_->getAeffect();
    if (record->numParams < 0 || record->numParams > kMaxParameters || record->numPrograms < 1 ||
        record->numPrograms > kMaxPrograms || record->numInputs < 1 || record->numInputs > kMaxChannels ||
        record->numOutputs < 1 || record->numOutputs > kMaxChannels)
        return false;
    parameterCount_ = record->numParams;
    programCount_ = record->numPrograms;
    inputCount_ = record->numInputs;
    outputCount_ = record->numOutputs;
    // The values every program starts with, as the effect's constructor set them.
    for (int32_t p = 0; p < programCount_; ++p) {
        texts_->dispatcher(effSetProgram, 0, p, nullptr, 0.0f);
        for (int32_t i = 0; i < parameterCount_; ++i)
            slot(p, i).store(texts_->getParameter(i), std::memory_order_relaxed);
    }
    texts_->dispatcher(effSetProgram, 0, 0, nullptr, 0.0f);
    for (int32_t i = 0; i < parameterCount_; ++i)
        defaults_[i] = slot(0, i).load(std::memory_order_relaxed);
    program_.store(effect_->getProgram(), std::memory_order_relaxed);
    return true;
}

float EffectRunner::defaultValue(int32_t index) const {
    return isParameter(index) ? defaults_[index] : 0.0f;
}

bool EffectRunner::parameterName(int32_t index, char* text, size_t size) const {
    if (!isParameter(index))
        return false;
    char scratch[kScratch] = {};
    texts_->getParameterName(index, scratch);
    return copyOut(scratch, text, size);
}

bool EffectRunner::parameterLabel(int32_t index, char* text, size_t size) const {
    if (!isParameter(index))
        return false;
    char scratch[kScratch] = {};
    texts_->getParameterLabel(index, scratch);
    return copyOut(scratch, text, size);
}

bool EffectRunner::valueText(int32_t index, float value, char* text, size_t size) const {
    if (!isParameter(index) || !std::isfinite(value))
        return false;
    // The text object is the UI thread's own: setting its value disturbs nothing.
    char scratch[kScratch] = {};
    texts_->setParameter(index, value);
    texts_->getParameterDisplay(index, scratch);
    return copyOut(scratch, text, size);
}

bool EffectRunner::programName(int32_t program, char* text, size_t size) const {
    if (program < 0 || program >= programCount_)
        return false;
    char scratch[kScratch] = {};
    texts_->dispatcher(effSetProgram, 0, program, nullptr, 0.0f);
    texts_->getProgramName(scratch);
    return copyOut(scratch, text, size);
}

float EffectRunner::parameterValue(int32_t index) const {
    return isParameter(index) ? slot(currentProgram(), index).load(std::memory_order_relaxed) : 0.0f;
}

bool EffectRunner::setParameter(int32_t index, float value) {
    if (!isParameter(index) || !std::isfinite(value))
        return false;
    if (!active()) {
        apply(index, value);
        return true;
    }
    slot(currentProgram(), index).store(clampParameter(value), std::memory_order_relaxed);
    changedParameters_.fetch_or(1u << index, std::memory_order_release);
    return true;
}

bool EffectRunner::selectProgram(int32_t program) {
    if (program < 0 || program >= programCount_)
        return false;
    if (!active()) {
        apply(kProgramIndex, programCount_ > 1 ? float(program) / float(programCount_ - 1) : 0.0f);
        return true;
    }
    program_.store(program, std::memory_order_relaxed);
    // Changes of the previous program not yet applied would land in the new one.
    if (changedParameters_.load(std::memory_order_acquire) != 0)
        reloadAll_.store(true, std::memory_order_release);
    else
        programRequest_.store(program, std::memory_order_release);
    return true;
}

bool EffectRunner::setShownValue(int32_t index, float value) {
    if (!isParameter(index) || !std::isfinite(value))
        return false;
    slot(currentProgram(), index).store(clampParameter(value), std::memory_order_relaxed);
    return true;
}

bool EffectRunner::setShownProgram(int32_t program) {
    if (program < 0 || program >= programCount_)
        return false;
    program_.store(program, std::memory_order_relaxed);
    return true;
}

int32_t EffectRunner::programOf(float value) const {
    if (!(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return programCount_ - 1;
    return int32_t(std::lround(double(value) * (programCount_ - 1)));
}

void EffectRunner::apply(int32_t index, float value) {
    if (index == kProgramIndex) {
        const int32_t program = programOf(value);
        effect_->dispatcher(effSetProgram, 0, program, nullptr, 0.0f);
        program_.store(program, std::memory_order_relaxed);
        return;
    }
    if (!isParameter(index) || !std::isfinite(value))
        return;
    effect_->setParameter(index, value);
    slot(effect_->getProgram(), index).store(clampParameter(value), std::memory_order_relaxed);
}

void EffectRunner::applyAllToEffect() {
    const int32_t current = currentProgram();
    for (int32_t p = 0; p < programCount_; ++p) {
        effect_->dispatcher(effSetProgram, 0, p, nullptr, 0.0f);
        for (int32_t i = 0; i < parameterCount_; ++i)
            effect_->setParameter(i, slot(p, i).load(std::memory_order_relaxed));
    }
    effect_->dispatcher(effSetProgram, 0, current, nullptr, 0.0f);
}

void EffectRunner::applyHandOver() {
    if (reloadAll_.exchange(false, std::memory_order_acquire)) {
        programRequest_.store(-1, std::memory_order_relaxed);
        changedParameters_.store(0, std::memory_order_relaxed);
        applyAllToEffect();
        return;
    }
    const int32_t program = programRequest_.exchange(-1, std::memory_order_acquire);
    if (program >= 0)
        effect_->dispatcher(effSetProgram, 0, program, nullptr, 0.0f);
    uint32_t changed = changedParameters_.exchange(0, std::memory_order_acquire);
    const int32_t current = effect_->getProgram();
    for (int32_t i = 0; changed; ++i, changed >>= 1)
        if (changed & 1u)
            effect_->setParameter(i, slot(current, i).load(std::memory_order_relaxed));
}

size_t EffectRunner::stateSize() const {
    return effectstate::recordSize(uint32_t(programCount_), uint32_t(parameterCount_));
}

bool EffectRunner::saveState(uint8_t* out, size_t size) const {
    if (!out || size < stateSize() || !effect_)
        return false;
    float values[kMaxPrograms * kMaxParameters];
    for (int32_t p = 0; p < programCount_; ++p)
        for (int32_t i = 0; i < parameterCount_; ++i)
            values[p * parameterCount_ + i] = slot(p, i).load(std::memory_order_relaxed);
    const effectstate::Layout layout = {description_->stateTag, uint32_t(programCount_), uint32_t(parameterCount_)};
    effectstate::write(layout, uint32_t(currentProgram()), values, out);
    return true;
}

bool EffectRunner::checkState(const uint8_t* data, size_t size) const {
    if (!effect_)
        return false;
    float values[kMaxPrograms * kMaxParameters];
    uint32_t current = 0;
    const effectstate::Layout layout = {description_->stateTag, uint32_t(programCount_), uint32_t(parameterCount_)};
    return effectstate::read(layout, data, size, &current, values);
}

bool EffectRunner::loadState(const uint8_t* data, size_t size) {
    if (!effect_)
        return false;
    float values[kMaxPrograms * kMaxParameters];
    uint32_t current = 0;
    const effectstate::Layout layout = {description_->stateTag, uint32_t(programCount_), uint32_t(parameterCount_)};
    if (!effectstate::read(layout, data, size, &current, values))
        return false;
    for (int32_t p = 0; p < programCount_; ++p)
        for (int32_t i = 0; i < parameterCount_; ++i)
            slot(p, i).store(values[p * parameterCount_ + i], std::memory_order_relaxed);
    program_.store(int32_t(current), std::memory_order_relaxed);
    if (active())
        reloadAll_.store(true, std::memory_order_release);
    else
        applyAllToEffect();
    return true;
}

bool EffectRunner::configure(double sampleRate, int32_t maxFrames) {
    if (!effect_ || active() || !std::isfinite(sampleRate) || sampleRate <= 0.0 || sampleRate > 1e7 || maxFrames < 1)
        return false;
    effect_->dispatcher(effSetSampleRate, 0, 0, nullptr, float(sampleRate));
    effect_->dispatcher(effSetBlockSize, 0, maxFrames, nullptr, 0.0f);
    texts_->dispatcher(effSetSampleRate, 0, 0, nullptr, float(sampleRate));
    return true;
}

void EffectRunner::activate() {
    if (!effect_ || active())
        return;
    effect_->dispatcher(effMainsChanged, 0, 1, nullptr, 0.0f);
    active_.store(true, std::memory_order_release);
}

void EffectRunner::deactivate() {
    if (!active())
        return;
    active_.store(false, std::memory_order_release);
    // Processing has stopped: what the UI handed over is applied here.
    applyHandOver();
    effect_->dispatcher(effMainsChanged, 0, 0, nullptr, 0.0f);
}

void EffectRunner::reset() {
    if (!active())
        return;
    effect_->dispatcher(effMainsChanged, 0, 0, nullptr, 0.0f);
    effect_->dispatcher(effMainsChanged, 0, 1, nullptr, 0.0f);
}

bool EffectRunner::process(const float* const* inputs, float* const* outputs, int32_t frames,
                           const ChangeList& changes) {
    bool buffersPresent = inputs && outputs;
    for (int32_t c = 0; buffersPresent && c < inputCount_; ++c)
        buffersPresent = inputs[c] != nullptr;
    for (int32_t c = 0; buffersPresent && c < outputCount_; ++c)
        buffersPresent = outputs[c] != nullptr;
    if (!active() || !buffersPresent || frames < 0) {
        if (outputs && frames > 0)
            for (int32_t c = 0; c < outputCount_; ++c)
                if (outputs[c])
                    std::memset(outputs[c], 0, size_t(frames) * sizeof(float));
        return false;
    }
    applyHandOver();
    const Change* list = changes.data();
    const int32_t count = changes.count();
    int32_t next = 0;
    int32_t position = 0;
    float* in[kMaxChannels] = {};
    float* out[kMaxChannels] = {};
    while (position < frames) {
        while (next < count && list[next].offset <= position) {
            apply(list[next].index, list[next].value);
            ++next;
        }
        int32_t end = next < count && list[next].offset < frames ? list[next].offset : frames;
        for (int32_t c = 0; c < inputCount_; ++c)
            in[c] = const_cast<float*>(inputs[c]) + position;
        for (int32_t c = 0; c < outputCount_; ++c)
            out[c] = outputs[c] + position;
        effect_->processReplacing(in, out, end - position);
        position = end;
    }
    // Changes at or past the block's end (and every change of an empty block).
    for (; next < count; ++next)
        apply(list[next].index, list[next].value);
    return true;
}
