#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "BlockingQueue.h"

using namespace std::chrono_literals;

namespace {

std::vector<int> drain(BlockingQueue<int>& queue) {
    std::vector<int> out;
    while (auto item = queue.tryPop()) out.push_back(*item);
    return out;
}

}  // namespace

// The one rule for a failed send: given back, an item goes out before everything queued
// after it; not given back, it is gone.
TEST(BlockingQueue, FailedItemGivenBackGoesOutFirstDroppedOneIsGone) {
    BlockingQueue<int> queue;
    for (int i = 1; i <= 3; ++i) queue.push(std::make_unique<int>(i));
    queue.push(nullptr);
    EXPECT_EQ(3u, queue.size());

    std::unique_ptr<int> failed = queue.pop();
    ASSERT_TRUE(failed);
    queue.putBackFirst(std::move(failed));
    std::unique_ptr<int> dropped = queue.pop();
    EXPECT_EQ(1, *dropped);
    dropped.reset();
    queue.push(std::make_unique<int>(4));
    EXPECT_EQ((std::vector<int>{2, 3, 4}), drain(queue));
    EXPECT_EQ(nullptr, queue.tryPop());
}

// A burst larger than the storage kept on emptying comes out whole and in order, and the
// queue works as before once it has been given back.
TEST(BlockingQueue, BurstDrainsInOrderAndTheQueueIsUsableAfter) {
    BlockingQueue<int> queue;
    const int burst = static_cast<int>(BlockingQueue<int>::kShrinkAbove) * 10;
    std::thread producer([&] {
        for (int i = 0; i < burst; ++i) queue.push(std::make_unique<int>(i));
    });
    for (int i = 0; i < burst; ++i) {
        std::unique_ptr<int> item = queue.pop();
        ASSERT_TRUE(item);
        ASSERT_EQ(i, *item);
    }
    producer.join();
    EXPECT_EQ(0u, queue.size());
    queue.push(std::make_unique<int>(7));
    EXPECT_EQ(7, *queue.pop());
}

TEST(BlockingQueue, StopWakesTheWaitingConsumerForGood) {
    BlockingQueue<int> queue;
    EXPECT_FALSE(queue.waitForStop(10ms));
    std::unique_ptr<int> got = std::make_unique<int>(0);
    std::thread consumer([&] { got = queue.pop(); });
    std::this_thread::sleep_for(20ms);
    queue.stop();
    consumer.join();
    EXPECT_EQ(nullptr, got);

    // What is still queued stays queued; the consumer's pauses end at once.
    queue.push(std::make_unique<int>(1));
    EXPECT_EQ(nullptr, queue.pop());
    EXPECT_EQ(1u, queue.size());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(queue.waitForStop(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}
