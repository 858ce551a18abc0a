#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "WriterQueue.h"

TEST(WriterQueue, BlocksWrapAroundTheEndOfTheBufferAndComeOutInOrder) {
    std::vector<uint8_t> buffer(10);
    WriterQueue q;
    q.reset(buffer.data(), 10);
    const uint8_t a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(q.put(a, 6));
    EXPECT_FALSE(q.put(b, 6)) << "a block that does not fit is refused whole";
    EXPECT_EQ(q.waiting(), 6u);

    const uint8_t* at = nullptr;
    ASSERT_EQ(q.peek(at), 6u);
    EXPECT_EQ(at[5], 6);
    q.consume(6);
    ASSERT_TRUE(q.put(b, 6));  // 4 bytes at the end, 2 at the start
    ASSERT_EQ(q.peek(at), 4u);
    EXPECT_EQ(at[0], 7);
    q.consume(4);
    ASSERT_EQ(q.peek(at), 2u);
    EXPECT_EQ(at[1], 12);
    q.consume(2);
    EXPECT_EQ(q.waiting(), 0u);
    EXPECT_EQ(q.room(), 10u);
}

// The ring takes exactly its size, whether the block lies in one piece or wraps, and
// refuses a single byte more; a full ring comes out whole and in order.
TEST(WriterQueue, AFullRingTakesExactlyItsRoomAndNotAByteMore) {
    std::vector<uint8_t> buffer(10);
    WriterQueue q;
    q.reset(buffer.data(), 10);
    uint8_t block[10];
    for (int i = 0; i < 10; ++i)
        block[i] = uint8_t(20 + i);
    const uint8_t one[1] = {99};
    ASSERT_TRUE(q.put(block, 10)) << "the whole ring from its start";
    EXPECT_EQ(q.room(), 0u);
    EXPECT_FALSE(q.put(one, 1));
    const uint8_t* at = nullptr;
    ASSERT_EQ(q.peek(at), 10u);
    EXPECT_EQ(at, buffer.data());
    EXPECT_EQ(at[9], 29);
    q.consume(3);

    ASSERT_EQ(q.room(), 3u);
    EXPECT_FALSE(q.put(block, 4));
    ASSERT_TRUE(q.put(block, 3)) << "exactly the room left, after the ring's end";
    EXPECT_FALSE(q.put(one, 1));
    EXPECT_EQ(q.waiting(), 10u);
    ASSERT_EQ(q.peek(at), 7u);
    EXPECT_EQ(at[0], 23);
    EXPECT_EQ(at[6], 29);
    q.consume(7);
    ASSERT_EQ(q.peek(at), 3u);
    EXPECT_EQ(at, buffer.data());
    EXPECT_EQ(at[0], 20);
    EXPECT_EQ(at[2], 22);
    q.consume(3);

    // Empty with the ends in the middle: a full ring that wraps.
    ASSERT_EQ(q.room(), 10u);
    ASSERT_TRUE(q.put(block, 10));
    EXPECT_FALSE(q.put(one, 1));
    ASSERT_EQ(q.peek(at), 7u);
    EXPECT_EQ(at[0], 20);
    q.consume(7);
    ASSERT_EQ(q.peek(at), 3u);
    EXPECT_EQ(at[0], 27);
    EXPECT_EQ(at[2], 29);
    q.consume(3);
    EXPECT_EQ(q.waiting(), 0u);
    ASSERT_TRUE(q.put(one, 1));
}

TEST(WriterQueue, DiscardFreesEverythingWaiting) {
    std::vector<uint8_t> buffer(16);
    WriterQueue q;
    q.reset(buffer.data(), 16);
    const uint8_t block[5] = {};
    ASSERT_TRUE(q.put(block, 5));
    ASSERT_TRUE(q.put(block, 5));
    q.discard();
    EXPECT_EQ(q.waiting(), 0u);
    EXPECT_EQ(q.room(), 16u);
    EXPECT_FALSE(q.put(block, 0));
}

// One thread puts numbered blocks as fast as they fit, another takes them in
// stretches: every byte arrives once and in order.
TEST(WriterQueue, TwoThreadsPassEveryByteInOrder) {
    std::vector<uint8_t> buffer(1000);
    WriterQueue q;
    q.reset(buffer.data(), 1000);
    const int kBlocks = 20000, kBlock = 97;
    std::thread producer([&] {
        uint8_t block[kBlock];
        for (int b = 0; b < kBlocks; ++b) {
            for (int i = 0; i < kBlock; ++i)
                block[i] = uint8_t(b * kBlock + i);
            while (!q.put(block, kBlock))
                std::this_thread::yield();
        }
    });
    uint32_t next = 0, wrong = 0;
    while (next < uint32_t(kBlocks * kBlock)) {
        const uint8_t* at = nullptr;
        const uint32_t n = q.peek(at);
        for (uint32_t i = 0; i < n; ++i)
            wrong += at[i] != uint8_t(next + i);
        next += n;
        q.consume(n);
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(q.waiting(), 0u);
}
