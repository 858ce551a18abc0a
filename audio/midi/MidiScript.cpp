#include "MidiScript.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A day of audio: later times are typing errors.
constexpr double kMaxSeconds = 86400.0;

bool fail(MidiScriptError& error, int line, const std::string& reason) {
    error.line = line;
    error.reason = reason;
    return false;
}

std::string shown(const std::string& word) { return word.size() > 24 ? word.substr(0, 24) + "..." : word; }

bool readByte(const std::string& word, uint8_t& byte) {
    if (word.empty() || word.size() > 2)
        return false;
    unsigned value = 0;
    for (char c : word) {
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            return false;
        value = value * 16 + unsigned(d);
    }
    byte = uint8_t(value);
    return true;
}

// Digits with at most one point, nothing else (no sign, exponent, hex or "nan").
bool readSeconds(const std::string& word, double& seconds) {
    int points = 0, digits = 0;
    for (char c : word) {
        if (c == '.')
            ++points;
        else if (c >= '0' && c <= '9')
            ++digits;
        else
            return false;
    }
    if (digits == 0 || points > 1)
        return false;
    seconds = std::strtod(word.c_str(), nullptr);
    return true;
}

bool readLine(const std::string& text, int line, std::vector<ScriptedMidi>& out, MidiScriptError& error) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
        if (words.size() > 5)
            break;
    }
    if (words.empty())
        return true;
    if (words.size() < 3 || words.size() > 4)
        return fail(error, line, "a line is SECONDS and two or three hexadecimal bytes (\"2.5 B0 0B 40\"), not " +
                                     (words.size() > 4 ? std::string("more than four") : std::to_string(words.size())) +
                                     " words");
    double seconds = 0.0;
    if (words[0][0] == '-')
        return fail(error, line, "the time " + shown(words[0]) + " is negative");
    if (!readSeconds(words[0], seconds))
        return fail(error, line, "the time " + shown(words[0]) + " is not a number of seconds like 2.5");
    if (seconds > kMaxSeconds)
        return fail(error, line, "the time " + shown(words[0]) + " is beyond a day (86400 seconds)");
    uint8_t bytes[3] = {0, 0, 0};
    for (size_t k = 1; k < words.size(); ++k)
        if (!readByte(words[k], bytes[k - 1]))
            return fail(error, line, "\"" + shown(words[k]) + "\" is not a hexadecimal byte (00 to FF)");
    const uint8_t status = bytes[0];
    if (status < 0x80)
        return fail(error, line, "the message does not begin with a status byte (80 to EF)");
    if (status >= 0xF0)
        return fail(error, line, "only channel messages (80 to EF) can be scripted, not system messages");
    const size_t dataBytes = size_t(midiDataBytes(status));
    if (words.size() - 2 != dataBytes) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "a message with the status %02X takes %zu data byte%s, not %zu", status,
                      dataBytes, dataBytes == 1 ? "" : "s", words.size() - 2);
        return fail(error, line, reason);
    }
    for (size_t k = 1; k <= dataBytes; ++k)
        if (bytes[k] >= 0x80)
            return fail(error, line, "the data byte " + words[k + 1] + " is above 7F");
    out.push_back(ScriptedMidi{seconds, midiMessageOf(status, bytes[1], bytes[2]), line});
    return true;
}

}  // namespace

bool parseMidiScript(const char* text, size_t size, MidiScript& script, MidiScriptError& error) {
    script.messages.clear();
    error = MidiScriptError{};
    if (size > kMaxMidiScriptBytes)
        return fail(error, 0, "the script is larger than 16 MiB");
    std::vector<ScriptedMidi> read;
    size_t at = 0;
    int line = 0;
    while (text && at < size) {
        const char* begin = text + at;
        const void* nl = std::memchr(begin, '\n', size - at);
        size_t length = nl ? size_t(static_cast<const char*>(nl) - begin) : size - at;
        at += length + 1;
        ++line;
        if (length && begin[length - 1] == '\r')
            --length;
        std::string content(begin, length);
        const size_t hash = content.find('#');
        if (hash != std::string::npos)
            content.erase(hash);
        if (content.find('\0') != std::string::npos)
            return fail(error, line, "the line holds a NUL byte");
        if (!readLine(content, line, read, error))
            return false;
    }
    std::stable_sort(read.begin(), read.end(),
                     [](const ScriptedMidi& a, const ScriptedMidi& b) { return a.seconds < b.seconds; });
    script.messages.swap(read);
    return true;
}

bool readMidiScriptFile(const std::string& path, MidiScript& script, MidiScriptError& error) {
    script.messages.clear();
    error = MidiScriptError{};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return fail(error, 0, path + " could not be opened (" + std::strerror(errno) + ")");
    std::string bytes;
    char block[8192];
    size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0 && bytes.size() <= kMaxMidiScriptBytes)
        bytes.append(block, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return fail(error, 0, path + " could not be read");
    return parseMidiScript(bytes.data(), bytes.size(), script, error);
}

uint64_t scriptFrame(double seconds, double rate) { return uint64_t(std::llround(seconds * rate)); }

size_t MidiScriptPlayer::due(uint64_t framesDone, uint32_t frames, double rate, const ScriptedMidi*& first) {
    const std::vector<ScriptedMidi>& all = script_->messages;
    first = next_ < all.size() ? &all[next_] : nullptr;
    const uint64_t end = framesDone + frames;
    size_t count = 0;
    while (next_ < all.size() && scriptFrame(all[next_].seconds, rate) < end) {
        ++next_;
        ++count;
    }
    return count;
}

uint32_t MidiScriptPlayer::offsetInBlock(const ScriptedMidi& message, uint64_t framesDone, double rate) {
    const uint64_t frame = scriptFrame(message.seconds, rate);
    return frame > framesDone ? uint32_t(frame - framesDone) : 0;
}
