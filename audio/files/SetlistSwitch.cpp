#include "SetlistSwitch.h"

#include <cstdio>

int setlistEntryForMessage(const MidiMessage& message, size_t entryCount, int channel) {
    if (message.kind != MidiKind::ProgramChange)
        return -1;
    if (channel != kSetlistAnyChannel && channel != int(message.channel))
        return -1;
    return size_t(message.data1) < entryCount ? int(message.data1) : -1;
}

std::string setlistSwitchLine(double seconds, size_t index, const SetlistEntry& entry) {
    char time[32];
    std::snprintf(time, sizeof time, "%8.3f s", seconds);
    std::string line = std::string(time) + "  setlist " + std::to_string(index + 1) + ": " + setlistEntryName(entry);
    if (entry.autoplay)
        line += " (autoplay)";
    if (entry.missing)
        line += " (missing)";
    return line;
}
