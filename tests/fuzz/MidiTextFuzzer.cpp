// Any bytes as the three texts of hands-free control and as a MIDI stream: a
// setlist, stored bindings and a MIDI script are refused or read, and what was read
// is written again and reads back the same; the byte parser gives only well-formed
// messages.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "MidiBindings.h"
#include "MidiParser.h"
#include "MidiScript.h"
#include "Setlist.h"

// The texts are not the fuzzer's business (the tests check them): every reason falls
// back to its number.
bool stringTableText(int, char* out, size_t size) {
    if (out && size)
        out[0] = '\0';
    return false;
}

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

void setlist(const char* text, size_t size) {
    Setlist set;
    SetlistReport report;
    if (!parseSetlist(text, size, "/gigs", set, report)) {
        require(set.entries.empty() && !describeSetlistProblem(report, "f").empty());
        return;
    }
    std::string written;
    if (!formatSetlist(set, "/gigs", written, report))
        return;  // a path such as "/gigs/#x" reads but is not written relative
    Setlist again;
    require(parseSetlist(written.data(), written.size(), "/gigs", again, report));
    require(again.entries.size() == set.entries.size());
    for (size_t i = 0; i < set.entries.size(); ++i)
        require(again.entries[i].resolved == set.entries[i].resolved &&
                again.entries[i].autoplay == set.entries[i].autoplay);
}

void bindings(const char* text, size_t size) {
    MidiBindingTable table;
    BindingsTextError error;
    if (!readBindingsText(text, size, table, error)) {
        require(table.size() == 0);
        char said[300];
        describeBindingsTextError(error, said, sizeof said);
        return;
    }
    std::vector<char> written(64 * 1024);
    require(writeBindingsText(table, written.data(), written.size()));
    MidiBindingTable again;
    require(readBindingsText(written.data(), std::strlen(written.data()), again, error));
    require(again.size() == table.size());
}

void script(const char* text, size_t size) {
    MidiScript s;
    MidiScriptError error;
    if (!parseMidiScript(text, size, s, error)) {
        require(s.messages.empty() && error.line > 0 && !error.reason.empty());
        return;
    }
    for (size_t i = 1; i < s.messages.size(); ++i)
        require(s.messages[i - 1].seconds <= s.messages[i].seconds);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact copy, so that reading one byte past the input is caught.
    std::vector<char> text(data, data + size);
    setlist(text.data(), text.size());
    bindings(text.data(), text.size());
    script(text.data(), text.size());
    MidiParser parser;
    for (size_t i = 0; i < size; ++i) {
        MidiMessage m{};
        if (parser.push(data[i], m))
            require(m.channel < 16 && m.data1 < 0x80 && m.data2 < 0x80 &&
                    !(m.kind == MidiKind::NoteOn && m.data2 == 0));
    }
    return 0;
}
