// log_queue_test.cpp - the log's queue between the threads that log and the
// one that shows: order, one wake per batch, and a bound that loses nothing.
#include "platform/log_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using Put = platform::LogQueue::Put;

TEST(LogQueue, WakesOncePerBatchAndKeepsTheOrderWithClears) {
    platform::LogQueue queue;
    EXPECT_EQ(queue.Push({"a"}), Put::QueuedWake);
    EXPECT_EQ(queue.Push({"", true}), Put::Queued);
    EXPECT_EQ(queue.Push({"b"}), Put::Queued);
    const std::vector<platform::LogEntry> taken = queue.TakeAll();
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].text, "a");
    EXPECT_TRUE(taken[1].clear);
    EXPECT_EQ(taken[2].text, "b");
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_EQ(queue.Push({"c"}), Put::QueuedWake);  // a new batch wakes again
}

TEST(LogQueue, AFullQueueRefusesUntilTakenAndLosesNothing) {
    platform::LogQueue queue;
    for (size_t i = 0; i < platform::LogQueue::kCapacity; ++i) {
        ASSERT_NE(queue.Push({std::to_string(i)}), Put::Full) << i;
    }
    EXPECT_EQ(queue.Push({"over"}), Put::Full);
    EXPECT_EQ(queue.Size(), platform::LogQueue::kCapacity);
    EXPECT_EQ(queue.TakeAll().back().text, std::to_string(platform::LogQueue::kCapacity - 1));
    EXPECT_EQ(queue.Push({"over"}), Put::QueuedWake);
}

// Two threads log far more than the bound while a third takes, as the sink
// does it: a full queue makes the logger wait for a take and try again.
TEST(LogQueue, LinesOfTwoThreadsArriveWholeAndEachInItsOrder) {
    platform::LogQueue queue;
    constexpr int kLines = 20000;
    auto logger = [&](char who) {
        for (int i = 0; i < kLines; ++i) {
            while (queue.Push({std::string(1, who) + std::to_string(i)}) == Put::Full) std::this_thread::yield();
        }
    };
    std::thread a(logger, 'a');
    std::thread b(logger, 'b');
    int next[2] = {0, 0};
    bool inOrder = true;
    while (next[0] < kLines || next[1] < kLines) {
        for (const platform::LogEntry& e : queue.TakeAll()) {
            int& n = next[e.text[0] - 'a'];
            inOrder = inOrder && e.text.substr(1) == std::to_string(n);
            ++n;
        }
    }
    a.join();
    b.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next[0], kLines);
    EXPECT_EQ(next[1], kLines);
}

}  // namespace
