#include "MidiBindings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "StringIds.h"
#include "StringTable.h"

namespace {

// Half a controller step: a value this near the target's is the target's.
constexpr float kMeets = 0.5f / 127.0f;

float controllerValue(uint8_t data) { return float(data) / 127.0f; }

bool near(float a, float b) { return a - b <= kMeets && b - a <= kMeets; }

}  // namespace

BindingRefusal MidiBindingTable::add(const MidiBinding& b) {
    if (b.source.number > 127)
        return BindingRefusal::NumberOutOfRange;
    if (b.source.channel != kAnyChannel && (b.source.channel < 0 || b.source.channel > 15))
        return BindingRefusal::ChannelOutOfRange;
    if (b.behaviour == BindingBehaviour::Continuous && b.source.kind != MidiSourceKind::Controller)
        return BindingRefusal::ContinuousNeedsController;
    if (b.behaviour == BindingBehaviour::Momentary && b.source.kind == MidiSourceKind::Program)
        return BindingRefusal::MomentaryNeedsRelease;
    for (size_t i = 0; i < count_; ++i) {
        const MidiBinding& o = slots_[i].binding;
        if (o.target == b.target && o.source.kind == b.source.kind && o.source.number == b.source.number &&
            o.source.channel == b.source.channel)
            return BindingRefusal::Duplicate;
    }
    if (count_ == kCapacity)
        return BindingRefusal::TableFull;
    // Until the host says otherwise the target is taken to be at 0: a controller is
    // not followed before it has met the target.
    slots_[count_++] = Slot{b, 0.0f, -1, false, false};
    return BindingRefusal::None;
}

size_t MidiBindingTable::removeTarget(uint32_t target) {
    size_t kept = 0;
    for (size_t i = 0; i < count_; ++i)
        if (slots_[i].binding.target != target)
            slots_[kept++] = slots_[i];
    const size_t removed = count_ - kept;
    count_ = kept;
    return removed;
}

void MidiBindingTable::targetChanged(uint32_t target, float value) {
    for (size_t i = 0; i < count_; ++i) {
        Slot& s = slots_[i];
        if (s.binding.target != target)
            continue;
        if (s.binding.behaviour == BindingBehaviour::Continuous && !near(s.value, value))
            s.following = false;  // the controller's position no longer is the target's
        s.value = value;
    }
}

bool MidiBindingTable::matches(const Slot& slot, const MidiMessage& m) const {
    const MidiSource& src = slot.binding.source;
    if (src.channel != kAnyChannel && src.channel != int8_t(m.channel))
        return false;
    if (m.data1 != src.number)
        return false;
    switch (src.kind) {
    case MidiSourceKind::Controller:
        return m.kind == MidiKind::Controller;
    case MidiSourceKind::Note:
        return m.kind == MidiKind::NoteOn || m.kind == MidiKind::NoteOff;
    case MidiSourceKind::Program:
        return m.kind == MidiKind::ProgramChange;
    }
    return false;
}

// The binding's reaction to a message it matches; true with value when the target changes.
bool MidiBindingTable::step(Slot& s, const MidiMessage& m, float& value) {
    if (s.binding.behaviour == BindingBehaviour::Continuous) {
        const float v = controllerValue(m.data2);
        if (!s.following) {
            // Taken up when the controller meets the target's value or moves across it
            // between two readings; a reading that jumps elsewhere moves nothing.
            const float last = s.last >= 0 ? controllerValue(uint8_t(s.last)) : -1.0f;
            const bool crossed = s.last >= 0 && ((last <= s.value && s.value <= v) || (v <= s.value && s.value <= last));
            s.following = near(v, s.value) || crossed;
        }
        s.last = m.data2;
        if (!s.following)
            return false;
        s.value = v;
        value = v;
        return true;
    }
    // Switches: a note on, a controller at 64 or more, or any program change presses.
    const bool pressed = m.kind == MidiKind::NoteOn || (m.kind == MidiKind::Controller && m.data2 >= 64) ||
                         m.kind == MidiKind::ProgramChange;
    const bool wasHeld = s.held;
    s.held = pressed && m.kind != MidiKind::ProgramChange;
    if (pressed && wasHeld)
        return false;  // a controller sending on while held, a repeated note on
    if (!pressed && !wasHeld)
        return false;
    if (s.binding.behaviour == BindingBehaviour::Toggle) {
        if (!pressed)
            return false;
        s.value = s.value >= 0.5f ? 0.0f : 1.0f;
    } else {
        s.value = pressed ? 1.0f : 0.0f;
    }
    value = s.value;
    return true;
}

