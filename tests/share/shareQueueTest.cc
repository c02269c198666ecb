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

TEST(ShareQueue, BatchesComeInOrderAndLeaveOnlyWhenDropped) {
    ShareQueue queue(5);
    for (std::uint8_t n = 1; n <= 5; ++n) {
        queue.push(numbered(n));
    }
    std::vector<FarmLogoff> batch;
    EXPECT_EQ(queue.peekBatch(batch, 3, 0ms), 3u);
    // Not accepted yet: the same three come again, and the queue stays full.
    EXPECT_FALSE(queue.push(numbered(6)));
    batch.clear();
    EXPECT_EQ(queue.peekBatch(batch, 3, 0ms), 3u);
    EXPECT_EQ(batch[0].identity[0], 1);
    queue.dropFront(3);
    batch.clear();
    EXPECT_EQ(queue.peekBatch(batch, 3, 0ms), 2u);
    EXPECT_EQ(batch[0].identity[0], 4);
    EXPECT_EQ(batch[1].identity[0], 5);
    // Room again once dropped.
    EXPECT_TRUE(queue.push(numbered(6)));
}

TEST(ShareQueue, SnapshotAndRestoreKeepOrderWithinTheCapacity) {
    ShareQueue queue(3);
    queue.push(numbered(1));
    queue.push(numbered(2));
    std::vector<FarmLogoff> saved = queue.snapshot();
    ASSERT_EQ(saved.size(), 2u);
    ShareQueue restored(3);
    restored.push(numbered(9));
    EXPECT_EQ(restored.restore(saved), 2u);
    EXPECT_EQ(restored.restore(saved), 0u);  // full
    std::vector<FarmLogoff> all = restored.snapshot();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].identity[0], 1);
    EXPECT_EQ(all[2].identity[0], 2);
}

}  // namespace
