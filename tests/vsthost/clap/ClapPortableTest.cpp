// The backend's portable parts on their own: the queue between the UI and audio
// threads, the event lists, the state streams and the parameter ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "ClapEvents.h"
#include "ClapParameters.h"
#include "ClapStateStream.h"

// Changes pushed by one thread arrive complete and in order at the other, also when
// the queue runs full in between.
TEST(ClapParamQueue, CarriesChangesInOrderBetweenThreads) {
    ClapParamQueue queue;
    constexpr uint32_t kChanges = 20000;
    std::vector<double> got;
    std::thread consumer([&] {
        ClapParamChange c;
        while (got.size() < kChanges)
            if (queue.pop(c))
                got.push_back(c.value);
    });
    for (uint32_t i = 0; i < kChanges;)
        if (queue.push({7, nullptr, double(i)}))
            ++i;
    consumer.join();
    for (uint32_t i = 0; i < kChanges; ++i)
        ASSERT_EQ(got[i], double(i));
    for (uint32_t i = 0; i < ClapParamQueue::kCapacity; ++i)
        ASSERT_TRUE(queue.push({1, nullptr, 0.0}));
    EXPECT_FALSE(queue.push({1, nullptr, 0.0}));
}

TEST(ClapInputEvents, ListsQueuedValuesAtOffsetZeroAndNothingPastTheEnd) {
    ClapParamQueue queue;
    int cookie = 0;
    queue.push({7, &cookie, 0.5});
    queue.push({3, nullptr, -2.0});
    ClapInputEvents events;
    events.takeFrom(queue);
    const clap_input_events_t* list = events.list();
    ASSERT_EQ(list->size(list), 2u);
    const auto* first = reinterpret_cast<const clap_event_param_value_t*>(list->get(list, 0));
    EXPECT_EQ(first->header.type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(first->header.size, sizeof(clap_event_param_value_t));
    EXPECT_EQ(first->header.time, 0u);
    EXPECT_EQ(first->param_id, 7u);
    EXPECT_EQ(first->cookie, &cookie);
    EXPECT_EQ(reinterpret_cast<const clap_event_param_value_t*>(list->get(list, 1))->value, -2.0);
    EXPECT_EQ(list->get(list, 2), nullptr);
    EXPECT_EQ(list->get(list, 0xFFFFFFFFu), nullptr);
    events.clear();
    EXPECT_EQ(list->size(list), 0u);
    ClapParamChange left;
    EXPECT_FALSE(queue.pop(left));
}

namespace {
std::vector<std::pair<clap_id, double>> gReceived;
void receive(void*, clap_id id, double value) { gReceived.push_back({id, value}); }
}  // namespace

TEST(ClapOutputEvents, PassesParameterValuesAndRefusesMalformedEvents) {
    gReceived.clear();
    ClapOutputEvents events(receive, nullptr);
    const clap_output_events_t* list = events.list();
    clap_event_param_value_t value = {};
    value.header = {sizeof value, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    value.param_id = 9;
    value.value = 0.25;
    EXPECT_TRUE(list->try_push(list, &value.header));
    clap_event_param_gesture_t gesture = {};
    gesture.header = {sizeof gesture, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_GESTURE_BEGIN, 0};
    EXPECT_TRUE(list->try_push(list, &gesture.header));  // accepted, nothing to carry
    clap_event_param_value_t other = value;
    other.header.space_id = 77;  // another space's type numbers mean something else
    EXPECT_TRUE(list->try_push(list, &other.header));
    EXPECT_EQ(events.refused(), 0u);

    EXPECT_FALSE(list->try_push(list, nullptr));
    clap_event_param_value_t bad = value;
    bad.header.size = 8;
    EXPECT_FALSE(list->try_push(list, &bad.header));
    bad.header.size = 0x7FFFFFFF;
    EXPECT_FALSE(list->try_push(list, &bad.header));
    bad.header.size = sizeof(clap_event_header_t) + 4;  // a value event cut short
    EXPECT_FALSE(list->try_push(list, &bad.header));
    bad = value;
    bad.value = std::nan("");
    EXPECT_FALSE(list->try_push(list, &bad.header));
    EXPECT_EQ(events.refused(), 5u);
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0], std::make_pair(clap_id(9), 0.25));
}

TEST(ClapStateStreams, WriteUpToTheLimitAndReadNoFurtherThanTheBytes) {
    ByteRecord record;
    ClapStateWriter writer(record, 100);
    const clap_ostream_t* out = writer.stream();
    uint8_t bytes[64];
    for (int i = 0; i < 64; ++i)
        bytes[i] = uint8_t(i);
    EXPECT_EQ(out->write(out, bytes, 64), 64);
    EXPECT_EQ(out->write(out, bytes, 0), 0);
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(out->write(out, bytes, 64), -1);  // would pass the limit
    EXPECT_TRUE(writer.failed());
    EXPECT_EQ(out->write(out, nullptr, 4), -1);
    EXPECT_EQ(out->write(out, bytes, ~uint64_t(0)), -1);
    EXPECT_EQ(record.size(), 64u);

    ClapStateReader reader(record.data(), record.size());
    const clap_istream_t* in = reader.stream();
    uint8_t back[64] = {};
    EXPECT_EQ(in->read(in, back, 10), 10);
    EXPECT_EQ(in->read(in, back + 10, ~uint64_t(0)), 54);  // an absurd length reads what is left
    EXPECT_EQ(in->read(in, back, 10), 0);
    EXPECT_EQ(in->read(in, nullptr, 1), -1);
    EXPECT_EQ(std::memcmp(back, bytes, 64), 0);
    EXPECT_EQ(reader.consumed(), 64u);
}

