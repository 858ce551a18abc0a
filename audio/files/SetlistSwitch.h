#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "MidiMessage.h"
#include "Setlist.h"

// Switching through a setlist by MIDI: program change N selects entry N + 1 (the
// first entry is program 0, as most foot controllers count from 1 and send 0).

constexpr int kSetlistAnyChannel = -1;

// The entry's index the message selects, or -1: not a program change, another
// channel than channel (0 to 15, or kSetlistAnyChannel), or a program beyond the
// entries. Audio or UI thread; allocates nothing.
int setlistEntryForMessage(const MidiMessage& message, size_t entryCount, int channel);

// The line printed at a switch: the time in the audio, the entry's number from 1 and
// its name, "(missing)" for a performance that was not found.
//   "  12.500 s  setlist 2: Ballad Two (autoplay)"
std::string setlistSwitchLine(double seconds, size_t index, const SetlistEntry& entry);
