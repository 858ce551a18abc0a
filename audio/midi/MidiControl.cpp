#include "MidiControl.h"

#include <cmath>
#include <limits>

namespace {

// The status byte of a channel message, as a device sends it.
uint8_t statusOf(const MidiMessage& m) {
    static const uint8_t kHigh[7] = {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0};
    return uint8_t(kHigh[uint8_t(m.kind) % 7] | (m.channel & 0x0F));
}

// What a binding can learn from: a controller, a pressed note, a program change.
bool isSource(const MidiMessage& m) {
    return m.kind == MidiKind::Controller || m.kind == MidiKind::NoteOn || m.kind == MidiKind::ProgramChange;
}

const float kUnseen = std::numeric_limits<float>::quiet_NaN();

}  // namespace

uint32_t packMidiMessage(const MidiMessage& m) {
    return (uint32_t(m.kind) << 24) | (uint32_t(m.channel) << 16) | (uint32_t(m.data1) << 8) | m.data2;
}

MidiMessage unpackMidiMessage(uint32_t packed) {
    return MidiMessage{MidiKind(uint8_t(packed >> 24) % 7), uint8_t((packed >> 16) & 0x0F), uint8_t((packed >> 8) & 0x7F),
                       uint8_t(packed & 0x7F)};
}

MidiControl::MidiControl() {
    for (int i = 0; i <= kDeviceInputs; ++i)
        feeds_[i] = new MidiInputFeed(queues_[i]);
    for (float& v : seen_)
        v = kUnseen;
}

MidiControl::~MidiControl() {
    for (MidiInputFeed* feed : feeds_)
        delete feed;
    delete active_;
    delete pending_.load();
    delete retired_.load();
}

void MidiControl::attachAppliers(ControlApplier* settings, ControlApplier* effects) {
    settings_ = settings;
    effects_ = effects;
}

void MidiControl::playScript(const MidiScript* script) {
    script_ = script;
    player_ = MidiScriptPlayer(script ? *script : empty_);
}

size_t MidiControl::setProgramBindings(const std::vector<MidiBinding>& bindings) {
    program_ = bindings;
    return publish();
}

size_t MidiControl::setPerformanceBindings(const std::vector<MidiBinding>& bindings) {
    performance_ = bindings;
    return publish();
}

size_t MidiControl::publish() {
    collectRetired();
    MidiBindingTable* table = new MidiBindingTable;
    size_t refused = 0;
    // The program's bindings first: a full table keeps those the player set up for
    // every show.
    for (const std::vector<MidiBinding>* list : {&program_, &performance_})
        for (const MidiBinding& binding : *list)
            if (table->add(binding) != BindingRefusal::None)
                ++refused;
    // A table the audio thread never took comes back here and goes.
    delete pending_.exchange(table, std::memory_order_acq_rel);
    return refused;
}

bool MidiControl::bindingsTaken() const { return pending_.load(std::memory_order_acquire) == nullptr; }

void MidiControl::collectRetired() { delete retired_.exchange(nullptr, std::memory_order_acq_rel); }

bool MidiControl::takeEvent(ControlEvent& event) {
    collectRetired();
    if (!mailbox_.take(event))
        return false;
    if (event.kind != ControlEventKind::Applied)
        ++takenEvents_;
    return true;
}

