#include <gtest/gtest.h>

#include "MemoryRiffFile.h"
#include "StringIds.h"
#include "WaveBuilder.h"
#include "WaveParser.h"

namespace {

WaveOpenResult parse(const std::vector<uint8_t>& bytes, WaveLayout* out = nullptr) {
    MemoryRiffFile file(bytes);
    WaveLayout layout{};
    const WaveOpenResult result = parseWave(file, uint32_t(bytes.size()), layout);
    if (out)
        *out = layout;
    return result;
}

WaveBuilder stereo16(int frames = 100) { return WaveBuilder::counting(frames); }

}  // namespace

TEST(WaveParser, AcceptsAPlainFileAndStopsAtItsFirstSample) {
    const auto bytes = stereo16(100).build();
    MemoryRiffFile file(bytes);
    WaveLayout layout{};
    ASSERT_EQ(parseWave(file, uint32_t(bytes.size()), layout), WaveOpenResult::Ok);
    EXPECT_EQ(+layout.format.formatTag, 1);
    EXPECT_EQ(+layout.format.channels, 2);
    EXPECT_EQ(+layout.format.samplesPerSec, 44100u);
    EXPECT_EQ(+layout.format.avgBytesPerSec, 176400u);
    EXPECT_EQ(+layout.format.blockAlign, 4);
    EXPECT_EQ(+layout.format.bitsPerSample, 16);
    EXPECT_EQ(layout.dataBytes, 400u);
    EXPECT_EQ(layout.dataOffset, 44);
    EXPECT_EQ(file.position(), 44);
}

TEST(WaveParser, TheDataFollowsALargerFormatChunk) {
    WaveBuilder w = stereo16();
    w.extraFormatBytes = 2;  // WAVEFORMATEX with its extra size
    WaveLayout layout{};
    ASSERT_EQ(parse(w.build(), &layout), WaveOpenResult::Ok);
    EXPECT_EQ(layout.dataOffset, 46);
}

TEST(WaveParser, BytesAfterTheDataAreAllowedButDataPastTheEndIsNot) {
    WaveBuilder w = stereo16();
    w.trailing = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(parse(w.build()), WaveOpenResult::Ok);

    w.trailing.clear();
    w.dataSizeField = 404;  // one frame more than the file holds
    EXPECT_EQ(parse(w.build()), WaveOpenResult::OpenError);
    w.dataSizeField = 0xFFFFFFFC;  // would wrap in 32-bit arithmetic
    EXPECT_EQ(parse(w.build()), WaveOpenResult::OpenError);
}

// The shapes other programs write: chunks before the format (a JUNK reserve, a
// broadcast bext) and between the format and the samples (LIST/INFO, fact, cue, odd
// sizes with their pad byte, names nobody registered) are walked over.
TEST(WaveParser, ChunksOtherProgramsWriteAreSkippedWhereverTheyStand) {
    using W = WaveBuilder;
    const std::string junk = W::chunk("JUNK", std::string(28, '\0'));
    const std::string bext = W::chunk("bext", std::string(602, 'b'));
    const std::string info = W::chunk("LIST", std::string("INFO") + W::chunk("ISFT", "Lavf58.76.100"));
    const std::string fact = W::chunk("fact", std::string("\x64\x00\x00\x00", 4));
    const std::string odd = W::chunk("iXML", "<x/>\n") + W::chunk("zzzz", "abc");  // 5 and 3 bytes, padded
    struct Shape { const char* name; std::string before, between; };
    for (const Shape& shape : {Shape{"JUNK first", junk, ""}, Shape{"bext first", bext, ""},
                               Shape{"LIST between", "", info}, Shape{"fact between", "", fact},
                               Shape{"odd sizes, cue and PAD", junk + odd, W::chunk("cue ", std::string(28, 'c')) +
                                                                             W::chunk("PAD ", std::string(7, 'p')) + odd},
                               Shape{"all of them", bext + junk, fact + info}}) {
        SCOPED_TRACE(shape.name);
        WaveBuilder w = stereo16(100);
        w.chunksBeforeFormat = shape.before;
        w.chunkBeforeData = shape.between;
        const auto bytes = w.build();
        MemoryRiffFile file(bytes);
        WaveLayout layout{};
        ASSERT_EQ(parseWave(file, uint32_t(bytes.size()), layout), WaveOpenResult::Ok);
        EXPECT_EQ(layout.dataOffset, int32_t(44 + shape.before.size() + shape.between.size()));
        EXPECT_EQ(layout.dataBytes, 400u);
        EXPECT_EQ(layout.format.avgBytesPerSec, 176400u);
        EXPECT_EQ(file.position(), layout.dataOffset);
        // The bytes there are the first frame's: left 0, right 0, then frame 1.
        EXPECT_EQ(bytes[size_t(layout.dataOffset) + 4], 1);
    }

    // What really is wrong stays refused: no samples, the samples before the format,
    // a second format, a skipped chunk running past the end, a cut chunk header.
    WaveBuilder w = stereo16(0);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::ZeroLength);
    w = stereo16();
    w.chunksBeforeFormat = W::chunk("data", std::string(8, '\0'));
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "samples before the format";
    w = stereo16();
    w.chunkBeforeData = W::chunk("fmt ", std::string(16, '\0'));
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "a second format";
    w = stereo16();
    w.chunksBeforeFormat = std::string("JUNK\xF0\xFF\xFF\xFF", 8);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::OpenError) << "a chunk past the end";
    w = stereo16();
    w.chunksBeforeFormat = std::string("JUNK\xF0\xFF\xFF\x7F", 8);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::OpenError) << "a chunk past the end";
    w = stereo16();
    w.dataTag = "LIST";  // chunks to the end of the file, none of them the samples
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "no samples chunk";
    std::string many;
    for (int i = 0; i < 5000; ++i) many += W::chunk("JUNK", "");
    w = stereo16();
    w.chunkBeforeData = many;
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "thousands of chunks";
}