TEST(ClapParameterRanges, MapPlainValuesOntoZeroToOne) {
    ClapParameter gain = {7, nullptr, 0, -24.0, 12.0, 0.0, "Gain"};
    EXPECT_DOUBLE_EQ(ClapParameterTable::toPlain(gain, 0.0f), -24.0);
    EXPECT_DOUBLE_EQ(ClapParameterTable::toPlain(gain, 1.0f), 12.0);
    EXPECT_NEAR(ClapParameterTable::toPlain(gain, 0.5f), -6.0, 1e-6);
    EXPECT_DOUBLE_EQ(ClapParameterTable::toPlain(gain, 7.0f), 12.0);
    EXPECT_DOUBLE_EQ(ClapParameterTable::toPlain(gain, std::nanf("")), -24.0);
    EXPECT_FLOAT_EQ(ClapParameterTable::toNormalised(gain, 0.0), 24.0f / 36.0f);
    EXPECT_FLOAT_EQ(ClapParameterTable::toNormalised(gain, 100.0), 1.0f);
    ClapParameter steps = {1, nullptr, CLAP_PARAM_IS_STEPPED, 0.0, 3.0, 0.0, "Mode"};
    EXPECT_DOUBLE_EQ(ClapParameterTable::toPlain(steps, 0.6f), 2.0);  // the nearest step, not the truncation
    ClapParameter fixed = {2, nullptr, 0, 5.0, 5.0, 5.0, "Fixed"};
    EXPECT_FLOAT_EQ(ClapParameterTable::toNormalised(fixed, 5.0), 0.0f);
    EXPECT_DOUBLE_EQ(ClapParameterTable::toPlain(fixed, 0.7f), 5.0);
}

// A plug-in's parameter list as the table reads it: the first stepped "Program" over
// whole numbers from 0 becomes the program list and leaves the parameters shown;
// look-alikes stay parameters, and a program list sharing an id is refused.
TEST(ClapParameterTable, SetsTheProgramListApart) {
    struct Entry {
        clap_id id;
        uint32_t flags;
        double min, max;
        const char* name;
    };
    static std::vector<Entry> entries;
    static const clap_plugin_params_t params = {
        [](const clap_plugin_t*) { return uint32_t(entries.size()); },
        [](const clap_plugin_t*, uint32_t i, clap_param_info_t* info) {
            if (i >= entries.size())
                return false;
            std::memset(info, 0, sizeof *info);
            info->id = entries[i].id;
            info->flags = entries[i].flags;
            info->min_value = entries[i].min;
            info->max_value = entries[i].max;
            std::snprintf(info->name, sizeof info->name, "%s", entries[i].name);
            return true;
        },
        nullptr, nullptr, nullptr, nullptr};
    const uint32_t stepped = CLAP_PARAM_IS_STEPPED;
    entries = {{10, 0, 0.0, 1.0, "Gain"},
               {11, 0, 0.0, 15.0, "Program"},            // not stepped
               {12, stepped, 1.0, 16.0, "Program"},      // not from 0
               {13, stepped, 0.0, 15.5, "PROGRAM"},      // not whole
               {14, stepped, 0.0, 7.0, "Programs"},      // another name
               {20, stepped, 0.0, 15.0, "program"},
               {21, stepped, 0.0, 3.0, "Program"},       // a second list is a parameter
               {22, 0, -1.0, 1.0, "Pan"}};
    ClapParameterTable table;
    char failure[128] = "";
    ASSERT_TRUE(table.read(nullptr, &params, failure, sizeof failure)) << failure;
    ASSERT_NE(table.programList(), nullptr);
    EXPECT_EQ(table.programList()->id, 20u);
    EXPECT_EQ(table.programCount(), 16);
    ASSERT_EQ(table.count(), 7);
    EXPECT_EQ(table.indexOf(20), -1);
    EXPECT_EQ(table.indexOf(21), 5);
    EXPECT_EQ(table.indexOf(22), 6);
    EXPECT_STREQ(table.at(6)->name, "Pan");

    entries = {{10, 0, 0.0, 1.0, "Gain"}, {10, stepped, 0.0, 3.0, "Program"}};
    EXPECT_FALSE(table.read(nullptr, &params, failure, sizeof failure));
    EXPECT_STREQ(failure, "two parameters have the id 10");
    EXPECT_EQ(table.programCount(), 16) << "a list refused leaves the one before";
    entries = {{10, 0, 0.0, 1.0, "Gain"}};
    ASSERT_TRUE(table.read(nullptr, &params, failure, sizeof failure));
    EXPECT_EQ(table.programList(), nullptr);
    EXPECT_EQ(table.programCount(), 0);
}
