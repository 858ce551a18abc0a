// The VST3 backend's portable parts, driven through the interfaces a plug-in sees
// where a plug-in would use them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Vst3BundlePath.h"
#include "Vst3MemoryStream.h"
#include "Vst3ParameterChanges.h"
#include "Vst3StateRecord.h"
#include "Vst3Text.h"
#include "Vst3ThreadContract.h"

namespace {

TEST(Vst3Text, Utf16IsCutToItsFieldAndOursAtACharacterBoundary) {
    // "Gé" + U+1F3B8 (a surrogate pair) + an unpaired surrogate, no terminating NUL.
    const int16_t title[6] = {'G', int16_t(0xE9), int16_t(0xD83C), int16_t(0xDFB8), int16_t(0xD800), 'x'};
    char out[64];
    vst3text::fromUtf16(title, 6, out, sizeof out);
    EXPECT_STREQ(out, "G\xC3\xA9\xF0\x9F\x8E\xB8\xEF\xBF\xBDx");
    vst3text::fromUtf16(title, 4, out, 6);  // the 4-byte character does not fit in 5
    EXPECT_STREQ(out, "G\xC3\xA9");
    vst3text::fromUtf16(title, 2, out, sizeof out);  // the field ends before its NUL would
    EXPECT_STREQ(out, "G\xC3\xA9");

    int16_t wide[8];
    vst3text::toUtf16("Talvenor Live", wide, 8);
    EXPECT_EQ(wide[6], 'o');  // "Talveno" and its NUL fill the 8 units
    EXPECT_EQ(wide[7], 0);
    vst3text::toUtf16("\xC3\xA9\xF0\x9F\x8E\xB8", wide, 8);
    EXPECT_EQ(uint16_t(wide[0]), 0xE9);
    EXPECT_EQ(uint16_t(wide[1]), 0xD83C);
    EXPECT_EQ(uint16_t(wide[2]), 0xDFB8);
    EXPECT_EQ(wide[3], 0);

    const char field[4] = {'a', 'b', 'c', 'd'};
    vst3text::fromField(field, sizeof field, out, sizeof out);
    EXPECT_STREQ(out, "abcd");
    vst3text::fromField(field, sizeof field, out, 3);
    EXPECT_STREQ(out, "ab");

    const char categories[16] = {'F', 'x', '|', 'I', 'n', 's', 't', 'r', 'u', 'm', 'e', 'n', 't', 'a', 'l', '!'};
    EXPECT_TRUE(vst3text::hasCategory(categories, 16, "Fx"));
    EXPECT_FALSE(vst3text::hasCategory(categories, 16, "Instrument"));  // "Instrumental!" is another word
    EXPECT_FALSE(vst3text::hasCategory(categories, 2, "Fx|"));
}

TEST(Vst3Text, ClassIdTextIsTheFourWordsAsDeclared) {
    const v3_tuid id = V3_ID(0x54414C56, 0x47414E31, 0x89ABCDEF, 0x00000001);
    char text[33];
    vst3text::classIdText(id, text);
    EXPECT_STREQ(text, "54414C5647414E3189ABCDEF00000001");
    uint8_t back[16];
    ASSERT_TRUE(vst3text::classIdFromText("54414c5647414E3189abcdef00000001", back));
    EXPECT_EQ(std::memcmp(back, id, 16), 0);
    EXPECT_FALSE(vst3text::classIdFromText("54414C5647414E3189ABCDEF0000000", back));
    EXPECT_FALSE(vst3text::classIdFromText("54414C5647414E3189ABCDEF0000000G", back));
}

TEST(Vst3MemoryStream, WritesWithinItsLimitSeeksAndReadsBack) {
    Vst3MemoryStream* writer = Vst3MemoryStream::createWriter(16);
    ASSERT_NE(writer, nullptr);
    v3_bstream** s = writer->stream();
    v3_bstream* table = v3_cpp_obj(s);
    int32_t done = -1;
    char abc[] = "abc";
    EXPECT_EQ(table->write(s, abc, 3, &done), V3_OK);
    EXPECT_EQ(done, 3);
    int64_t at = 0;
    EXPECT_EQ(table->seek(s, 8, V3_SEEK_SET, &at), V3_OK);
    EXPECT_EQ(table->write(s, abc, 2, &done), V3_OK);
    EXPECT_EQ(writer->size(), 10u);
    EXPECT_EQ(std::memcmp(writer->data(), "abc\0\0\0\0\0ab", 10), 0);  // the gap reads as zeros
    char many[8] = {};
    EXPECT_NE(table->write(s, many, 7, &done), V3_OK);  // 10 + 7 passes 16
    EXPECT_EQ(done, 0);
    EXPECT_TRUE(writer->overflowed());
    EXPECT_EQ(writer->size(), 10u);
    EXPECT_NE(table->seek(s, 17, V3_SEEK_SET, &at), V3_OK);
    EXPECT_NE(table->seek(s, -11, V3_SEEK_END, &at), V3_OK);
    EXPECT_NE(table->write(s, abc, -1, &done), V3_OK);
    EXPECT_EQ(table->tell(s, &at), V3_OK);
    EXPECT_EQ(at, 10);

    // A plug-in that keeps a reference keeps the stream.
    v3_funknown* unknown = *reinterpret_cast<v3_funknown**>(s);
    void* again = nullptr;
    ASSERT_EQ(unknown->query_interface(s, v3_bstream_iid, &again), V3_OK);
    EXPECT_EQ(again, static_cast<void*>(s));
    writer->release();
    EXPECT_EQ(table->tell(s, &at), V3_OK);
    EXPECT_EQ(unknown->unref(s), 0u);

    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    Vst3MemoryStream* reader = Vst3MemoryStream::createReader(bytes, sizeof bytes);
    ASSERT_NE(reader, nullptr);
    s = reader->stream();
    uint8_t got[8] = {};
    EXPECT_EQ(v3_cpp_obj(s)->read(s, got, 8, &done), V3_OK);
    EXPECT_EQ(done, 5);
    EXPECT_EQ(std::memcmp(got, bytes, 5), 0);
    EXPECT_EQ(v3_cpp_obj(s)->read(s, got, 8, &done), V3_OK);
    EXPECT_EQ(done, 0);
    EXPECT_NE(v3_cpp_obj(s)->write(s, got, 1, &done), V3_OK);  // a reader is not written
    EXPECT_NE(v3_cpp_obj(s)->seek(s, 6, V3_SEEK_SET, &at), V3_OK);
    reader->release();
}

TEST(Vst3ParameterChanges, QueuesKeepPointsInOrderWithinTheirCapacity) {
    Vst3ParameterChanges block;
    EXPECT_TRUE(block.add(7, 100, 0.5));
    EXPECT_TRUE(block.add(7, 10, 0.25));
    EXPECT_TRUE(block.add(7, 100, 0.75));  // the same offset: the later value
    EXPECT_FALSE(block.add(9, -1, 0.1));
    ASSERT_EQ(block.queueCount(), 1);  // the refused point left no empty queue

    // As the plug-in sees it.
    v3_param_changes** changes = block.changes();
    EXPECT_EQ(v3_cpp_obj(changes)->get_param_count(changes), 1);
    EXPECT_EQ(v3_cpp_obj(changes)->get_param_data(changes, 1), nullptr);
    EXPECT_EQ(v3_cpp_obj(changes)->get_param_data(changes, -1), nullptr);
    v3_param_value_queue** queue = v3_cpp_obj(changes)->get_param_data(changes, 0);
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(v3_cpp_obj(queue)->get_param_id(queue), 7u);
    ASSERT_EQ(v3_cpp_obj(queue)->get_point_count(queue), 2);
    int32_t offset = -1;
    double value = -1;
    EXPECT_EQ(v3_cpp_obj(queue)->get_point(queue, 0, &offset, &value), V3_OK);
    EXPECT_EQ(offset, 10);
    EXPECT_EQ(value, 0.25);
    EXPECT_EQ(v3_cpp_obj(queue)->get_point(queue, 1, &offset, &value), V3_OK);
    EXPECT_EQ(offset, 100);
    EXPECT_EQ(value, 0.75);
    EXPECT_NE(v3_cpp_obj(queue)->get_point(queue, 2, &offset, &value), V3_OK);
    EXPECT_NE(v3_cpp_obj(queue)->get_point(queue, 0, nullptr, &value), V3_OK);

    // The plug-in's own changes (as in the output block), up to the capacity.
    v3_param_id id = 42;
    int32_t index = -1;
    v3_param_value_queue** out = v3_cpp_obj(changes)->add_param_data(changes, &id, &index);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(index, 1);
    for (int32_t p = 0; p < Vst3ParameterChanges::kMaxPoints; ++p)
        EXPECT_EQ(v3_cpp_obj(out)->add_point(out, p, p / 100.0, &index), V3_OK);
    EXPECT_NE(v3_cpp_obj(out)->add_point(out, 999, 1.0, &index), V3_OK);
    EXPECT_EQ(block.lastValue(1), (Vst3ParameterChanges::kMaxPoints - 1) / 100.0);
    for (v3_param_id more = 100; block.queueCount() < Vst3ParameterChanges::kMaxQueues; ++more)
        ASSERT_TRUE(block.add(more, 0, 0.0));
    id = 5000;
    EXPECT_EQ(v3_cpp_obj(changes)->add_param_data(changes, &id, &index), nullptr);
    EXPECT_FALSE(block.add(5001, 0, 0.0));
    block.clear();
    EXPECT_EQ(v3_cpp_obj(changes)->get_param_count(changes), 0);
}

// Four threads hand changes over while the audio thread takes them block by block:
// every change arrives once, the last of each parameter last, in blocks that never
// overflow.
TEST(Vst3ParameterHandover, ChangesFromManyThreadsArriveOnceAndInOrder) {
    Vst3ParameterHandover handover;
    constexpr int kThreads = 4;
    constexpr int kChanges = 5000;
    std::atomic<int> pushed{0};
    std::atomic<bool> done{false};
    std::vector<double> lastSeen(kThreads, -1.0);
    int received = 0;
    bool ordered = true;
    std::thread audio([&] {
        Vst3ParameterChanges block;
        for (;;) {
            const bool finished = done.load();
            block.clear();
            handover.drainInto(block);
            for (int32_t q = 0; q < block.queueCount(); ++q) {
                const int thread = int(block.queueId(q));
                ASSERT_EQ(block.pointCount(q), 1);  // all at offset 0: one point, the latest
                ordered &= block.lastValue(q) > lastSeen[thread];
                lastSeen[thread] = block.lastValue(q);
                ++received;
            }
            if (finished && handover.empty())
                break;
        }
    });
    std::vector<std::thread> uis;
    for (int t = 0; t < kThreads; ++t) {
        uis.emplace_back([&, t] {
            for (int i = 1; i <= kChanges; ++i) {
                while (!handover.push(v3_param_id(t), double(i)))
                    std::this_thread::yield();
                ++pushed;
            }
        });
    }
    for (auto& ui : uis)
        ui.join();
    done = true;
    audio.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(pushed.load(), kThreads * kChanges);
    EXPECT_GE(received, kThreads);  // changes of one parameter in one block are one point
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(lastSeen[t], double(kChanges));
}

TEST(Vst3ParameterHandover, AFullRingRefusesAndABlockWithoutRoomKeepsTheRest) {
    Vst3ParameterHandover handover;
    for (uint32_t i = 0; i < Vst3ParameterHandover::kCapacity; ++i)
        ASSERT_TRUE(handover.push(i, 0.5));
    EXPECT_FALSE(handover.push(1, 0.5));
    Vst3ParameterChanges block;
    uint32_t taken = 0;
    int blocks = 0;
    while (!handover.empty()) {
        block.clear();
        handover.drainInto(block);
        ASSERT_LE(block.queueCount(), Vst3ParameterChanges::kMaxQueues);
        for (int32_t q = 0; q < block.queueCount(); ++q)
            EXPECT_EQ(block.queueId(q), taken + uint32_t(q));
        taken += uint32_t(block.queueCount());
        ++blocks;
    }
    EXPECT_EQ(taken, Vst3ParameterHandover::kCapacity);
    EXPECT_EQ(blocks, int(Vst3ParameterHandover::kCapacity / Vst3ParameterChanges::kMaxQueues));
}

TEST(Vst3StateRecord, BothPartsLengthPrefixedAndNothingElseReads) {
    const uint8_t component[3] = {1, 2, 3};
    const uint8_t controller[2] = {9, 8};
    Vst3StateParts parts;
    parts.component = component;
    parts.componentSize = 3;
    parts.controller = controller;
    parts.controllerSize = 2;
    ByteRecord record;
    ASSERT_TRUE(vst3state::write(record, parts));
    const uint8_t expected[] = {'T', 'V', '3', 'S', 1, 0, 0, 0, 3, 0, 0, 0, 1, 2, 3, 2, 0, 0, 0, 9, 8};
    ASSERT_EQ(record.size(), sizeof expected);
    EXPECT_EQ(std::memcmp(record.data(), expected, sizeof expected), 0);

    Vst3StateParts read;
    ASSERT_TRUE(vst3state::read(record.data(), record.size(), &read));
    EXPECT_EQ(read.componentSize, 3u);
    EXPECT_EQ(read.component, record.data() + 12);
    EXPECT_EQ(read.controllerSize, 2u);
    EXPECT_EQ(read.controller[1], 8);

    std::vector<uint8_t> bytes(expected, expected + sizeof expected);
    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(vst3state::read(bytes.data(), cut, &read)) << cut;
    bytes.push_back(0);
    EXPECT_FALSE(vst3state::read(bytes.data(), bytes.size(), &read));  // a byte after the end
    bytes.pop_back();
    bytes[8] = 0xFF;  // a component length past the record
    bytes[11] = 0xFF;
    EXPECT_FALSE(vst3state::read(bytes.data(), bytes.size(), &read));
    bytes[8] = 3, bytes[11] = 0, bytes[4] = 2;  // another version
    EXPECT_FALSE(vst3state::read(bytes.data(), bytes.size(), &read));

    parts = Vst3StateParts();
    ASSERT_TRUE(vst3state::write(record, parts));
    EXPECT_EQ(record.size(), 16u);
    EXPECT_TRUE(vst3state::read(record.data(), record.size(), &read));
    EXPECT_EQ(read.componentSize + read.controllerSize, 0u);
}

TEST(Vst3BundlePath, RecognisesByShapeAndFindsTheBinaryOfAWidth) {
    EXPECT_TRUE(vst3path::recognises("C:\\Plugins\\Gain.vst3"));
    EXPECT_TRUE(vst3path::recognises("C:\\Plugins\\Gain.VST3\\"));
    EXPECT_TRUE(vst3path::recognises("/plugins/Gain.vst3/"));
    EXPECT_FALSE(vst3path::recognises("C:\\Plugins\\Gain.dll"));
    EXPECT_FALSE(vst3path::recognises("C:\\Plugins\\.vst3"));
    EXPECT_FALSE(vst3path::recognises("C:\\Plugins\\Gain.vst"));
    EXPECT_FALSE(vst3path::recognises(nullptr));

    char binary[64];
    ASSERT_TRUE(vst3path::bundleBinary("C:\\P\\Gain.vst3\\", "x86_64-win", binary, sizeof binary));
    EXPECT_STREQ(binary, "C:\\P\\Gain.vst3\\Contents\\x86_64-win\\Gain.vst3");
    ASSERT_TRUE(vst3path::bundleBinary("Z:/p/Gain.vst3", "x86-win", binary, sizeof binary));
    EXPECT_STREQ(binary, "Z:/p/Gain.vst3\\Contents\\x86-win\\Gain.vst3");
    EXPECT_FALSE(vst3path::bundleBinary("C:\\P\\Gain.vst3", "x86_64-win", binary, 20));
    EXPECT_STREQ(binary, "");
}

std::atomic<int> gBreaches{0};
void countBreach(const char*) { ++gBreaches; }

TEST(Vst3ThreadContract, ACallOfTheControllerOffTheUiThreadIsABreach) {
    Vst3ThreadContract::setBreachHandler(&countBreach);
    Vst3ThreadContract contract;
    EXPECT_TRUE(contract.controllerCall());
    bool answered = true;
    std::thread audio([&] { answered = contract.controllerCall(); });
    audio.join();
    EXPECT_FALSE(answered);
    EXPECT_EQ(gBreaches.load(), 1);
    EXPECT_FALSE(Vst3ThreadContract::expect(false, "a rule"));
    EXPECT_EQ(gBreaches.load(), 2);
    Vst3ThreadContract::setBreachHandler(nullptr);
}

}  // namespace
