#include "WaveParser.h"

#include <cstdint>
#include <cstring>

#include "LittleEndian.h"

#include "SampleFormat.h"
#include "StringIds.h"

namespace {

const uint32_t kFormatFieldsBytes = 16;  // tag, channels, rate, bytes per second, align, bits
const uint32_t kChunkHeaderBytes = 8;     // id and size
const uint32_t kFirstChunkOffset = 12;    // after "RIFF" size "WAVE"
// Real files have a handful of chunks before their samples; a file of thousands of
// tiny ones is not a recording, and walking it would keep the user waiting.
const int kMostChunksBeforeData = 4096;
// The extensible format: the 16 bytes above, the extra size, then valid bits per
// sample, the channel mask and the sub-format's GUID.
const uint16_t kFormatExtensible = 0xFFFE;
const uint32_t kExtensibleBytes = 40;
const uint16_t kExtensibleExtra = 22;
// Every sub-format GUID of a plain format tag: {tag-0000-0010-8000-00AA00389B71}.
const uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};


// A read that returns less than asked (or an error) means the file is not what its
// header promised, or could not be read: both are open errors.
bool readExactly(RiffFile& file, uint8_t* buffer, int32_t bytes) { return file.read(buffer, bytes) == bytes; }

enum class Tag { Match, Mismatch, Short };
Tag readTag(RiffFile& file, const char* expected) {
    uint8_t tag[4];
    if (!readExactly(file, tag, 4))
        return Tag::Short;
    return std::memcmp(tag, expected, 4) == 0 ? Tag::Match : Tag::Mismatch;
}

WaveOpenResult tagResult(Tag tag) { return tag == Tag::Short ? WaveOpenResult::OpenError : WaveOpenResult::InvalidStructure; }

// The header's own fields must agree with each other. Disagreement is a broken
// header, reported as an invalid structure; more than two channels is a format we
// do not play.
WaveOpenResult checkConsistency(const FormatRecord& f, uint32_t dataBytes) {
    if (uint64_t(f.avgBytesPerSec) != uint64_t(f.blockAlign) * f.samplesPerSec)
        return WaveOpenResult::InvalidStructure;
    if (f.blockAlign < uint32_t(f.bitsPerSample) * f.channels / 8)
        return WaveOpenResult::InvalidStructure;
    if (f.channels == 0)
        return WaveOpenResult::InvalidStructure;
    if (f.channels > 2)
        return WaveOpenResult::UnsupportedFormat;
    if (f.samplesPerSec == 0 || f.bitsPerSample == 0)
        return WaveOpenResult::InvalidStructure;
    // A zero block align would pass the checks above for formats under eight bits
    // per frame, and frames could not be counted.
    if (f.blockAlign == 0 || dataBytes % f.blockAlign != 0)
        return WaveOpenResult::InvalidStructure;
    return WaveOpenResult::Ok;
}

// Only formats that decodeSamples really converts are played: PCM of 8, 16, 24 or
// 32 bits and float of 32 or 64 bits. Other format tags decode to nothing.
bool decodable(const FormatRecord& format) {
    if (format.formatTag != kFormatPcm && format.formatTag != kFormatFloat)
        return false;
    const uint8_t frame[16] = {};  // one frame: at most two samples of at most 64 bits
    float left = 0.0f, right = 0.0f;
    float* channels[2] = {&left, &right};
    return decodeSamples(frame, channels, 1, format, false);
}

// An extensible format (what recording programs write for more than 16 bits) is
// played as the plain format its sub-format names, PCM or float, under the same
// rules; its valid bits may be fewer than the container's (20 in 24), never more.
WaveOpenResult unwrapExtensible(const uint8_t* body, uint32_t formatSize, FormatRecord& format) {
    if (formatSize < kExtensibleBytes || little16(body + 16) < kExtensibleExtra)
        return WaveOpenResult::InvalidStructure;
    const uint16_t validBits = little16(body + 18);
    if (validBits > format.bitsPerSample)
        return WaveOpenResult::InvalidStructure;
    const uint8_t* subFormat = body + 24;
    const uint16_t tag = little16(subFormat);
    if (std::memcmp(subFormat + 2, kSubFormatTail, sizeof kSubFormatTail) != 0 ||
        (tag != kFormatPcm && tag != kFormatFloat))
        return WaveOpenResult::UnsupportedFormat;
    format.formatTag = tag;
    return WaveOpenResult::Ok;
}

// Where the format body is, found by walking the chunks; the samples' chunk ends the walk.
struct ChunkWalk {
    uint32_t formatOffset = 0;  // 0: no format chunk yet
    uint32_t formatSize = 0;
    uint32_t dataOffset = 0;
    uint32_t dataBytes = 0;
};

