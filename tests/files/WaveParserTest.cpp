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

TEST(WaveParser, ZeroDataAndChunksBeforeTheData) {
    WaveBuilder w = stereo16(0);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::ZeroLength);

    w = stereo16();
    w.chunkBeforeData = std::string("LIST\x04\x00\x00\x00INFO", 12);
    EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure);
}

TEST(WaveParser, WrongTagsAreInvalidStructure) {
    for (int which = 0; which < 4; ++which) {
        WaveBuilder w = stereo16();
        std::string* tags[] = {&w.riff, &w.wave, &w.fmt, &w.dataTag};
        *tags[which] = "XXXX";
        EXPECT_EQ(parse(w.build()), WaveOpenResult::InvalidStructure) << "tag " << which;
    }
}

TEST(WaveParser, AFileThatEndsInsideTheHeaderIsAnOpenError) {
    const auto bytes = stereo16().build();
    for (size_t length = 0; length < 44; ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        EXPECT_EQ(parse(cut), WaveOpenResult::OpenError) << length << " bytes";
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
    for (int reads = 0; reads < 8; ++reads) {
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