size_t MidiBindingTable::process(const MidiMessage& message, TargetChange* out, size_t capacity) {
    size_t written = 0;
    for (size_t i = 0; i < count_; ++i) {
        Slot& s = slots_[i];
        float value = 0.0f;
        if (!matches(s, message) || !step(s, message, value))
            continue;
        if (written < capacity)
            out[written++] = TargetChange{s.binding.target, value};
        // The other bindings of the target see it move as if the mouse had moved it.
        for (size_t j = 0; j < count_; ++j) {
            Slot& other = slots_[j];
            if (j == i || other.binding.target != s.binding.target)
                continue;
            if (other.binding.behaviour == BindingBehaviour::Continuous && !near(other.value, value))
                other.following = false;
            other.value = value;
        }
    }
    return written;
}

// --- text ---

namespace {

constexpr char kHeader[] = "talvenor-bindings 1";
static_assert(int(BindingsTextProblem::TooLong) == kStrBindingsFirstRefusal - kStrBindingsFirstProblem &&
                  int(BindingRefusal::Duplicate) == kStrSetlistFirstProblem - kStrBindingsFirstRefusal,
              "the string table holds one reason per problem and refusal, in the enums' order");
constexpr size_t kMaxTextBytes = 64 * 1024;
constexpr int kMaxFields = 5;
constexpr size_t kFieldSize = 24;

struct Line {
    const char* start;
    size_t length;
};

bool nextLine(const char* text, size_t size, size_t& at, Line& line) {
    if (at >= size)
        return false;
    const char* begin = text + at;
    const void* nl = std::memchr(begin, '\n', size - at);
    const size_t length = nl ? size_t(static_cast<const char*>(nl) - begin) : size - at;
    at += length + (nl ? 1 : 0);
    line = Line{begin, length};
    if (line.length && line.start[line.length - 1] == '\r')
        --line.length;
    return true;
}

// Splits at spaces and tabs into NUL-terminated fields; a field too long for the
// buffer is kept cut, and so never matches anything.
int splitFields(const Line& line, char fields[kMaxFields + 1][kFieldSize]) {
    int count = 0;
    size_t i = 0;
    while (i < line.length) {
        while (i < line.length && (line.start[i] == ' ' || line.start[i] == '\t'))
            ++i;
        if (i == line.length)
            break;
        size_t n = 0;
        while (i < line.length && line.start[i] != ' ' && line.start[i] != '\t') {
            if (count <= kMaxFields && n + 1 < kFieldSize)
                fields[count][n++] = line.start[i];
            else if (count <= kMaxFields)
                fields[count][0] = '\x01';  // marks a cut field
            ++i;
        }
        if (count <= kMaxFields)
            fields[count][n] = '\0';
        ++count;
    }
    return count;
}

bool readDecimal(const char* field, uint64_t max, uint64_t& value) {
    if (!field[0] || std::strlen(field) > 10)
        return false;
    uint64_t v = 0;  // ten digits fit
    for (const char* p = field; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + unsigned(*p - '0');
    }
    if (v > max)
        return false;
    value = v;
    return true;
}

bool blank(const Line& line) {
    for (size_t i = 0; i < line.length; ++i)
        if (line.start[i] != ' ' && line.start[i] != '\t')
            return false;
    return true;
}

BindingsTextProblem readBinding(char fields[kMaxFields + 1][kFieldSize], MidiBinding& b) {
    if (std::strcmp(fields[0], "cc") == 0)
        b.source.kind = MidiSourceKind::Controller;
    else if (std::strcmp(fields[0], "note") == 0)
        b.source.kind = MidiSourceKind::Note;
    else if (std::strcmp(fields[0], "program") == 0)
        b.source.kind = MidiSourceKind::Program;
    else
        return BindingsTextProblem::UnknownSource;
    uint64_t n = 0;
    if (!readDecimal(fields[1], 127, n))
        return BindingsTextProblem::BadNumber;
    b.source.number = uint8_t(n);
    if (std::strcmp(fields[2], "any") == 0) {
        b.source.channel = kAnyChannel;
    } else {
        if (!readDecimal(fields[2], 16, n) || n < 1)
            return BindingsTextProblem::BadChannel;
        b.source.channel = int8_t(n - 1);
    }
    if (!readDecimal(fields[3], 0xFFFFFFFFu, n))
        return BindingsTextProblem::BadTarget;
    b.target = uint32_t(n);
    if (std::strcmp(fields[4], "continuous") == 0)
        b.behaviour = BindingBehaviour::Continuous;
    else if (std::strcmp(fields[4], "toggle") == 0)
        b.behaviour = BindingBehaviour::Toggle;
    else if (std::strcmp(fields[4], "momentary") == 0)
        b.behaviour = BindingBehaviour::Momentary;
    else
        return BindingsTextProblem::UnknownBehaviour;
    return BindingsTextProblem::None;
}

const char* sourceWord(MidiSourceKind kind) {
    return kind == MidiSourceKind::Controller ? "cc" : kind == MidiSourceKind::Note ? "note" : "program";
}

const char* behaviourWord(BindingBehaviour behaviour) {
    return behaviour == BindingBehaviour::Continuous ? "continuous"
           : behaviour == BindingBehaviour::Toggle   ? "toggle"
                                                     : "momentary";
}

}  // namespace

