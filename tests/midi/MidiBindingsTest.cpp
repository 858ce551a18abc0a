#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "MidiBindings.h"
#include "MidiParser.h"

namespace {

MidiMessage cc(uint8_t channel, uint8_t number, uint8_t value) {
    return MidiMessage{MidiKind::Controller, channel, number, value};
}
MidiMessage noteOn(uint8_t channel, uint8_t note) { return MidiMessage{MidiKind::NoteOn, channel, note, 100}; }
MidiMessage noteOff(uint8_t channel, uint8_t note) { return MidiMessage{MidiKind::NoteOff, channel, note, 0}; }
MidiMessage program(uint8_t channel, uint8_t number) {
    return MidiMessage{MidiKind::ProgramChange, channel, number, 0};
}

// What one message does: the changes, as "target=value" with the value in 127ths.
std::string run(MidiBindingTable& table, const MidiMessage& m) {
    TargetChange changes[8];
    const size_t n = table.process(m, changes, 8);
    std::string text;
    for (size_t i = 0; i < n; ++i)
        text += (i ? " " : "") + std::to_string(changes[i].target) + "=" +
                std::to_string(int(std::lround(changes[i].value * 127.0f)));
    return text;
}

}  // namespace

// A controller's reading far from the control's value moves nothing; the control is
// taken up when the controller meets it or passes it, and then follows. A value set
// elsewhere (the mouse, a performance switch) makes it wait again.
TEST(MidiBindings, AContinuousControlIsTakenUpOnlyWhenTheControllerPassesItsValue) {
    MidiBindingTable table;
    ASSERT_EQ(table.add({{MidiSourceKind::Controller, 7, kAnyChannel}, 1, BindingBehaviour::Continuous}),
              BindingRefusal::None);
    table.targetChanged(1, 64.0f / 127.0f);
    EXPECT_EQ(run(table, cc(0, 7, 127)), "") << "the first reading jumps: nothing moves";
    EXPECT_EQ(run(table, cc(3, 7, 100)), "");
    EXPECT_EQ(run(table, cc(0, 7, 70)), "") << "closer, not there yet";
    EXPECT_EQ(run(table, cc(0, 7, 60)), "1=60") << "passed 64 between 70 and 60: taken up";
    EXPECT_EQ(run(table, cc(0, 7, 10)), "1=10") << "and follows, even by a large step";
    EXPECT_EQ(run(table, cc(0, 8, 90)), "") << "another controller";

    table.targetChanged(1, 90.0f / 127.0f);
    EXPECT_EQ(run(table, cc(0, 7, 12)), "") << "the mouse moved the control: waiting again";
    EXPECT_EQ(run(table, cc(0, 7, 89)), "");
    EXPECT_EQ(run(table, cc(0, 7, 90)), "1=90") << "met exactly";
    table.targetChanged(1, 90.0f / 127.0f);
    EXPECT_EQ(run(table, cc(0, 7, 91)), "1=91") << "a value set to where it is already keeps it followed";

    // A random knob with occasional jumps: no change ever moves the control by more
    // than the controller itself moved since its reading before.
    std::mt19937 random(7);
    int reading = int(random() % 128), before = 91;
    int takenUp = 0;
    for (int round = 0; round < 50; ++round) {
        float target = float(random() % 128) / 127.0f;
        table.targetChanged(1, target);
        bool following = false;
        for (int i = 0; i < 200; ++i) {
            reading = random() % 10 == 0 ? int(random() % 128)
                                         : std::max(0, std::min(127, reading + int(random() % 9) - 4));
            TargetChange change{};
            if (table.process(cc(0, 7, uint8_t(reading)), &change, 1) == 1) {
                EXPECT_LE(std::fabs(change.value - target), std::abs(reading - before) / 127.0f + 0.5f / 127.0f)
                    << "round " << round << " step " << i;
                takenUp += following ? 0 : 1;
                following = true;
                target = change.value;
            } else {
                EXPECT_FALSE(following) << "once taken up, every reading moves the control";
            }
            before = reading;
        }
    }
    EXPECT_GT(takenUp, 25) << "the walk meets the value in most rounds";
}