TEST(WaveParser, WrongTagsAreInvalidStructure) {
    for (int which = 0; which < 4; ++which) {
        WaveBuilder w = stereo16();
        std::string* tags[] = {&w.riff, &w.wave, &w.fmt, &w.dataTag};
        *tags[which] = "XXXX";
        EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "tag " << which;
    }
}

// Cut anywhere inside a chunk header or body: the file is shorter than it says. Cut
// where a chunk ends, it is whole but has no samples.
TEST(WaveParser, AFileThatEndsInsideTheHeaderIsAnOpenError) {
    const auto bytes = stereo16().build();
    for (size_t length = 0; length < 44; ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        const bool atAChunksEnd = length == 12 || length == 36;
        EXPECT_EQ(parse(cut), atAChunksEnd ? WaveOpenResult::InvalidStructure : WaveOpenResult::OpenError)
            << length << " bytes";
    }
}

TEST(WaveParser, FormatChunkSizesThatCannotBeTrusted) {
    WaveBuilder w = stereo16();
    w.formatSize = 0xFFFFFFF0;  // as a signed seek: 16 bytes back into the header
    EXPECT_EQ(parse(w.build()), WaveOpenResult::OpenError);
    w.formatSize = 100000;  // past the end of the file
    EXPECT_EQ(parse(w.build()), WaveOpenResult::OpenError);
    w.formatSize = 8;  // too small for the format fields
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure);
}

TEST(WaveParser, ReadAndSeekFailuresAreOpenErrors) {
    const auto bytes = stereo16().build();
    // RIFF, its size, WAVE, the two chunk headers, the format fields: each read failing.
    for (int reads = 0; reads < 6; ++reads) {
        MemoryRiffFile file(bytes);
        file.readsLeftBeforeError = reads;
        WaveLayout layout{};
        EXPECT_EQ(parseWave(file, uint32_t(bytes.size()), layout), WaveOpenResult::OpenError) << reads;
    }
    MemoryRiffFile file(bytes);
    file.failSeeks = true;
    WaveLayout layout{};
    EXPECT_EQ(parseWave(file, uint32_t(bytes.size()), layout), WaveOpenResult::OpenError);
}

TEST(WaveParser, PlayableFormats) {
    struct Case { uint16_t tag, channels, bits; };
    for (Case c : {Case{1, 1, 8}, Case{1, 2, 16}, Case{1, 1, 24}, Case{1, 2, 32}, Case{3, 2, 32}, Case{3, 1, 64}}) {
        WaveBuilder w;
        w.formatTag = c.tag;
        w.channels = c.channels;
        w.bits = c.bits;
        w.data.assign(size_t(w.align()) * 10, 0);
        EXPECT_EQ(parse(w.build()), WaveOpenResult::Ok) << c.tag << "/" << c.channels << "/" << c.bits;
    }
}

