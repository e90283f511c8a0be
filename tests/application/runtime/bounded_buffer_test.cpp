#include "application/runtime/bounded_buffer.h"

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(BoundedBufferTest, FullQueueOverwritesOldest)
{
    util::bounded_buffer<std::string> queue(3);
    for (const char* item : {"a", "b", "c", "d"})
        queue.push_back(item);
    EXPECT_TRUE(queue.is_full());
    std::string out;
    std::string taken;
    while (queue.timed_front(out, 0ms))
        taken += out;
    EXPECT_EQ(taken, "bcd");
    EXPECT_TRUE(queue.is_empty());
}

TEST(BoundedBufferTest, IsFullExactlyAtCapacity)
{
    util::bounded_buffer<int> queue(2);
    EXPECT_FALSE(queue.is_full());
    queue.push_back(1);
    EXPECT_FALSE(queue.is_full());
    queue.push_back(2);
    EXPECT_TRUE(queue.is_full());
    EXPECT_EQ(queue.size(), 2u);
}

TEST(BoundedBufferTest, TimedFrontOnEmptyQueueTimesOutAndKeepsOutput)
{
    util::bounded_buffer<int> queue(2);
    int out = 42;
    EXPECT_FALSE(queue.timed_front(out, 20ms));
    EXPECT_EQ(out, 42);
}

TEST(BoundedBufferTest, TimedFrontWakesOnPush)
{
    util::bounded_buffer<int> queue(2);
    auto consumer = std::async(std::launch::async, [&] {
        int out = 0;
        return queue.timed_front(out, 5s) ? out : -1;
    });
    std::this_thread::sleep_for(20ms);
    queue.push_back(7);
    ASSERT_EQ(consumer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(consumer.get(), 7);
}

TEST(BoundedBufferTest, ReleaseWaitersEndsAWaitingConsumerButLeavesQueuedItems)
{
    util::bounded_buffer<int> buffer(2);
    auto consumer = std::async(std::launch::async, [&] {
        int out = -1;
        const auto start = std::chrono::steady_clock::now();
        const bool got = buffer.timed_front(out, 20s);
        return std::make_pair(got, std::chrono::steady_clock::now() - start);
    });
    std::this_thread::sleep_for(50ms);
    buffer.release_waiters();
    ASSERT_EQ(consumer.wait_for(10s), std::future_status::ready);
    const auto result = consumer.get();
    EXPECT_FALSE(result.first);
    EXPECT_LT(result.second, 10s);

    // What was queued can still be taken (a consumer drains at its stop).
    buffer.push_back(7);
    int out = -1;
    EXPECT_TRUE(buffer.timed_front(out, 0ms));
    EXPECT_EQ(out, 7);
    EXPECT_FALSE(buffer.timed_front(out, 0ms));
}

TEST(BoundedBufferTest, PushBackSyncWaitsUntilQueueIsEmpty)
{
    util::bounded_buffer<int> queue(5);
    queue.push_back(1);
    queue.push_back(2);
    auto producer = std::async(std::launch::async, [&] { queue.push_back_sync(3); });
    EXPECT_EQ(producer.wait_for(50ms), std::future_status::timeout);

    int out = 0;
    ASSERT_TRUE(queue.timed_front(out, 1s));
    EXPECT_EQ(producer.wait_for(50ms), std::future_status::timeout) << "one element still queued";
    ASSERT_TRUE(queue.timed_front(out, 1s));
    ASSERT_EQ(producer.wait_for(5s), std::future_status::ready);
    ASSERT_TRUE(queue.timed_front(out, 1s));
    EXPECT_EQ(out, 3);
}

TEST(BoundedBufferTest, PushBackSyncOnEmptyQueueReturnsAtOnce)
{
    util::bounded_buffer<int> queue(5);
    auto producer = std::async(std::launch::async, [&] { queue.push_back_sync(1); });
    ASSERT_EQ(producer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(queue.size(), 1u);
}

TEST(BoundedBufferTest, ClearReleasesWaitingProducer)
{
    util::bounded_buffer<int> queue(5);
    queue.push_back(1);
    auto producer = std::async(std::launch::async, [&] { queue.push_back_sync(2); });
    EXPECT_EQ(producer.wait_for(50ms), std::future_status::timeout);
    queue.clear();
    ASSERT_EQ(producer.wait_for(5s), std::future_status::ready);
    int out = 0;
    ASSERT_TRUE(queue.timed_front(out, 1s));
    EXPECT_EQ(out, 2);
}

TEST(BoundedBufferTest, ReleaseWaitersUnblocksProducerWithoutStoring)
{
    util::bounded_buffer<int> queue(5);
    queue.push_back(1);
    auto producer = std::async(std::launch::async, [&] { queue.push_back_sync(2); });
    EXPECT_EQ(producer.wait_for(50ms), std::future_status::timeout);
    queue.release_waiters();
    ASSERT_EQ(producer.wait_for(5s), std::future_status::ready);
    queue.push_back_sync(3);  // returns at once after release
    EXPECT_EQ(queue.size(), 1u);
}

TEST(BoundedBufferTest, ZeroCapacityStoresNothing)
{
    util::bounded_buffer<int> queue(0);
    queue.push_back(1);
    queue.push_back_sync(2);
    int out = 0;
    EXPECT_FALSE(queue.timed_front(out, 0ms));
}

TEST(BoundedBufferTest, ManyProducersAndConsumersLoseNothingBelowCapacity)
{
    util::bounded_buffer<int> queue(10000);
    constexpr int kPerProducer = 1000;
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p)
        producers.emplace_back([&] {
            for (int i = 0; i < kPerProducer; ++i)
                queue.push_back(1);
        });
    std::atomic<int> sum{0};
    std::vector<std::thread> consumers;
    for (int c = 0; c < 2; ++c)
        consumers.emplace_back([&] {
            int out = 0;
            while (queue.timed_front(out, 200ms))
                sum += out;
        });
    for (auto& t : producers)
        t.join();
    for (auto& t : consumers)
        t.join();
    EXPECT_EQ(sum.load(), 4 * kPerProducer);
}

}  // namespace
