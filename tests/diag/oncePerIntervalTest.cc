#include "diag/oncePerInterval.h"

#include <gtest/gtest.h>

namespace {

TEST(OncePerInterval, SaysTheFirstThenOnlyCountsUntilTheIntervalHasPassed) {
    OncePerInterval note(60);
    std::uint64_t skipped = 99;
    ASSERT_TRUE(note.due(1000, skipped));
    EXPECT_EQ(skipped, 0u);
    EXPECT_FALSE(note.due(1000, skipped));
    EXPECT_FALSE(note.due(1059, skipped));
    ASSERT_TRUE(note.due(1060, skipped));
    EXPECT_EQ(skipped, 2u);
    EXPECT_FALSE(note.due(1119, skipped));
    ASSERT_TRUE(note.due(5000, skipped));
    EXPECT_EQ(skipped, 1u);
}

}  // namespace