// Switches: a toggle flips on each press, a momentary one is on while held; a
// controller presses at 64 and above; a channel filter keeps other channels out; one
// message reaches every binding it matches, and out's capacity is respected.
TEST(MidiBindings, TogglesFlipOnPressMomentarySwitchesFollowTheHoldAndChannelsFilter) {
    MidiBindingTable table;
    ASSERT_EQ(table.add({{MidiSourceKind::Note, 60, 0}, 2, BindingBehaviour::Toggle}), BindingRefusal::None);
    ASSERT_EQ(table.add({{MidiSourceKind::Note, 61, kAnyChannel}, 3, BindingBehaviour::Momentary}),
              BindingRefusal::None);
    ASSERT_EQ(table.add({{MidiSourceKind::Controller, 64, 1}, 4, BindingBehaviour::Momentary}),
              BindingRefusal::None);
    ASSERT_EQ(table.add({{MidiSourceKind::Program, 5, kAnyChannel}, 5, BindingBehaviour::Toggle}),
              BindingRefusal::None);
    ASSERT_EQ(table.add({{MidiSourceKind::Controller, 80, kAnyChannel}, 6, BindingBehaviour::Toggle}),
              BindingRefusal::None);
    ASSERT_EQ(table.add({{MidiSourceKind::Note, 60, 0}, 7, BindingBehaviour::Momentary}), BindingRefusal::None);

    EXPECT_EQ(run(table, noteOn(1, 60)), "") << "channel 2 is not the toggle's channel 1";
    EXPECT_EQ(run(table, noteOn(0, 60)), "2=127 7=127") << "both bindings of note 60";
    EXPECT_EQ(run(table, noteOff(0, 60)), "7=0") << "a toggle ignores the release";
    EXPECT_EQ(run(table, noteOn(0, 60)), "2=0 7=127");
    // Note on with velocity 0, as a device sends it, through the parser: a release.
    MidiParser parser;
    MidiMessage parsed{};
    ASSERT_FALSE(parser.push(0x90, parsed));
    ASSERT_FALSE(parser.push(60, parsed));
    ASSERT_TRUE(parser.push(0, parsed));
    EXPECT_EQ(run(table, parsed), "7=0");

    EXPECT_EQ(run(table, noteOn(9, 61)), "3=127") << "any channel";
    EXPECT_EQ(run(table, noteOn(9, 61)), "") << "a repeated note on while held";
    EXPECT_EQ(run(table, noteOff(4, 61)), "3=0");

    EXPECT_EQ(run(table, cc(0, 64, 127)), "") << "the pedal is bound on channel 2 only";
    EXPECT_EQ(run(table, cc(1, 64, 127)), "4=127");
    EXPECT_EQ(run(table, cc(1, 64, 100)), "") << "still down";
    EXPECT_EQ(run(table, cc(1, 64, 63)), "4=0");
    EXPECT_EQ(run(table, cc(1, 64, 10)), "") << "still up";

    EXPECT_EQ(run(table, cc(0, 80, 127)), "6=127");
    EXPECT_EQ(run(table, cc(0, 80, 0)), "");
    EXPECT_EQ(run(table, cc(0, 80, 127)), "6=0");

    EXPECT_EQ(run(table, program(3, 5)), "5=127") << "every program change presses";
    EXPECT_EQ(run(table, program(3, 5)), "5=0");
    EXPECT_EQ(run(table, program(3, 6)), "");
    table.targetChanged(5, 1.0f);
    EXPECT_EQ(run(table, program(3, 5)), "5=0") << "a switch takes a value set elsewhere as its state";

    TargetChange one[1];
    EXPECT_EQ(table.process(noteOn(0, 60), one, 1), 1u) << "never more than out holds";
    EXPECT_EQ(one[0].target, 2u);
    EXPECT_EQ(table.removeTarget(7), 1u);
    EXPECT_EQ(run(table, noteOff(0, 60)), "") << "target 7's binding is gone";
    EXPECT_EQ(run(table, noteOn(0, 60)), "2=0");
}