// What recording programs write for more than 16 bits: the extensible format, played
// as its PCM or float sub-format under the plain formats' rules.
TEST(WaveParser, ExtensibleFilesPlayAsTheirSubFormat) {
    struct Case { uint16_t subTag, bits, validBits, channels; };
    for (Case c : {Case{1, 24, 24, 2}, Case{1, 24, 20, 2}, Case{1, 16, 16, 1}, Case{1, 32, 24, 2}, Case{3, 32, 32, 2},
                   Case{3, 64, 64, 1}, Case{1, 24, 0, 2}}) {
        SCOPED_TRACE(std::to_string(c.subTag) + "/" + std::to_string(c.bits) + "/" + std::to_string(c.validBits));
        WaveLayout layout{};
        ASSERT_EQ(parse(WaveBuilder::extensible(c.subTag, c.bits, c.validBits, c.channels).build(), &layout),
                  WaveOpenResult::Ok);
        EXPECT_EQ(layout.format.formatTag, c.subTag);
        EXPECT_EQ(layout.format.bitsPerSample, c.bits);
        EXPECT_EQ(layout.format.channels, c.channels);
        EXPECT_EQ(layout.dataOffset, 20 + 40 + 8);
        EXPECT_EQ(layout.dataBytes, 10u * c.channels * c.bits / 8);
    }
    // Other sub-formats are refused as unsupported (string 22), as are three channels.
    WaveBuilder adpcm = WaveBuilder::extensible(2, 16, 16);
    EXPECT_EQ(parse(adpcm.build()), WaveOpenResult::UnsupportedFormat);
    WaveBuilder foreign = WaveBuilder::extensible(1, 16, 16);
    foreign.extension[20] ^= 0x01;  // a GUID of another family
    EXPECT_EQ(parse(foreign.build()), WaveOpenResult::UnsupportedFormat);
    EXPECT_EQ(parse(WaveBuilder::extensible(1, 16, 16, 3).build()), WaveOpenResult::UnsupportedFormat);
    EXPECT_EQ(stringIdFor(WaveOpenResult::UnsupportedFormat), 22);
    WaveBuilder odd = WaveBuilder::extensible(1, 12, 12);  // PCM the decoder has no width for
    EXPECT_EQ(parse(odd.build()), WaveOpenResult::UnsupportedFormat);
    // Broken extensions: more valid bits than the container, a short body, a short
    // extra size, and fields that disagree as in a plain file.
    EXPECT_EQ(parse(WaveBuilder::extensible(1, 24, 28).build()), WaveOpenResult::InvalidStructure);
    WaveBuilder shortBody = WaveBuilder::extensible(1, 16, 16);
    shortBody.extraFormatBytes = 2;
    EXPECT_EQ(parse(shortBody.build()), WaveOpenResult::InvalidStructure);
    WaveBuilder shortExtra = WaveBuilder::extensible(1, 16, 16);
    shortExtra.extension[0] = 10;
    EXPECT_EQ(parse(shortExtra.build()), WaveOpenResult::InvalidStructure);
    WaveBuilder misaligned = WaveBuilder::extensible(1, 24, 20);
    misaligned.blockAlign = 5;
    EXPECT_EQ(parse(misaligned.build()), WaveOpenResult::InvalidStructure);
}

TEST(WaveParser, UnsupportedFormats) {
    WaveBuilder w = stereo16();
    w.channels = 3;
    w.data.assign(size_t(w.align()) * 10, 0);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::UnsupportedFormat);

    w = WaveBuilder();
    w.channels = 1;
    w.bits = 12;
    w.blockAlign = 2;
    w.data.assign(20, 0);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::UnsupportedFormat);

    w = WaveBuilder();
    w.formatTag = 3;
    w.bits = 16;
    w.data.assign(40, 0);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::UnsupportedFormat);

    w = WaveBuilder();  // ADPCM with fields that agree: decodeSamples would convert nothing
    w.formatTag = 2;
    w.data.assign(40, 0);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::UnsupportedFormat);
}

// Each field check of the format, in the order they are made; all are broken headers.
TEST(WaveParser, FormatFieldsThatDisagreeAreInvalidStructure) {
    WaveBuilder w = stereo16();
    w.avgBytesPerSec = 176401;
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "bytes per second";

    w = stereo16();
    w.blockAlign = 2;  // stereo 16-bit needs 4
    w.data.resize(40);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "block align";

    w = stereo16();
    w.channels = 0;
    w.blockAlign = 4;
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "no channels";

    w = stereo16();
    w.rate = 0;
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "no rate";

    w = stereo16();
    w.bits = 0;
    w.blockAlign = 4;
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "no bits";

    w = stereo16();
    w.data.resize(402);  // half a frame at the end
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "partial frame";

    w = stereo16();
    w.channels = 1;
    w.bits = 4;
    w.blockAlign = 0;  // passes every check above; frames could not be counted
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "zero block align";

    w = stereo16();
    w.channels = 3;  // checked after the fields agree
    w.blockAlign = 4;
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "block align before channels";
}

TEST(WaveParser, ResultsMapToTheirMessages) {
    EXPECT_EQ(stringIdFor(WaveOpenResult::Ok), 0);
    EXPECT_EQ(stringIdFor(WaveOpenResult::OpenError), kStrFileOpenError);
    EXPECT_EQ(stringIdFor(WaveOpenResult::InvalidStructure), kStrFileInvalidStructure);
    EXPECT_EQ(stringIdFor(WaveOpenResult::ZeroLength), kStrFileZeroLength);
    EXPECT_EQ(stringIdFor(WaveOpenResult::UnsupportedFormat), kStrFileUnsupportedFormat);
}