void MidiControl::post(const ControlEvent& event) {
    // Applied changes are only news for the display: nothing waits on them.
    if (event.kind == ControlEventKind::Applied) {
        mailbox_.post(event);
        return;
    }
    if (mailbox_.post(event))
        postedEvents_.store(postedEvents_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool MidiControl::newestSince(uint32_t mark, MidiMessage& message) const {
    const uint64_t newest = newest_.load(std::memory_order_acquire);
    if (uint32_t(newest >> 32) == mark)
        return false;
    message = unpackMidiMessage(uint32_t(newest));
    return true;
}

uint64_t MidiControl::droppedMessages() const {
    uint64_t dropped = 0;
    for (const MidiQueue& queue : queues_)
        dropped += queue.dropped();
    return dropped;
}

ControlApplier* MidiControl::applierFor(uint32_t target) const {
    return targetGroup(target) == TargetGroup::PluginParameter ? effects_ : settings_;
}

void MidiControl::beforeBlock(int32_t frames, double rate) {
    // A new table is taken only once the UI thread has freed the one let go of before.
    if (!retired_.load(std::memory_order_acquire)) {
        if (MidiBindingTable* next = pending_.exchange(nullptr, std::memory_order_acq_rel)) {
            retired_.store(active_, std::memory_order_release);
            active_ = next;
            for (float& v : seen_)
                v = kUnseen;
        }
    }
    const uint64_t frame = frames_.load(std::memory_order_relaxed);

    // The script's messages of this block enter as a device's would.
    if (script_) {
        const ScriptedMidi* first = nullptr;
        const size_t due = player_.due(frame, uint32_t(frames > 0 ? frames : 0), rate, first);
        for (size_t i = 0; i < due; ++i) {
            const MidiMessage& m = first[i].message;
            feeds_[kScriptInput]->shortMessage(
                uint32_t(statusOf(m)) | (uint32_t(m.data1) << 8) | (uint32_t(m.data2) << 16), 0);
        }
    }

    if (active_)
        followTargets();

    // At most a queue's worth from each input: a device that floods cannot keep the
    // block here while it goes on sending.
    for (MidiQueue& queue : queues_) {
        TimedMidiMessage timed;
        for (uint32_t n = 0; n < MidiQueue::kCapacity && queue.pop(timed); ++n)
            handle(timed.message, frame);
    }
    frames_.store(frame + uint64_t(frames > 0 ? frames : 0), std::memory_order_relaxed);
}

// A target moved by something else than its bindings (the mouse, a performance
// switch) since the last block: the table waits for the controller to meet it again.
void MidiControl::followTargets() {
    for (size_t i = 0; i < active_->size(); ++i) {
        const uint32_t target = active_->at(i).target;
        ControlApplier* applier = applierFor(target);
        float value = 0.0f;
        if (!applier || !applier->readTarget(target, value))
            continue;
        if (value != seen_[i]) {
            seen_[i] = value;
            active_->targetChanged(target, value);
        }
    }
}

void MidiControl::handle(const MidiMessage& message, uint64_t frame) {
    handled_.fetch_add(1, std::memory_order_relaxed);
    if (isSource(message)) {
        const uint64_t sequence = (newest_.load(std::memory_order_relaxed) >> 32) + 1;
        newest_.store((sequence << 32) | packMidiMessage(message), std::memory_order_release);
    }
    TargetChange changes[MidiBindingTable::kCapacity];
    const size_t count = active_ ? active_->process(message, changes, MidiBindingTable::kCapacity) : 0;
    if (count == 0 && message.kind == MidiKind::ProgramChange) {
        post(ControlEvent{ControlEventKind::UnboundProgram, kNoTarget, float(message.data1), message, frame});
        return;
    }
    for (size_t c = 0; c < count; ++c) {
        const TargetChange& change = changes[c];
        const TargetBehaviourKind kind = targetBehaviourKind(change.target);
        if (kind == TargetBehaviourKind::Command) {
            // A toggle binding of a command presses it each time; a momentary one
            // presses and releases.
            float value = 1.0f;
            for (size_t i = 0; i < active_->size(); ++i) {
                const MidiBinding& b = active_->at(i);
                if (b.target == change.target && b.behaviour == BindingBehaviour::Momentary)
                    value = change.value;
            }
            post(ControlEvent{ControlEventKind::Command, change.target, value, message, frame});
            continue;
        }
        if (kind == TargetBehaviourKind::None)
            continue;
        ControlApplier* applier = applierFor(change.target);
        const ControlApplier::Outcome outcome =
            applier ? applier->applyTarget(change.target, change.value) : ControlApplier::Outcome::Refused;
        if (outcome == ControlApplier::Outcome::Refused)
            continue;
        // What the binding set is what the target now has: not a move from elsewhere.
        for (size_t i = 0; i < active_->size(); ++i)
            if (active_->at(i).target == change.target)
                seen_[i] = change.value;
        post(ControlEvent{outcome == ControlApplier::Outcome::Applied ? ControlEventKind::Applied
                                                                              : ControlEventKind::Deferred,
                                   change.target, change.value, message, frame});
    }
}
