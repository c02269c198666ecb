#include "share/receivedRunTally.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

// The receiving thread may still count while the process runs its exit
// handlers, the thread registry's among the first registered: none of them
// may have destroyed the tally (a sanitizer sees the use after free).
TEST(ReceivedRunTally, TheReceiversTallyOutlivesEveryExitHandler) {
    EXPECT_EXIT(
        {
            std::atexit([] {
                receivedRunTally().count(runOf(7), 2);
                receivedRunTally().count(runOf(1), 3);
            });
            receivedRunTally().count(runOf(1), 1);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
