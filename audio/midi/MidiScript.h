#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MidiMessage.h"

// A MIDI script: time-stamped MIDI messages for a render or a test, one a line as
//   SECONDS BYTE BYTE [BYTE]
// with the bytes in hexadecimal ("5.000 C0 01", "2.5 B0 0B 40"); '#' begins a
// comment, blank lines are skipped. Each line is one whole channel message with its
// status byte. SECONDS count the audio from the first block processed.
struct ScriptedMidi {
    double seconds;
    MidiMessage message;
    int line;
};

struct MidiScript {
    std::vector<ScriptedMidi> messages;  // in time order; equal times keep the file's order
};

struct MidiScriptError {
    int line = 0;        // 1-based
    std::string reason;  // "the time -1 is negative", ...
};

constexpr size_t kMaxMidiScriptBytes = 16u << 20;

// Reads a script's text. On the first bad line, script is left empty and error names
// the line and why. UI (main) thread.
bool parseMidiScript(const char* text, size_t size, MidiScript& script, MidiScriptError& error);
// The same from a file; line 0 with the system's reason when it cannot be read.
bool readMidiScriptFile(const std::string& path, MidiScript& script, MidiScriptError& error);

// Hands out a script's messages block by block, at the frames they fall on.
// Deterministic: a message at t seconds belongs to frame round(t * rate), whatever
// the block sizes. Audio thread; allocates nothing. The script must outlive it.
class MidiScriptPlayer {
public:
    explicit MidiScriptPlayer(const MidiScript& script) : script_(&script) {}

    // The messages due before the end of the block that starts at framesDone and is
    // frames long: first points at them, the count is returned (0: none). Each call
    // moves on past what it returned. A message due before framesDone (the player
    // started late) comes in the next block.
    size_t due(uint64_t framesDone, uint32_t frames, double rate, const ScriptedMidi*& first);
    // The frame within the block at which a returned message falls (0 for one that was late).
    static uint32_t offsetInBlock(const ScriptedMidi& message, uint64_t framesDone, double rate);

    bool finished() const { return next_ >= script_->messages.size(); }
    void rewind() { next_ = 0; }

private:
    const MidiScript* script_;
    size_t next_ = 0;
};

// The frame a time falls on at rate.
uint64_t scriptFrame(double seconds, double rate);
