#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "MidiParser.h"

namespace {

std::vector<MidiMessage> parseInChunks(MidiParser& parser, const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<MidiMessage> out;
    for (const std::vector<uint8_t>& chunk : chunks)
        for (uint8_t byte : chunk) {
            MidiMessage m{};
            if (parser.push(byte, m))
                out.push_back(m);
        }
    return out;
}

MidiMessage msg(MidiKind kind, uint8_t channel, uint8_t a, uint8_t b = 0) { return MidiMessage{kind, channel, a, b}; }

}  // namespace

// A device's stream as it can come: stray data first, running status, real-time bytes
// inside messages and inside a SysEx that arrives in three pieces, system common
// messages with their data, a note on with velocity 0.
TEST(MidiParser, ReadsADevicesStreamWithEverythingThatCanBeInterleaved) {
    MidiParser parser;
    const std::vector<std::vector<uint8_t>> chunks = {
        {0x40, 0x7F},                          // stray data bytes before any status
        {0x90, 0x3C, 0xF8, 0x64},              // note on, a clock byte between its data bytes
        {0x3E, 0x50, 0x40},                    // running status: another note on ...
        {0x00},                                // ... whose velocity 0 makes it a note off
        {0xB1, 0x07, 0xFE, 0xFA, 0x60, 0x0B},  // controller, real time inside, then running status begun
        {0x70},                                // and completed in the next piece
        {0xF0, 0x43, 0x12},                    // SysEx begins
        {0x00, 0xF8, 0x41, 0x30},              // goes on, a clock inside it
        {0x20, 0xF7},                          // and ends
        {0x10, 0x20},                          // running status ended with the SysEx: stray
        {0xC2, 0x05, 0x06},                    // program change, and one more by running status
        {0xF2, 0x10, 0x20},                    // song position with its two data bytes, skipped
        {0x30},                                // stray after system common
        {0xE3, 0x00, 0x40},                    // pitch bend at the centre
        {0xF3, 0x01, 0xD4, 0x55},              // song select skipped; channel pressure
        {0xA5, 0x3C, 0x20},                    // poly aftertouch
        {0x80, 0x3C},                          // a note off cut short by ...
        {0xF6},                                // ... tune request (no data): the message is lost
        {0x3C, 0x00},                          // so these are stray
        {0x85, 0x3C, 0x10},                    // note off proper
        {0xFF},                                // system reset as a real-time byte: ignored
        {0x3D, 0x11},                          // running status survives it
    };
    const std::vector<MidiMessage> expected = {
        msg(MidiKind::NoteOn, 0, 0x3C, 0x64),         msg(MidiKind::NoteOn, 0, 0x3E, 0x50),
        msg(MidiKind::NoteOff, 0, 0x40, 0x00),        msg(MidiKind::Controller, 1, 0x07, 0x60),
        msg(MidiKind::Controller, 1, 0x0B, 0x70),     msg(MidiKind::ProgramChange, 2, 0x05),
        msg(MidiKind::ProgramChange, 2, 0x06),        msg(MidiKind::PitchBend, 3, 0x00, 0x40),
        msg(MidiKind::ChannelAftertouch, 4, 0x55),    msg(MidiKind::PolyAftertouch, 5, 0x3C, 0x20),
        msg(MidiKind::NoteOff, 5, 0x3C, 0x10),        msg(MidiKind::NoteOff, 5, 0x3D, 0x11),
    };
    const std::vector<MidiMessage> got = parseInChunks(parser, chunks);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], expected[i]) << "message " << i;

    // reset forgets the running status: data bytes after it belong to nothing.
    parser.reset();
    EXPECT_TRUE(parseInChunks(parser, {{0x3C, 0x40}}).empty());
}

// Random streams of well-formed messages, with running status wherever it may be
// used, real-time bytes at random places and SysEx between messages: the parser
// gives back exactly the messages put in, whatever is interleaved.
TEST(MidiParser, NeverMisparsesRandomStreams) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> stream;
        std::vector<MidiMessage> expected;
        uint8_t running = 0;
        auto realTime = [&]() {
            if (random() % 4 == 0)
                stream.push_back(uint8_t(0xF8 + random() % 8));
        };
        for (int i = 0; i < 300; ++i) {
            if (random() % 20 == 0) {  // a SysEx, which ends running status
                stream.push_back(0xF0);
                for (unsigned k = random() % 10; k > 0; --k) {
                    stream.push_back(uint8_t(random() % 0x80));
                    realTime();
                }
                stream.push_back(0xF7);
                running = 0;
            }
            const uint8_t status = uint8_t(0x80 + random() % 0x70);
            const uint8_t a = uint8_t(random() % 0x80), b = uint8_t(random() % 0x80);
            if (status != running || random() % 3 == 0)
                stream.push_back(status);
            running = status;
            realTime();
            stream.push_back(a);
            realTime();
            if (midiDataBytes(status) == 2)
                stream.push_back(b);
            realTime();
            expected.push_back(midiMessageOf(status, a, b));
        }
        MidiParser parser;
        const std::vector<MidiMessage> got = parseInChunks(parser, {stream});
        ASSERT_EQ(got.size(), expected.size()) << "round " << round;
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], expected[i]) << "round " << round << " message " << i;
    }
    // And pure noise never makes the parser read out of bounds or give a malformed message.
    MidiParser parser;
    for (int i = 0; i < 100000; ++i) {
        MidiMessage m{};
        if (parser.push(uint8_t(random()), m)) {
            ASSERT_LT(m.channel, 16);
            ASSERT_LT(m.data1, 0x80);
            ASSERT_LT(m.data2, 0x80);
            ASSERT_FALSE(m.kind == MidiKind::NoteOn && m.data2 == 0);
        }
    }
}

// winmm's short messages: status in the low byte, running status already expanded.
TEST(MidiParser, DecodesWinmmShortMessagesAndRefusesTheRest) {
    MidiMessage m{};
    ASSERT_TRUE(decodeShortMidiMessage(0x00647F93u, m));
    EXPECT_EQ(m, msg(MidiKind::NoteOn, 3, 0x7F, 0x64));
    ASSERT_TRUE(decodeShortMidiMessage(0x00003C90u, m));
    EXPECT_EQ(m, msg(MidiKind::NoteOff, 0, 0x3C, 0)) << "velocity 0 is a note off";
    ASSERT_TRUE(decodeShortMidiMessage(0x00FF05CFu, m)) << "a program change's unused byte is not looked at";
    EXPECT_EQ(m, msg(MidiKind::ProgramChange, 15, 0x05));
    ASSERT_TRUE(decodeShortMidiMessage(0x12402AB1u, m)) << "the high byte is unused";
    EXPECT_EQ(m, msg(MidiKind::Controller, 1, 0x2A, 0x40));
    EXPECT_FALSE(decodeShortMidiMessage(0x000000F8u, m)) << "clock";
    EXPECT_FALSE(decodeShortMidiMessage(0x000010F3u, m)) << "song select";
    EXPECT_FALSE(decodeShortMidiMessage(0x00000040u, m)) << "no status byte";
    EXPECT_FALSE(decodeShortMidiMessage(0x00408090u, m)) << "a data byte with the high bit";
    EXPECT_FALSE(decodeShortMidiMessage(0x00900790u, m)) << "a second data byte with the high bit";
}