// Walks the chunks after "WAVE" to the samples' chunk, skipping every chunk it does not
// use (JUNK, bext, LIST, fact, cue, PAD, iXML or anything else) with the pad byte after
// an odd size. The format must come before the samples, once. A chunk header cut off,
// or a skipped chunk running past the end, is a file shorter than it says; chunks that
// end with the file without any samples are a file of the wrong shape.
WaveOpenResult walkChunks(RiffFile& file, uint32_t fileSize, ChunkWalk& walk) {
    uint64_t offset = kFirstChunkOffset;
    for (int chunk = 0; chunk < kMostChunksBeforeData; ++chunk) {
        if (offset == fileSize)
            return WaveOpenResult::InvalidStructure;
        uint8_t header[kChunkHeaderBytes];
        if (offset + kChunkHeaderBytes > fileSize || !readExactly(file, header, kChunkHeaderBytes))
            return WaveOpenResult::OpenError;
        const uint32_t size = little32(header + 4);
        const uint64_t body = offset + kChunkHeaderBytes;
        if (std::memcmp(header, "data", 4) == 0) {
            if (walk.formatOffset == 0)
                return WaveOpenResult::InvalidStructure;
            if (body > uint64_t(INT32_MAX))
                return WaveOpenResult::OpenError;
            walk.dataOffset = uint32_t(body);
            walk.dataBytes = size;
            return WaveOpenResult::Ok;
        }
        if (std::memcmp(header, "fmt ", 4) == 0) {
            // Once, and large enough for the fields read from it.
            if (walk.formatOffset != 0 || size < kFormatFieldsBytes)
                return WaveOpenResult::InvalidStructure;
            walk.formatOffset = uint32_t(body);
            walk.formatSize = size;
        }
        // The next chunk must start inside the file and within a signed seek.
        const uint64_t next = body + size + (size & 1u);
        if (next > fileSize || next > uint64_t(INT32_MAX))
            return WaveOpenResult::OpenError;
        if (file.seek(int32_t(next), SeekFrom::Start) != int32_t(next))
            return WaveOpenResult::OpenError;
        offset = next;
    }
    return WaveOpenResult::InvalidStructure;
}

}  // namespace

WaveOpenResult parseWave(RiffFile& file, uint32_t fileSize, WaveLayout& layout) {
    uint8_t word[4];

    if (Tag t = readTag(file, "RIFF"); t != Tag::Match)
        return tagResult(t);
    if (!readExactly(file, word, 4))  // the RIFF size: not used, the file size is known
        return WaveOpenResult::OpenError;
    if (Tag t = readTag(file, "WAVE"); t != Tag::Match)
        return tagResult(t);

    ChunkWalk walk;
    if (WaveOpenResult r = walkChunks(file, fileSize, walk); r != WaveOpenResult::Ok)
        return r;
    const uint32_t dataBytes = walk.dataBytes;
    const uint64_t dataOffset = walk.dataOffset;

    if (dataBytes == 0)
        return WaveOpenResult::ZeroLength;
    // Bytes after the data are allowed; data beyond the end of the file is not.
    if (dataOffset + dataBytes > fileSize)
        return WaveOpenResult::OpenError;

    uint8_t fields[kExtensibleBytes];
    const uint32_t fieldBytes = walk.formatSize < kExtensibleBytes ? kFormatFieldsBytes : kExtensibleBytes;
    const int32_t formatOffset = int32_t(walk.formatOffset);
    if (file.seek(formatOffset, SeekFrom::Start) != formatOffset)
        return WaveOpenResult::OpenError;
    if (!readExactly(file, fields, int32_t(fieldBytes)))
        return WaveOpenResult::OpenError;
    FormatRecord format{};
    format.formatTag = little16(fields);
    format.channels = little16(fields + 2);
    format.samplesPerSec = little32(fields + 4);
    format.avgBytesPerSec = little32(fields + 8);
    format.blockAlign = little16(fields + 12);
    format.bitsPerSample = little16(fields + 14);
    if (format.formatTag == kFormatExtensible) {
        if (WaveOpenResult r = unwrapExtensible(fields, walk.formatSize, format); r != WaveOpenResult::Ok)
            return r;
    }

    if (WaveOpenResult r = checkConsistency(format, dataBytes); r != WaveOpenResult::Ok)
        return r;
    if (!decodable(format))
        return WaveOpenResult::UnsupportedFormat;

    if (file.seek(int32_t(dataOffset), SeekFrom::Start) != int32_t(dataOffset))
        return WaveOpenResult::OpenError;
    layout.format = format;
    layout.dataBytes = dataBytes;
    layout.dataOffset = int32_t(dataOffset);
    return WaveOpenResult::Ok;
}

int stringIdFor(WaveOpenResult result) {
    switch (result) {
    case WaveOpenResult::Ok: return 0;
    case WaveOpenResult::OpenError: return kStrFileOpenError;
    case WaveOpenResult::InvalidStructure: return kStrFileInvalidStructure;
    case WaveOpenResult::ZeroLength: return kStrFileZeroLength;
    case WaveOpenResult::UnsupportedFormat: return kStrFileUnsupportedFormat;
    }
    return kStrFileOpenError;
}
