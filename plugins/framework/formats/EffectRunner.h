#pragma once
// One of our effects as the VST3 and CLAP entry points drive it: the AudioEffect
// that processes (touched by the audio thread while active, by the UI thread
// otherwise), a second one of the same class that only formats value texts on the
// UI thread, and the values the UI side reads and writes.
//
// The UI side never touches the processing object while it is active: its changes
// go through lock-free hand-over flags that the audio thread applies at the start
// of its next block. Changes the host schedules within a block (VST3 parameter
// queues, CLAP events) split the block at their offsets, and each piece is
// processed as the VST 2 build processes a block, so the output equals the VST 2
// build's with setParameter called between the pieces.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "EffectDescription.h"

class AudioEffect;

class EffectRunner {
public:
    static constexpr int32_t kMaxParameters = 32;
    static constexpr int32_t kMaxPrograms = 16;
    static constexpr int32_t kMaxChannels = 2;
    // The index that carries a program change (normalised over the program list).
    static constexpr int32_t kProgramIndex = -1;
    // Changes held for one block; later ones in a crowded block are dropped.
    static constexpr int32_t kMaxChanges = 512;

    struct Change {
        int32_t offset;  // frame within the block
        int32_t index;   // parameter index, or kProgramIndex
        float value;     // normalised 0..1
    };

    // Holds changes in frame order as the format hands them over (audio thread).
    class ChangeList {
    public:
        void clear() { count_ = 0; }
        // Keeps the list ordered by offset; equal offsets stay in arrival order.
        bool add(int32_t offset, int32_t index, float value);
        int32_t count() const { return count_; }
        const Change* data() const { return changes_; }

    private:
        Change changes_[kMaxChanges];
        int32_t count_ = 0;
    };

    EffectRunner() = default;
    ~EffectRunner();
    EffectRunner(const EffectRunner&) = delete;
    EffectRunner& operator=(const EffectRunner&) = delete;

    // UI thread, once: false when the objects could not be made.
    bool create(const EffectDescription& description);

    // Fixed after create; any thread.
    int32_t parameterCount() const { return parameterCount_; }
    int32_t programCount() const { return programCount_; }
    int32_t inputCount() const { return inputCount_; }
    int32_t outputCount() const { return outputCount_; }
    float defaultValue(int32_t index) const;

    // UI thread.
    bool parameterName(int32_t index, char* text, size_t size) const;
    bool parameterLabel(int32_t index, char* text, size_t size) const;
    // The text the VST 2 build shows for index at value.
    bool valueText(int32_t index, float value, char* text, size_t size) const;
    bool programName(int32_t program, char* text, size_t size) const;
    bool isParameter(int32_t index) const { return index >= 0 && index < parameterCount_; }

    // Any thread: the value as last set by either side.
    float parameterValue(int32_t index) const;
    int32_t currentProgram() const { return program_.load(std::memory_order_relaxed); }

    // UI thread: false for an index or program out of range.
    bool setParameter(int32_t index, float value);
    bool selectProgram(int32_t program);
    // UI thread: the value the UI side shows, leaving the processing alone (a VST3
    // controller's value: the processor learns it from the host's changes, at the
    // frame the host gives them).
    bool setShownValue(int32_t index, float value);
    bool setShownProgram(int32_t program);

    // UI thread: the state record (EffectStateRecord.h).
    size_t stateSize() const;
    bool saveState(uint8_t* out, size_t size) const;
    // False, and nothing changed, when the record is not this effect's.
    bool loadState(const uint8_t* data, size_t size);
    bool checkState(const uint8_t* data, size_t size) const;

    // UI thread, while inactive.
    bool configure(double sampleRate, int32_t maxFrames);
    // UI thread: switching on and off, as the VST 2 build's effMainsChanged.
    void activate();
    void deactivate();
    bool active() const { return active_.load(std::memory_order_acquire); }

    // Audio thread while active. inputs and outputs hold inputCount and outputCount
    // buffers; false (outputs cleared where present) when inactive or a buffer is
    // missing. Zero frames apply the changes only.
    bool process(const float* const* inputs, float* const* outputs, int32_t frames, const ChangeList& changes);
    // Audio thread while active: clears the filters and oscillators, as switching
    // the VST 2 build off and on does.
    void reset();
    // Audio thread while active, UI thread while inactive: one change now.
    void apply(int32_t index, float value);

private:
    void applyHandOver();
    void applyAllToEffect();
    int32_t programOf(float value) const;
    std::atomic<float>& slot(int32_t program, int32_t index) { return values_[program][index]; }
    const std::atomic<float>& slot(int32_t program, int32_t index) const { return values_[program][index]; }

    const EffectDescription* description_ = nullptr;
    AudioEffect* effect_ = nullptr;  // processes
    AudioEffect* texts_ = nullptr;   // formats value texts (UI thread only)
    int32_t parameterCount_ = 0;
    int32_t programCount_ = 0;
    int32_t inputCount_ = 0;
    int32_t outputCount_ = 0;
    float defaults_[kMaxParameters] = {};

    std::atomic<float> values_[kMaxPrograms][kMaxParameters];
    std::atomic<int32_t> program_{0};
    std::atomic<bool> active_{false};

    // UI to audio hand-over while active.
    std::atomic<uint32_t> changedParameters_{0};  // bits of the current program's parameters
    std::atomic<int32_t> programRequest_{-1};
    std::atomic<bool> reloadAll_{false};
};
