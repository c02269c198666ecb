#include "share/receivedRunTally.h"

#include <gtest/gtest.h>

namespace {

ShareRunId runOf(std::uint8_t fill) {
    ShareRunId run;
    run.fill(fill);
    return run;
}

TEST(ReceivedRunTally, FastGrowthNamesTheRunThatSentMostAtMostOnceAMinute) {
    ReceivedRunTally tally(5);
    const ShareRunId quiet = runOf(1);
    const ShareRunId flooding = runOf(2);
    EXPECT_FALSE(tally.count(quiet, 1000));
    EXPECT_FALSE(tally.count(flooding, 1001));
    EXPECT_FALSE(tally.count(flooding, 1002));
    EXPECT_FALSE(tally.count(flooding, 1003));
    auto flood = tally.count(flooding, 1010);
    ASSERT_TRUE(flood);
    EXPECT_EQ(flood->received, 5u);
    EXPECT_EQ(flood->seconds, 10);
    EXPECT_EQ(flood->topRun, flooding);
    EXPECT_EQ(flood->fromTopRun, 4u);

    // Fast again within the minute: counted, not said.
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(tally.count(quiet, 1020));
    }
    flood = tally.count(quiet, 1070);
    ASSERT_TRUE(flood) << "a minute after the last line, the window counts again";
    EXPECT_EQ(flood->topRun, quiet);
}

TEST(ReceivedRunTally, SlowGrowthIsNeverSaid) {
    ReceivedRunTally tally(3);
    for (std::int64_t now = 0; now < 600; now += 30) {
        EXPECT_FALSE(tally.count(runOf(7), now));
    }
}

}  // namespace