// The table's rules and the bindings' text: written and read back the same; every
// bad line refused with its line and a reason from the string table; no input ever
// read past its end or left half in the table.
TEST(MidiBindings, TheTableRefusesWhatCannotWorkAndTheTextRoundTripsAndRefusesBadLines) {
    MidiBindingTable table;
    EXPECT_EQ(table.add({{MidiSourceKind::Note, 60, 0}, 1, BindingBehaviour::Continuous}),
              BindingRefusal::ContinuousNeedsController);
    EXPECT_EQ(table.add({{MidiSourceKind::Program, 1, 0}, 1, BindingBehaviour::Momentary}),
              BindingRefusal::MomentaryNeedsRelease);
    EXPECT_EQ(table.add({{MidiSourceKind::Controller, 128, 0}, 1, BindingBehaviour::Continuous}),
              BindingRefusal::NumberOutOfRange);
    EXPECT_EQ(table.add({{MidiSourceKind::Controller, 1, 16}, 1, BindingBehaviour::Continuous}),
              BindingRefusal::ChannelOutOfRange);
    ASSERT_EQ(table.add({{MidiSourceKind::Controller, 1, 15}, 4000000000u, BindingBehaviour::Continuous}),
              BindingRefusal::None);
    EXPECT_EQ(table.add({{MidiSourceKind::Controller, 1, 15}, 4000000000u, BindingBehaviour::Toggle}),
              BindingRefusal::Duplicate);
    ASSERT_EQ(table.add({{MidiSourceKind::Note, 36, kAnyChannel}, 9, BindingBehaviour::Momentary}),
              BindingRefusal::None);
    ASSERT_EQ(table.add({{MidiSourceKind::Program, 127, 0}, 0, BindingBehaviour::Toggle}), BindingRefusal::None);
    for (uint32_t t = 100; table.size() < MidiBindingTable::kCapacity; ++t)
        ASSERT_EQ(table.add({{MidiSourceKind::Controller, 2, kAnyChannel}, t, BindingBehaviour::Continuous}),
                  BindingRefusal::None);
    EXPECT_EQ(table.add({{MidiSourceKind::Controller, 3, 0}, 1, BindingBehaviour::Continuous}),
              BindingRefusal::TableFull);

    std::vector<char> text(16384);
    ASSERT_TRUE(writeBindingsText(table, text.data(), text.size()));
    EXPECT_EQ(std::string(text.data())
                  .rfind("talvenor-bindings 1\ncc 1 16 4000000000 continuous\nnote 36 any 9 momentary\n"
                         "program 127 1 0 toggle\ncc 2 any 100 continuous\n", 0),
              0u)
        << text.data();
    char small[40];
    EXPECT_FALSE(writeBindingsText(table, small, sizeof small)) << "too small a buffer is a failure, not a cut";
    MidiBindingTable back;
    BindingsTextError error;
    ASSERT_TRUE(readBindingsText(text.data(), std::strlen(text.data()), back, error));
    ASSERT_EQ(back.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(back.at(i).source.kind, table.at(i).source.kind);
        EXPECT_EQ(back.at(i).source.number, table.at(i).source.number);
        EXPECT_EQ(back.at(i).source.channel, table.at(i).source.channel);
        EXPECT_EQ(back.at(i).target, table.at(i).target);
        EXPECT_EQ(back.at(i).behaviour, table.at(i).behaviour);
    }

    struct Bad {
        const char* text;
        int line;
        const char* says;
    };
    const Bad bad[] = {
        {"talvenor-bindings 2\n", 1, "talvenor-bindings 1"},
        {"", 1, "talvenor-bindings 1"},
        {"talvenor-bindings 1\r\n\r\ncc 7 any 1\r\n", 3, "five words"},
        {"talvenor-bindings 1\ncc 7 any 1 continuous extra\n", 2, "five words"},
        {"talvenor-bindings 1\npitch 7 any 1 continuous\n", 2, "cc, note or program"},
        {"talvenor-bindings 1\ncc 128 any 1 continuous\n", 2, "0 to 127"},
        {"talvenor-bindings 1\ncc -1 any 1 continuous\n", 2, "0 to 127"},
        {"talvenor-bindings 1\ncc 7 0 1 continuous\n", 2, "1 to 16"},
        {"talvenor-bindings 1\ncc 7 17 1 continuous\n", 2, "1 to 16"},
        {"talvenor-bindings 1\ncc 7 1 4294967296 continuous\n", 2, "not a number"},
        {"talvenor-bindings 1\ncc 7 1 x continuous\n", 2, "not a number"},
        {"talvenor-bindings 1\ncc 7 1 1 sometimes\n", 2, "continuous, toggle or momentary"},
        {"talvenor-bindings 1\nnote 7 1 1 continuous\n", 2, "only a controller"},
        {"talvenor-bindings 1\ncc 7 1 1 toggle\ncc 7 1 1 momentary\n", 3, "already"},
        {"talvenor-bindings 1\ncc 7 1 1 continuousssssssssssssssssssssssssssssssss\n", 2, "continuous, toggle"},
    };
    for (const Bad& b : bad) {
        MidiBindingTable t;
        ASSERT_EQ(t.add({{MidiSourceKind::Controller, 9, 0}, 9, BindingBehaviour::Continuous}), BindingRefusal::None);
        EXPECT_FALSE(readBindingsText(b.text, std::strlen(b.text), t, error)) << b.text;
        EXPECT_EQ(t.size(), 0u) << "nothing of a refused text stays: " << b.text;
        EXPECT_EQ(error.line, b.line) << b.text;
        char description[300];
        describeBindingsTextError(error, description, sizeof description);
        EXPECT_NE(std::string(description).find(b.says), std::string::npos) << description;
        EXPECT_EQ(std::string(description).find("line " + std::to_string(b.line) + ": "), 0u) << description;
    }

    // Mutations of a good text: refused or read, never read past the bytes given.
    std::mt19937 random(11);
    const std::string good = text.data();
    for (int i = 0; i < 3000; ++i) {
        std::string mutated = good.substr(0, random() % (good.size() + 1));
        for (int k = random() % 4; k > 0; --k)
            if (!mutated.empty())
                mutated[random() % mutated.size()] = char(random());
        std::vector<char> exact(mutated.begin(), mutated.end());  // no NUL after it: ASan sees any overread
        MidiBindingTable t;
        if (readBindingsText(exact.data(), exact.size(), t, error))
            EXPECT_LE(t.size(), MidiBindingTable::kCapacity);
        else
            EXPECT_EQ(t.size(), 0u);
    }
}