bool readBindingsText(const char* text, size_t size, MidiBindingTable& table, BindingsTextError& error) {
    table.clear();
    error = BindingsTextError{};
    auto fail = [&](BindingsTextProblem problem, int line) {
        table.clear();
        error.problem = problem;
        error.line = line;
        return false;
    };
    if (size > kMaxTextBytes)
        return fail(BindingsTextProblem::TooLong, 0);
    size_t at = 0;
    Line line{};
    if (!text || !nextLine(text, size, at, line) || line.length != sizeof kHeader - 1 ||
        std::memcmp(line.start, kHeader, line.length) != 0)
        return fail(BindingsTextProblem::NoHeader, 1);
    int number = 1;
    while (nextLine(text, size, at, line)) {
        ++number;
        if (blank(line))
            continue;
        char fields[kMaxFields + 1][kFieldSize] = {};
        if (splitFields(line, fields) != kMaxFields)
            return fail(BindingsTextProblem::WrongFieldCount, number);
        MidiBinding binding{};
        const BindingsTextProblem problem = readBinding(fields, binding);
        if (problem != BindingsTextProblem::None)
            return fail(problem, number);
        const BindingRefusal refusal = table.add(binding);
        if (refusal != BindingRefusal::None) {
            error.refusal = refusal;
            return fail(BindingsTextProblem::Refused, number);
        }
    }
    return true;
}

bool writeBindingsText(const MidiBindingTable& table, char* out, size_t size) {
    if (!out || size == 0)
        return false;
    size_t used = 0;
    auto put = [&](const char* format, auto... values) {
        if (used >= size)
            return false;
        const int n = std::snprintf(out + used, size - used, format, values...);
        if (n < 0 || size_t(n) >= size - used) {
            out[0] = '\0';  // never half a table
            return false;
        }
        used += size_t(n);
        return true;
    };
    if (!put("%s\n", kHeader))
        return false;
    for (size_t i = 0; i < table.size(); ++i) {
        const MidiBinding& b = table.at(i);
        char channel[8] = "any";
        if (b.source.channel != kAnyChannel)
            std::snprintf(channel, sizeof channel, "%d", b.source.channel + 1);
        if (!put("%s %u %s %lu %s\n", sourceWord(b.source.kind), unsigned(b.source.number), channel,
                 static_cast<unsigned long>(b.target), behaviourWord(b.behaviour)))
            return false;
    }
    return true;
}

void describeBindingsTextError(const BindingsTextError& error, char* out, size_t size) {
    if (!out || size == 0)
        return;
    int id = kStrBindingsFirstProblem + int(error.problem) - 1;
    if (error.problem == BindingsTextProblem::Refused)
        id = kStrBindingsFirstRefusal + int(error.refusal) - 1;
    char reason[256];
    if (error.problem == BindingsTextProblem::None || !stringTableText(id, reason, sizeof reason))
        std::snprintf(reason, sizeof reason, "problem %d", int(error.problem));
    if (error.line > 0)
        std::snprintf(out, size, "line %d: %s", error.line, reason);
    else
        std::snprintf(out, size, "%s", reason);
}
