#include "share/shareQueue.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

FarmLogoff numbered(std::uint8_t n) {
    FarmLogoff logoff;
    logoff.identity[0] = n;
    return logoff;
}

TEST(ShareQueue, BeyondItsCapacityLogoffsAreRefusedNotWaitedFor) {
    ShareQueue queue(2);
    EXPECT_TRUE(queue.push(numbered(1)));
    EXPECT_TRUE(queue.push(numbered(2)));
    EXPECT_FALSE(queue.push(numbered(3)));
    EXPECT_EQ(queue.size(), 2u);
}

TEST(ShareQueue, BatchesComeInOrderAndUpToTheirSize) {
    ShareQueue queue(10);
    for (std::uint8_t n = 1; n <= 5; ++n) {
        queue.push(numbered(n));
    }
    std::vector<FarmLogoff> batch;
    EXPECT_EQ(queue.popBatch(batch, 3, 0ms), 3u);
    EXPECT_EQ(queue.popBatch(batch, 3, 0ms), 2u);
    ASSERT_EQ(batch.size(), 5u);
    for (std::uint8_t n = 1; n <= 5; ++n) {
        EXPECT_EQ(batch[n - 1].identity[0], n);
    }
    EXPECT_EQ(queue.popBatch(batch, 3, 0ms), 0u);
    // Room again once taken.
    EXPECT_TRUE(queue.push(numbered(6)));
}

}  // namespace
