// The queue between the player and the audio thread.
#include "sound/write_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(WriteQueue, ReaderSeesEveryWriteInOrderAcrossThreads) {
    sound::WriteQueue queue;
    constexpr std::int64_t kWrites = 200'000;  // many times the capacity, so it wraps
    std::thread producer([&queue] {
        for (std::int64_t i = 0; i < kWrites;) {
            const auto byte = static_cast<std::uint8_t>(i);
            if (queue.push({i, byte, static_cast<std::uint8_t>(~byte)}))
                ++i;
            else
                std::this_thread::yield();
        }
    });
    std::int64_t expected = 0;
    bool in_order = true;
    while (expected < kWrites) {
        sound::StampedWrite w;
        if (!queue.peek(w)) {
            std::this_thread::yield();
            continue;
        }
        in_order = in_order && w.at_frame == expected &&
                   w.reg == static_cast<std::uint8_t>(expected) &&
                   w.value == static_cast<std::uint8_t>(~w.reg);
        queue.pop();
        ++expected;
    }
    producer.join();
    EXPECT_TRUE(in_order);
}

TEST(WriteQueue, FullQueueRefusesWithoutLosingWhatItHolds) {
    sound::WriteQueue queue;
    for (std::size_t i = 0; i < sound::WriteQueue::kCapacity; ++i)
        ASSERT_TRUE(queue.push({static_cast<std::int64_t>(i), 0, 0}));
    EXPECT_FALSE(queue.push({-1, 0, 0}));
    sound::StampedWrite w;
    ASSERT_TRUE(queue.peek(w));
    EXPECT_EQ(w.at_frame, 0);
    queue.pop();
    EXPECT_TRUE(queue.push({99, 0, 0}));  // room again once the reader moves on
}

}  // namespace
