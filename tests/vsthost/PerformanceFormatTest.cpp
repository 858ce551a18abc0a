// The performance's byte layouts on their own: state records and blob sections as
// the effect host writes them, and the performance file written, read back and
// refused in every damaged form a disk or a careless tool can produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "PerformanceFormat.h"

namespace {

using Bytes = std::vector<uint8_t>;

// CRC-32 written here from its definition, table-driven, to check the program's own.
uint32_t referenceCrc(const uint8_t* data, size_t size) {
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        made = true;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void setLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A file edited by hand: its header's length and its checksum made right again, so
// that only the edit itself is judged.
void reseal(Bytes& file) {
    setLe32(file, 12, uint32_t(file.size() - 20));
    setLe32(file, file.size() - 4, referenceCrc(file.data(), file.size() - 4));
}

Bytes chunkRecord(const std::string& chunk) {
    Bytes record(chunkRecordSize(uint32_t(chunk.size())));
    writeChunkRecord(record.data(), chunk.data(), uint32_t(chunk.size()));
    return record;
}

Bytes parameterRecord(const std::vector<float>& values) {
    Bytes record(parameterRecordSize(int32_t(values.size())));
    writeParameterRecord(record.data(), values.data(), int32_t(values.size()));
    return record;
}

struct Example {
    Bytes chunk = chunkRecord(std::string("chunk\0with a NUL", 16));
    Bytes parameters = parameterRecord({0.0f, 0.25f, 1.0f});
    Bytes empty = chunkRecord("");
    PerformanceImage image{};

    Example() {
        std::strcpy(image.accompaniment, "C:\\songs\\backing track.wav");
        set(0, "C:\\VST\\Overdrive.dll", 1, chunk);
        set(3, "D:\\plug-ins\\Filtrace.dll", 0, parameters);
        set(7, "E:\\x.dll", 0, empty);
    }
    void set(int position, const char* path, uint8_t bypass, const Bytes& record) {
        PerformancePosition& p = image.positions[position];
        p.occupied = true;
        p.bypass = bypass;
        std::strcpy(p.path, path);
        p.state = record.data();
        p.stateSize = uint32_t(record.size());
    }
    Bytes file() const {
        Bytes out(performanceFileSize(image));
        EXPECT_TRUE(writePerformance(image, out.data(), out.size()));
        return out;
    }
};

PerformanceParse parse(const Bytes& file, PerformanceImage& image) {
    return parsePerformance(file.data(), file.size(), image);
}

bool isCleared(const PerformanceImage& image) {
    const PerformanceImage zero{};
    return std::memcmp(&image, &zero, sizeof image) == 0;
}

// Where the SLOT record of position `position` begins in an Example file.
size_t slotOffset(const Bytes& file, int position) {
    size_t at = 16;
    while (at + 8 <= file.size() - 4) {
        if (std::memcmp(&file[at], "SLOT", 4) == 0 && file[at + 8] == position)
            return at;
        at += 8 + le32(file, at + 4);
    }
    return 0;
}

}  // namespace

TEST(PerformanceFormat, StateRecordsAndBlobSectionsHaveTheirLayout) {
    // C:\a.dll with three parameters: a 21-byte record in a 48-byte section.
    const Bytes record = parameterRecord({0.5f, 1.0f, 0.0f});
    ASSERT_EQ(record.size(), 21u);
    EXPECT_EQ(std::string(record.begin(), record.begin() + 5), "PARAM");
    EXPECT_EQ(le32(record, 5), 3u);
    EXPECT_EQ(le32(record, 9), 0x3F000000u);   // 0.5f
    EXPECT_EQ(le32(record, 13), 0x3F800000u);  // 1.0f
    const char path[] = "C:\\a.dll";
    ASSERT_EQ(stateSectionSize(8, record.size()), 48u);
    Bytes blob(8 + 48, 0xEE);
    writeStateBlobTag(blob.data());
    uint8_t* end = writeStateSection(blob.data() + 8, path, 8, record.data(), record.size(), 0);
    EXPECT_EQ(end, blob.data() + blob.size());
    EXPECT_EQ(std::string(blob.begin(), blob.begin() + 8), "VSTWRAP_");
    EXPECT_EQ(std::string(blob.begin() + 8, blob.begin() + 12), "PLUG");
    EXPECT_EQ(blob[12] | blob[13] << 8, 8);
    EXPECT_EQ(std::string(blob.begin() + 14, blob.begin() + 22), path);
    EXPECT_EQ(le32(blob, 22), 21u);
    EXPECT_EQ(Bytes(blob.begin() + 26, blob.begin() + 47), record);
    EXPECT_EQ(std::string(blob.begin() + 47, blob.begin() + 51), "DATA");
    EXPECT_EQ(le32(blob, 51), 1u);
    EXPECT_EQ(blob[55], 0);

    // An empty chunk is "CHUNK" with size 0 and reads back as such.
    const Bytes empty = chunkRecord("");
    ASSERT_EQ(empty.size(), 9u);
    EXPECT_EQ(std::string(empty.begin(), empty.begin() + 5), "CHUNK");
    EXPECT_EQ(le32(empty, 5), 0u);
    StateView view{};
    ASSERT_TRUE(readStateRecord(empty.data(), empty.size(), view));
    EXPECT_EQ(view.form, StateForm::Chunk);
    EXPECT_EQ(view.chunkBytes, 0u);
    ASSERT_TRUE(readStateRecord(record.data(), record.size(), view));
    EXPECT_EQ(view.form, StateForm::Parameters);
    ASSERT_EQ(view.count, 3);
    EXPECT_EQ(parameterAt(view, 0), 0.5f);
    EXPECT_EQ(parameterAt(view, 2), 0.0f);
    // Records whose counts do not match their sizes, or pass the caps, do not read.
    Bytes longer = record;
    longer.push_back(0);
    EXPECT_FALSE(readStateRecord(longer.data(), longer.size(), view));
    EXPECT_FALSE(readStateRecord(record.data(), record.size() - 1, view));
    EXPECT_FALSE(readStateRecord(record.data(), 8, view));
    Bytes huge = empty;
    setLe32(huge, 5, kMaxChunkBytes + 1);
    EXPECT_FALSE(readStateRecord(huge.data(), huge.size(), view));
    Bytes manyParameters = record;
    setLe32(manyParameters, 5, 0x40000001u);  // times four wraps to 4 in 32 bits
    EXPECT_FALSE(readStateRecord(manyParameters.data(), manyParameters.size(), view));
    Bytes otherTag = record;
    otherTag[0] = 'X';
    EXPECT_FALSE(readStateRecord(otherTag.data(), otherTag.size(), view));
    EXPECT_EQ(performanceChecksum(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

TEST(PerformanceFormat, AFileReadsBackAsWritten) {
    const Example example;
    const Bytes file = example.file();
    // The header: magic, version 1, no flags, the body's length; the checksum last.
    EXPECT_EQ(std::string(file.begin(), file.begin() + 8), "TLPERF\r\n");
    EXPECT_EQ(file[8] | file[9] << 8, 1);
    EXPECT_EQ(file[10] | file[11] << 8, 0);
    EXPECT_EQ(le32(file, 12), file.size() - 20);
    EXPECT_EQ(le32(file, file.size() - 4), referenceCrc(file.data(), file.size() - 4));
    EXPECT_EQ(std::string(file.begin() + 16, file.begin() + 20), "ACMP");
    // Each slot record: position, bypass, path length, path, state size, state.
    const size_t slot = slotOffset(file, 3);
    ASSERT_NE(slot, 0u);
    const std::string path = "D:\\plug-ins\\Filtrace.dll";
    EXPECT_EQ(le32(file, slot + 4), 8 + path.size() + example.parameters.size());
    EXPECT_EQ(file[slot + 9], 0);
    EXPECT_EQ(size_t(file[slot + 10] | file[slot + 11] << 8), path.size());
    EXPECT_EQ(std::string(file.begin() + long(slot) + 12, file.begin() + long(slot + 12 + path.size())), path);

    PerformanceImage image;
    ASSERT_EQ(parse(file, image), PerformanceParse::Ok);
    EXPECT_STREQ(image.accompaniment, example.image.accompaniment);
    for (int position = 0; position < kPerformancePositions; ++position) {
        const PerformancePosition& want = example.image.positions[position];
        const PerformancePosition& got = image.positions[position];
        ASSERT_EQ(got.occupied, want.occupied) << position;
        if (!want.occupied)
            continue;
        EXPECT_EQ(got.bypass, want.bypass) << position;
        EXPECT_STREQ(got.path, want.path) << position;
        ASSERT_EQ(got.stateSize, want.stateSize) << position;
        EXPECT_EQ(std::memcmp(got.state, want.state, want.stateSize), 0) << position;
        // The state points into the file's bytes, not at a copy.
        EXPECT_TRUE(got.state > file.data() && got.state < file.data() + file.size());
    }

    // An empty performance: no accompaniment, no positions.
    const PerformanceImage nothing{};
    Bytes small(performanceFileSize(nothing));
    ASSERT_EQ(small.size(), 28u);
    ASSERT_TRUE(writePerformance(nothing, small.data(), small.size()));
    ASSERT_EQ(parse(small, image), PerformanceParse::Ok);
    EXPECT_TRUE(isCleared(image));

    // A record a later version may add, with a small first letter: skipped.
    Bytes extended = file;
    const uint8_t optional[] = {'n', 'o', 't', 'e', 3, 0, 0, 0, 'a', 'b', 'c'};
    extended.insert(extended.end() - 4, optional, optional + sizeof optional);
    reseal(extended);
    ASSERT_EQ(parse(extended, image), PerformanceParse::Ok);
    EXPECT_STREQ(image.positions[7].path, "E:\\x.dll");

    // The writer refuses what it could not read back.
    PerformanceImage bad = example.image;
    std::memset(bad.positions[3].path, 'x', sizeof bad.positions[3].path);  // no NUL
    EXPECT_EQ(performanceFileSize(bad), 0u);
    bad = example.image;
    bad.positions[0].stateSize -= 1;
    EXPECT_EQ(performanceFileSize(bad), 0u);
    bad = example.image;
    bad.positions[3].bypass = 2;
    EXPECT_EQ(performanceFileSize(bad), 0u);
    Bytes wrongSize(file.size() + 1);
    EXPECT_FALSE(writePerformance(example.image, wrongSize.data(), wrongSize.size()));
}

TEST(PerformanceFormat, DamagedFilesAreRefusedAndLeaveNothing) {
    const Example example;
    const Bytes file = example.file();
    PerformanceImage image;

    // Cut anywhere: refused, the image empty.
    for (size_t size = 0; size < file.size(); ++size) {
        const Bytes cut(file.begin(), file.begin() + long(size));
        image.positions[0].occupied = true;
        EXPECT_NE(parse(cut, image), PerformanceParse::Ok) << size;
        EXPECT_TRUE(isCleared(image)) << size;
    }
    EXPECT_EQ(parse(Bytes(file.begin(), file.end() - 1), image), PerformanceParse::Truncated);
    EXPECT_EQ(parse(Bytes(file.begin(), file.begin() + 5), image), PerformanceParse::NotAPerformance);

    // Any changed byte fails the checksum; a byte more fails the length.
    for (size_t at = 16; at < file.size() - 4; at += 7) {
        Bytes flipped = file;
        flipped[at] ^= 0x20;
        EXPECT_EQ(parse(flipped, image), PerformanceParse::BadChecksum) << at;
    }
    Bytes longer = file;
    longer.push_back(0);
    EXPECT_EQ(parse(longer, image), PerformanceParse::Inconsistent);

    struct Edit {
        const char* what;
        void (*apply)(Bytes&, size_t slot);
        PerformanceParse expected;
    };
    const Edit edits[] = {
        {"a record length past the end", [](Bytes& f, size_t slot) { setLe32(f, slot + 4, 0xFFFFFFF0u); },
         PerformanceParse::Inconsistent},
        {"a skippable record's length past the end", [](Bytes& f, size_t slot) {
             f[slot] = 'n';
             setLe32(f, slot + 4, 0xFFFFFFF0u);
         }, PerformanceParse::Inconsistent},
        {"a path length past the record", [](Bytes& f, size_t slot) { f[slot + 10] = 0xFF; f[slot + 11] = 0xFF; },
         PerformanceParse::Inconsistent},
        {"a state size past the record", [](Bytes& f, size_t slot) {
             const size_t pathBytes = f[slot + 10] | f[slot + 11] << 8;
             setLe32(f, slot + 12 + pathBytes, 0x7FFFFFFFu);
         }, PerformanceParse::Inconsistent},
        {"a huge parameter count", [](Bytes& f, size_t slot) {
             const size_t pathBytes = f[slot + 10] | f[slot + 11] << 8;
             setLe32(f, slot + 16 + pathBytes + 5, 0x7FFFFFFFu);
         }, PerformanceParse::Inconsistent},
        {"position 8", [](Bytes& f, size_t slot) { f[slot + 8] = 8; }, PerformanceParse::Inconsistent},
        {"position 0 twice", [](Bytes& f, size_t slot) { f[slot + 8] = 0; }, PerformanceParse::Inconsistent},
        {"a bypass byte of 2", [](Bytes& f, size_t slot) { f[slot + 9] = 2; }, PerformanceParse::Inconsistent},
        {"a NUL inside the path", [](Bytes& f, size_t slot) { f[slot + 13] = 0; }, PerformanceParse::Inconsistent},
        {"an unknown record that must be understood", [](Bytes& f, size_t slot) { f[slot] = 'Q'; },
         PerformanceParse::Inconsistent},
        {"version 2", [](Bytes& f, size_t) { f[8] = 2; }, PerformanceParse::NewerVersion},
        {"version 0", [](Bytes& f, size_t) { f[8] = 0; }, PerformanceParse::Inconsistent},
        {"flags set", [](Bytes& f, size_t) { f[10] = 1; }, PerformanceParse::Inconsistent},
    };
    for (const Edit& edit : edits) {
        Bytes changed = file;
        edit.apply(changed, slotOffset(file, 3));
        reseal(changed);
        image.positions[0].occupied = true;
        EXPECT_EQ(parse(changed, image), edit.expected) << edit.what;
        EXPECT_TRUE(isCleared(image)) << edit.what;
        EXPECT_STRNE(describePerformanceParse(edit.expected), "") << edit.what;
    }

    // A chunk one byte over the cap, with every length consistent.
    PerformanceImage big{};
    std::strcpy(big.positions[1].path, "C:\\big.dll");
    big.positions[1].occupied = true;
    Bytes bigRecord(chunkRecordSize(kMaxChunkBytes));
    writeChunkRecord(bigRecord.data(), Bytes(kMaxChunkBytes, 7).data(), kMaxChunkBytes);
    big.positions[1].state = bigRecord.data();
    big.positions[1].stateSize = uint32_t(bigRecord.size());
    Bytes bigFile(performanceFileSize(big));
    ASSERT_TRUE(writePerformance(big, bigFile.data(), bigFile.size()));
    ASSERT_EQ(parse(bigFile, image), PerformanceParse::Ok) << "the cap itself is allowed";
    const size_t slot = slotOffset(bigFile, 1);
    bigFile.insert(bigFile.end() - 4, 0);
    setLe32(bigFile, slot + 4, le32(bigFile, slot + 4) + 1);
    const size_t pathBytes = bigFile[slot + 10] | bigFile[slot + 11] << 8;
    setLe32(bigFile, slot + 12 + pathBytes, le32(bigFile, slot + 12 + pathBytes) + 1);
    setLe32(bigFile, slot + 16 + pathBytes + 5, kMaxChunkBytes + 1);
    reseal(bigFile);
    EXPECT_EQ(parse(bigFile, image), PerformanceParse::Inconsistent);
}

// The performance's own MIDI bindings travel in an optional "midi" record: read back
// as written, absent from files that have none (which read as before), and refused
// when doubled or beyond their cap.
TEST(PerformanceFormat, TheBindingsRecordIsOptionalAndChecked) {
    Example example;
    const Bytes without = example.file();
    const std::string text = "talvenor-bindings 1\ncc 11 any 2147483649 continuous\n";
    example.image.bindings = text.data();
    example.image.bindingsSize = uint32_t(text.size());
    const Bytes with = example.file();
    ASSERT_EQ(with.size(), without.size() + 8 + text.size());

    PerformanceImage image;
    ASSERT_EQ(parse(with, image), PerformanceParse::Ok);
    ASSERT_EQ(image.bindingsSize, text.size());
    EXPECT_EQ(std::string(image.bindings, image.bindingsSize), text);
    EXPECT_STREQ(image.positions[3].path, "D:\\plug-ins\\Filtrace.dll");
    ASSERT_EQ(parse(without, image), PerformanceParse::Ok);
    EXPECT_EQ(image.bindings, nullptr);
    EXPECT_EQ(image.bindingsSize, 0u);

    // A second record, and one over 64 KiB, are damage.
    Bytes doubled(with.begin(), with.end() - 4);
    doubled.insert(doubled.end(), with.end() - 4 - long(8 + text.size()), with.end() - 4);
    doubled.insert(doubled.end(), 4, 0);
    reseal(doubled);
    EXPECT_EQ(parse(doubled, image), PerformanceParse::Inconsistent);
    EXPECT_TRUE(isCleared(image));
    const std::string huge(kMaxPerformanceBindingsBytes + 1, 'x');
    example.image.bindings = huge.data();
    example.image.bindingsSize = uint32_t(huge.size());
    EXPECT_EQ(performanceFileSize(example.image), 0u);
}

// The own-process choice: an optional record written only when a position runs in
// its own process, so that files without it stay as they were; read back onto its
// positions whatever the record order; refused when it names an empty position, is
// given twice, names none, or has another length.
TEST(PerformanceFormat, TheOwnProcessChoiceIsAnOptionalRecord) {
    Example example;
    const Bytes plain = example.file();
    PerformanceImage image;
    ASSERT_EQ(parse(plain, image), PerformanceParse::Ok);
    for (const PerformancePosition& p : image.positions)
        EXPECT_FALSE(p.ownProcess);

    example.image.positions[3].ownProcess = true;
    example.image.positions[7].ownProcess = true;
    example.image.positions[5].ownProcess = true;  // empty: not written
    const Bytes own = example.file();
    ASSERT_EQ(own.size(), plain.size() + 9);
    EXPECT_TRUE(std::equal(plain.begin() + 16, plain.end() - 4, own.begin() + 16)) << "the records before it unchanged";
    const size_t record = own.size() - 4 - 9;
    EXPECT_EQ(std::string(own.begin() + long(record), own.begin() + long(record) + 4), "ownp");
    EXPECT_EQ(le32(own, record + 4), 1u);
    EXPECT_EQ(own[record + 8], (1u << 3) | (1u << 7));
    ASSERT_EQ(parse(own, image), PerformanceParse::Ok);
    for (int position = 0; position < kPerformancePositions; ++position)
        EXPECT_EQ(image.positions[position].ownProcess, position == 3 || position == 7) << position;

    // First in the file, before the positions it names: the same reading.
    Bytes moved(own.begin(), own.begin() + 16);
    moved.insert(moved.end(), own.begin() + long(record), own.begin() + long(record) + 9);
    moved.insert(moved.end(), own.begin() + 16, own.begin() + long(record));
    moved.insert(moved.end(), 4, 0);
    reseal(moved);
    ASSERT_EQ(parse(moved, image), PerformanceParse::Ok);
    EXPECT_TRUE(image.positions[3].ownProcess);
    EXPECT_TRUE(image.positions[7].ownProcess);
    EXPECT_FALSE(image.positions[0].ownProcess);

    const struct {
        const char* what;
        Bytes bytes;
    } refused[] = {
        {"an empty position", {'o', 'w', 'n', 'p', 1, 0, 0, 0, 1u << 2}},
        {"no position", {'o', 'w', 'n', 'p', 1, 0, 0, 0, 0}},
        {"two bytes", {'o', 'w', 'n', 'p', 2, 0, 0, 0, 1u << 3, 0}},
        {"given twice", {'o', 'w', 'n', 'p', 1, 0, 0, 0, 1u << 3}},
    };
    for (const auto& edit : refused) {
        Bytes changed = std::string(edit.what) == "given twice" ? own : plain;
        changed.insert(changed.end() - 4, edit.bytes.begin(), edit.bytes.end());
        reseal(changed);
        EXPECT_EQ(parse(changed, image), PerformanceParse::Inconsistent) << edit.what;
        EXPECT_TRUE(isCleared(image)) << edit.what;
    }
}
