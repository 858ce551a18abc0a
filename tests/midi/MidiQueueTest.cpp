#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "MidiInputFeed.h"
#include "MidiQueue.h"

namespace {

TimedMidiMessage numbered(uint32_t n) {
    // The number is in the time and, as a check that the message travels whole, in its bytes.
    return TimedMidiMessage{n, MidiMessage{MidiKind::Controller, uint8_t(n % 16), uint8_t(n % 128), uint8_t((n / 128) % 128)}};
}

bool whole(const TimedMidiMessage& m) {
    const uint32_t n = m.time;
    return m.message.kind == MidiKind::Controller && m.message.channel == n % 16 && m.message.data1 == n % 128 &&
           m.message.data2 == (n / 128) % 128;
}

}  // namespace

// A full ring refuses the newest and counts it; what waits comes out in order.
TEST(MidiQueue, AFullRingDropsAndCountsTheNewest) {
    MidiQueue queue;
    TimedMidiMessage m{};
    EXPECT_FALSE(queue.pop(m));
    for (uint32_t i = 0; i < MidiQueue::kCapacity; ++i)
        ASSERT_TRUE(queue.push(numbered(i)));
    EXPECT_FALSE(queue.push(numbered(5000)));
    EXPECT_FALSE(queue.push(numbered(5001)));
    EXPECT_EQ(queue.dropped(), 2u);
    EXPECT_EQ(queue.waiting(), MidiQueue::kCapacity);
    ASSERT_TRUE(queue.pop(m));
    EXPECT_EQ(m.time, 0u);
    ASSERT_TRUE(queue.push(numbered(7000))) << "room again after one was taken";
    for (uint32_t i = 1; i < MidiQueue::kCapacity; ++i) {
        ASSERT_TRUE(queue.pop(m));
        ASSERT_EQ(m.time, i);
    }
    ASSERT_TRUE(queue.pop(m));
    EXPECT_EQ(m.time, 7000u) << "the dropped ones never come";
    EXPECT_FALSE(queue.pop(m));
}

// A flood from the MIDI thread while the audio thread takes what waits in bursts, as
// it does once a block: every message arrives whole and in order, or is counted as
// dropped; none is lost unaccounted and none comes twice. Run under ThreadSanitizer
// in the native-tsan build.
TEST(MidiQueue, AFloodFromTheMidiThreadArrivesInOrderOrIsCountedDropped) {
    MidiQueue queue;
    const uint32_t kSent = 200000;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint32_t i = 1; i <= kSent; ++i) {
            queue.push(numbered(i));
            if (i % 4096 == 0)
                std::this_thread::yield();  // the device pauses now and then
        }
        done.store(true, std::memory_order_release);
    });
    uint32_t received = 0, last = 0;
    bool ordered = true, intact = true;
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        TimedMidiMessage m{};
        int burst = 0;
        while (burst < 512 && queue.pop(m)) {
            ordered = ordered && m.time > last;
            intact = intact && whole(m);
            last = m.time;
            ++received;
            ++burst;
        }
        if (finished && queue.waiting() == 0)
            break;
        std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(intact);
    EXPECT_EQ(uint64_t(received) + queue.dropped(), uint64_t(kSent));
    EXPECT_GT(received, MidiQueue::kCapacity) << "the consumer kept up for part of the flood at least";
}

// The whole way from a device's thread to the audio thread: winmm words and a raw
// stream in pieces from one thread, the audio thread taking them as they come. The
// skipped words are counted, the channel messages arrive in order with their times.
TEST(MidiQueue, TheInputFeedCarriesADevicesWordsAndBytesToTheAudioThread) {
    MidiQueue queue;
    MidiInputFeed feed(queue);
    const uint32_t kRounds = 3000;
    std::thread device([&] {
        for (uint32_t i = 0; i < kRounds; ++i) {
            feed.shortMessage(0x000000F8u, 2 * i);                            // clock: skipped
            feed.shortMessage(0x00000090u | ((i % 128) << 8) | (64u << 16), 2 * i);  // note on
            const uint8_t piece1[] = {0xB0, 0x07}, piece2[] = {0xF8, uint8_t(i % 128)};
            feed.bytes(piece1, sizeof piece1, 2 * i + 1);
            feed.bytes(piece2, sizeof piece2, 2 * i + 1);                    // completes the controller
            while (queue.waiting() > MidiQueue::kCapacity - 4)
                std::this_thread::yield();  // a device far slower than the audio thread
        }
    });
    uint32_t notes = 0, controllers = 0, lastTime = 0;
    bool ordered = true, right = true;
    while (notes + controllers < 2 * kRounds) {
        TimedMidiMessage m{};
        if (!queue.pop(m)) {
            std::this_thread::yield();
            continue;
        }
        ordered = ordered && m.time >= lastTime;
        lastTime = m.time;
        if (m.message.kind == MidiKind::NoteOn) {
            right = right && m.message.data1 == (m.time / 2) % 128 && m.message.data2 == 64 && m.time % 2 == 0;
            ++notes;
        } else {
            right = right && m.message.kind == MidiKind::Controller && m.message.data1 == 7 &&
                    m.message.data2 == (m.time / 2) % 128 && m.time % 2 == 1;
            ++controllers;
        }
    }
    device.join();
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(right);
    EXPECT_EQ(notes, kRounds);
    EXPECT_EQ(controllers, kRounds);
    EXPECT_EQ(feed.skipped(), uint64_t(kRounds));
    EXPECT_EQ(queue.dropped(), 0u);
}
