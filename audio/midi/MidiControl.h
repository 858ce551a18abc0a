#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ChainStages.h"
#include "ControlMailbox.h"
#include "ControlTargets.h"
#include "MidiBindings.h"
#include "MidiInputFeed.h"
#include "MidiQueue.h"
#include "MidiScript.h"

// Where a target's value lives: the user's settings (knobs, switches, bypass) or the
// effect host (plug-in parameters). Driver thread, inside MidiControl::beforeBlock;
// allocates nothing, takes no lock.
class ControlApplier {
public:
    virtual ~ControlApplier() = default;
    // The target's value now (0..1); false when it has none now (an empty position, a
    // parameter the plug-in does not have).
    virtual bool readTarget(uint32_t target, float& value) = 0;
    // Sets the target for this block. Applied: done; Deferred: only the UI thread can
    // do it (the mailbox carries it there); Refused: no such target now.
    enum class Outcome : uint8_t { Applied, Deferred, Refused };
    virtual Outcome applyTarget(uint32_t target, float value) = 0;
};

// The engine's MIDI control point. Owns the queues from the MIDI inputs, drains them
// once a block before the chain's work, runs the bindings table and applies what it
// yields through the appliers at that block; commands and program changes nobody
// bound go to the UI thread's mailbox. A MIDI script (the rig) is fed into its own
// input at the block its messages fall in, so it takes the devices' path.
class MidiControl : public ChainMidi {
public:
    static constexpr int kDeviceInputs = 8;
    static constexpr int kScriptInput = kDeviceInputs;  // the last input is the script's

    MidiControl();
    ~MidiControl() override;
    MidiControl(const MidiControl&) = delete;
    MidiControl& operator=(const MidiControl&) = delete;

    // --- UI thread, while the driver is not calling back ---
    // settings: the program's targets; effects: plug-in parameters (either may be null).
    void attachAppliers(ControlApplier* settings, ControlApplier* effects);
    // The script is played from the first block on (null: none); it must outlive
    // the control point or the next call.
    void playScript(const MidiScript* script);

    // --- MIDI input threads: one feed per device, each from one thread at a time ---
    MidiInputFeed& deviceFeed(int device) { return *feeds_[device < 0 || device >= kDeviceInputs ? 0 : device]; }

    // --- UI thread: the bindings ---
    // The program's own bindings (the registry's) and the running performance's
    // (plug-in parameters). Each call merges both lists into a new table and hands
    // it to the audio thread, which takes it at its next block, without a lock. The
    // return is how many of the given bindings the table refused (full, duplicates).
    size_t setProgramBindings(const std::vector<MidiBinding>& bindings);
    size_t setPerformanceBindings(const std::vector<MidiBinding>& bindings);
    const std::vector<MidiBinding>& programBindings() const { return program_; }
    const std::vector<MidiBinding>& performanceBindings() const { return performance_; }
    // True once the audio thread runs the table last handed over.
    bool bindingsTaken() const;

    // --- UI thread: what the audio thread hands over ---
    // The next event, in order; false when none waits. Also frees tables the audio
    // thread let go of: call it from the timer (program) or the loop (rig).
    bool takeEvent(ControlEvent& event);
    // UI thread: every event taken so far has been acted on (a switch posted...);
    // Applied events are news for the display and never wait.
    // A render waits while eventsOutstanding, so what the events start lands at the
    // same block every time.
    void eventsHandled() { handledEvents_.store(takenEvents_, std::memory_order_release); }
    bool eventsOutstanding() const {
        return postedEvents_.load(std::memory_order_acquire) != handledEvents_.load(std::memory_order_acquire);
    }
    // MIDI learn: a mark now, then the newest source message (controller, note on,
    // program change) that arrived after it; false while none has. Messages the
    // script plays count too.
    uint32_t learnMark() const { return uint32_t(newest_.load(std::memory_order_acquire) >> 32); }
    bool newestSince(uint32_t mark, MidiMessage& message) const;

    // --- any thread: counters ---
    uint64_t framesDone() const { return frames_.load(std::memory_order_relaxed); }
    uint64_t messagesHandled() const { return handled_.load(std::memory_order_relaxed); }
    uint64_t droppedMessages() const;   // lost to full input queues
    uint64_t droppedEvents() const { return mailbox_.dropped(); }

    // --- driver thread ---
    void beforeBlock(int32_t frames, double rate) override;

private:
    size_t publish();
    void collectRetired();
    void handle(const MidiMessage& message, uint64_t frame);
    void post(const ControlEvent& event);
    void followTargets();
    ControlApplier* applierFor(uint32_t target) const;

    MidiQueue queues_[kDeviceInputs + 1];
    MidiInputFeed* feeds_[kDeviceInputs + 1];
    ControlMailbox mailbox_;
    ControlApplier* settings_ = nullptr;
    ControlApplier* effects_ = nullptr;

    // The table the audio thread runs (driver thread only), the next one handed to it
    // (UI to audio), and the one it let go of (audio to UI, freed there).
    MidiBindingTable* active_ = nullptr;
    std::atomic<MidiBindingTable*> pending_{nullptr};
    std::atomic<MidiBindingTable*> retired_{nullptr};
    std::vector<MidiBinding> program_, performance_;

    // Driver thread: each binding's target value as last seen, to tell the table when
    // something else (the mouse, a switch) moved it. NaN: not seen yet.
    float seen_[MidiBindingTable::kCapacity];

    const MidiScript* script_ = nullptr;
    MidiScriptPlayer player_{empty_};
    MidiScript empty_;

    std::atomic<uint64_t> newest_{0};  // (sequence << 32) | packed message
    std::atomic<uint64_t> frames_{0};
    std::atomic<uint64_t> handled_{0};
    std::atomic<uint64_t> postedEvents_{0};   // driver thread writes
    std::atomic<uint64_t> handledEvents_{0};  // UI thread writes
    uint64_t takenEvents_ = 0;                // UI thread only
};

// The message packed into 32 bits (kind, channel, data1, data2) and back.
uint32_t packMidiMessage(const MidiMessage& message);
MidiMessage unpackMidiMessage(uint32_t packed);
